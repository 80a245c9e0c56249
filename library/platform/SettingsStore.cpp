#include "SettingsStore.h"

#include "CArchive.h"
#include "SysCalls.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <mutex>
#include <pwd.h>
#include <string>
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

struct Value
{
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// One line of a value file. A line this version cannot read (a comment, a hand edit, a
// value type of a later version) is kept as it was written, so rewriting the file for
// another value never loses it; if its name can be made out, setting or deleting that
// name replaces or removes it.
struct Line
{
    std::string name;
    bool named = false;  // name holds the value's name
    bool parsed = false; // value is valid; otherwise raw is written back unchanged
    Value value;
    std::string raw;
};
// File order is kept so an edited file keeps its lines where the user put them.
using ValueList = std::vector<Line>;

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

LONG errnoToResult(int err)
{
    switch (err)
    {
    case EACCES:
    case EPERM:
    case EROFS:
        return static_cast<LONG>(ERROR_ACCESS_DENIED);
    case ENOENT:
    case ENOTDIR:
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    case ENOSPC:
    case EDQUOT:
        return ERROR_DISK_FULL;
    default:
        return static_cast<LONG>(ERROR_GEN_FAILURE);
    }
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Reads a quoted text starting at s[i] == '"'; leaves i after the closing quote.
bool parseQuoted(const std::string& s, std::size_t& i, std::string& out)
{
    if (i >= s.size() || s[i] != '"')
        return false;
    out.clear();
    for (++i; i < s.size(); ++i)
    {
        char c = s[i];
        if (c == '"')
        {
            ++i;
            return true;
        }
        if (c != '\\')
        {
            out += c;
            continue;
        }
        if (++i >= s.size())
            return false;
        char e = s[i];
        if (e == 'x' && i + 2 < s.size() && hexDigit(s[i + 1]) >= 0 && hexDigit(s[i + 2]) >= 0)
        {
            out += static_cast<char>(hexDigit(s[i + 1]) * 16 + hexDigit(s[i + 2]));
            i += 2;
        }
        else
            out += e; // \\ and \"
    }
    return false;
}

std::string quote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        if (c == '"' || c == '\\')
        {
            out += '\\';
            out += static_cast<char>(c);
        }
        else if (c < 0x20 || c == 0x7F)
        {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        }
        else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

bool parseHexList(const std::string& s, std::vector<BYTE>& out)
{
    out.clear();
    std::size_t i = 0;
    while (i < s.size())
    {
        while (i < s.size() && (s[i] == ',' || s[i] == ' '))
            ++i;
        if (i >= s.size())
            break;
        if (i + 1 >= s.size() || hexDigit(s[i]) < 0 || hexDigit(s[i + 1]) < 0)
            return false;
        out.push_back(static_cast<BYTE>(hexDigit(s[i]) * 16 + hexDigit(s[i + 1])));
        i += 2;
    }
    return true;
}

// One line: "name"=dword:0000000a | "name"=hex:01,02 | "name"=hex(7):.. | "name"="text".
// The default value is written @=... as the registry editor does.
bool parseLine(const std::string& line, std::string& name, Value& value)
{
    std::size_t i = 0;
    if (line.empty() || line[0] == ';' || line[0] == '#')
        return false;
    if (line[0] == '@')
    {
        name.clear();
        i = 1;
    }
    else if (!parseQuoted(line, i, name))
        return false;
    if (i >= line.size() || line[i] != '=')
        return false;
    std::string rest = line.substr(i + 1);
    if (!rest.empty() && rest[0] == '"')
    {
        std::size_t j = 0;
        std::string text;
        if (!parseQuoted(rest, j, text))
            return false;
        value.type = REG_SZ;
        value.data.assign(text.begin(), text.end());
        return true;
    }
    if (rest.rfind("dword:", 0) == 0)
    {
        std::string digits = rest.substr(6);
        if (digits.empty() || digits.size() > 8)
            return false;
        DWORD v = 0;
        for (char c : digits)
        {
            if (hexDigit(c) < 0)
                return false;
            v = v * 16 + static_cast<DWORD>(hexDigit(c));
        }
        value.type = REG_DWORD;
        value.data.resize(4);
        std::memcpy(value.data.data(), &v, 4); // little-endian, as the registry keeps it
        return true;
    }
    if (rest.rfind("hex:", 0) == 0)
    {
        value.type = REG_BINARY;
        return parseHexList(rest.substr(4), value.data);
    }
    if (rest.rfind("hex(", 0) == 0)
    {
        std::size_t close = rest.find("):");
        if (close == std::string::npos)
            return false;
        char* end = nullptr;
        unsigned long type = std::strtoul(rest.c_str() + 4, &end, 16);
        if (end != rest.c_str() + close)
            return false;
        value.type = static_cast<DWORD>(type);
        return parseHexList(rest.substr(close + 2), value.data);
    }
    return false;
}

std::string formatLine(const std::string& name, const Value& value)
{
    std::string out = name.empty() ? std::string("@") : quote(name);
    out += '=';
    if (value.type == REG_SZ)
        return out + quote(std::string(value.data.begin(), value.data.end()));
    if (value.type == REG_DWORD && value.data.size() == 4)
    {
        DWORD v;
        std::memcpy(&v, value.data.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", v);
        return out + buf;
    }
    if (value.type == REG_BINARY)
        out += "hex:";
    else
    {
        char buf[24];
        std::snprintf(buf, sizeof buf, "hex(%x):", value.type);
        out += buf;
    }
    for (std::size_t k = 0; k < value.data.size(); ++k)
    {
        char buf[4];
        std::snprintf(buf, sizeof buf, k ? ",%02x" : "%02x", value.data[k]);
        out += buf;
    }
    return out;
}

bool sameName(const std::string& a, const std::string& b)
{
    // Value names are not case-sensitive on the original platform.
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

// The name of a line that could not be read as a whole, when it starts like a value.
bool nameOfLine(const std::string& line, std::string& name)
{
    std::size_t i = 0;
    if (!line.empty() && line[0] == '@')
    {
        name.clear();
        i = 1;
    }
    else if (!parseQuoted(line, i, name))
        return false;
    return i < line.size() && line[i] == '=';
}

// Reads the key's whole value file. A missing file is an empty list; a file that exists
// but cannot be read to its end is an error, and the caller must not write over it.
LONG readValues(const std::string& dir, ValueList& values)
{
    values.clear();
    std::string path = dir + "/" + kValuesFile;
    int fd;
    do
        fd = Sys().open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY, 0);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return errno == ENOENT ? static_cast<LONG>(ERROR_SUCCESS) : errnoToResult(errno);
    std::string text;
    char buffer[4096];
    for (;;)
    {
        ssize_t n = Sys().read(fd, buffer, sizeof buffer);
        if (n > 0)
        {
            text.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0)
            break;
        if (errno == EINTR)
            continue;
        int err = errno;
        Sys().close(fd);
        return err == EISDIR ? static_cast<LONG>(ERROR_ACCESS_DENIED) : errnoToResult(err);
    }
    Sys().close(fd);

    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        start = end == std::string::npos ? text.size() : end + 1;
        Line l;
        // A line kept as it was is written back with the carriage return it came with
        // (and only that one), so a rewrite never changes what it does not understand.
        l.raw = line;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        l.parsed = parseLine(line, l.name, l.value);
        l.named = l.parsed || nameOfLine(line, l.name);
        if (l.parsed)
        {
            // A name given twice: the later line wins, as a registry import would do.
            auto earlier =
                std::find_if(values.begin(), values.end(),
                             [&](const Line& v) { return v.parsed && sameName(v.name, l.name); });
            if (earlier != values.end())
            {
                earlier->value = l.value;
                continue;
            }
        }
        values.push_back(std::move(l));
    }
    return static_cast<LONG>(ERROR_SUCCESS);
}

LONG writeValues(const std::string& dir, const ValueList& values)
{
    std::string text;
    for (const Line& l : values)
        text += (l.parsed ? formatLine(l.name, l.value) : l.raw) + "\n";
    try
    {
        WriteFileAtomically(CString(dir + "/" + kValuesFile),
                            std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    catch (const CFileException& e)
    {
        return errnoToResult(e.m_lOsError);
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
        return errnoToResult(errno);
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
    std::string name = valueName ? valueName : "";
    ValueList values;
    if (LONG r = readValues(key->dir, values); r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    for (const Line& line : values)
    {
        if (!line.parsed || !sameName(line.name, name))
            continue;
        const Value& v = line.value;
        std::vector<BYTE> bytes = v.data;
        if (v.type == REG_SZ)
            bytes.push_back(0); // the stored size counts the terminator
        if (type)
            *type = v.type;
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
    return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
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
    Value v;
    v.type = type;
    v.data.assign(data, data + cbData);
    if (type == REG_SZ)
    {
        // Stored without the terminator (and without anything after it).
        auto nul = std::find(v.data.begin(), v.data.end(), BYTE(0));
        v.data.erase(nul, v.data.end());
    }
    std::string name = valueName ? valueName : "";
    std::lock_guard g(g_writeLock);
    if (!writable(key->dir))
        return isDirectory(key->dir) ? static_cast<LONG>(ERROR_ACCESS_DENIED)
                                     : static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    // A file that could not be read whole is never written over: what it holds beyond
    // this one value would be lost.
    ValueList values;
    if (LONG r = readValues(key->dir, values); r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    Line line;
    line.name = name;
    line.named = line.parsed = true;
    line.value = v;
    auto first = std::find_if(values.begin(), values.end(),
                              [&](const Line& l) { return l.named && sameName(l.name, name); });
    if (first == values.end())
        values.push_back(std::move(line));
    else
    {
        line.name = first->name; // the name keeps the spelling it was created with
        *first = std::move(line);
        // Any other line of that name (one this version could not read) goes with it.
        values.erase(std::remove_if(std::next(first), values.end(),
                                    [&](const Line& l)
                                    { return l.named && sameName(l.name, name); }),
                     values.end());
    }
    return writeValues(key->dir, values);
}

LONG RegDeleteValueA(HKEY key, const char* valueName)
{
    if (!key || key->isRoot)
        return static_cast<LONG>(ERROR_INVALID_HANDLE);
    std::string name = valueName ? valueName : "";
    std::lock_guard g(g_writeLock);
    ValueList values;
    if (LONG r = readValues(key->dir, values); r != static_cast<LONG>(ERROR_SUCCESS))
        return r;
    auto gone = std::remove_if(values.begin(), values.end(),
                               [&](const Line& l) { return l.named && sameName(l.name, name); });
    if (gone == values.end())
        return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
    values.erase(gone, values.end());
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
