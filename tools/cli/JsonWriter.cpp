#include "JsonWriter.h"

#include "TextEscaping.h"

#include <cmath>
#include <cstdio>

namespace cli
{

void JsonWriter::NewLine()
{
    m_out += '\n';
    m_out.append(m_levels.size() * 2, ' ');
}

void JsonWriter::BeforeValue()
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

void JsonWriter::Open(char c)
{
    BeforeValue();
    m_out += c;
    m_levels.push_back({c == '{'});
}

void JsonWriter::Close(char c)
{
    bool hadMembers = !m_levels.empty() && m_levels.back().count > 0;
    if (!m_levels.empty())
        m_levels.pop_back();
    if (hadMembers)
        NewLine();
    m_out += c;
}

void JsonWriter::BeginObject()
{
    Open('{');
}
void JsonWriter::EndObject()
{
    Close('}');
}
void JsonWriter::BeginArray()
{
    Open('[');
}
void JsonWriter::EndArray()
{
    Close(']');
}

void JsonWriter::Key(std::string_view name)
{
    BeforeValue();
    m_out += JsonQuote(name);
    m_out += ": ";
    m_afterKey = true;
}

void JsonWriter::String(std::string_view text)
{
    BeforeValue();
    m_out += JsonQuote(text);
}

void JsonWriter::Number(long long value)
{
    BeforeValue();
    m_out += std::to_string(value);
}

void JsonWriter::Bool(bool value)
{
    BeforeValue();
    m_out += value ? "true" : "false";
}

void JsonWriter::Null()
{
    BeforeValue();
    m_out += "null";
}

void JsonWriter::OptionalNumber(const std::optional<long long>& value)
{
    if (value)
        Number(*value);
    else
        Null();
}

void JsonWriter::Real(double value, int decimals)
{
    if (!std::isfinite(value))
    {
        Null();
        return;
    }
    BeforeValue();
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    m_out += text;
}

void JsonWriter::OptionalReal(const std::optional<double>& value, int decimals)
{
    if (value)
        Real(*value, decimals);
    else
        Null();
}

void JsonWriter::Member(std::string_view name, std::string_view text)
{
    Key(name);
    String(text);
}

void JsonWriter::Member(std::string_view name, long long value)
{
    Key(name);
    Number(value);
}

void JsonWriter::Member(std::string_view name, bool value)
{
    Key(name);
    Bool(value);
}

std::string JsonWriter::Text() const
{
    return m_levels.empty() && !m_out.empty() ? m_out + "\n" : m_out;
}

} // namespace cli
