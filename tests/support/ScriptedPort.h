#pragma once
// A port that talks to no device: it records every call and every byte written, replays
// queued replies, and fails on demand. Base picks the port kind the code under test
// sees (CSerialPort and CUSBPort count as bidirectional, CParallelPort and
// CNetworkPort do not), so the same fake serves every kind.
//
// Thread-safe: a download job may drive it on a worker thread while the test reads it.
#include "CPortBase.h"
#include "CVarkoPrinterException.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

enum class PortCall
{
    Open,
    Close,
    Write,
    Read
};

template <typename Base = CPortBase> class ScriptedPortOf : public Base
{
public:
    struct Failure
    {
        PortCall call;
        int nth;      // 1 = the first call of that kind from now on
        DWORD code;   // the exception code thrown
        bool osError; // thrown as a passed-through system error
    };

    // Queues one reply; each Read takes the next one (at most its capacity).
    void QueueReply(std::string reply)
    {
        std::lock_guard g(m_lock);
        m_replies.push_back(std::move(reply));
    }
    // The nth call of that kind throws code.
    void FailOn(PortCall call, int nth, DWORD code, bool osError = false)
    {
        std::lock_guard g(m_lock);
        m_failures.push_back({call, nth + Count(call), code, osError});
    }
    // Each Write takes at most this many bytes (0 = all).
    void AcceptAtMost(DWORD bytes)
    {
        std::lock_guard g(m_lock);
        m_acceptLimit = bytes;
    }
    // Each Write sleeps this long first.
    void WriteDelay(std::chrono::milliseconds d)
    {
        std::lock_guard g(m_lock);
        m_writeDelay = d;
    }
    // Runs on every Write after the bytes are taken (for cancelling mid-transfer).
    void OnWrite(std::function<void(std::size_t totalWritten)> hook)
    {
        std::lock_guard g(m_lock);
        m_onWrite = std::move(hook);
    }

    // Everything written, concatenated, and per Write call.
    std::string Written() const
    {
        std::lock_guard g(m_lock);
        return m_written;
    }
    std::vector<std::string> Writes() const
    {
        std::lock_guard g(m_lock);
        return m_writes;
    }
    std::vector<PortCall> Calls() const
    {
        std::lock_guard g(m_lock);
        return m_calls;
    }
    int Count(PortCall call) const
    {
        int n = 0;
        for (PortCall c : m_calls)
            n += c == call;
        return n;
    }
    int CountOf(PortCall call) const
    {
        std::lock_guard g(m_lock);
        return Count(call);
    }
    bool WasLeftOpen() const
    {
        std::lock_guard g(m_lock);
        return m_open;
    }

    void Open() override
    {
        std::lock_guard g(m_lock);
        m_calls.push_back(PortCall::Open);
        MaybeFail(PortCall::Open);
        m_open = true;
    }
    void Close() override
    {
        std::lock_guard g(m_lock);
        m_calls.push_back(PortCall::Close);
        m_open = false;
    }
    bool IsOpen() const override
    {
        std::lock_guard g(m_lock);
        return m_open;
    }
    void Write(const void* buffer, DWORD count, DWORD& written) override
    {
        std::function<void(std::size_t)> hook;
        std::chrono::milliseconds delay;
        {
            std::lock_guard g(m_lock);
            delay = m_writeDelay;
        }
        if (delay.count())
            std::this_thread::sleep_for(delay);
        {
            std::lock_guard g(m_lock);
            m_calls.push_back(PortCall::Write);
            written = 0;
            if (!m_open)
                throw CVarkoPrinterException(7);
            MaybeFail(PortCall::Write);
            DWORD take = (m_acceptLimit && count > m_acceptLimit) ? m_acceptLimit : count;
            std::string bytes(static_cast<const char*>(buffer), take);
            m_written += bytes;
            m_writes.push_back(bytes);
            written = take;
            hook = m_onWrite;
        }
        if (hook)
            hook(m_written.size());
    }
    // The scripted device has each write in full as soon as Write returns, whatever
    // kind of port it plays.
    void WaitUntilDelivered() override {}
    void Read(void* buffer, DWORD capacity, DWORD& received) override
    {
        std::lock_guard g(m_lock);
        m_calls.push_back(PortCall::Read);
        received = 0;
        if (!m_open)
            throw CVarkoPrinterException(7);
        MaybeFail(PortCall::Read);
        if (m_replies.empty())
            return;
        std::string reply = std::move(m_replies.front());
        m_replies.pop_front();
        received = static_cast<DWORD>(std::min<std::size_t>(reply.size(), capacity));
        std::memcpy(buffer, reply.data(), received);
    }

private:
    void MaybeFail(PortCall call)
    {
        int n = Count(call);
        for (auto it = m_failures.begin(); it != m_failures.end(); ++it)
            if (it->call == call && it->nth == n)
            {
                Failure f = *it;
                m_failures.erase(it);
                if (f.osError)
                    throw CVarkoPrinterException::FromOsError(f.code, "scripted failure");
                throw CVarkoPrinterException(f.code);
            }
    }

    mutable std::mutex m_lock;
    std::deque<std::string> m_replies;
    std::vector<Failure> m_failures;
    std::vector<PortCall> m_calls;
    std::vector<std::string> m_writes;
    std::string m_written;
    DWORD m_acceptLimit = 0;
    std::chrono::milliseconds m_writeDelay{0};
    std::function<void(std::size_t)> m_onWrite;
    bool m_open = false;
};

using ScriptedPort = ScriptedPortOf<CPortBase>;
