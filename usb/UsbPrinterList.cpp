#include "UsbPrinterList.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <dirent.h>
#include <limits.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
std::vector<std::string> entries(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return names;
    while (dirent* e = ::readdir(d))
    {
        std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    return names;
}

// "lp12" -> 12; -1 for anything else.
int lpNumber(const std::string& name)
{
    if (name.size() < 3 || name.compare(0, 2, "lp") != 0 || name.size() > 6)
        return -1;
    int n = 0;
    for (std::size_t i = 2; i < name.size(); ++i)
    {
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

std::string firstLine(const std::string& path)
{
    std::string text;
    if (std::FILE* f = std::fopen(path.c_str(), "r"))
    {
        char buf[64] = {};
        if (std::fgets(buf, sizeof buf, f))
            text = buf;
        std::fclose(f);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

bool isPrinterClass(const std::string& sysRoot, const std::string& node)
{
    std::string device = sysRoot + "/class/usbmisc/" + node + "/device";
    char target[PATH_MAX];
    ssize_t n = ::readlink((device + "/driver").c_str(), target, sizeof target - 1);
    if (n > 0)
    {
        target[n] = 0;
        std::string t(target);
        std::string base = t.substr(t.find_last_of('/') + 1);
        if (base == "usblp")
            return true;
    }
    return firstLine(device + "/bInterfaceClass") == "07";
}
} // namespace

std::vector<CString> ListUsbPrinters(const CString& devRoot, const CString& sysRoot,
                                     const CString& overrideDir)
{
    std::vector<CString> found;

    std::vector<std::pair<int, std::string>> nodes;
    for (const std::string& name : entries(devRoot.str() + "/usb"))
        if (int n = lpNumber(name); n >= 0)
            nodes.emplace_back(n, name);
    std::sort(nodes.begin(), nodes.end());
    for (const auto& [n, name] : nodes)
        if (isPrinterClass(sysRoot.str(), name))
            found.emplace_back(devRoot.str() + "/usb/" + name);

    if (!overrideDir.IsEmpty())
    {
        const std::string dir = overrideDir.str() + "/usb";
        std::vector<std::string> names = entries(dir);
        std::sort(names.begin(), names.end());
        const std::string sidecar = ".ieee1284";
        for (const std::string& name : names)
        {
            if (name.size() >= sidecar.size() &&
                name.compare(name.size() - sidecar.size(), sidecar.size(), sidecar) == 0)
                continue;
            if (name[0] == '.')
                continue; // editor and lock files
            found.emplace_back(dir + "/" + name);
        }
    }
    return found;
}
