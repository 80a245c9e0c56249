#pragma once
// Rows of text shown either as aligned columns for a person or as CSV for a program.
// Cells are escaped here, at the last moment, so callers hand over the raw texts.
//
// Threading: none; one table per output.
#include <string>
#include <vector>

namespace cli
{

class Table
{
public:
    explicit Table(std::vector<std::string> headings) : m_headings(std::move(headings)) {}

    // Missing cells are empty; extra cells are dropped.
    void AddRow(std::vector<std::string> cells);
    std::size_t RowCount() const { return m_rows.size(); }

    // Columns two blanks apart, each as wide as its widest cell (counted in characters,
    // not bytes); the last column is not padded.
    std::string RenderText() const;
    std::string RenderCsv() const;

private:
    std::vector<std::string> m_headings;
    std::vector<std::vector<std::string>> m_rows;
};

} // namespace cli
