#pragma once
// Builds JSON text one value at a time, placing commas and indentation itself, so that
// every command writes well-formed output however many printers it lists.
//
// Threading: none; one writer per output.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli
{

class JsonWriter
{
public:
    void BeginObject();
    void EndObject();
    void BeginArray();
    void EndArray();
    // The name of the next member of the enclosing object.
    void Key(std::string_view name);

    void String(std::string_view text);
    void Number(long long value);
    void Bool(bool value);
    void Null();
    void OptionalNumber(const std::optional<long long>& value);
    // A fraction with a fixed number of decimals; null when it is not finite.
    void Real(double value, int decimals);
    void OptionalReal(const std::optional<double>& value, int decimals);

    // Shorthand for Key then the value.
    void Member(std::string_view name, std::string_view text);
    void Member(std::string_view name, const char* text) { Member(name, std::string_view(text)); }
    void Member(std::string_view name, long long value);
    void Member(std::string_view name, int value) { Member(name, static_cast<long long>(value)); }
    void Member(std::string_view name, bool value);

    // The text so far, ended with a line feed once the outermost value is complete.
    std::string Text() const;

private:
    void BeforeValue();
    void Open(char c);
    void Close(char c);
    void NewLine();

    struct Level
    {
        bool isObject;
        int count = 0;
    };
    std::string m_out;
    std::vector<Level> m_levels;
    bool m_afterKey = false;
};

} // namespace cli
