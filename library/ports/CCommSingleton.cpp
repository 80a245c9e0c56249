#include "CCommSingleton.h"

#include "DeviceNames.h"

#include <cerrno>
#include <cstdio>
#include <string>
#include <sys/stat.h>

namespace
{
struct Roots
{
    std::string dev;
    std::string sys;
};

// What stat says of an entry, following links: a character device, one we may not look
// at (it exists, only not for us), or nothing usable (absent, a dangling link, a file).
bool characterDeviceOrForbidden(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0)
        return S_ISCHR(st.st_mode);
    return errno == EACCES || errno == EPERM;
}

bool exists(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string firstLine(const std::string& path)
{
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "re"))
    {
        char buf[32] = {};
        if (std::fgets(buf, sizeof buf, f))
            text = buf;
        std::fclose(f);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

// Whether the system lists node (ttyS0, ttyUSB3, lp1) as a port of its kind.
bool systemListsPort(const Roots& roots, const std::string& node)
{
    if (!exists(roots.sys + "/class"))
        return true; // no sysfs to ask: the node decides
    const bool parallel = node.compare(0, 2, "lp") == 0;
    const std::string entry = roots.sys + (parallel ? "/class/printer/" : "/class/tty/") + node;
    if (!exists(entry))
        return false;
    // The serial driver makes a ttyS for every port it might have; type 0 says no UART
    // answered there, which is what an open would have reported as an I/O error.
    if (node.compare(0, 4, "ttyS") == 0 && firstLine(entry + "/type") == "0")
        return false;
    return true;
}

bool portExists(const Roots& roots, const CString& name)
{
    // The folder entry of the name, if there is one, decides, as it does when the port
    // is opened (ResolveDeviceName).
    for (const CString& dir : DeviceOverrideDirs())
    {
        const std::string entry = dir.str() + "/" + name.str();
        struct stat st;
        if (::lstat(entry.c_str(), &st) == 0)
            return characterDeviceOrForbidden(entry);
    }
    const std::string device = DefaultDeviceForName(name).str();
    const std::string prefix = "/dev/";
    if (device.compare(0, prefix.size(), prefix) != 0)
        return false;
    const std::string node = device.substr(prefix.size());
    return characterDeviceOrForbidden(roots.dev + "/" + node) && systemListsPort(roots, node);
}

void find(const Roots& roots, const char* kind, std::vector<CString>& list)
{
    for (int n = 1; n <= CCommSingleton::MAX_PORT_NUMBER; ++n)
    {
        CString name = CString::Formatted("%s%d", kind, n);
        if (portExists(roots, name))
            list.push_back(name);
    }
}
} // namespace

CCommSingleton& CCommSingleton::GetInstance()
{
    // Built on first use and destroyed with the library's static objects.
    static CCommSingleton instance;
    return instance;
}

CCommSingleton::CCommSingleton() : CCommSingleton("/dev", "/sys") {}

CCommSingleton::CCommSingleton(const CString& devRoot, const CString& sysRoot)
{
    const Roots roots{devRoot.str(), sysRoot.str()};
    find(roots, "COM", m_serialPorts);
    find(roots, "LPT", m_parallelPorts);
}

CCommSingleton::~CCommSingleton() = default;
