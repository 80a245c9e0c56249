#pragma once
// Splits the words after a command name into options and operands. Options are
// "--name" or "--name value" (also "--name=value"), or a short form "-j" where one is
// declared (several may share one dash: "-qj"); "--" ends the options. Every
// option a command accepts is declared up front, so a misspelt option is a usage
// error instead of being taken for a printer name.
//
// Threading: none; plain values.
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace cli
{

struct OptionRule
{
    const char* name; // without the leading dashes
    bool takesValue;
    char shortName = 0; // the letter of the short form, if it has one
};

class CommandLine
{
public:
    // Returns "" on success, otherwise a usage message naming the offending word.
    std::string Parse(const std::vector<std::string>& words,
                      std::span<const OptionRule> optionTable);

    bool Has(const std::string& name) const;
    // The value given last for the option, or nothing when it was not given.
    std::optional<std::string> Value(const std::string& name) const;
    const std::vector<std::string>& Operands() const { return m_operands; }

private:
    std::string ParseShort(const std::string& word, const std::vector<std::string>& words,
                           std::size_t& i, std::span<const OptionRule> optionTable);

    struct Given
    {
        std::string name;
        std::string value;
    };
    std::vector<Given> m_given;
    std::vector<std::string> m_operands;
};

// Whole-word decimal integer in [min, max]; anything else (signs included where min is
// not negative, blanks, trailing letters, overflow) gives nothing.
std::optional<long long> ParseInteger(const std::string& text, long long min, long long max);

} // namespace cli
