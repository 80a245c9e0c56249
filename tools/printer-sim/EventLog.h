#pragma once
// The record tests read: one JSON object per line, written with a single write() each so
// a reader never sees half a line. Every line carries "seq" (1, 2, ...), "ms" (since the
// simulator started), "event" and, for printer events, "printer".
//
// Threading: none; written from the simulator loop only.
#include "Json.h"

#include <chrono>
#include <string>

namespace printersim
{

class EventLog
{
public:
    EventLog() = default;
    ~EventLog();
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;

    // Truncates or creates the file. Returns false (errno set) when it cannot.
    bool Open(const std::string& path);
    // Starts a line: seq, ms, event and (when not empty) printer are filled in.
    json::Object Begin(const std::string& event, const std::string& printer = "");
    void Write(const json::Object& line);

private:
    int m_fd = -1;
    std::uint64_t m_seq = 0;
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

} // namespace printersim
