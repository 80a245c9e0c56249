// The message-loop thread layer: posting by id, suspended start, the idle rule, the
// waitable handle that outlives the object, events, descriptor watches.
#include "CBaseThread.h"
#include "CEvent.h"
#include "CWinThread.h"
#include "PollUntil.h"
#include "SysCalls.h"
#include "ThreadMessages.h"
#include "WaitHandles.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <dirent.h>
#include <mutex>
#include <netinet/in.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace
{
constexpr UINT WM_TEST_PING = 0x8001;
constexpr UINT WM_TEST_WATCH = 0x8002;
constexpr UINT WM_TEST_UNWATCH = 0x8003;

// Records what its loop sees. Shared state lives in a Log the test owns, because the
// thread object deletes itself when its loop ends.
struct Log
{
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::string> events;
    std::vector<LONG> idleCounts;
    std::size_t stackSize = 0;
    pthread_t loopThread{};
    bool destroyed = false;

    void Add(std::string e)
    {
        {
            std::lock_guard g(lock);
            events.push_back(std::move(e));
        }
        changed.notify_all();
    }
    bool WaitFor(const std::string& e, std::chrono::milliseconds timeout = 5s)
    {
        std::unique_lock g(lock);
        return changed.wait_for(
            g, timeout, [&] { return std::find(events.begin(), events.end(), e) != events.end(); });
    }
    std::vector<std::string> Events()
    {
        std::lock_guard g(lock);
        return events;
    }
    std::size_t IdleCalls()
    {
        std::lock_guard g(lock);
        return idleCounts.size();
    }
};

class ProbeThread : public CBaseThread
{
public:
    explicit ProbeThread(Log& log, LONG idleRounds = 0) : m_log(log), m_idleRounds(idleRounds) {}
    ~ProbeThread() override
    {
        std::lock_guard g(m_log.lock);
        m_log.destroyed = true;
    }

    BOOL InitInstance() override
    {
        pthread_attr_t attr;
        pthread_getattr_np(pthread_self(), &attr);
        std::size_t size = 0;
        pthread_attr_getstacksize(&attr, &size);
        pthread_attr_destroy(&attr);
        {
            std::lock_guard g(m_log.lock);
            m_log.stackSize = size;
            m_log.loopThread = pthread_self();
        }
        m_log.Add("init");
        return TRUE;
    }
    int ExitInstance() override
    {
        m_log.Add("exit");
        return CBaseThread::ExitInstance();
    }
    BOOL OnIdle(LONG count) override
    {
        {
            std::lock_guard g(m_log.lock);
            m_log.idleCounts.push_back(count);
        }
        return count + 1 < m_idleRounds;
    }
    bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_TEST_PING)
        {
            m_log.Add("ping " + std::to_string(wParam));
            return true;
        }
        if (message == WM_TEST_WATCH)
        {
            int fd = static_cast<int>(wParam);
            AddSocketWatch(fd, POLLIN,
                           [this](int fd, short revents)
                           {
                               char buf[64];
                               ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                               bool onLoop = pthread_equal(pthread_self(), m_log.loopThread);
                               m_log.Add("datagram " + std::string(buf, n > 0 ? n : 0) +
                                         (onLoop ? " on loop" : " elsewhere") +
                                         ((revents & POLLIN) ? "" : " without POLLIN"));
                           });
            m_log.Add("watching");
            return true;
        }
        if (message == WM_TEST_UNWATCH)
        {
            RemoveSocketWatch(static_cast<int>(wParam));
            m_log.Add("unwatched");
            return true;
        }
        return CBaseThread::OnThreadMessage(message, wParam, lParam);
    }

private:
    Log& m_log;
    LONG m_idleRounds;
};

ProbeThread* Start(Log& log, DWORD flags = 0, LONG idleRounds = 0)
{
    auto* t = new ProbeThread(log, idleRounds);
    if (!t->CreateThread(flags))
    {
        delete t;
        return nullptr;
    }
    return t;
}
} // namespace

