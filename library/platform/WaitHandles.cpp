#include "WaitHandles.h"

#include "IoRetry.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>

namespace
{
struct WaitObject
{
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
    bool manualReset = true;
    // Readable while signalled; made by GetEventDescriptor. Closed with the object, which
    // lives as long as anyone (a SetEvent under way included) still holds it.
    int fd = -1;

    ~WaitObject()
    {
        if (fd >= 0)
            ::close(fd);
    }

    // With lock held: the descriptor follows the state.
    void Mirror()
    {
        if (fd < 0)
            return;
        std::uint64_t count;
        if (signalled)
        {
            count = 1;
            // A counter that is already non-zero stays readable; nothing more to do.
            RetryOnEintr([&] { return ::write(fd, &count, sizeof count); });
        }
        else
        {
            RetryOnEintr([&] { return ::read(fd, &count, sizeof count); });
        }
    }
};

thread_local HANDLE t_cancelEvent = nullptr;

enum : std::uintptr_t
{
    kEventTag = 1,
    kThreadTag = 2,
    kTagMask = 3
};

// Real pointers are at least 4-byte aligned, so a tag in the low bits keeps our
// handles apart from the device layer's handle objects.
struct HandleTable
{
    std::mutex lock;
    std::unordered_map<std::uintptr_t, std::shared_ptr<WaitObject>> objects;
    std::uintptr_t nextEvent = 1;
    std::uintptr_t nextThread = 1;
};

HandleTable& table()
{
    static HandleTable* t = new HandleTable; // outlives every static destructor
    return *t;
}

std::uintptr_t key(HANDLE h)
{
    return reinterpret_cast<std::uintptr_t>(h);
}

HANDLE issue(std::uintptr_t tag, std::shared_ptr<WaitObject> obj)
{
    HandleTable& t = table();
    std::lock_guard g(t.lock);
    std::uintptr_t& next = tag == kEventTag ? t.nextEvent : t.nextThread;
    std::uintptr_t value = (next++ << 2) | tag;
    t.objects.emplace(value, std::move(obj));
    return reinterpret_cast<HANDLE>(value);
}

// found is false for a handle that is not in the table; ended then tells whether it
// is a thread handle that we issued and whose thread is gone.
std::shared_ptr<WaitObject> lookup(HANDLE h, bool* endedThread = nullptr)
{
    HandleTable& t = table();
    std::lock_guard g(t.lock);
    auto it = t.objects.find(key(h));
    if (it != t.objects.end())
        return it->second;
    if (endedThread)
    {
        std::uintptr_t v = key(h);
        *endedThread = v != 0 && (v & kTagMask) == kThreadTag && (v >> 2) < t.nextThread;
    }
    return nullptr;
}
} // namespace

HANDLE CreateEvent(bool manualReset, bool initialState)
{
    auto obj = std::make_shared<WaitObject>();
    obj->manualReset = manualReset;
    obj->signalled = initialState;
    return issue(kEventTag, std::move(obj));
}

static BOOL setSignalled(HANDLE h, bool on)
{
    if ((key(h) & kTagMask) != kEventTag)
        return FALSE;
    auto obj = lookup(h);
    if (!obj)
        return FALSE;
    {
        std::lock_guard g(obj->lock);
        obj->signalled = on;
        obj->Mirror();
    }
    if (on)
        obj->changed.notify_all();
    return TRUE;
}

BOOL SetEvent(HANDLE event)
{
    return setSignalled(event, true);
}
BOOL ResetEvent(HANDLE event)
{
    return setSignalled(event, false);
}

BOOL CloseWaitHandle(HANDLE handle)
{
    if ((key(handle) & kTagMask) != kEventTag)
        return FALSE;
    HandleTable& t = table();
    std::shared_ptr<WaitObject> obj;
    {
        std::lock_guard g(t.lock);
        auto it = t.objects.find(key(handle));
        if (it == t.objects.end())
            return FALSE;
        obj = std::move(it->second);
        t.objects.erase(it);
    }
    return TRUE;
}

