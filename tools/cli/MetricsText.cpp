#include "MetricsText.h"

#include "TextEscaping.h"

#include <charconv>
#include <cmath>

namespace cli
{

std::string MetricLabelValue(std::string_view text)
{
    std::string out;
    for (char c : TerminalSafe(text))
    {
        switch (c)
        {
        case '\\':
            out += "\\\\";
            break;
        case '"':
            out += "\\\"";
            break;
        case '\n':
            out += "\\n";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string MetricNumber(double value)
{
    if (std::isnan(value))
        return "NaN";
    if (std::isinf(value))
        return value > 0 ? "+Inf" : "-Inf";
    char text[64];
    auto [end, error] = std::to_chars(text, text + sizeof text, value);
    return error == std::errc() ? std::string(text, end) : "NaN";
}

std::size_t MetricsText::AddGauge(std::string name, std::string help)
{
    m_families.push_back({std::move(name), std::move(help), {}});
    return m_families.size() - 1;
}

void MetricsText::Add(std::size_t family, const MetricLabels& labels, double value)
{
    std::string line;
    if (!labels.empty())
    {
        line += '{';
        for (std::size_t i = 0; i < labels.size(); ++i)
        {
            if (i)
                line += ',';
            line += labels[i].first + "=\"" + MetricLabelValue(labels[i].second) + '"';
        }
        line += '}';
    }
    line += ' ' + MetricNumber(value);
    m_families.at(family).samples.push_back(std::move(line));
}

std::string MetricsText::Render() const
{
    std::string out;
    for (const Family& f : m_families)
    {
        if (f.samples.empty())
            continue;
        // Help texts are ours and hold neither backslashes nor line breaks.
        out += "# HELP " + f.name + ' ' + f.help + '\n';
        out += "# TYPE " + f.name + " gauge\n";
        for (const std::string& s : f.samples)
            out += f.name + s + '\n';
    }
    return out;
}

} // namespace cli