TEST(WinThread, SuspendedThreadKeepsMessagesPostedBeforeResume)
{
    Log log;
    ProbeThread* t = Start(log, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    DWORD id = t->m_nThreadID;
    HANDLE h = t->m_hThread;
    ASSERT_TRUE(PostThreadMessage(id, WM_TEST_PING, 1, 0));
    ASSERT_TRUE(PostThreadMessage(id, WM_TEST_PING, 2, 0));
    // Nothing marks a thread that rightly does not run: the pause is the time it would
    // need to run wrongly.
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(log.Events().empty()) << "a suspended thread must not run";
    EXPECT_EQ(t->ResumeThread(), 1u);
    ASSERT_TRUE(log.WaitFor("ping 2"));
    ASSERT_TRUE(CBaseThread::StopAndWait(t, 5000));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(log.Events(), (std::vector<std::string>{"init", "ping 1", "ping 2", "exit"}));
}

TEST(WinThread, EndedThreadDropsMessagesAndItsHandleStaysSignalled)
{
    Log log;
    ProbeThread* t = Start(log);
    ASSERT_NE(t, nullptr);
    DWORD id = t->m_nThreadID;
    HANDLE h = t->m_hThread;
    ASSERT_TRUE(log.WaitFor("init"));
    EXPECT_EQ(WaitForSingleObject(h, 30), WAIT_TIMEOUT);
    EXPECT_EQ(AfxGetThreadId(t), id);
    ASSERT_TRUE(PostThreadMessage(id, WM_THREAD_QUIT, 0, 0));
    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    {
        std::lock_guard g(log.lock);
        EXPECT_TRUE(log.destroyed) << "the handle is signalled only after the object is gone";
    }
    // The object is gone; everything addressed to it must miss harmlessly.
    EXPECT_FALSE(PostThreadMessage(id, WM_TEST_PING, 3, 0));
    EXPECT_EQ(AfxGetThreadId(t), 0u);
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(h, INFINITE), WAIT_OBJECT_0);
    EXPECT_FALSE(PostThreadMessage(0, WM_TEST_PING, 0, 0));
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(std::uintptr_t(0x7ffff000)), 0),
              WAIT_FAILED);
}

TEST(WinThread, IdleRuleCallsOnIdleUntilFalseAndRestartsAfterEachMessage)
{
    Log log;
    ProbeThread* t = Start(log, CREATE_SUSPENDED, 3);
    ASSERT_NE(t, nullptr);
    t->ResumeThread();
    ASSERT_TRUE(log.WaitFor("init"));
    // Waits for the three idle calls, then gives a wrong fourth the time to come.
    PollUntil([&] { return log.IdleCalls() >= 3; });
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard g(log.lock);
        EXPECT_EQ(log.idleCounts, (std::vector<LONG>{0, 1, 2})) << "blocks once OnIdle says no";
    }
    PostThreadMessage(t->m_nThreadID, WM_TEST_PING, 7, 0);
    ASSERT_TRUE(log.WaitFor("ping 7"));
    PollUntil([&] { return log.IdleCalls() >= 6; });
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard g(log.lock);
        EXPECT_EQ(log.idleCounts, (std::vector<LONG>{0, 1, 2, 0, 1, 2}));
    }
    ASSERT_TRUE(CBaseThread::StopAndWait(t, 5000));
}

TEST(WinThread, QuitEndsTheLoopAfterWhatWasQueuedBeforeIt)
{
    Log log;
    ProbeThread* t = Start(log, CREATE_SUSPENDED);
    ASSERT_NE(t, nullptr);
    DWORD id = t->m_nThreadID;
    HANDLE h = t->m_hThread;
    PostThreadMessage(id, WM_TEST_PING, 1, 0);
    PostThreadMessage(id, WM_THREAD_QUIT, 0, 0);
    PostThreadMessage(id, WM_TEST_PING, 2, 0);
    t->ResumeThread();
    ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
    // WM_THREAD_QUIT queues the quit behind what is already waiting, as the framework
    // does, and nothing after the quit is handled.
    EXPECT_EQ(log.Events(), (std::vector<std::string>{"init", "ping 1", "ping 2", "exit"}));
    EXPECT_FALSE(PostThreadMessage(id, WM_TEST_PING, 3, 0));
}

TEST(WinThread, ThreadsGetASmallStackAndNoDescriptorOfTheirOwn)
{
    auto openDescriptors = []
    {
        int n = 0;
        if (DIR* d = opendir("/proc/self/fd"))
        {
            while (readdir(d))
                ++n;
            closedir(d);
        }
        return n;
    };
    int before = openDescriptors();
    std::vector<Log> logs(200);
    std::vector<std::pair<DWORD, HANDLE>> started;
    for (auto& log : logs)
    {
        ProbeThread* t = Start(log);
        ASSERT_NE(t, nullptr);
        started.emplace_back(t->m_nThreadID, t->m_hThread);
    }
    for (auto& log : logs)
        ASSERT_TRUE(log.WaitFor("init"));
    EXPECT_LE(openDescriptors(), before + 2) << "idle threads must not hold descriptors";
    {
        std::lock_guard g(logs[0].lock);
        EXPECT_GE(logs[0].stackSize, DEFAULT_THREAD_STACK);
        EXPECT_LE(logs[0].stackSize, 4u * DEFAULT_THREAD_STACK + 64 * 1024);
    }
    for (auto& [id, h] : started)
        PostThreadMessage(id, WM_THREAD_QUIT, 0, 0);
    for (auto& [id, h] : started)
        ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
}