DWORD WaitForSingleObject(HANDLE handle, DWORD ms)
{
    bool ended = false;
    auto obj = lookup(handle, &ended);
    if (!obj)
        return ended ? WAIT_OBJECT_0 : WAIT_FAILED;
    std::unique_lock g(obj->lock);
    auto ready = [&] { return obj->signalled; };
    bool got;
    if (ms == 0)
    {
        // A poll must not reach the futex: the job polls its cancel event once per
        // piece, and even an expired timed wait costs a sleep in the kernel.
        got = obj->signalled;
    }
    else if (ms == INFINITE)
    {
        obj->changed.wait(g, ready);
        got = true;
    }
    else
        got = obj->changed.wait_for(g, std::chrono::milliseconds(ms), ready);
    if (!got)
        return WAIT_TIMEOUT;
    if (!obj->manualReset)
    {
        obj->signalled = false;
        obj->Mirror();
    }
    return WAIT_OBJECT_0;
}

void Sleep(DWORD ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

HANDLE CreateThreadEndHandle()
{
    return issue(kThreadTag, std::make_shared<WaitObject>());
}

void SignalThreadEnded(HANDLE handle)
{
    HandleTable& t = table();
    std::shared_ptr<WaitObject> obj;
    {
        std::lock_guard g(t.lock);
        auto it = t.objects.find(key(handle));
        if (it == t.objects.end())
            return;
        obj = std::move(it->second);
        // From now on the handle is answered from its number alone, so an ended thread
        // leaves nothing behind in the table however many printers come and go.
        t.objects.erase(it);
    }
    {
        std::lock_guard g(obj->lock);
        obj->signalled = true;
    }
    obj->changed.notify_all();
}

int GetEventDescriptor(HANDLE event)
{
    if ((key(event) & kTagMask) != kEventTag)
        return -1;
    auto obj = lookup(event);
    if (!obj)
        return -1;
    std::lock_guard g(obj->lock);
    if (obj->fd < 0)
    {
        obj->fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        obj->Mirror();
    }
    return obj->fd;
}

CThreadCancelScope::CThreadCancelScope(HANDLE event) : m_previous(t_cancelEvent)
{
    t_cancelEvent = event;
}

CThreadCancelScope::~CThreadCancelScope()
{
    t_cancelEvent = m_previous;
}

HANDLE GetThreadCancelEvent()
{
    return t_cancelEvent;
}

bool IsThreadCancelled()
{
    return t_cancelEvent && WaitForSingleObject(t_cancelEvent, 0) == WAIT_OBJECT_0;
}

int ThreadCancelDescriptor()
{
    return t_cancelEvent ? GetEventDescriptor(t_cancelEvent) : -1;
}

DWORD WaitForEventOrCancel(HANDLE event, DWORD ms)
{
    const int cancelFd = ThreadCancelDescriptor();
    if (cancelFd < 0)
    {
        if (event)
            return WaitForSingleObject(event, ms);
        Sleep(ms);
        return WAIT_TIMEOUT;
    }
    const IoDeadline deadline =
        ms == INFINITE ? IoDeadline() : IoDeadline::After(IoClock::now(), ms);
    for (;;)
    {
        if (IsThreadCancelled())
            return WAIT_CANCELLED;
        if (event && WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
            return WAIT_OBJECT_0;
        if (deadline.Passed())
            return WAIT_TIMEOUT;
        struct pollfd fds[2] = {{cancelFd, POLLIN, 0}, {-1, POLLIN, 0}};
        nfds_t n = 1;
        if (event)
        {
            fds[1].fd = GetEventDescriptor(event);
            if (fds[1].fd >= 0)
                n = 2;
        }
        // The real poll: a test that scripts the devices' poll must not hold this up.
        if (RetryOnEintr([&] { return ::poll(fds, n, deadline.PollTimeoutMs()); }).Failed())
            return WAIT_FAILED;
    }
}
