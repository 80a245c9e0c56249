#pragma once
// A small strict JSON reader for the tests: the tool's --json output is parsed back
// with it, so that escaping faults show up as parse failures or wrong values instead of
// passing a string comparison by accident.
#include <cstdint>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace minijson
{

struct Value
{
    enum Kind
    {
        Null,
        Bool,
        Number,
        String,
        Array,
        Object
    } kind = Null;
    bool b = false;
    double n = 0;
    std::string s;
    std::vector<Value> a;
    std::map<std::string, Value> o;

    bool IsNull() const { return kind == Null; }
    const Value& operator[](const std::string& key) const
    {
        if (kind != Object)
            throw std::runtime_error("not an object");
        auto it = o.find(key);
        if (it == o.end())
            throw std::runtime_error("no member " + key);
        return it->second;
    }
    const Value& operator[](std::size_t i) const
    {
        if (kind != Array || i >= a.size())
            throw std::runtime_error("bad index");
        return a[i];
    }
    bool Has(const std::string& key) const { return kind == Object && o.count(key); }
};

class Parser
{
public:
    explicit Parser(const std::string& text) : m_t(text) {}

    Value ParseDocument()
    {
        Value v = ParseValue();
        Skip();
        if (m_p != m_t.size())
            Fail("trailing text");
        return v;
    }

private:
    [[noreturn]] void Fail(const std::string& why)
    {
        throw std::runtime_error("JSON: " + why + " at " + std::to_string(m_p));
    }
    void Skip()
    {
        while (m_p < m_t.size() &&
               (m_t[m_p] == ' ' || m_t[m_p] == '\n' || m_t[m_p] == '\r' || m_t[m_p] == '\t'))
            ++m_p;
    }
    char Peek()
    {
        Skip();
        if (m_p >= m_t.size())
            Fail("unexpected end");
        return m_t[m_p];
    }
    void Expect(char c)
    {
        if (Peek() != c)
            Fail(std::string("expected ") + c);
        ++m_p;
    }
    bool Literal(const char* word)
    {
        std::string w(word);
        if (m_t.compare(m_p, w.size(), w) == 0)
        {
            m_p += w.size();
            return true;
        }
        return false;
    }
    static void AppendUtf8(std::string& out, std::uint32_t cp)
    {
        if (cp < 0x80)
            out += static_cast<char>(cp);
        else if (cp < 0x800)
        {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        else if (cp < 0x10000)
        {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        else
        {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }
    std::uint32_t Hex4()
    {
        if (m_p + 4 > m_t.size())
            Fail("short \\u");
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
        {
            char c = m_t[m_p++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                Fail("bad hex");
        }
        return v;
    }
    std::string ParseString()
    {
        Expect('"');
        std::string out;
        for (;;)
        {
            if (m_p >= m_t.size())
                Fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(m_t[m_p++]);
            if (c == '"')
                return out;
            if (c < 0x20)
                Fail("raw control character in string");
            if (c != '\\')
            {
                out += static_cast<char>(c);
                continue;
            }
            if (m_p >= m_t.size())
                Fail("bad escape");
            char e = m_t[m_p++];
            switch (e)
            {
            case '"':
            case '\\':
            case '/':
                out += e;
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'u':
                AppendUtf8(out, Hex4());
                break;
            default:
                Fail("bad escape");
            }
        }
    }
    Value ParseValue()
    {
        Value v;
        char c = Peek();
        if (c == '{')
        {
            ++m_p;
            v.kind = Value::Object;
            if (Peek() == '}')
            {
                ++m_p;
                return v;
            }
            for (;;)
            {
                std::string k = ParseString();
                Expect(':');
                v.o[k] = ParseValue();
                if (Peek() == ',')
                {
                    ++m_p;
                    continue;
                }
                Expect('}');
                return v;
            }
        }
        if (c == '[')
        {
            ++m_p;
            v.kind = Value::Array;
            if (Peek() == ']')
            {
                ++m_p;
                return v;
            }
            for (;;)
            {
                v.a.push_back(ParseValue());
                if (Peek() == ',')
                {
                    ++m_p;
                    continue;
                }
                Expect(']');
                return v;
            }
        }
        if (c == '"')
        {
            v.kind = Value::String;
            v.s = ParseString();
            return v;
        }
        if (Literal("null"))
            return v;
        if (Literal("true"))
        {
            v.kind = Value::Bool;
            v.b = true;
            return v;
        }
        if (Literal("false"))
        {
            v.kind = Value::Bool;
            return v;
        }
        std::size_t start = m_p;
        if (m_p < m_t.size() && m_t[m_p] == '-')
            ++m_p;
        while (m_p < m_t.size() && ((m_t[m_p] >= '0' && m_t[m_p] <= '9') || m_t[m_p] == '.' ||
                                    m_t[m_p] == 'e' || m_t[m_p] == 'E' || m_t[m_p] == '+'))
            ++m_p;
        if (start == m_p)
            Fail("unexpected character");
        v.kind = Value::Number;
        v.n = std::stod(m_t.substr(start, m_p - start));
        return v;
    }

    const std::string& m_t;
    std::size_t m_p = 0;
};

inline Value Parse(const std::string& text)
{
    return Parser(text).ParseDocument();
}

} // namespace minijson
