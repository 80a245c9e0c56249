#pragma once
// Waiting for a condition that another thread or process brings about: asks pred every
// couple of milliseconds until it holds or timeout passes, and returns its last answer.
// Tests of windows use WaitUntil (DialogTestSupport.h), which serves the event loop
// between the questions.
#include <chrono>
#include <functional>
#include <thread>

inline bool PollUntil(const std::function<bool()>& pred,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!pred())
    {
        if (std::chrono::steady_clock::now() >= deadline)
            return pred();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}
