#pragma once
// A notification window for tests: it keeps every message posted to it, in order, and
// lets a test wait until the messages it expects have arrived. Posting happens on the
// worker's thread; reading and waiting on the test's.
#include "CWnd.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

struct PostedMessage
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class RecordingWindow : public CWnd
{
public:
    RecordingWindow() = default;
    ~RecordingWindow() override;

    std::vector<PostedMessage> Messages() const;
    // Only the messages with that number, in order.
    std::vector<PostedMessage> Messages(UINT message) const;
    // The lParams of the messages with that number (progress counts, results).
    std::vector<LPARAM> LParams(UINT message) const;
    std::size_t Count(UINT message) const;
    void Clear();

    // True once count messages with that number have arrived; false after timeout.
    bool WaitFor(UINT message, std::size_t count = 1,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;
    // True once one message matches; false after timeout.
    bool WaitFor(const std::function<bool(const PostedMessage&)>& match,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

private:
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_arrived;
    std::vector<PostedMessage> m_messages;
};
