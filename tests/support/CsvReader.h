#pragma once
// Reads CSV text back the way RFC 4180 readers do, so that tests of every CSV the
// programs write catch quoting faults as wrong cells rather than by string comparison.
// Strict: an unterminated quote or a last line without its line feed fails the test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

inline std::vector<std::vector<std::string>> ReadCsv(const std::string& text)
{
    std::vector<std::vector<std::string>> rows(1);
    std::string cell;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i)
    {
        const char c = text[i];
        if (quoted)
        {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"')
                cell += '"', ++i;
            else if (c == '"')
                quoted = false;
            else
                cell += c;
        }
        else if (c == '"')
            quoted = true;
        else if (c == ',')
            rows.back().push_back(cell), cell.clear();
        else if (c == '\n')
        {
            rows.back().push_back(cell);
            cell.clear();
            rows.emplace_back();
        }
        else
            cell += c;
    }
    EXPECT_FALSE(quoted) << "unterminated quote";
    EXPECT_TRUE(rows.back().empty() && cell.empty()) << "no line feed at the end";
    if (rows.back().empty())
        rows.pop_back();
    return rows;
}
