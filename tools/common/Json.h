#pragma once
// The one JSON writer and reader of the tools and of the tests that read the tools'
// output back. Plain C++20: the printer simulator links it too, and it must not share
// code with the printer library.
//
// Two ways of putting text in a string, because the two tools mean different things by
// their texts:
// - Escaping::Utf8: the text is meant to be read as text. Well-formed UTF-8 passes
//   through; a byte that does not start a well-formed sequence is taken as Latin-1 and
//   written as \u00XX (so the output is always valid UTF-8); control characters and DEL
//   are escaped.
// - Escaping::Bytes: the text is a byte string. Every byte outside printable ASCII is
//   written as \u00XX, and a reader in the same mode gives the exact bytes back.
//
// Threading: none; plain values, one writer per output.
#include <concepts>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace json
{

enum class Escaping
{
    Utf8,
    Bytes
};

// A JSON string literal, quotes included.
std::string Quote(std::string_view text, Escaping escaping = Escaping::Utf8);

// Byte strings the tools log as lower-case hex, and their reading back (a trailing odd
// digit is ignored).
std::string HexBytes(std::string_view bytes);
std::string BytesFromHex(std::string_view hex);

// Builds JSON text one value at a time, placing commas (and in the indented style line
// breaks and indentation) itself, so the output is well-formed however many values a
// caller writes.
class Writer
{
public:
    enum class Style
    {
        Indented, // two blanks per level, "key": value, a line feed once complete
        Compact   // no blanks at all: one line
    };
    explicit Writer(Style style = Style::Indented, Escaping escaping = Escaping::Utf8)
        : m_style(style), m_escaping(escaping)
    {
    }

    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next member of the enclosing object.
    void Key(std::string_view name);

    void String(std::string_view text);
    void Number(long long value);
    void Number(unsigned long long value);
    template <std::integral T>
    requires(!std::same_as<T, bool>) void Number(T value)
    {
        if constexpr (std::is_signed_v<T>)
            Number(static_cast<long long>(value));
        else
            Number(static_cast<unsigned long long>(value));
    }
    void Bool(bool value);
    void Null();
    void OptionalNumber(const std::optional<long long>& value);
    // A fraction with a fixed number of decimals; null when it is not finite.
    void Real(double value, int decimals);
    void OptionalReal(const std::optional<double>& value, int decimals);
    // A value that is already JSON text.
    void Raw(std::string_view json);

    // Shorthand for Key then the value.
    void Member(std::string_view name, std::string_view text);
    void Member(std::string_view name, const char* text) { Member(name, std::string_view(text)); }
    void Member(std::string_view name, const std::string& text)
    {
        Member(name, std::string_view(text));
    }
    template <std::integral T>
    requires(!std::same_as<T, bool>) void Member(std::string_view name, T value)
    {
        Key(name);
        Number(value);
    }
    void Member(std::string_view name, bool value);

    // The text so far; in the indented style ended with a line feed once the outermost
    // value is complete.
    std::string Text() const;

private:
    void BeforeValue();
    void Open(char c);
    void Close(char c);
    void NewLine();

    struct Level
    {
        int count = 0;
    };
    Style m_style;
    Escaping m_escaping;
    std::string m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};

// One compact object built by chained calls, keys in the order they were added; texts
// are byte strings and fractions have six decimals. What the simulator writes its event
// log lines and control replies with.
class Object
{
public:
    Object() { m_writer.BeginObject(); }

    Object& Add(std::string_view key, std::string_view value)
    {
        m_writer.Member(key, value);
        return *this;
    }
    Object& Add(std::string_view key, const char* value)
    {
        return Add(key, std::string_view(value));
    }
    Object& Add(std::string_view key, const std::string& value)
    {
        return Add(key, std::string_view(value));
    }
    template <std::integral T>
    requires(!std::same_as<T, bool>) Object& Add(std::string_view key, T value)
    {
        m_writer.Member(key, value);
        return *this;
    }
    Object& Add(std::string_view key, bool value)
    {
        m_writer.Member(key, value);
        return *this;
    }
    Object& Add(std::string_view key, double value)
    {
        m_writer.Key(key);
        m_writer.Real(value, 6);
        return *this;
    }
    // value is already JSON (an object or array)
    Object& AddRaw(std::string_view key, std::string_view json)
    {
        m_writer.Key(key);
        m_writer.Raw(json);
        return *this;
    }
    std::string Str() const { return m_writer.Text() + "}"; }

private:
    Writer m_writer{Writer::Style::Compact, Escaping::Bytes};
};

class ParseError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

enum class Type
{
    Null,
    Bool,
    Number,
    String,
    Array,
    Object
};

// A parsed JSON value. operator[] insists that the member or element is there (throws
// std::out_of_range naming it), so a test that reads a missing field fails instead of
// comparing a default; Get() is for members that may be absent and gives null then.
class Value
{
public:
    Type GetType() const { return m_type; }
    bool IsNull() const { return m_type == Type::Null; }
    bool Has(std::string_view key) const { return Find(key) != nullptr; }
    const Value& operator[](std::string_view key) const;
    const Value& operator[](std::size_t index) const;
    const Value& Get(std::string_view key) const;
    // Elements of an array or members of an object; 0 for anything else.
    std::size_t Size() const;
    const std::vector<Value>& Items() const { return m_array; }
    const std::vector<std::pair<std::string, Value>>& Members() const { return m_object; }

    // A string's text, or a number as it was written; empty for anything else.
    const std::string& Str() const { return m_string; }
    double Num() const { return m_number; }
    long long Int() const { return static_cast<long long>(m_number); }
    bool Bool() const { return m_bool; }

private:
    friend class Reader;
    const Value* Find(std::string_view key) const;

    Type m_type = Type::Null;
    bool m_bool = false;
    double m_number = 0;
    std::string m_string;
    std::vector<Value> m_array;
    std::vector<std::pair<std::string, Value>> m_object;
};

// Reads one JSON document (surrounding white space allowed) strictly: no trailing text,
// no raw control characters in strings, no unknown escapes, no lone surrogates, numbers
// as the grammar has them, at most 256 levels deep. A repeated member name is kept
// (Members() lists both) and lookups find the first: the simulator's stall and xoff log
// lines carry "ms" twice, the time of the event first, then the fault's duration.
// With Escaping::Bytes, \u0000 to \u00ff give the byte itself (the simulator's byte
// strings); otherwise every \u escape gives the character in UTF-8. Throws ParseError.
Value Parse(std::string_view text, Escaping escaping = Escaping::Utf8);

} // namespace json
