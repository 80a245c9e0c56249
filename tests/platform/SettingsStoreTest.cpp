// The registry stand-in and the machine-wide download limit. Every test binary runs with
// a private VARKO_SETTINGS_ROOT, and each test here empties it first.
#include "SettingsStore.h"
#include "CSettingsMachine.h"
#include "InstanceLock.h"
#include "SysCalls.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
const char* kPelmark = "Software\\Varko Technologies Corporation\\Pelmark\\";

class SettingsStoreTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const char* root = std::getenv("VARKO_SETTINGS_ROOT");
        ASSERT_NE(root, nullptr) << "tests run with a private settings root";
        // ctest runs the cases of one binary side by side: each gets a root of its own.
        m_root = std::string(root) + "/" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name();
        setenv("VARKO_SETTINGS_ROOT", m_root.c_str(), 1);
        fs::remove_all(m_root);
        fs::create_directories(m_root);
    }
    std::string ValuesFile(const char* rootName, const char* key)
    {
        return m_root + "/" + rootName + "/Varko Technologies Corporation/" + key + "/.values";
    }
    static std::string Slurp(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string m_root;
};

TEST_F(SettingsStoreTest, RootsFollowTheRelocationVariable)
{
    EXPECT_EQ(SettingsCompanyFolder(HKEY_CURRENT_USER).str(),
              m_root + "/user/Varko Technologies Corporation");
    EXPECT_EQ(SettingsCompanyFolder(HKEY_LOCAL_MACHINE).str(),
              m_root + "/machine/Varko Technologies Corporation");
}

TEST_F(SettingsStoreTest, MissingKeyAndMissingValueAreToldApart)
{
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Varko Technologies Corporation\\Odomira",
                            0, KEY_QUERY_VALUE, &key),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(key, nullptr);

    DWORD disposition = 0;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Varko Technologies Corporation\\Odomira", 0, "", 0,
                              KEY_SET_VALUE, nullptr, &key, &disposition),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_CREATED_NEW_KEY);
    DWORD v = 0, size = 4;
    EXPECT_EQ(RegQueryValueExA(key, "Units", nullptr, nullptr, reinterpret_cast<BYTE*>(&v), &size),
              static_cast<LONG>(ERROR_FILE_NOT_FOUND));
    RegCloseKey(key);

    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Varko Technologies Corporation\\Odomira", 0, "", 0,
                              KEY_SET_VALUE, nullptr, &key, &disposition),
              static_cast<LONG>(ERROR_SUCCESS));
    EXPECT_EQ(disposition, REG_OPENED_EXISTING_KEY);
    RegCloseKey(key);
}

TEST_F(SettingsStoreTest, TypedValuesRoundTripAndTheFileIsReadable)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Varko Technologies Corporation\\Odomira\\Settings", 0, "",
                              0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              static_cast<LONG>(ERROR_SUCCESS));
    DWORD units = 0x1234abcd;
    BYTE placement[6] = {0, 1, 0xfe, 0xff, '"', '\n'};
    const char* text = "C:\\Labels \"new\"\nline";
    ASSERT_EQ(RegSetValueExA(key, "Units", 0, REG_DWORD, reinterpret_cast<BYTE*>(&units), 4), 0);
    ASSERT_EQ(RegSetValueExA(key, "Placement", 0, REG_BINARY, placement, sizeof placement), 0);
    ASSERT_EQ(RegSetValueExA(key, "LastFile", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                             static_cast<DWORD>(std::strlen(text) + 1)),
              0);
    // Replacing keeps one line per value.
    units = 7;
    ASSERT_EQ(RegSetValueExA(key, "units", 0, REG_DWORD, reinterpret_cast<BYTE*>(&units), 4), 0);
    RegCloseKey(key);

    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER,
                            "Software\\Varko Technologies Corporation\\Odomira\\Settings", 0,
                            KEY_QUERY_VALUE, &key),
              0);
    DWORD type = 0, got = 0, size = 4;
    ASSERT_EQ(RegQueryValueExA(key, "Units", nullptr, &type, reinterpret_cast<BYTE*>(&got), &size),
              0);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(got, 7u);

    BYTE bin[16] = {};
    size = 2;
    EXPECT_EQ(RegQueryValueExA(key, "Placement", nullptr, &type, bin, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 6u);
    size = sizeof bin;
    ASSERT_EQ(RegQueryValueExA(key, "Placement", nullptr, &type, bin, &size), 0);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(bin), size),
              std::string(reinterpret_cast<char*>(placement), 6));

    char str[64] = {};
    size = sizeof str;
    ASSERT_EQ(
        RegQueryValueExA(key, "LastFile", nullptr, &type, reinterpret_cast<BYTE*>(str), &size), 0);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(size, std::strlen(text) + 1); // the terminator is counted
    EXPECT_STREQ(str, text);
    RegCloseKey(key);

    std::string file = Slurp(ValuesFile("user", "Odomira/Settings"));
    EXPECT_NE(file.find("\"Units\"=dword:00000007\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"Placement\"=hex:00,01,fe,ff,22,0a\n"), std::string::npos) << file;
    EXPECT_NE(file.find("\"LastFile\"=\"C:\\\\Labels \\\"new\\\"\\x0aline\"\n"), std::string::npos)
        << file;
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 3);
}

