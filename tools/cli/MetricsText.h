#pragma once
// The text format that Prometheus and its node exporter read: for each metric family a
// HELP and a TYPE line, then all of its samples together, one per line, as
// name{label="value",...} number. Samples are collected per family first, so callers
// may add them printer by printer and the families still come out whole, as the format
// requires.
//
// Threading: none; one object per output.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace cli
{

using MetricLabels = std::vector<std::pair<std::string, std::string>>;

// A label value between its quotes: backslash, double quote and line feed escaped as
// the format has them. Printer texts are first made safe as for a terminal (control
// characters as \xHH, 8-bit Windows text as Latin-1), since the values end up in
// terminals and web pages, and the format wants UTF-8.
std::string MetricLabelValue(std::string_view text);

// The shortest text that reads back as the same number; NaN and infinities as the
// format spells them.
std::string MetricNumber(double value);

class MetricsText
{
public:
    // A gauge family, by its name and one line of help; returns its number for Add.
    std::size_t AddGauge(std::string name, std::string help);
    void Add(std::size_t family, const MetricLabels& labels, double value);

    // The families in the order they were declared; one without samples is left out.
    std::string Render() const;

private:
    struct Family
    {
        std::string name;
        std::string help;
        std::vector<std::string> samples; // each a whole line, without the name
    };
    std::vector<Family> m_families;
};

} // namespace cli
