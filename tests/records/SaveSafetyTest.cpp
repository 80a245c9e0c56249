// Saves that cannot lose a file: a process killed at any moment of a save leaves the old
// file or the new one, byte for byte, never a mixture and never nothing; a full disk and
// a folder that may not be written fail with a clear error and keep the old file. The
// same for the settings store's value files.
//
// The saving process is a fork of the test (it inherits the collection without starting
// threads of its own), so the kills hit exactly the code the program runs. Full-disk and
// read-only-mount cases run in a private mount namespace with a small memory file
// system; where the system refuses one, they are skipped.
#include "CArchive.h"
#include "CException.h"
#include "CVarkoPrinters.h"
#include "LibraryStrings.h"
#include "SettingsStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <poll.h>
#include <random>
#include <sched.h>
#include <signal.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

namespace
{
constexpr int kPrinters = 10000;
constexpr int kKills = 220;
const char kKey[] = "Software\\Varko Technologies Corporation\\Odomira\\Saves";

// A settings file of count printers of all four kinds, as the collection writes one.
Bytes FleetFile(int count)
{
    CArchive ar(CArchive::store);
    ar << static_cast<DWORD>(count);
    for (int i = 0; i < count; ++i)
    {
        ar << CString::Formatted("Printer %05d", i) << CString("RX400") << CString();
        switch (i % 4)
        {
        case 0:
            ar << CString("CSerialPort") << DWORD(0);
            ar << CString::Formatted("\\\\.\\COM%d", i % 256 + 1) << LONG(9600) << LONG(8)
               << LONG(0) << LONG(0) << LONG(2) << CString::Formatted("COM%d", i % 256 + 1);
            break;
        case 1:
            ar << CString("CParallelPort") << DWORD(0);
            ar << CString::Formatted("\\\\.\\LPT%d", i % 256 + 1)
               << CString::Formatted("LPT%d", i % 256 + 1);
            break;
        case 2:
            ar << CString("CUSBPort") << DWORD(1) << CString::Formatted("/dev/usb/lp%d", i);
            break;
        default:
            ar << CString("CNetworkPort") << DWORD(0)
               << CString::Formatted("10.%d.%d.%d", i >> 16, (i >> 8) & 255, i & 255)
               << DWORD(9100);
            break;
        }
    }
    return ar.Buffer();
}

Bytes Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Spill(const std::string& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Temporary files a killed save left beside the target; removed, and counted.
int SweepLeftovers(const std::string& dir, const std::string& stem)
{
    int n = 0;
    for (const auto& e : fs::directory_iterator(dir))
        if (e.path().filename().string().rfind(stem + ".tmp-", 0) == 0)
        {
            fs::remove(e.path());
            ++n;
        }
    return n;
}

void SetAllDownloadFiles(CVarkoPrinters& c, const CString& path)
{
    POSITION pos = c.GetFirstPrinter();
    while (pos)
        c.SetDownloadFile(c.GetNextPrinter(pos), path);
}

std::string Root()
{
    const char* base = std::getenv("VARKO_SETTINGS_ROOT");
    std::string root = std::string(base ? base : "/tmp") + "/" +
                       ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(root);
    fs::create_directories(root);
    ::setenv("VARKO_SETTINGS_ROOT", root.c_str(), 1);
    return root;
}

struct KillFigures
{
    int kills = 0;
    int sawOld = 0;
    int sawNew = 0;
    int leftovers = 0;
    long long longestMs = 0;
};

// Starts body in a child that repeats it until killed, kills the child with SIGKILL a
// random time below maxDelayUs after the child has begun its first round, and calls
// check after each kill; kills times in all. Timing from the child's own start keeps
// the kills inside the rounds, whatever starting a copy of a large process costs.
KillFigures KillRepeatedly(int kills, long long maxDelayUs, const std::function<void()>& body,
                           const std::function<void(KillFigures&)>& check)
{
    std::random_device device;
    const unsigned seed = device();
    std::mt19937 random(seed);
    std::uniform_int_distribution<long long> delay(0, maxDelayUs);
    const long long limitUs = 64 * maxDelayUs;
    std::printf("kill seed %u, delays up to %lld us\n", seed, maxDelayUs);
    KillFigures f;
    for (int i = 0; i < kills; ++i)
    {
        const auto start = Clock::now();
        int started[2];
        if (::pipe(started) != 0)
        {
            ADD_FAILURE() << "pipe failed";
            break;
        }
        pid_t child = ::fork();
        if (child < 0)
        {
            ADD_FAILURE() << "fork failed";
            break;
        }
        if (child == 0)
        {
            ::close(started[0]);
            try
            {
                for (;;)
                {
                    if (started[1] >= 0)
                    {
                        (void)!::write(started[1], "s", 1);
                        ::close(started[1]);
                        started[1] = -1;
                    }
                    body();
                }
            }
            catch (...)
            {
                ::_exit(3);
            }
        }
        ::close(started[1]);
        char go = 0;
        pollfd p{started[0], POLLIN, 0};
        if (::poll(&p, 1, 60000) != 1 || ::read(started[0], &go, 1) != 1)
            ADD_FAILURE() << "the saving process did not start";
        ::close(started[0]);
        ::usleep(static_cast<useconds_t>(delay(random))); // a kill at a random moment
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFSIGNALED(status))
        {
            ADD_FAILURE() << "the saving process ended by itself: " << status;
            break;
        }
        ++f.kills;
        check(f);
        f.longestMs = std::max<long long>(
            f.longestMs,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
        if (::testing::Test::HasFailure())
            break;
        // A loaded machine saves more slowly than the one save timed beforehand: when a
        // stretch of kills has not yet seen both versions, spread the later kills wider.
        if ((i + 1) % 20 == 0 && (f.sawOld == 0 || f.sawNew == 0) && maxDelayUs < limitUs)
        {
            maxDelayUs *= 2;
            delay = std::uniform_int_distribution<long long>(0, maxDelayUs);
            std::printf("kill %d: one version not seen yet, delays now up to %lld us\n", i + 1,
                        maxDelayUs);
        }
    }
    return f;
}

// Runs body in a child inside a mount namespace of its own, with a memory file system
// of sizeKb mounted on dir. Returns the child's exit status, 77 when the system does not
// allow the namespace or the mount.
int InPrivateMount(const std::string& dir, int sizeKb, const std::function<int()>& body)
{
    pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0)
    {
        uid_t uid = ::geteuid();
        gid_t gid = ::getegid();
        if (uid == 0 ? ::unshare(CLONE_NEWNS) != 0 : ::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            ::_exit(77);
        if (uid != 0)
        {
            // Root inside the new user namespace, so that it may mount.
            auto put = [](const char* file, const std::string& text)
            {
                int fd = ::open(file, O_WRONLY);
                bool ok = fd >= 0 && ::write(fd, text.data(), text.size()) ==
                                         static_cast<ssize_t>(text.size());
                if (fd >= 0)
                    ::close(fd);
                return ok;
            };
            if (!put("/proc/self/setgroups", "deny") ||
                !put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
                ::_exit(77);
        }
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(77);
        std::string options = "size=" + std::to_string(sizeKb) + "k,mode=0755";
        if (::mount("odomira-test", dir.c_str(), "tmpfs", 0, options.c_str()) != 0)
            ::_exit(77);
        int code = 1;
        try
        {
            code = body();
        }
        catch (const std::exception& e)
        {
            std::fprintf(stderr, "child: %s\n", e.what());
        }
        catch (...)
        {
            std::fprintf(stderr, "child: unexpected exception\n");
        }
        std::fflush(stderr);
        ::_exit(code);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#define CHILD_REQUIRE(cond)                                                                        \
    do                                                                                             \
    {                                                                                              \
        if (!(cond))                                                                               \
        {                                                                                          \
            std::fprintf(stderr, "child: %s:%d: %s\n", __FILE__, __LINE__, #cond);                 \
            return 1;                                                                              \
        }                                                                                          \
    } while (0)

// The start of a child in a private mount: the old fleet file at dir/fleet.vps, and a
// settings store under dir holding one value, with its value file as it was then.
struct FilesInMount
{
    std::string path;
    std::string values;
    Bytes valuesBefore;
    HKEY key = nullptr;
};

int PrepareInMount(const std::string& dir, const Bytes& old, FilesInMount& f)
{
    f.path = dir + "/fleet.vps";
    Spill(f.path, old);
    ::setenv("VARKO_SETTINGS_ROOT", dir.c_str(), 1);
    CHILD_REQUIRE(RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "", 0, KEY_ALL_ACCESS, nullptr,
                                  &f.key, nullptr) == 0);
    DWORD v = 7;
    CHILD_REQUIRE(RegSetValueExA(f.key, "Kept", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4) == 0);
    f.values = dir + "/user/Varko Technologies Corporation/Odomira/Saves/.values";
    f.valuesBefore = Slurp(f.values);
    return 0;
}

// Runs body in a child inside a private mount of sizeKb over dir, with the files of
// PrepareInMount; whatever body did, the settings store's value file must be unchanged.
int InPrivateMountWithFiles(const std::string& dir, int sizeKb, const Bytes& old,
                            const std::function<int(FilesInMount&)>& body)
{
    return InPrivateMount(dir, sizeKb,
                          [&]
                          {
                              FilesInMount f;
                              if (int failed = PrepareInMount(dir, old, f))
                                  return failed;
                              if (int failed = body(f))
                                  return failed;
                              CHILD_REQUIRE(Slurp(f.values) == f.valuesBefore);
                              RegCloseKey(f.key);
                              return 0;
                          });
}

// The end of a test whose checks ran in such a child.
#define EXPECT_CHILD_PASSED(code)                                                                  \
    do                                                                                             \
    {                                                                                              \
        if ((code) == 77)                                                                          \
            GTEST_SKIP() << "no private mount namespace with a memory file system here";           \
        EXPECT_EQ((code), 0) << "see the child's messages above";                                  \
    } while (0)

// The message of a failed save, or "" when it did not fail with a file error.
std::string SaveFailure(CVarkoPrinters& c, const std::string& path, CFileException::Cause& cause)
{
    try
    {
        c.SaveToFile(CString(path));
    }
    catch (const CFileException& e)
    {
        cause = e.m_cause;
        return e.GetReportText(0).str();
    }
    return std::string();
}

// Fills the file system that holds dir until nothing more fits.
void FillUp(const std::string& dir)
{
    int fd = ::open((dir + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char> block(4096, 'f');
    while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0)
    {
    }
    // The last partial block too.
    while (fd >= 0 && ::write(fd, block.data(), 1) > 0)
    {
    }
    if (fd >= 0)
        ::close(fd);
}

class SaveSafety : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { RegisterLibraryStrings(); }
};
} // namespace

TEST_F(SaveSafety, AKilledSaveOfTenThousandPrintersLeavesTheOldOrTheNewFile)
{
    const std::string dir = Root() + "/files";
    fs::create_directories(dir);
    const std::string path = dir + "/fleet.vps";
    const Bytes source = FleetFile(kPrinters);
    Spill(dir + "/source.vps", source);

    CVarkoPrinters fleet;
    fleet.LoadFromFile(CString(dir + "/source.vps"), nullptr);
    ASSERT_EQ(fleet.GetPrinterCount(), kPrinters);
    const Bytes before = fleet.SaveToBytes();
    SetAllDownloadFiles(fleet, "/srv/labels/next-batch.prn");
    const Bytes after = fleet.SaveToBytes();
    SetAllDownloadFiles(fleet, CString());
    ASSERT_NE(before, after);
    ASSERT_EQ(before, source);

    // Both versions load back to themselves, so a file equal to one of them loads.
    for (const Bytes* version : {&before, &after})
    {
        Spill(path, *version);
        CVarkoPrinters check;
        check.LoadFromFile(CString(path), nullptr);
        EXPECT_EQ(check.GetPrinterCount(), kPrinters);
        EXPECT_EQ(check.SaveToBytes(), *version);
    }

    // How long one save takes here (with the change before it), to spread the kills
    // over whole saves.
    Spill(path, before);
    auto t0 = Clock::now();
    SetAllDownloadFiles(fleet, CString());
    fleet.SaveToFile(CString(path));
    const long long saveUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();

    auto body = [&]
    {
        SetAllDownloadFiles(fleet, "/srv/labels/next-batch.prn");
        fleet.SaveToFile(CString(path));
        SetAllDownloadFiles(fleet, CString());
        fleet.SaveToFile(CString(path));
    };
    auto check = [&](KillFigures& f)
    {
        const Bytes now = Slurp(path);
        if (now == before)
            ++f.sawOld;
        else if (now == after)
            ++f.sawNew;
        else
            ADD_FAILURE() << "after kill " << f.kills << " the file is neither version ("
                          << now.size() << " bytes)";
        f.leftovers += SweepLeftovers(dir, "fleet.vps");
    };
    KillFigures f = KillRepeatedly(kKills, 4 * saveUs, body, check);

    std::printf("settings file of %d printers (%zu and %zu bytes), one save %lld us: %d kills, "
                "old file %d times, new file %d times, killed inside a write %d times, longest "
                "round %lld ms\n",
                kPrinters, before.size(), after.size(), saveUs, f.kills, f.sawOld, f.sawNew,
                f.leftovers, f.longestMs);
    EXPECT_EQ(f.kills, kKills);
    EXPECT_GT(f.sawOld, 0);
    EXPECT_GT(f.sawNew, 0);
    // Some kills must land between the temporary file's creation and its rename, the
    // moment that matters most (the rest fall into preparing the bytes).
    EXPECT_GT(f.leftovers, 0);

    // The file after the last kill loads like any other.
    CVarkoPrinters last;
    last.LoadFromFile(CString(path), nullptr);
    EXPECT_EQ(last.GetPrinterCount(), kPrinters);
}

TEST_F(SaveSafety, AKilledSettingsStoreWriteLeavesTheOldOrTheNewValues)
{
    const std::string root = Root();
    HKEY key = nullptr;
    ASSERT_EQ(
        RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, "", 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
        0);
    // Enough values that a write takes a while.
    for (int i = 0; i < 2000; ++i)
    {
        std::string name = "Value " + std::to_string(i);
        std::string text = "Some setting text number " + std::to_string(i);
        ASSERT_EQ(RegSetValueExA(key, name.c_str(), 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(text.c_str()),
                                 static_cast<DWORD>(text.size() + 1)),
                  0);
    }
    const std::string dir = root + "/user/Varko Technologies Corporation/Odomira/Saves";
    const std::string values = dir + "/.values";
    auto setToggle = [&](DWORD v)
    {
        if (RegSetValueExA(key, "Toggle", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&v), 4) != 0)
            throw std::runtime_error("write failed");
    };
    setToggle(1);
    const Bytes one = Slurp(values);
    auto t0 = Clock::now();
    setToggle(2);
    const long long writeUs =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
    const Bytes two = Slurp(values);
    ASSERT_NE(one, two);

    auto body = [&]
    {
        setToggle(1);
        setToggle(2);
    };
    auto check = [&](KillFigures& f)
    {
        const Bytes now = Slurp(values);
        if (now == one)
            ++f.sawOld;
        else if (now == two)
            ++f.sawNew;
        else
            ADD_FAILURE() << "after kill " << f.kills << " the value file is neither version";
        DWORD v = 0, type = 0, size = 4;
        EXPECT_EQ(
            RegQueryValueExA(key, "Toggle", nullptr, &type, reinterpret_cast<BYTE*>(&v), &size), 0);
        EXPECT_TRUE(v == 1 || v == 2);
        f.leftovers += SweepLeftovers(dir, ".values");
    };
    KillFigures f = KillRepeatedly(kKills, 4 * writeUs, body, check);
    RegCloseKey(key);

    std::printf("settings store value file of %zu bytes, one write %lld us: %d kills, old %d "
                "times, new %d times, killed inside a write %d times\n",
                one.size(), writeUs, f.kills, f.sawOld, f.sawNew, f.leftovers);
    EXPECT_EQ(f.kills, kKills);
    EXPECT_GT(f.sawOld, 0);
    EXPECT_GT(f.sawNew, 0);
    EXPECT_GT(f.leftovers, 0);
}

TEST_F(SaveSafety, AFullDiskFailsClearlyAndKeepsTheOldFiles)
{
    const std::string root = Root();
    const std::string dir = root + "/small";
    fs::create_directories(dir);
    const Bytes big = FleetFile(2000);
    Spill(root + "/big.vps", big);
    CVarkoPrinters fleet;
    fleet.LoadFromFile(CString(root + "/big.vps"), nullptr);
    const Bytes few = FleetFile(3);
    Spill(root + "/few.vps", few);

    int code = InPrivateMountWithFiles(
        dir, 256, few,
        [&](FilesInMount& f)
        {
            FillUp(dir);

            CFileException::Cause cause = CFileException::none;
            std::string message = SaveFailure(fleet, f.path, cause);
            std::fprintf(stderr, "full disk, settings file: %s\n", message.c_str());
            CHILD_REQUIRE(cause == CFileException::diskFull);
            CHILD_REQUIRE(message.find("not enough space") != std::string::npos);
            CHILD_REQUIRE(Slurp(f.path) == few);
            CHILD_REQUIRE(SweepLeftovers(dir, "fleet.vps") == 0);

            std::vector<BYTE> large(64 * 1024, 0x5A);
            LONG r = RegSetValueExA(f.key, "Large", 0, REG_BINARY, large.data(),
                                    static_cast<DWORD>(large.size()));
            std::fprintf(stderr, "full disk, settings store: %ld\n", static_cast<long>(r));
            CHILD_REQUIRE(r == ERROR_DISK_FULL);
            return 0;
        });
    EXPECT_CHILD_PASSED(code);
}

TEST_F(SaveSafety, AReadOnlyFileSystemFailsClearlyAndKeepsTheOldFiles)
{
    const std::string root = Root();
    const std::string dir = root + "/frozen";
    fs::create_directories(dir);
    CVarkoPrinters fleet;
    Spill(root + "/few.vps", FleetFile(5));
    fleet.LoadFromFile(CString(root + "/few.vps"), nullptr);
    const Bytes old = FleetFile(3);

    int code = InPrivateMountWithFiles(
        dir, 1024, old,
        [&](FilesInMount& f)
        {
            CHILD_REQUIRE(::mount("odomira-test", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY,
                                  nullptr) == 0);

            CFileException::Cause cause = CFileException::none;
            std::string message = SaveFailure(fleet, f.path, cause);
            std::fprintf(stderr, "read-only file system, settings file: %s\n", message.c_str());
            CHILD_REQUIRE(cause == CFileException::accessDenied);
            CHILD_REQUIRE(message.find("denied") != std::string::npos);
            CHILD_REQUIRE(Slurp(f.path) == old);

            DWORD v = 8;
            LONG r = RegSetValueExA(f.key, "Kept", 0, REG_DWORD, reinterpret_cast<BYTE*>(&v), 4);
            CHILD_REQUIRE(r == static_cast<LONG>(ERROR_ACCESS_DENIED));
            return 0;
        });
    EXPECT_CHILD_PASSED(code);
}

TEST_F(SaveSafety, AFolderTheUserMayNotWriteFailsClearlyAndKeepsTheOldFile)
{
    const std::string dir = Root() + "/locked";
    fs::create_directories(dir);
    const std::string path = dir + "/fleet.vps";
    const Bytes old = FleetFile(3);
    Spill(path, old);
    CVarkoPrinters fleet;
    Spill(dir + "/../five.vps", FleetFile(5));
    fleet.LoadFromFile(CString(dir + "/../five.vps"), nullptr);
    ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);

    // As root, a child that has become nobody tries; root itself may write anywhere.
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        CFileException::Cause cause = CFileException::none;
        std::string message = SaveFailure(fleet, path, cause);
        std::fprintf(stderr, "folder without write permission: %s\n", message.c_str());
        ::_exit(cause == CFileException::accessDenied && message.find("denied") != std::string::npos
                    ? 0
                    : 4);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(dir.c_str(), 0755);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3: could not drop rights, 4: not refused as denied";
    EXPECT_EQ(Slurp(path), old);
    EXPECT_EQ(SweepLeftovers(dir, "fleet.vps"), 0);
}
