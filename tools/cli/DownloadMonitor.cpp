#include "DownloadMonitor.h"

#include "ConsolePrompt.h"

namespace cli
{

DownloadMonitor::~DownloadMonitor()
{
    DetachHandle();
}

void DownloadMonitor::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    // A printer's thread serves only that printer, so once it has said which one, the
    // error boxes it raises later can carry the printer's name.
    if (auto it = m_names.find(wParam); it != m_names.end())
        ConsolePrompt::SetPrinterContext(it->second);
    {
        std::lock_guard g(m_lock);
        m_queue.push_back({message, wParam, lParam});
    }
    m_wake.notify_one();
}

std::optional<DownloadMonitor::Notice> DownloadMonitor::Wait(std::chrono::milliseconds timeout)
{
    std::unique_lock g(m_lock);
    if (!m_wake.wait_for(g, timeout, [&] { return !m_queue.empty(); }))
        return std::nullopt;
    Notice n = m_queue.front();
    m_queue.pop_front();
    return n;
}

} // namespace cli