// An empty value has no bytes behind it; reading it into a caller's buffer must not
// copy from nowhere (UBSan caught that).
TEST_F(SettingsStoreTest, AnEmptyValueReadsBackAsNoBytes)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Varko Technologies Corporation\\Odomira", 0, "", 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              0);
    ASSERT_EQ(RegSetValueExA(key, "Empty", 0, REG_BINARY, nullptr, 0), 0);
    BYTE buffer[4] = {9, 9, 9, 9};
    DWORD type = 0, size = sizeof buffer;
    EXPECT_EQ(RegQueryValueExA(key, "Empty", nullptr, &type, buffer, &size), 0);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 9);
    RegCloseKey(key);
    EXPECT_EQ(Slurp(ValuesFile("user", "Odomira")), "\"Empty\"=hex:\n");
}

TEST_F(SettingsStoreTest, HandEditedLinesAreRead)
{
    fs::create_directories(m_root + "/machine/Varko Technologies Corporation/Pelmark");
    std::ofstream(ValuesFile("machine", "Pelmark")) << "; written by an installer\r\n"
                                                    << "garbage line\n"
                                                    << "\"MaxDownloads\"=dword:3\r\n";
    EXPECT_EQ(CSettingsMachine().GetMaxDownloads(), 3);
}

// A value file may hold lines this version cannot read: a comment, a hand edit, a
// value type written by a later version. Writing another value keeps them.
TEST_F(SettingsStoreTest, LinesThatCannotBeReadSurviveAWriteOfAnotherValue)
{
    fs::create_directories(m_root + "/machine/Varko Technologies Corporation/Pelmark");
    const std::string unknown = "; written by an installer\n"
                                "\"Future\"=qword:0000000000000010\n"
                                "\n"
                                "a line edited by hand\n"
                                "edited on another system\r\r\n";
    std::ofstream(ValuesFile("machine", "Pelmark")) << unknown << "\"MaxDownloads\"=dword:3\n"
                                                    << "\"Other\"=\"kept\"\n";
    CSettingsMachine().SetMaxDownloads(5);
    EXPECT_EQ(Slurp(ValuesFile("machine", "Pelmark")),
              unknown + "\"MaxDownloads\"=dword:00000005\n\"Other\"=\"kept\"\n");
    EXPECT_EQ(CSettingsMachine().GetMaxDownloads(), 5);

    // A value set under the name of a line that could not be read takes its place.
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPelmark, 0, KEY_SET_VALUE, &key), 0);
    DWORD v = 16;
    ASSERT_EQ(RegSetValueExA(key, "future", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), 0);
    ASSERT_EQ(RegDeleteValueA(key, "Other"), 0);
    RegCloseKey(key);
    EXPECT_EQ(Slurp(ValuesFile("machine", "Pelmark")),
              "; written by an installer\n\"Future\"=dword:00000010\n\na line edited by "
              "hand\nedited on another system\r\r\n\"MaxDownloads\"=dword:00000005\n");
}

namespace
{
// The value file as the system hands it out: refused, or failing half-way.
int g_valuesFailure = 0;
bool isValuesRead(const char* path, int flags)
{
    std::string p(path);
    return (flags & O_ACCMODE) == O_RDONLY && p.size() >= 8 &&
           p.compare(p.size() - 8, 8, "/.values") == 0;
}
int refusingOpen(const char* path, int flags, mode_t mode)
{
    if (isValuesRead(path, flags))
    {
        errno = g_valuesFailure;
        return -1;
    }
    return RealSysCalls().open(path, flags, mode);
}
int g_failingFd = -1;
int g_readsOnIt = 0;
int markingOpen(const char* path, int flags, mode_t mode)
{
    int fd = RealSysCalls().open(path, flags, mode);
    if (isValuesRead(path, flags))
    {
        g_failingFd = fd;
        g_readsOnIt = 0;
    }
    return fd;
}
// One good piece, then the device fails.
ssize_t failingRead(int fd, void* buffer, std::size_t count)
{
    if (fd != g_failingFd)
        return RealSysCalls().read(fd, buffer, count);
    if (g_readsOnIt++ == 0)
        return RealSysCalls().read(fd, buffer, count < 10 ? count : 10);
    errno = EIO;
    return -1;
}
} // namespace

