#include "Json.h"

#include "Utf8.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace json
{
namespace
{
const char HEX_DIGITS[] = "0123456789abcdef";

void AppendByteEscape(std::string& out, unsigned char c)
{
    out += "\\u00";
    out += HEX_DIGITS[c >> 4];
    out += HEX_DIGITS[c & 15];
}

// The escapes both styles share; false for a byte that needs a decision of its own.
bool AppendNamedEscape(std::string& out, unsigned char c, Escaping escaping)
{
    switch (c)
    {
    case '"':
        out += "\\\"";
        return true;
    case '\\':
        out += "\\\\";
        return true;
    case '\n':
        out += "\\n";
        return true;
    case '\r':
        out += "\\r";
        return true;
    case '\t':
        out += "\\t";
        return true;
    case '\b':
        if (escaping != Escaping::Utf8)
            return false;
        out += "\\b";
        return true;
    case '\f':
        if (escaping != Escaping::Utf8)
            return false;
        out += "\\f";
        return true;
    default:
        return false;
    }
}
} // namespace

std::string Quote(std::string_view text, Escaping escaping)
{
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < text.size();)
    {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (AppendNamedEscape(out, c, escaping))
        {
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F || (c > 0x7F && escaping == Escaping::Bytes))
        {
            AppendByteEscape(out, c);
            ++i;
            continue;
        }
        std::size_t n = utf8::SequenceLength(text, i);
        if (n == 0)
        {
            AppendByteEscape(out, c);
            ++i;
            continue;
        }
        out.append(text.substr(i, n));
        i += n;
    }
    out += '"';
    return out;
}

std::string HexBytes(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes)
    {
        out += HEX_DIGITS[c >> 4];
        out += HEX_DIGITS[c & 15];
    }
    return out;
}

std::string BytesFromHex(std::string_view hex)
{
    auto digit = [](char c) -> int
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        throw std::invalid_argument("not a hex digit");
    };
    std::string out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1]));
    return out;
}

// ---------------------------------------------------------------- Writer

void Writer::NewLine()
{
    if (m_style == Style::Compact)
        return;
    m_out += '\n';
    m_out.append(m_levels.size() * 2, ' ');
}

void Writer::BeforeValue()
{
    if (m_afterKey)
    {
        m_afterKey = false;
        return;
    }
    if (!m_levels.empty())
    {
        if (m_levels.back().count++ > 0)
            m_out += ',';
        NewLine();
    }
}

void Writer::Open(char c)
{
    BeforeValue();
    m_out += c;
    m_levels.push_back({});
}

void Writer::Close(char c)
{
    bool hadMembers = !m_levels.empty() && m_levels.back().count > 0;
    if (!m_levels.empty())
        m_levels.pop_back();
    if (hadMembers)
        NewLine();
    m_out += c;
}

void Writer::BeginObject()
{
    Open('{');
}
void Writer::EndObject()
{
    Close('}');
}
void Writer::BeginArray()
{
    Open('[');
}
void Writer::EndArray()
{
    Close(']');
}

void Writer::Key(std::string_view name)
{
    BeforeValue();
    m_out += Quote(name, m_escaping);
    m_out += m_style == Style::Compact ? ":" : ": ";
    m_afterKey = true;
}

void Writer::String(std::string_view text)
{
    BeforeValue();
    m_out += Quote(text, m_escaping);
}

void Writer::Number(long long value)
{
    BeforeValue();
    m_out += std::to_string(value);
}

void Writer::Number(unsigned long long value)
{
    BeforeValue();
    m_out += std::to_string(value);
}

void Writer::Bool(bool value)
{
    BeforeValue();
    m_out += value ? "true" : "false";
}

void Writer::Null()
{
    BeforeValue();
    m_out += "null";
}

void Writer::OptionalNumber(const std::optional<long long>& value)
{
    if (value)
        Number(*value);
    else
        Null();
}

void Writer::Real(double value, int decimals)
{
    if (!std::isfinite(value))
    {
        Null();
        return;
    }
    BeforeValue();
    char text[400]; // %f of the largest double has 309 digits before the point
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    m_out += text;
}

void Writer::OptionalReal(const std::optional<double>& value, int decimals)
{
    if (value)
        Real(*value, decimals);
    else
        Null();
}

void Writer::Raw(std::string_view json)
{
    BeforeValue();
    m_out += json;
}

void Writer::Member(std::string_view name, std::string_view text)
{
    Key(name);
    String(text);
}

void Writer::Member(std::string_view name, bool value)
{
    Key(name);
    Bool(value);
}

std::string Writer::Text() const
{
    bool complete = m_levels.empty() && !m_out.empty();
    return complete && m_style == Style::Indented ? m_out + "\n" : m_out;
}

// ---------------------------------------------------------------- Value

const Value* Value::Find(std::string_view key) const
{
    for (const auto& [k, v] : m_object)
        if (k == key)
            return &v;
    return nullptr;
}

const Value& Value::operator[](std::string_view key) const
{
    if (m_type != Type::Object)
        throw std::out_of_range("JSON: not an object, looking for member " + std::string(key));
    if (const Value* v = Find(key))
        return *v;
    throw std::out_of_range("JSON: no member " + std::string(key));
}

const Value& Value::operator[](std::size_t index) const
{
    if (m_type != Type::Array || index >= m_array.size())
        throw std::out_of_range("JSON: no element " + std::to_string(index));
    return m_array[index];
}

