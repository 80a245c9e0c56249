// The program's settings without a window: what is read, repaired and written, and
// where an ordinary user's choice of units goes when the machine-wide key is closed.
#include "CSettingsApplication.h"
#include "SettingsStore.h"
#include "StoreValues.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace
{
constexpr const char* kUserKey = kUserSettingsKey;
constexpr const char* kMachineKey = kMachineSettingsKey;

void Write(HKEY root, const char* keyName, const char* value, DWORD type, const void* data,
           DWORD size)
{
    WriteStoreValue(root, keyName, value, type, data, size);
}

std::vector<BYTE> Read(HKEY root, const char* keyName, const char* value)
{
    return ReadStoreValue(root, keyName, value);
}

// A text value as stored, without the terminating zero the store hands back.
std::string Text(const std::vector<BYTE>& bytes)
{
    std::string text(bytes.begin(), bytes.end());
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::vector<std::int32_t> Ints(const std::vector<BYTE>& bytes)
{
    std::vector<std::int32_t> v(bytes.size() / 4);
    std::memcpy(v.data(), bytes.data(), v.size() * 4);
    return v;
}

// Runs fn in a child process that has given up root's rights (as "nobody"), the way an
// ordinary user runs the program. The child's exit status is fn's result.
int AsOrdinaryUser(const std::function<int()>& fn)
{
    pid_t child = ::fork();
    if (child == 0)
    {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(90);
        ::_exit(fn());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 91;
}
} // namespace

TEST(ApplicationSettings, NothingStoredGivesTheDefaultsAndThemAtExit)
{
    {
        CSettingsApplication settings;
        EXPECT_EQ(settings.m_windowPlacement.length, 0u);
        EXPECT_TRUE(settings.m_displayUnits.IsEmpty());
    }
    EXPECT_EQ(Ints(Read(HKEY_CURRENT_USER, kUserKey, "View Settings")),
              (std::vector<std::int32_t>{175, 300, 275, 150, 0, 0, 0, 0, 300, 50, 450}));
    // No position was taken, so none is written.
    EXPECT_TRUE(Read(HKEY_CURRENT_USER, kUserKey, "Window Position").empty());
}

TEST(ApplicationSettings, StoredViewSettingsKeepTheirValuesAndOnlyBadOnesAreRepaired)
{
    const std::int32_t stored[11] = {10, -5, 0, -1, 7, -8, 9, 10, 0, -3, 99};
    Write(HKEY_CURRENT_USER, kUserKey, "View Settings", REG_BINARY, stored, sizeof stored);
    {
        CSettingsApplication settings;
    }
    EXPECT_EQ(Ints(Read(HKEY_CURRENT_USER, kUserKey, "View Settings")),
              (std::vector<std::int32_t>{10, 300, 0, 150, 7, -8, 9, 10, 300, 50, 99}));
}

TEST(ApplicationSettings, ShortOrOversizedBinaryValuesAreTakenOnlyWhenLongEnough)
{
    // 43 bytes: too short, so the defaults; a 60-byte value gives its first 44 bytes.
    std::vector<BYTE> shortValue(43, 0x7F);
    Write(HKEY_CURRENT_USER, kUserKey, "View Settings", REG_BINARY, shortValue.data(), 43);
    std::vector<BYTE> longValue(60, 0);
    const std::uint32_t header[3] = {44, 0, SW_SHOWMAXIMIZED};
    std::memcpy(longValue.data(), header, sizeof header);
    Write(HKEY_CURRENT_USER, kUserKey, "Window Position", REG_BINARY, longValue.data(), 60);
    {
        CSettingsApplication settings;
        EXPECT_EQ(settings.m_viewSettings[0], 175);
        EXPECT_EQ(settings.m_viewSettings[10], 450);
        EXPECT_EQ(settings.m_windowPlacement.length, 44u);
        EXPECT_EQ(settings.m_windowPlacement.showCmd, SW_SHOWMAXIMIZED);
    }
    EXPECT_EQ(Read(HKEY_CURRENT_USER, kUserKey, "Window Position").size(), 44u);
}

TEST(ApplicationSettings, DisplayUnitsUpTo63CharactersAreTakenLongerOnesIgnored)
{
    const std::string fits(63, 'x');
    Write(HKEY_LOCAL_MACHINE, kMachineKey, "Display Units", REG_SZ, fits.data(), 63);
    {
        CSettingsApplication settings;
        EXPECT_EQ(settings.m_displayUnits.str(), fits);
        settings.m_displayUnits = "Millimeters";
    }
    // Stored without a terminating zero.
    EXPECT_EQ(Text(Read(HKEY_LOCAL_MACHINE, kMachineKey, "Display Units")), "Millimeters");

    const std::string tooLong(64, 'y');
    Write(HKEY_LOCAL_MACHINE, kMachineKey, "Display Units", REG_SZ, tooLong.data(), 64);
    CSettingsApplication settings;
    EXPECT_TRUE(settings.m_displayUnits.IsEmpty());
}

TEST(ApplicationSettings, AnOrdinaryUsersChoiceOfUnitsSurvivesARestart)
{
    const std::string root = std::getenv("VARKO_SETTINGS_ROOT");
    // An administrator set inches for the machine; the user may write only their own.
    Write(HKEY_LOCAL_MACHINE, kMachineKey, "Display Units", REG_SZ, "Inches", 6);
    fs::create_directories(root + "/user");
    ::chmod(root.c_str(), 0755);
    ::chmod((root + "/user").c_str(), 0777);
    ::chmod((root + "/machine").c_str(), 0755);
    ::chmod((root + "/machine/Varko Technologies Corporation").c_str(), 0755);
    ::chmod((root + "/machine/Varko Technologies Corporation/Odomira").c_str(), 0755);

    EXPECT_EQ(AsOrdinaryUser(
                  []
                  {
                      CSettingsApplication settings;
                      if (settings.m_displayUnits != "Inches")
                          return 1;
                      settings.m_displayUnits = "Millimeters";
                      return 0;
                  }),
              0);
    EXPECT_EQ(Text(Read(HKEY_LOCAL_MACHINE, kMachineKey, "Display Units")), "Inches");
    EXPECT_EQ(AsOrdinaryUser(
                  []
                  {
                      CSettingsApplication settings;
                      return settings.m_displayUnits == "Millimeters" ? 0 : 1;
                  }),
              0)
        << "the user's own choice wins at the next start";

    // Choosing what the machine holds needs no copy of one's own: a later change by
    // the administrator reaches the user again.
    EXPECT_EQ(AsOrdinaryUser(
                  []
                  {
                      CSettingsApplication settings;
                      settings.m_displayUnits = "Inches";
                      return 0;
                  }),
              0);
    EXPECT_TRUE(Read(HKEY_CURRENT_USER, kUserKey, "Display Units").empty());
}

TEST(ApplicationSettings, AMachineWideWriteRemovesTheUsersOwnCopy)
{
    Write(HKEY_CURRENT_USER, kUserKey, "Display Units", REG_SZ, "Millimeters", 11);
    {
        CSettingsApplication settings;
        EXPECT_EQ(settings.m_displayUnits, "Millimeters");
        settings.m_displayUnits = "Inches";
    }
    EXPECT_EQ(Text(Read(HKEY_LOCAL_MACHINE, kMachineKey, "Display Units")), "Inches");
    EXPECT_TRUE(Read(HKEY_CURRENT_USER, kUserKey, "Display Units").empty());
}