TEST_F(SettingsStoreTest, AValueFileThatCannotBeReadWholeIsNeverWrittenOver)
{
    CSettingsMachine().SetMaxDownloads(2);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPelmark, 0, KEY_SET_VALUE, &key), 0);
    DWORD v = 7;
    ASSERT_EQ(RegSetValueExA(key, "Other", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), 0);
    const std::string before = Slurp(ValuesFile("machine", "Pelmark"));

    {
        // Not ours to read (as root, permissions would not refuse it: the seam does).
        g_valuesFailure = EACCES;
        ScopedSysCall open(&SysCalls::open, refusingOpen);
        v = 9;
        EXPECT_EQ(RegSetValueExA(key, "Other", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
                  static_cast<LONG>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(RegDeleteValueA(key, "MaxDownloads"), static_cast<LONG>(ERROR_ACCESS_DENIED));
    }
    EXPECT_EQ(Slurp(ValuesFile("machine", "Pelmark")), before);
    {
        // A read that fails after the first bytes.
        ScopedSysCall open(&SysCalls::open, markingOpen);
        ScopedSysCall read(&SysCalls::read, failingRead);
        v = 9;
        EXPECT_EQ(RegSetValueExA(key, "Other", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4),
                  static_cast<LONG>(ERROR_GEN_FAILURE));
        EXPECT_EQ(g_readsOnIt, 2);
    }
    RegCloseKey(key);
    EXPECT_EQ(Slurp(ValuesFile("machine", "Pelmark")), before);
    EXPECT_EQ(CSettingsMachine().GetMaxDownloads(), 2);
}

TEST_F(SettingsStoreTest, KeysOutsideTheCompanyOrEscapingTheRootAreRefused)
{
    HKEY key = nullptr;
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Other Corp\\X", 0, "", 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              0);
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER,
                              "Software\\Varko Technologies Corporation\\..\\..\\x", 0, "", 0,
                              KEY_SET_VALUE, nullptr, &key, nullptr),
              0);
    EXPECT_NE(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Varko Technologies Corporation\\a/b", 0,
                              "", 0, KEY_SET_VALUE, nullptr, &key, nullptr),
              0);
    EXPECT_EQ(key, nullptr);
    EXPECT_FALSE(fs::exists(m_root + "/x"));
    EXPECT_FALSE(fs::exists(m_root + "/user/x"));
}

TEST_F(SettingsStoreTest, MaxDownloadsIsOneWithoutKeyAndZeroWithoutValue)
{
    CSettingsMachine settings;
    EXPECT_EQ(settings.GetMaxDownloads(), 1);

    fs::create_directories(m_root + "/machine/Varko Technologies Corporation/Pelmark");
    EXPECT_EQ(settings.GetMaxDownloads(), 0);

    settings.SetMaxDownloads(4);
    EXPECT_EQ(CSettingsMachine().GetMaxDownloads(), 4);
    EXPECT_NE(Slurp(ValuesFile("machine", "Pelmark")).find("\"MaxDownloads\"=dword:00000004"),
              std::string::npos);
    // Stored under the machine root only.
    EXPECT_FALSE(fs::exists(m_root + "/user/Varko Technologies Corporation/Pelmark"));
}

TEST_F(SettingsStoreTest, MaxDownloadsWithoutTheRightToWriteChangesNothingSilently)
{
    CSettingsMachine().SetMaxDownloads(2);
    std::string machine = m_root + "/machine";
    std::string key = machine + "/Varko Technologies Corporation/Pelmark";
    ASSERT_EQ(::chmod(key.c_str(), 0555), 0);
    // A user who may not write: as root, a child that has become nobody tries.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        CSettingsMachine().SetMaxDownloads(9); // must neither throw nor report
        HKEY k = nullptr;
        LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPelmark, 0, "", 0, KEY_SET_VALUE, nullptr, &k,
                                 nullptr);
        ::_exit(r == static_cast<LONG>(ERROR_SUCCESS) ? 4 : 0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(key.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not drop rights, 4: write access granted";
    EXPECT_EQ(CSettingsMachine().GetMaxDownloads(), 2);
}

TEST_F(SettingsStoreTest, WriteToAKeyRemovedMeanwhileFails)
{
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, kPelmark, 0, "", 0, KEY_SET_VALUE, nullptr, &key,
                              nullptr),
              0);
    RegCloseKey(key);
    // Someone removes the key while it is open: the write fails and creates nothing.
    std::string dir = m_root + "/machine/Varko Technologies Corporation/Pelmark";
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kPelmark, 0, KEY_SET_VALUE, &key), 0);
    fs::remove_all(dir);
    DWORD v = 1;
    EXPECT_NE(RegSetValueExA(key, "MaxDownloads", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4), 0);
    RegCloseKey(key);
    EXPECT_EQ(CSettingsMachine().GetMaxDownloads(), 1); // the key is gone again
}

