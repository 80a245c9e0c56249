#pragma once
// Helpers shared by the worker-thread tests: files with known bytes, a thread that
// stands in for the throttle and records what it is sent, a gate that holds a
// scripted port's writes until the test lets them through, one download job started.
#include "CBaseThread.h"
#include "CEvent.h"
#include "CVarkoPrinter.h"
#include "ThreadMessages.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

// A scratch folder removed with everything in it when the object goes.
class ScratchDir
{
public:
    ScratchDir()
    {
        char pattern[] = "/tmp/odomira-threads-XXXXXX";
        char* d = ::mkdtemp(pattern);
        m_made = d != nullptr;
        m_path = d ? d : "/tmp";
    }
    ~ScratchDir()
    {
        // Never /tmp itself, where a failed mkdtemp leaves the path.
        std::error_code ignored;
        if (m_made)
            std::filesystem::remove_all(m_path, ignored);
    }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }

    // A file of size bytes whose content differs at every offset that matters, so a
    // byte sent twice or skipped shows up in a comparison.
    std::string MakeFile(const std::string& name, std::size_t size, std::string* content = nullptr)
    {
        std::string bytes(size, '\0');
        std::uint32_t x = 2463534242u + static_cast<std::uint32_t>(size);
        for (auto& b : bytes)
        {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            b = static_cast<char>(x);
        }
        std::ofstream(Path(name), std::ios::binary).write(bytes.data(), bytes.size());
        if (content)
            *content = bytes;
        return Path(name);
    }

private:
    std::string m_path;
    bool m_made = false;
};

// Thread messages a worker sent to the stand-in; lives in the test, because the thread
// object deletes itself.
struct ThreadInbox
{
    struct Entry
    {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    std::mutex lock;
    std::condition_variable arrived;
    std::vector<Entry> entries;

    std::vector<Entry> Of(UINT message)
    {
        std::lock_guard g(lock);
        std::vector<Entry> out;
        for (auto& e : entries)
            if (e.message == message)
                out.push_back(e);
        return out;
    }
    bool WaitFor(UINT message, std::size_t count,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        std::unique_lock g(lock);
        return arrived.wait_for(g, timeout,
                                [&]
                                {
                                    std::size_t n = 0;
                                    for (auto& e : entries)
                                        n += e.message == message;
                                    return n >= count;
                                });
    }
};

class InboxThread : public CBaseThread
{
public:
    explicit InboxThread(ThreadInbox& inbox) : m_inbox(inbox) {}
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message != WM_THREAD_QUIT)
        {
            {
                std::lock_guard g(m_inbox.lock);
                m_inbox.entries.push_back({message, wParam, lParam});
            }
            m_inbox.arrived.notify_all();
            return true;
        }
        return CBaseThread::OnThreadMessage(message, wParam, lParam);
    }

    static InboxThread* Start(ThreadInbox& inbox)
    {
        auto* t = new InboxThread(inbox);
        if (!t->CreateThread())
        {
            delete t;
            return nullptr;
        }
        return t;
    }

private:
    ThreadInbox& m_inbox;
};

// Holds every write of a port until opened; counts the writes that reached it.
class WriteGate
{
public:
    void Pass() { m_open.SetEvent(); }
    void Wait() { m_open.Lock(); }

private:
    CEvent m_open{false, true};
};

// Gives the printer its port (which it then owns) and a file, starts its thread and
// posts it one job, whose end goes to the thread finishedTo (0: no one). False when the
// job could not be posted.
inline bool StartDownloadJob(CVarkoPrinter& printer, CPortBase* port, const std::string& file,
                             DWORD finishedTo = 0)
{
    printer.SetPort(port);
    printer.DownloadFile(file.c_str());
    printer.StartThread();
    return PostThreadMessage(printer.GetThread()->m_nThreadID, WM_JOB_START, finishedTo, 0);
}
