// Windows-style device names and the Linux devices they open.
#include "DeviceNames.h"
#include "ErrorMapping.h"
#include "WinTypes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

namespace
{
// Sets or clears one environment variable for the lifetime of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv()
    {
        if (m_old)
            setenv(m_name, m_old->c_str(), 1);
        else
            unsetenv(m_name);
    }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

std::filesystem::path Scratch(const char* leaf)
{
    auto dir = std::filesystem::temp_directory_path() /
               ("odomira-devnames-" + std::to_string(getpid())) / leaf;
    std::filesystem::create_directories(dir);
    return dir;
}
} // namespace

TEST(DeviceNames, FixedRuleCoversOnBoardUsbAndParallelDevices)
{
    struct Case
    {
        const char* name;
        const char* device;
    };
    const Case cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM32", "/dev/ttyS31"},
        {"COM33", "/dev/ttyUSB0"},
        {"COM64", "/dev/ttyUSB31"},
        {"COM65", "/dev/ttyACM0"},
        {"COM96", "/dev/ttyACM31"},
        {"com5", "/dev/ttyS4"},
        {"LPT1", "/dev/lp0"},
        {"LPT8", "/dev/lp7"},
        {"COM97", ""},
        {"LPT9", ""},
        {"COM0", ""},
        {"COM01", ""},
        {"COM", ""},
        {"COMX", ""},
        {"PRN", ""},
    };
    for (const Case& k : cases)
        EXPECT_EQ(DefaultDeviceForName(k.name), k.device) << k.name;
}

TEST(DeviceNames, OverrideFolderWinsAndOtherNamesOpenAsGiven)
{
    auto dir = Scratch("override");
    ScopedEnv env("VARKO_DEVICE_DIR", dir.c_str());
    std::filesystem::remove(dir / "COM5");
    std::filesystem::create_symlink("/dev/ttyUSB0", dir / "COM5");

    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM5"), (dir / "COM5").string());
    EXPECT_EQ(ResolveDeviceName("COM5"), (dir / "COM5").string());
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM6"), "/dev/ttyS5");
    EXPECT_EQ(ResolveDeviceName("\\\\.\\LPT2"), "/dev/lp1");
    EXPECT_EQ(ResolveDeviceName("/dev/usb/lp0"), "/dev/usb/lp0");
    EXPECT_EQ(ResolveDeviceName((dir / "usb" / "p1").string()), (dir / "usb" / "p1").string());
    // A name that would climb out of the folder is not looked up in it, nor opened.
    EXPECT_EQ(ResolveDeviceName("\\\\.\\.."), "");
}

TEST(DeviceNames, PortNamesWithoutAMappingHaveNoDevice)
{
    auto dir = Scratch("unmapped");
    ScopedEnv env("VARKO_DEVICE_DIR", dir.c_str());
    // Beyond the rule and not in the folder: nothing to open, and above all not a file
    // of that name in the folder the program happens to run in.
    for (const char* name : {"\\\\.\\COM97", "\\\\.\\COM200", "COM256", "\\\\.\\LPT9", "LPT256",
                             "\\\\.\\COM0", "\\\\.\\PRN"})
        EXPECT_EQ(ResolveDeviceName(name), "") << name;
    // The override folder still gives any of them a device.
    std::filesystem::remove(dir / "COM200");
    std::filesystem::create_symlink("/dev/null", dir / "COM200");
    EXPECT_EQ(ResolveDeviceName("\\\\.\\COM200"), (dir / "COM200").string());
}

TEST(DeviceNames, FoldersFollowTheEnvironment)
{
    {
        ScopedEnv env("VARKO_DEVICE_DIR", "/tmp/x");
        auto dirs = DeviceOverrideDirs();
        ASSERT_EQ(dirs.size(), 1u);
        EXPECT_EQ(dirs[0], "/tmp/x");
    }
    ScopedEnv env("VARKO_DEVICE_DIR", nullptr);
    {
        ScopedEnv xdg("XDG_CONFIG_HOME", "/cfg");
        auto dirs = DeviceOverrideDirs();
        ASSERT_EQ(dirs.size(), 2u);
        EXPECT_EQ(dirs[0], "/cfg/Varko Technologies Corporation/devices");
        EXPECT_EQ(dirs[1], "/etc/xdg/Varko Technologies Corporation/devices");
    }
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    ScopedEnv home("HOME", "/home/u");
    EXPECT_EQ(DeviceOverrideDirs()[0], "/home/u/.config/Varko Technologies Corporation/devices");
}

TEST(ErrorMapping, ErrnoBecomesTheWindowsNumbersTheCodeComparesAgainst)
{
    EXPECT_EQ(Win32ErrorFromErrno(EBADF), ERROR_INVALID_HANDLE);
    EXPECT_EQ(Win32ErrorFromErrno(EINVAL), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Win32ErrorFromErrno(EACCES), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Win32ErrorFromErrno(ENOENT), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Win32ErrorFromErrno(ETIMEDOUT), ERROR_SEM_TIMEOUT);
    EXPECT_EQ(Win32ErrorFromErrno(EIO), ERROR_NOT_READY);
    EXPECT_EQ(Win32ErrorFromErrno(ENOSPC), ERROR_OUT_OF_PAPER);
    EXPECT_EQ(Win32ErrorFromErrno(ENOSYS), ERROR_GEN_FAILURE);
    EXPECT_EQ(Win32ErrorFromErrno(EDQUOT), ERROR_GEN_FAILURE);

    // A file on a disk (the settings store): no room is a full disk, an I/O error is
    // no device that is not ready, a directory in the file's place is refused.
    EXPECT_EQ(Win32FileErrorFromErrno(ENOSPC), ERROR_DISK_FULL);
    EXPECT_EQ(Win32FileErrorFromErrno(EDQUOT), ERROR_DISK_FULL);
    EXPECT_EQ(Win32FileErrorFromErrno(EIO), ERROR_GEN_FAILURE);
    EXPECT_EQ(Win32FileErrorFromErrno(EISDIR), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Win32FileErrorFromErrno(EROFS), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Win32FileErrorFromErrno(ENOTDIR), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Win32FileErrorFromErrno(EBADF), ERROR_GEN_FAILURE);

    EXPECT_EQ(WinSockErrorFromErrno(EAGAIN), WSAEWOULDBLOCK);
    EXPECT_EQ(WinSockErrorFromErrno(ECONNRESET), WSAECONNRESET);
    EXPECT_EQ(WinSockErrorFromErrno(EPIPE), WSAECONNRESET);
    EXPECT_EQ(WinSockErrorFromErrno(EISCONN), WSAEISCONN);
    EXPECT_EQ(WinSockErrorFromErrno(ECONNREFUSED), WSAECONNREFUSED);
    EXPECT_EQ(WinSockErrorFromErrno(ETIMEDOUT), WSAETIMEDOUT);
    EXPECT_EQ(WinSockErrorFromErrno(ENOSYS), WSAEOPNOTSUPP);

    EXPECT_EQ(ErrnoText(EIO), "Input/output error");
    EXPECT_EQ(DescribeWindowsError(WSAECONNRESET), "Connection reset by peer");
    EXPECT_TRUE(DescribeWindowsError(0).IsEmpty());
}
