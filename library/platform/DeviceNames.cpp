#include "DeviceNames.h"

#include <cctype>
#include <cstdlib>
#include <sys/stat.h>

namespace
{
const char kCompanyDevices[] = "Varko Technologies Corporation/devices";
const char kDevicePrefix[] = "\\\\.\\";

bool exists(const CString& path)
{
    struct stat st;
    // lstat: a dangling link still names the device (opening it then fails with code
    // 7, which is the truth: the device the user chose is not there).
    return ::lstat(path.GetString(), &st) == 0;
}

bool isDirectory(const CString& path)
{
    struct stat st;
    return ::stat(path.GetString(), &st) == 0 && S_ISDIR(st.st_mode);
}

// "COM12" -> 12 for prefix "COM"; 0 when the name is not prefix + decimal number.
int numberAfter(const CString& name, const char* prefix)
{
    int plen = 0;
    while (prefix[plen])
        ++plen;
    if (name.GetLength() <= plen || name.GetLength() > plen + 4)
        return 0;
    if (name.Left(plen).CompareNoCase(prefix) != 0)
        return 0;
    int n = 0;
    for (int i = plen; i < name.GetLength(); ++i)
    {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (!std::isdigit(c))
            return 0;
        n = n * 10 + (c - '0');
    }
    if (name[plen] == '0')
        return 0; // "COM01" is not a Windows device name
    return n;
}

bool plainName(const CString& name)
{
    return !name.IsEmpty() && name.Find('/') < 0 && name != "." && name != "..";
}
} // namespace

std::vector<CString> DeviceOverrideDirs()
{
    std::vector<CString> dirs;
    if (const char* env = std::getenv("VARKO_DEVICE_DIR"); env && *env)
    {
        // An explicit folder replaces the others: tests and the demo must not pick up
        // a developer's own links.
        dirs.emplace_back(env);
        return dirs;
    }
    CString config;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/')
        config = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        config = CString(home) + "/.config";
    if (!config.IsEmpty())
        dirs.push_back(config + "/" + kCompanyDevices);
    dirs.push_back(CString("/etc/xdg/") + kCompanyDevices);
    return dirs;
}

CString ExistingDeviceOverrideDir()
{
    for (const CString& dir : DeviceOverrideDirs())
        if (isDirectory(dir))
            return dir;
    return CString();
}

CString DefaultDeviceForName(const CString& shortName)
{
    if (int n = numberAfter(shortName, "COM"))
    {
        if (n <= 32)
            return CString::Formatted("/dev/ttyS%d", n - 1);
        if (n <= 64)
            return CString::Formatted("/dev/ttyUSB%d", n - 33);
        if (n <= 96)
            return CString::Formatted("/dev/ttyACM%d", n - 65);
        return CString();
    }
    if (int n = numberAfter(shortName, "LPT"); n >= 1 && n <= 8)
        return CString::Formatted("/dev/lp%d", n - 1);
    return CString();
}

CString ResolveDeviceName(const CString& name)
{
    CString shortName = name;
    bool prefixed = name.Left(4) == kDevicePrefix;
    if (prefixed)
        shortName = name.Mid(4);
    if (plainName(shortName))
    {
        for (const CString& dir : DeviceOverrideDirs())
        {
            CString entry = dir + "/" + shortName;
            if (exists(entry))
                return entry;
        }
        CString device = DefaultDeviceForName(shortName);
        if (!device.IsEmpty())
            return device;
    }
    // A Windows device name that nothing maps is simply absent: opened as given it
    // would be a file of that name in whatever folder the program runs in.
    if (prefixed || numberAfter(shortName, "COM") > 0 || numberAfter(shortName, "LPT") > 0)
        return CString();
    return name;
}

bool IsDeviceOverrideEntry(const CString& path)
{
    const std::string& p = path.str();
    for (const CString& dir : DeviceOverrideDirs())
    {
        const std::string prefix = dir.str() + "/";
        if (p.size() <= prefix.size() || p.compare(0, prefix.size(), prefix) != 0)
            continue;
        // "COM5" or "usb/lp0", but never "../../dev/pts/0": a folder entry is what the
        // user (or the simulator) put there, a path that leaves the folder is not.
        std::size_t start = prefix.size();
        bool inside = true;
        while (inside)
        {
            std::size_t slash = p.find('/', start);
            std::string part = p.substr(start, slash == std::string::npos ? slash : slash - start);
            inside = !part.empty() && part != "." && part != "..";
            if (slash == std::string::npos)
                break;
            start = slash + 1;
        }
        if (inside)
            return true;
    }
    return false;
}
