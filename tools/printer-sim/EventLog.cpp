#include "EventLog.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace printersim
{

EventLog::~EventLog()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool EventLog::Open(const std::string& path)
{
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    return m_fd >= 0;
}

json::Object EventLog::Begin(const std::string& event, const std::string& printer)
{
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                  std::chrono::steady_clock::now() - m_start)
                  .count();
    json::Object o;
    o.Add("seq", ++m_seq).Add("ms", static_cast<std::int64_t>(ms)).Add("event", event);
    if (!printer.empty())
        o.Add("printer", printer);
    return o;
}

void EventLog::Write(const json::Object& line)
{
    if (m_fd < 0)
        return;
    std::string text = line.Str() + "\n";
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0)
    {
        ssize_t n = ::write(m_fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

} // namespace printersim
