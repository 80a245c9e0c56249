#include "CommandLine.h"

#include <cerrno>
#include <cstdlib>

namespace cli
{

std::string CommandLine::ParseShort(const std::string& word, const std::vector<std::string>& words,
                                    std::size_t& i, std::span<const OptionRule> optionTable)
{
    for (std::size_t k = 1; k < word.size(); ++k)
    {
        const OptionRule* option = nullptr;
        for (const auto& s : optionTable)
            if (s.shortName && s.shortName == word[k])
                option = &s;
        if (!option)
            return "unknown option '-" + word.substr(k, 1) + "'";
        if (!option->takesValue)
        {
            m_given.push_back({option->name, std::string()});
            continue;
        }
        // "-x VALUE" only: a value glued to the letter would be read as more letters.
        if (k + 1 != word.size() || i + 1 >= words.size())
            return "option '-" + word.substr(k, 1) + "' needs a value";
        m_given.push_back({option->name, words[++i]});
    }
    return std::string();
}

std::string CommandLine::Parse(const std::vector<std::string>& words,
                               std::span<const OptionRule> optionTable)
{
    m_given.clear();
    m_operands.clear();
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i)
    {
        const std::string& w = words[i];
        if (optionsEnded || w.size() < 2 || w[0] != '-')
        {
            m_operands.push_back(w);
            continue;
        }
        if (w == "--")
        {
            optionsEnded = true;
            continue;
        }
        if (w[1] != '-')
        {
            if (std::string problem = ParseShort(w, words, i, optionTable); !problem.empty())
                return problem;
            continue;
        }
        std::string name = w.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos)
        {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        const OptionRule* option = nullptr;
        for (const auto& s : optionTable)
            if (name == s.name)
                option = &s;
        if (!option)
            return "unknown option '--" + name + "'";
        if (!option->takesValue)
        {
            if (inlineValue)
                return "option '--" + name + "' takes no value";
            m_given.push_back({name, std::string()});
            continue;
        }
        if (inlineValue)
        {
            m_given.push_back({name, *inlineValue});
            continue;
        }
        if (i + 1 >= words.size())
            return "option '--" + name + "' needs a value";
        m_given.push_back({name, words[++i]});
    }
    return std::string();
}

bool CommandLine::Has(const std::string& name) const
{
    for (const auto& g : m_given)
        if (g.name == name)
            return true;
    return false;
}

std::optional<std::string> CommandLine::Value(const std::string& name) const
{
    std::optional<std::string> v;
    for (const auto& g : m_given)
        if (g.name == name)
            v = g.value;
    return v;
}

std::optional<long long> ParseInteger(const std::string& text, long long min, long long max)
{
    if (text.empty())
        return std::nullopt;
    std::size_t start = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    if (start == text.size())
        return std::nullopt;
    for (std::size_t i = start; i < text.size(); ++i)
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0' || v < min || v > max)
        return std::nullopt;
    return v;
}

} // namespace cli
