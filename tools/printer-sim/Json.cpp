#include "Json.h"

#include <cmath>
#include <cstdio>

namespace printersim
{

std::string JsonQuote(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text)
    {
        switch (c)
        {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (c < 0x20 || c >= 0x7F)
            {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            }
            else
                out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string HexBytes(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes)
    {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

void JsonObject::Key(const std::string& key)
{
    if (m_body.size() > 1)
        m_body += ',';
    m_body += JsonQuote(key);
    m_body += ':';
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value)
{
    Key(key);
    m_body += JsonQuote(value);
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const char* value)
{
    return Add(key, std::string(value));
}

JsonObject& JsonObject::Add(const std::string& key, std::int64_t value)
{
    Key(key);
    m_body += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, std::uint64_t value)
{
    Key(key);
    m_body += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, double value)
{
    Key(key);
    if (!std::isfinite(value))
    {
        m_body += "null";
        return *this;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6f", value);
    m_body += buf;
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, bool value)
{
    Key(key);
    m_body += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::AddRaw(const std::string& key, const std::string& json)
{
    Key(key);
    m_body += json;
    return *this;
}

} // namespace printersim