TEST(WinThread, RefusedThreadStartReturnsNullAndLeavesNothingRegistered)
{
    ScopedSysCall<decltype(SysCalls::pthread_create)> refuse(
        &SysCalls::pthread_create,
        [](pthread_t*, const pthread_attr_t*, void* (*)(void*), void*) { return EAGAIN; });
    EXPECT_EQ(AfxBeginThread(RUNTIME_CLASS(CBaseThread), 0, 0, CREATE_SUSPENDED), nullptr);
    Log log;
    auto* t = new ProbeThread(log);
    EXPECT_FALSE(t->CreateThread());
    EXPECT_EQ(t->m_nThreadID, 0u);
    EXPECT_EQ(AfxGetThreadId(t), 0u);
    delete t;
}

TEST(Event, ManualResetEventStaysSetUntilResetAndFailsHarmlesslyOnceClosed)
{
    HANDLE h;
    {
        CEvent e(false, true);
        h = e.m_hObject;
        EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_TIMEOUT);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(WaitForSingleObject(h, 40), WAIT_TIMEOUT);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, 39ms);
        std::thread setter(
            [h]
            {
                std::this_thread::sleep_for(20ms); // set while the wait below is under way
                SetEvent(h);
            });
        EXPECT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
        setter.join();
        EXPECT_TRUE(e.Lock(0)) << "manual reset: still set";
        e.ResetEvent();
        EXPECT_FALSE(e.Lock(0));
    }
    EXPECT_FALSE(SetEvent(h));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_FAILED);

    CEvent autoReset(true, false);
    EXPECT_TRUE(autoReset.Lock(0));
    EXPECT_FALSE(autoReset.Lock(0)) << "an auto-reset event is taken by one wait";
}

TEST(WinThread, DescriptorWatchDeliversDatagramsOnTheLoopBesideMessages)
{
    int rx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int tx = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(rx, 0);
    ASSERT_GE(tx, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(rx, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    ASSERT_EQ(::getsockname(rx, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    auto send = [&](const char* text)
    {
        ASSERT_GT(
            ::sendto(tx, text, strlen(text), 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr),
            0);
    };

    Log log;
    ProbeThread* t = Start(log);
    ASSERT_NE(t, nullptr);
    DWORD id = t->m_nThreadID;
    HANDLE h = t->m_hThread;
    PostThreadMessage(id, WM_TEST_WATCH, static_cast<WPARAM>(rx), 0);
    ASSERT_TRUE(log.WaitFor("watching"));
    send("one");
    ASSERT_TRUE(log.WaitFor("datagram one on loop"));
    PostThreadMessage(id, WM_TEST_PING, 1, 0);
    ASSERT_TRUE(log.WaitFor("ping 1")) << "messages still arrive while a descriptor is watched";
    send("two");
    ASSERT_TRUE(log.WaitFor("datagram two on loop"));

    PostThreadMessage(id, WM_TEST_UNWATCH, static_cast<WPARAM>(rx), 0);
    ASSERT_TRUE(log.WaitFor("unwatched"));
    send("three");
    PostThreadMessage(id, WM_TEST_PING, 2, 0);
    ASSERT_TRUE(log.WaitFor("ping 2"));
    // A datagram the loop rightly no longer watches leaves no trace: the pause gives a
    // wrong delivery the time to happen.
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(log.WaitFor("datagram three on loop", 0ms));
    char buf[16];
    EXPECT_EQ(::recv(rx, buf, sizeof buf, MSG_DONTWAIT), 5) << "left for whoever reads next";

    ASSERT_TRUE(CBaseThread::StopAndWait(t, 5000));
    EXPECT_EQ(WaitForSingleObject(h, 0), WAIT_OBJECT_0);
    ::close(rx);
    ::close(tx);
}

TEST(WinThread, PostingWhileThreadsEndIsSafe)
{
    // Posters race the quit message; every post either lands or misses, none crashes.
    for (int round = 0; round < 20; ++round)
    {
        Log log;
        ProbeThread* t = Start(log);
        ASSERT_NE(t, nullptr);
        DWORD id = t->m_nThreadID;
        HANDLE h = t->m_hThread;
        std::atomic<bool> go{false};
        std::vector<std::thread> posters;
        for (int p = 0; p < 3; ++p)
            posters.emplace_back(
                [&, p]
                {
                    while (!go.load())
                        std::this_thread::yield();
                    for (int i = 0; i < 200; ++i)
                        PostThreadMessage(id, WM_TEST_PING, static_cast<WPARAM>(p), 0);
                });
        go = true;
        PostThreadMessage(id, WM_THREAD_QUIT, 0, 0);
        for (auto& p : posters)
            p.join();
        ASSERT_EQ(WaitForSingleObject(h, 5000), WAIT_OBJECT_0);
        EXPECT_FALSE(PostThreadMessage(id, WM_TEST_PING, 9, 0));
    }
}

TEST(Event, PollingWithZeroTimeOutNeverSleeps)
{
    // The download job polls its cancel event after every piece; a poll that slept in
    // the kernel made downloads forty times slower.
    CEvent e(false, true);
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 20000; ++i)
        ASSERT_EQ(WaitForSingleObject(e.m_hObject, 0), WAIT_TIMEOUT);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
}
