#include "RecordingWindow.h"

#include <algorithm>

RecordingWindow::~RecordingWindow()
{
    // Before anything of this object goes: a worker may be posting right now.
    DetachHandle();
}

void RecordingWindow::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    {
        std::lock_guard g(m_lock);
        m_messages.push_back({message, wParam, lParam});
    }
    m_arrived.notify_all();
}

std::vector<PostedMessage> RecordingWindow::Messages() const
{
    std::lock_guard g(m_lock);
    return m_messages;
}

std::vector<PostedMessage> RecordingWindow::Messages(UINT message) const
{
    std::lock_guard g(m_lock);
    std::vector<PostedMessage> out;
    for (const auto& m : m_messages)
        if (m.message == message)
            out.push_back(m);
    return out;
}

std::vector<LPARAM> RecordingWindow::LParams(UINT message) const
{
    std::vector<LPARAM> out;
    for (const auto& m : Messages(message))
        out.push_back(m.lParam);
    return out;
}

std::size_t RecordingWindow::Count(UINT message) const
{
    return Messages(message).size();
}

void RecordingWindow::Clear()
{
    std::lock_guard g(m_lock);
    m_messages.clear();
}

bool RecordingWindow::WaitFor(UINT message, std::size_t count,
                              std::chrono::milliseconds timeout) const
{
    std::unique_lock g(m_lock);
    return m_arrived.wait_for(g, timeout,
                              [&]
                              {
                                  return static_cast<std::size_t>(std::count_if(
                                             m_messages.begin(), m_messages.end(),
                                             [&](const PostedMessage& m)
                                             { return m.message == message; })) >= count;
                              });
}

bool RecordingWindow::WaitFor(const std::function<bool(const PostedMessage&)>& match,
                              std::chrono::milliseconds timeout) const
{
    std::unique_lock g(m_lock);
    return m_arrived.wait_for(
        g, timeout, [&] { return std::any_of(m_messages.begin(), m_messages.end(), match); });
}
