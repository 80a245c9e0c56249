#include "WaitHandles.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace
{
struct WaitObject
{
    std::mutex lock;
    std::condition_variable changed;
    bool signalled = false;
    bool manualReset = true;
};

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
        obj->signalled = false;
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
