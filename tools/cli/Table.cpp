#include "Table.h"

#include "CsvText.h"
#include "TextEscaping.h"

namespace cli
{
namespace
{
// Characters, counting each UTF-8 sequence once; good enough for alignment of the
// Latin texts printers carry.
std::size_t DisplayWidth(const std::string& s)
{
    std::size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}
} // namespace

void Table::AddRow(std::vector<std::string> cells)
{
    cells.resize(m_headings.size());
    m_rows.push_back(std::move(cells));
}

std::string Table::RenderText() const
{
    std::vector<std::vector<std::string>> shown;
    shown.reserve(m_rows.size() + 1);
    std::vector<std::string> head;
    for (const auto& h : m_headings)
        head.push_back(TerminalSafe(h));
    shown.push_back(std::move(head));
    for (const auto& row : m_rows)
    {
        std::vector<std::string> r;
        for (const auto& c : row)
            r.push_back(TerminalSafe(c));
        shown.push_back(std::move(r));
    }
    std::vector<std::size_t> widths(m_headings.size(), 0);
    for (const auto& row : shown)
        for (std::size_t i = 0; i < row.size(); ++i)
            widths[i] = std::max(widths[i], DisplayWidth(row[i]));

    std::string out;
    for (const auto& row : shown)
    {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
        {
            line += row[i];
            if (i + 1 < row.size())
                line.append(widths[i] - DisplayWidth(row[i]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line;
        out += '\n';
    }
    return out;
}

std::string Table::RenderCsv() const
{
    std::string out = CsvLine(m_headings);
    for (const auto& row : m_rows)
        out += CsvLine(row);
    return out;
}

} // namespace cli
