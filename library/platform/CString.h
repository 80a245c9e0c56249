#pragma once
// 8-bit text as the printer code uses it: bytes are kept exactly as they are, because
// the settings file stores names in the writer's code page and printers answer in
// plain bytes. Only the operations the code needs are offered.
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <strings.h>

class CString
{
public:
    CString() = default;
    CString(const char* s) : m_s(s ? s : "") {}
    CString(const char* s, int length) : m_s(s ? std::string(s, length > 0 ? length : 0) : "") {}
    CString(std::string s) : m_s(std::move(s)) {}
    CString(std::string_view s) : m_s(s) {}
    CString(char c, int repeat = 1) : m_s(repeat > 0 ? repeat : 0, c) {}

    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    const char* GetString() const { return m_s.c_str(); }
    const std::string& str() const { return m_s; }
    char GetAt(int i) const { return m_s[static_cast<std::size_t>(i)]; }
    char operator[](int i) const { return GetAt(i); }

    // Positions follow the framework: -1 when not found, also for a start past the end.
    int Find(const char* sub, int start = 0) const
    {
        if (start < 0 || start > GetLength())
            return -1;
        auto p = m_s.find(sub ? sub : "", static_cast<std::size_t>(start));
        return p == std::string::npos ? -1 : static_cast<int>(p);
    }
    int Find(const CString& sub, int start = 0) const { return Find(sub.GetString(), start); }
    int Find(char c, int start = 0) const
    {
        if (start < 0 || start >= GetLength())
            return -1;
        auto p = m_s.find(c, static_cast<std::size_t>(start));
        return p == std::string::npos ? -1 : static_cast<int>(p);
    }
    int FindOneOf(const char* set) const
    {
        auto p = m_s.find_first_of(set);
        return p == std::string::npos ? -1 : static_cast<int>(p);
    }

    // Out-of-range arguments are clamped, as the framework does, instead of failing.
    CString Mid(int start, int count) const
    {
        if (start < 0)
            start = 0;
        if (count < 0 || start >= GetLength())
            return CString();
        return CString(
            m_s.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(count)));
    }
    CString Mid(int start) const { return Mid(start, GetLength()); }
    CString Left(int count) const { return Mid(0, count); }
    CString Right(int count) const
    {
        if (count <= 0)
            return CString();
        if (count >= GetLength())
            return *this;
        return CString(m_s.substr(m_s.size() - static_cast<std::size_t>(count)));
    }

    int Replace(const char* oldText, const char* newText)
    {
        std::string_view from(oldText ? oldText : "");
        std::string_view to(newText ? newText : "");
        if (from.empty())
            return 0;
        int n = 0;
        std::string out;
        std::size_t pos = 0;
        for (;;)
        {
            auto hit = m_s.find(from, pos);
            if (hit == std::string::npos)
                break;
            out.append(m_s, pos, hit - pos);
            out.append(to);
            pos = hit + from.size();
            ++n;
        }
        if (n)
        {
            out.append(m_s, pos, std::string::npos);
            m_s = std::move(out);
        }
        return n;
    }
    int Remove(char c)
    {
        auto before = m_s.size();
        std::erase(m_s, c);
        return static_cast<int>(before - m_s.size());
    }

    int Compare(const char* other) const { return m_s.compare(other ? other : ""); }
    int CompareNoCase(const char* other) const
    {
        return strcasecmp(m_s.c_str(), other ? other : "");
    }
    int CompareNoCase(const CString& other) const { return CompareNoCase(other.GetString()); }

    CString& operator+=(const CString& o)
    {
        m_s += o.m_s;
        return *this;
    }
    CString& operator+=(const char* o)
    {
        m_s += o ? o : "";
        return *this;
    }
    CString& operator+=(char c)
    {
        m_s += c;
        return *this;
    }

    void Format(const char* fmt, ...) __attribute__((format(printf, 2, 3)))
    {
        va_list ap;
        va_start(ap, fmt);
        FormatV(fmt, ap);
        va_end(ap);
    }
    void FormatV(const char* fmt, va_list ap)
    {
        va_list copy;
        va_copy(copy, ap);
        int n = std::vsnprintf(nullptr, 0, fmt, copy);
        va_end(copy);
        if (n < 0)
        {
            m_s.clear();
            return;
        }
        std::string out(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(out.data(), out.size(), fmt, ap);
        out.resize(static_cast<std::size_t>(n));
        m_s = std::move(out);
    }
    static CString Formatted(const char* fmt, ...) __attribute__((format(printf, 1, 2)))
    {
        CString s;
        va_list ap;
        va_start(ap, fmt);
        s.FormatV(fmt, ap);
        va_end(ap);
        return s;
    }

    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, const char* b)
    {
        return CString(a.m_s + (b ? b : ""));
    }
    friend CString operator+(const char* a, const CString& b)
    {
        return CString((a ? a : "") + b.m_s);
    }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, const char* b) { return a.m_s == (b ? b : ""); }
    friend bool operator!=(const CString& a, const CString& b) { return a.m_s != b.m_s; }
    friend bool operator!=(const CString& a, const char* b) { return a.m_s != (b ? b : ""); }
    friend bool operator<(const CString& a, const CString& b) { return a.m_s < b.m_s; }

private:
    std::string m_s;
};