const Value& Value::Get(std::string_view key) const
{
    static const Value null;
    const Value* v = Find(key);
    return v ? *v : null;
}

std::size_t Value::Size() const
{
    if (m_type == Type::Array)
        return m_array.size();
    return m_type == Type::Object ? m_object.size() : 0;
}

// ---------------------------------------------------------------- Reader

class Reader
{
public:
    Reader(std::string_view text, Escaping escaping) : m_text(text), m_escaping(escaping) {}

    Value Document()
    {
        Value v = ReadValue(0);
        Space();
        if (m_pos != m_text.size())
            Fail("trailing text");
        return v;
    }

private:
    static constexpr int MAX_DEPTH = 256;

    [[noreturn]] void Fail(const std::string& why) const
    {
        throw ParseError("JSON: " + why + " at " + std::to_string(m_pos) + ": " +
                         std::string(m_text.substr(0, 200)));
    }
    void Space()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\n' ||
                                         m_text[m_pos] == '\r' || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    bool Eat(char c)
    {
        Space();
        if (m_pos < m_text.size() && m_text[m_pos] == c)
        {
            ++m_pos;
            return true;
        }
        return false;
    }
    void Expect(char c)
    {
        if (!Eat(c))
            Fail(std::string("expected ") + c);
    }
    bool Word(std::string_view w)
    {
        if (m_text.substr(m_pos, w.size()) != w)
            return false;
        m_pos += w.size();
        return true;
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
        if (m_pos + 4 > m_text.size())
            Fail("short \\u escape");
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
        {
            char c = m_text[m_pos++];
            v <<= 4;
            if (c >= '0' && c <= '9')
                v |= static_cast<std::uint32_t>(c - '0');
            else if (c >= 'a' && c <= 'f')
                v |= static_cast<std::uint32_t>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                v |= static_cast<std::uint32_t>(c - 'A' + 10);
            else
                Fail("bad hex digit in \\u escape");
        }
        return v;
    }
    void UnicodeEscape(std::string& out)
    {
        std::uint32_t cp = Hex4();
        if (m_escaping == Escaping::Bytes && cp < 0x100)
        {
            out += static_cast<char>(cp);
            return;
        }
        if (cp >= 0xDC00 && cp <= 0xDFFF)
            Fail("lone low surrogate");
        if (cp >= 0xD800 && cp <= 0xDBFF)
        {
            if (!Word("\\u"))
                Fail("lone high surrogate");
            std::uint32_t low = Hex4();
            if (low < 0xDC00 || low > 0xDFFF)
                Fail("lone high surrogate");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, cp);
    }
    std::string ReadString()
    {
        Expect('"');
        std::string out;
        for (;;)
        {
            if (m_pos >= m_text.size())
                Fail("unterminated string");
            unsigned char c = static_cast<unsigned char>(m_text[m_pos++]);
            if (c == '"')
                return out;
            if (c < 0x20)
                Fail("raw control character in string");
            if (c != '\\')
            {
                out += static_cast<char>(c);
                continue;
            }
            if (m_pos >= m_text.size())
                Fail("unterminated string");
            char e = m_text[m_pos++];
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
                UnicodeEscape(out);
                break;
            default:
                Fail("unknown escape");
            }
        }
    }
    bool Digits()
    {
        std::size_t start = m_pos;
        while (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9')
            ++m_pos;
        return m_pos > start;
    }
    void ReadNumber(Value& v)
    {
        std::size_t start = m_pos;
        Word("-");
        if (Word("0"))
        {
            if (m_pos < m_text.size() && m_text[m_pos] >= '0' && m_text[m_pos] <= '9')
                Fail("leading zero");
        }
        else if (!Digits())
            Fail("unexpected character");
        if (Word(".") && !Digits())
            Fail("no digits after the decimal point");
        if (Word("e") || Word("E"))
        {
            if (!Word("+"))
                Word("-");
            if (!Digits())
                Fail("no digits in the exponent");
        }
        v.m_type = Type::Number;
        v.m_string = std::string(m_text.substr(start, m_pos - start));
        v.m_number = std::strtod(v.m_string.c_str(), nullptr);
    }
    Value ReadValue(int depth)
    {
        if (depth > MAX_DEPTH)
            Fail("nested too deeply");
        Space();
        if (m_pos >= m_text.size())
            Fail("unexpected end");
        Value v;
        char c = m_text[m_pos];
        if (c == '{')
        {
            ++m_pos;
            v.m_type = Type::Object;
            if (Eat('}'))
                return v;
            do
            {
                Space();
                std::string key = ReadString();
                Expect(':');
                v.m_object.emplace_back(std::move(key), ReadValue(depth + 1));
            } while (Eat(','));
            Expect('}');
        }
        else if (c == '[')
        {
            ++m_pos;
            v.m_type = Type::Array;
            if (Eat(']'))
                return v;
            do
                v.m_array.push_back(ReadValue(depth + 1));
            while (Eat(','));
            Expect(']');
        }
        else if (c == '"')
        {
            v.m_type = Type::String;
            v.m_string = ReadString();
        }
        else if (Word("true"))
            v.m_type = Type::Bool, v.m_bool = true;
        else if (Word("false"))
            v.m_type = Type::Bool;
        else if (!Word("null"))
            ReadNumber(v);
        return v;
    }

    std::string_view m_text;
    Escaping m_escaping;
    std::size_t m_pos = 0;
};

Value Parse(std::string_view text, Escaping escaping)
{
    return Reader(text, escaping).Document();
}

} // namespace json
