#include "SettingsStore.h"

#include "CArchive.h"
#include "ErrorMapping.h"
#include "IoRetry.h"
#include "SettingsFileFormat.h"
#include "SysCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <pwd.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

struct HKEY__
{
    bool isRoot;
    bool machine;
    std::string dir; // empty for the two roots: they are resolved at each use
};

namespace
{
HKEY__ g_currentUser{true, false, {}};
HKEY__ g_localMachine{true, true, {}};

constexpr const char* kCompany = "Varko Technologies Corporation";
constexpr const char* kValuesFile = ".values";

// Serialises the read-modify-write of a value file within the process.
std::mutex g_writeLock;

bool isDirectory(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string rootPath(bool machine)
{
    if (const char* relocated = std::getenv("VARKO_SETTINGS_ROOT"); relocated && *relocated)
        return std::string(relocated) + (machine ? "/machine" : "/user");
    if (machine)
        return "/etc/xdg";
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/')
        return xdg;
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.config";
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_dir)
        return std::string(found->pw_dir) + "/.config";
    return {};
}

std::vector<std::string> splitKey(const char* subKey)
{
    std::vector<std::string> parts;
    std::string cur;
    for (const char* p = subKey ? subKey : ""; *p; ++p)
    {
        if (*p == '\\')
        {
            if (!cur.empty())
                parts.push_back(cur);
            cur.clear();
        }
        else
            cur += *p;
    }
    if (!cur.empty())
        parts.push_back(cur);
    return parts;
}

bool safeComponent(const std::string& c)
{
    return c != "." && c != ".." && c != kValuesFile && c.find('/') == std::string::npos;
}

// Resolves a key below a root or an open key to its folder. Keys of the roots must lie
// below "Software\<company>", which maps onto the company folder itself.
bool resolve(HKEY parent, const char* subKey, std::string& dir)
{
    if (!parent)
        return false;
    std::vector<std::string> parts = splitKey(subKey);
    std::size_t first = 0;
    if (parent->isRoot)
    {
        if (parts.size() < 2 || strcasecmp(parts[0].c_str(), "Software") != 0 ||
            strcasecmp(parts[1].c_str(), kCompany) != 0)
            return false;
        std::string root = rootPath(parent->machine);
        if (root.empty())
            return false;
        dir = root + "/" + kCompany;
        first = 2;
    }
    else
        dir = parent->dir;
    for (std::size_t i = first; i < parts.size(); ++i)
    {
        if (!safeComponent(parts[i]))
            return false;
        dir += "/" + parts[i];
    }
    return true;
}

LONG fileError(int err)
{
    return static_cast<LONG>(Win32FileErrorFromErrno(err));
}

// Reads the key's whole value file. A missing file is an empty one; a file that exists
// but cannot be read to its end is an error, and the caller must not write over it.
LONG readValues(const std::string& dir, SettingsValueFile& values)
{
    values = SettingsValueFile();
    std::string path = dir + "/" + kValuesFile;
    const SysResult<int> opened =
        RetryOnEintr([&] { return Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0); });
    if (opened.Failed())
        return opened.error == ENOENT ? static_cast<LONG>(ERROR_SUCCESS) : fileError(opened.error);
    const int fd = opened.value;
    std::string text;
    char buffer[4096];
    for (;;)
    {
        const SysResult<ssize_t> r =
            RetryOnEintr([&] { return Sys().read(fd, buffer, sizeof buffer); });
        if (r.Failed())
        {
            Sys().close(fd);
            return fileError(r.error);
        }
        if (r.value == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(r.value));
    }
    Sys().close(fd);
    values = SettingsValueFile::Parse(text);
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG writeValues(const std::string& dir, const SettingsValueFile& values)
{
    std::string text = values.Format();
    try
    {
        WriteFileAtomically(CString(dir + "/" + kValuesFile),
                            std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    catch (const CFileException& e)
    {
        return fileError(e.m_lOsError);
    }
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG makeDirectories(const std::string& dir, bool& created)
{
    created = false;
    if (isDirectory(dir))
        return static_cast<LONG>(ERROR_SUCCESS);
    std::size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
    {
        bool parentCreated;
        LONG r = makeDirectories(dir.substr(0, slash), parentCreated);
        if (r != static_cast<LONG>(ERROR_SUCCESS))
            return r;
    }
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST)
        return fileError(errno);
    created = true;
    return static_cast<LONG>(ERROR_SUCCESS);
}

bool writable(const std::string& dir)
{
    return ::access(dir.c_str(), W_OK) == 0;
}
} // namespace

HKEY const HKEY_CURRENT_USER = &g_currentUser;
HKEY const HKEY_LOCAL_MACHINE = &g_localMachine;

LONG RegOpenKeyExA(HKEY root, const char* subKey, DWORD, DWORD samDesired, HKEY* result)
{
    if (!result)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::string dir;
    if (!resolve(root, subKey, dir) || !isDirectory(dir))
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    if ((samDesired & KEY_SET_VALUE) && !writable(dir))
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    *result = new HKEY__{false, root->machine, dir};
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegCreateKeyExA(HKEY root, const char* subKey, DWORD, const char*, DWORD, DWORD samDesired,
                     void*, HKEY* result, DWORD* disposition)
{
    if (!result)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    *result = nullptr;
    std::string dir;
    if (!resolve(root, subKey, dir))
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    bool created = false;
    LONG r = makeDirectories(dir, created);
    if (r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    if ((samDesired & KEY_SET_VALUE) && !writable(dir))
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    if (disposition)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = new HKEY__{false, root->machine, dir};
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* cbData)
{
    if (!key || key->isRoot)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (data && !cbData)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    SettingsValueFile values;
    if (LONG r = readValues(key->dir, values); r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    const SettingsValue* v = values.Find(valueName ? valueName : "");
    if (!v)
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    std::vector<BYTE> bytes = v->data;
    if (v->type == REG_SZ)
        bytes.push_back(0); // the stored size counts the terminator
    if (type)
        *type = v->type;
    DWORD needed = static_cast<DWORD>(bytes.size());
    if (!data)
    {
        if (cbData)
            *cbData = needed;
        return static_cast<LONG>(ERROR_SUCCESS);
    }
    if (*cbData < needed)
    {
        *cbData = needed;
        return ERROR_MORE_DATA;
    }
    if (needed) // an empty value has no bytes to copy from
        std::memcpy(data, bytes.data(), needed);
    *cbData = needed;
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD cbData)
{
    if (!key || key->isRoot)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    if (cbData && !data)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    if (type == REG_DWORD && cbData != 4)
        return static_cast<LONG>(ERROR_INVALID_PARAMETER);
    SettingsValue v;
    v.type = type;
    v.data.assign(data, data + cbData);
    if (type == REG_SZ)
    {
        // Stored without the terminator (and without anything after it).
        auto nul = std::find(v.data.begin(), v.data.end(), BYTE(0));
        v.data.erase(nul, v.data.end());
    }
    std::lock_guard g(g_writeLock);
    if (!writable(key->dir))
        return isDirectory(key->dir) ? static_cast<LONG>(ERROR_ACCESS_DENIED)
                                     : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    // A file that could not be read whole is never written over: what it holds beyond
    // this one value would be lost.
    SettingsValueFile values;
    if (LONG r = readValues(key->dir, values); r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    values.Set(valueName ? valueName : "", std::move(v));
    return writeValues(key->dir, values);
}

LONG RegDeleteValueA(HKEY key, const char* valueName)
{
    if (!key || key->isRoot)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::lock_guard g(g_writeLock);
    SettingsValueFile values;
    if (LONG r = readValues(key->dir, values); r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    if (!values.Remove(valueName ? valueName : ""))
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    return writeValues(key->dir, values);
}

LONG RegCloseKey(HKEY key)
{
    if (!key || key->isRoot)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    delete key;
    return static_cast<LONG>(ERROR_SUCCESS);
}

CString SettingsCompanyFolder(HKEY root)
{
    if (!root || !root->isRoot)
        return CString();
    std::string path = rootPath(root->machine);
    if (path.empty())
        return CString();
    return CString(path + "/" + kCompany);
}
