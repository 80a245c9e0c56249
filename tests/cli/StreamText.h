#pragma once
// What a test wrote to a temporary stdio stream, read back from its start.
#include <cstdio>
#include <string>

namespace cli
{
inline std::string StreamText(std::FILE* f)
{
    std::fflush(f);
    std::rewind(f);
    std::string s;
    char buf[512];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}
} // namespace cli