// The single-instance lock "VarkoPrinters": one holder at a time, released when the
// holder goes, found by every process of the user whatever its environment, and never
// in a folder another user could have planted.
class InstanceLockTest : public SettingsStoreTest
{
protected:
    void SetUp() override
    {
        SettingsStoreTest::SetUp();
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        m_saved = old ? old : "";
        m_hadSaved = old != nullptr;
    }
    void TearDown() override
    {
        if (m_hadSaved)
            setenv("XDG_RUNTIME_DIR", m_saved.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    std::string m_saved;
    bool m_hadSaved = false;
};

// A program with a runtime folder and one without (a cron job outside any login
// session) take their locks in different folders; they must exclude each other all the
// same, in either order.
TEST(InstanceLockFolderRule, AProgramWithoutARuntimeFolderStillExcludesOneWithIt)
{
    namespace fs = std::filesystem;
    const fs::path base = fs::path(std::getenv("VARKO_SETTINGS_ROOT")) / "lock-pair";
    fs::remove_all(base);
    const fs::path run = base / "run-user", none = base / "no-run-user", tmp = base / "tmp";
    fs::create_directories(run);
    fs::create_directories(tmp);
    ASSERT_EQ(::mkdir((run / std::to_string(::getuid())).c_str(), 0700), 0);
    for (bool sessionFirst : {true, false})
    {
        CInstanceLock session("VarkoPrinters", run.string(), tmp.string());
        CInstanceLock cron("VarkoPrinters", none.string(), tmp.string());
        CInstanceLock& first = sessionFirst ? session : cron;
        CInstanceLock& second = sessionFirst ? cron : session;
        EXPECT_EQ(first.Acquire(), CInstanceLock::eAcquired) << first.FailureReason().str();
        EXPECT_EQ(second.Acquire(), CInstanceLock::eHeldElsewhere) << sessionFirst;
        first.Release();
        EXPECT_EQ(second.Acquire(), CInstanceLock::eAcquired) << second.FailureReason().str();
    }
    // Another user's folder in /tmp does not stop the program that has a runtime folder.
    fs::remove_all(tmp / ("varko-" + std::to_string(::getuid())));
    ASSERT_EQ(::mkdir((tmp / ("varko-" + std::to_string(::getuid()))).c_str(), 0777), 0);
    CInstanceLock session("VarkoPrinters", run.string(), tmp.string());
    EXPECT_EQ(session.Acquire(), CInstanceLock::eAcquired) << session.FailureReason().str();
}

// The lock's folder: the user's runtime folder when it is safely theirs, else a private
// folder in the temporary one; a folder another user made, or a link, is never used.
TEST(InstanceLockFolderRule, TakesOnlyAFolderThatIsSafelyTheUsers)
{
    namespace fs = std::filesystem;
    const fs::path base = fs::path(std::getenv("VARKO_SETTINGS_ROOT")) / "lock-rule";
    fs::remove_all(base);
    const fs::path run = base / "run-user", tmp = base / "tmp";
    fs::create_directories(run);
    fs::create_directories(tmp);
    const std::string uid = std::to_string(::getuid());
    auto open = [&] { return OpenInstanceLockFolder(run.string(), tmp.string()); };
    auto closed = [](InstanceLockFolder f)
    {
        if (f.fd >= 0)
            ::close(f.fd);
        return f;
    };

    // No runtime folder: a private one is made in the temporary folder.
    InstanceLockFolder f = closed(open());
    EXPECT_EQ(f.path, (tmp / ("varko-" + uid)).string()) << f.problem;
    EXPECT_GE(f.fd, 0);
    struct stat st;
    ASSERT_EQ(::lstat(f.path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The user's runtime folder wins when it is there.
    ASSERT_EQ(::mkdir((run / uid).c_str(), 0700), 0);
    f = closed(open());
    EXPECT_EQ(f.path, (run / uid).string());

    // A runtime folder open to others is passed over; a link in the temporary folder's
    // place refuses.
    ASSERT_EQ(::chmod((run / uid).c_str(), 0777), 0);
    fs::remove(tmp / ("varko-" + uid));
    fs::create_directory_symlink(run / uid, tmp / ("varko-" + uid));
    f = closed(open());
    EXPECT_LT(f.fd, 0);
    EXPECT_NE(f.problem.find("symbolic link"), std::string::npos) << f.problem;
    fs::remove(tmp / ("varko-" + uid));

    // A folder of that name with open permissions is not used either.
    ASSERT_EQ(::mkdir((tmp / ("varko-" + uid)).c_str(), 0755), 0);
    f = closed(open());
    EXPECT_LT(f.fd, 0);
    EXPECT_NE(f.problem.find("open to other users"), std::string::npos) << f.problem;
    fs::remove(tmp / ("varko-" + uid));
    if (::geteuid() == 0)
    {
        ASSERT_EQ(::mkdir((tmp / ("varko-" + uid)).c_str(), 0700), 0);
        ASSERT_EQ(::chown((tmp / ("varko-" + uid)).c_str(), 65534, 65534), 0);
        f = closed(open());
        EXPECT_LT(f.fd, 0);
        EXPECT_NE(f.problem.find("belongs to another user"), std::string::npos) << f.problem;
    }
    fs::remove_all(base);
}

TEST_F(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo)
{
    CInstanceLock first("VarkoPrinters");
    // A relocated settings root (tests, the demo) carries its own lock.
    EXPECT_EQ(first.LockFilePath().str(), m_root + "/run/VarkoPrinters.lock");
    ASSERT_EQ(first.Acquire(), CInstanceLock::eAcquired);
    {
        CInstanceLock second("VarkoPrinters");
        EXPECT_EQ(second.Acquire(), CInstanceLock::eHeldElsewhere);
        EXPECT_FALSE(second.IsHeld());
    }
    CInstanceLock other("SomethingElse");
    EXPECT_EQ(other.Acquire(), CInstanceLock::eAcquired);
    first.Release();
    CInstanceLock third("VarkoPrinters");
    EXPECT_EQ(third.Acquire(), CInstanceLock::eAcquired);
}

// A program started by cron or a service has no XDG_RUNTIME_DIR, one on the desktop
// has: they must still exclude each other.
TEST_F(InstanceLockTest, HeldAcrossProcessesWhateverTheirEnvironmentAndDroppedWhenTheHolderDies)
{
    std::string run = m_root + "/xdg-run";
    fs::create_directories(run);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        unsetenv("XDG_RUNTIME_DIR");
        CInstanceLock lock("VarkoPrinters");
        char c = lock.Acquire() == CInstanceLock::eAcquired ? 'y' : 'n';
        (void)!::write(ready[1], &c, 1);
        ::pause(); // held until killed
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
    CInstanceLock mine("VarkoPrinters");
    EXPECT_EQ(mine.Acquire(), CInstanceLock::eHeldElsewhere);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    EXPECT_EQ(mine.Acquire(), CInstanceLock::eAcquired);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST_F(InstanceLockTest, OutsideARelocatedRootTheFolderIgnoresTheEnvironment)
{
    std::string run = m_root + "/xdg-run";
    fs::create_directories(run);
    unsetenv("VARKO_SETTINGS_ROOT");
    // The login manager's runtime folder of the user when it is safely theirs; else the
    // private folder in /tmp. Never what XDG_RUNTIME_DIR says.
    const std::string uid = std::to_string(::getuid());
    std::string expected = "/tmp/varko-" + uid;
    struct stat runtime;
    if (::lstat(("/run/user/" + uid).c_str(), &runtime) == 0 && S_ISDIR(runtime.st_mode) &&
        runtime.st_uid == ::getuid() && (runtime.st_mode & 077) == 0)
        expected = "/run/user/" + uid;
    for (const char* xdg : {run.c_str(), static_cast<const char*>(nullptr)})
    {
        if (xdg)
            setenv("XDG_RUNTIME_DIR", xdg, 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        CInstanceLock lock("VarkoPrintersTest");
        ASSERT_EQ(lock.Acquire(), CInstanceLock::eAcquired);
        EXPECT_EQ(lock.LockFilePath().str(), expected + "/VarkoPrintersTest.lock");
    }
    setenv("VARKO_SETTINGS_ROOT", m_root.c_str(), 1);
    struct stat st;
    ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 077, 0u);
    EXPECT_EQ(st.st_uid, ::getuid());
    EXPECT_FALSE(fs::exists(run + "/VarkoPrintersTest.lock"));
}
} // namespace
