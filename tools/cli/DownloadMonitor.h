#pragma once
// The window the printers of a send command notify: it queues the begin, progress and
// end notices their threads post, and the command takes them off the queue on the
// main thread.
//
// Threading: OnPostedMessage runs on the posting printer thread and only queues (and
// names the printer for that thread's own error boxes). Wait is called on the main
// thread.
#include "CWnd.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace cli
{

class DownloadMonitor : public CWnd
{
public:
    struct Notice
    {
        UINT message;
        WPARAM printer; // the printer record the notice is about
        LPARAM value;   // length, bytes so far, or the result
    };

    DownloadMonitor() = default;
    ~DownloadMonitor() override;

    // Printer record (as the notices carry it) to name. Set before the first download
    // starts; worker threads read it without a lock afterwards.
    void SetNames(std::map<WPARAM, std::string> names) { m_names = std::move(names); }

    // The next notice, or nothing when none arrived within the timeout.
    std::optional<Notice> Wait(std::chrono::milliseconds timeout);

private:
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    std::map<WPARAM, std::string> m_names;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Notice> m_queue;
};

} // namespace cli
