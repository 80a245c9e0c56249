#include "CWinThread.h"

#include "DebugOutput.h"
#include "IoRetry.h"
#include "SysCalls.h"
#include "WaitHandles.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <deque>
#include <limits.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <unordered_map>
#include <vector>

IMPLEMENT_DYNAMIC(CWinThread, CObject)

struct CWinThread::State
{
    struct Watch
    {
        int fd;
        short events;
        SocketCallback callback;
    };

    std::mutex lock;
    std::condition_variable wake;
    std::deque<MSG> messages;
    int suspendCount = 0;
    bool started = false;
    // Created with the first watch. Threads without watches wait on the condition
    // variable alone, so ten thousand idle printer threads cost no descriptors.
    int eventFd = -1;
    std::vector<Watch> watches;

    ~State()
    {
        if (eventFd >= 0)
            ::close(eventFd);
    }

    void Post(const MSG& msg)
    {
        int fd;
        {
            std::lock_guard g(lock);
            messages.push_back(msg);
            fd = eventFd;
        }
        if (fd >= 0)
            Kick(fd);
        wake.notify_one();
    }

    static void Kick(int fd)
    {
        std::uint64_t one = 1;
        // The counter only has to become non-zero; a full counter is already non-zero.
        RetryOnEintr([&] { return ::write(fd, &one, sizeof one); });
    }
};

namespace
{
struct Registry
{
    std::mutex lock;
    std::unordered_map<DWORD, std::shared_ptr<CWinThread::State>> threads;
    std::unordered_map<const CWinThread*, DWORD> ids;
    DWORD nextId = 1000;
};

Registry& registry()
{
    static Registry* r = new Registry; // threads may still post during static destruction
    return *r;
}

DWORD registerThread(const CWinThread* object, const std::shared_ptr<CWinThread::State>& state)
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    // Ids are not reused while the process lives (wrapping takes four billion threads),
    // so a stale id can only miss.
    DWORD id = r.nextId++;
    if (r.nextId == 0)
        r.nextId = 1;
    r.threads.emplace(id, state);
    r.ids[object] = id;
    return id;
}

void unregisterThread(const CWinThread* object, DWORD id)
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    r.threads.erase(id);
    auto it = r.ids.find(object);
    if (it != r.ids.end() && it->second == id)
        r.ids.erase(it);
}

std::shared_ptr<CWinThread::State> findThread(DWORD id)
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    auto it = r.threads.find(id);
    return it == r.threads.end() ? nullptr : it->second;
}

thread_local CWinThread* t_current = nullptr;
} // namespace

CWinThread::CWinThread()
    : m_pMainWnd(nullptr), m_bAutoDelete(TRUE), m_hThread(nullptr), m_nThreadID(0),
      m_state(std::make_shared<State>()), m_hMainWnd(nullptr), m_pHandleOf(nullptr), m_nExitCode(0)
{
}

CWinThread::~CWinThread() = default;

BOOL CWinThread::CreateThread(DWORD createFlags, UINT stackSize)
{
    if (m_nThreadID != 0)
        return FALSE;
    {
        std::lock_guard g(m_state->lock);
        m_state->suspendCount = (createFlags & CREATE_SUSPENDED) ? 1 : 0;
    }
    m_hThread = CreateThreadEndHandle();
    m_nThreadID = registerThread(this, m_state);

    pthread_attr_t attr;
    pthread_attr_init(&attr);
    std::size_t stack = stackSize ? stackSize : DEFAULT_THREAD_STACK;
#ifdef __SANITIZE_THREAD__
    // The sanitizer's own frames need room beyond what the code itself uses.
    stack *= 4;
#endif
    stack = std::max<std::size_t>(stack, PTHREAD_STACK_MIN);
    pthread_attr_setstacksize(&attr, stack);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t tid;
    int rc = Sys().pthread_create(&tid, &attr, &CWinThread::ThreadEntry, this);
    pthread_attr_destroy(&attr);
    if (rc != 0)
    {
        unregisterThread(this, m_nThreadID);
        SignalThreadEnded(m_hThread);
        m_nThreadID = 0;
        m_hThread = nullptr;
        return FALSE;
    }
    return TRUE;
}

DWORD CWinThread::ResumeThread()
{
    if (m_nThreadID == 0)
        return 0xFFFFFFFFu;
    // Once the thread may run, it may also end and delete this object at any moment:
    // from the unlock on, only the shared state is touched.
    std::shared_ptr<State> state = m_state;
    DWORD previous;
    {
        std::lock_guard g(state->lock);
        previous = static_cast<DWORD>(state->suspendCount);
        if (state->suspendCount > 0)
            --state->suspendCount;
    }
    state->wake.notify_all();
    return previous;
}

void* CWinThread::ThreadEntry(void* param)
{
    auto* self = static_cast<CWinThread*>(param);
    std::shared_ptr<State> state = self->m_state;
    {
        std::unique_lock g(state->lock);
        state->wake.wait(g, [&] { return state->suspendCount == 0; });
        state->started = true;
    }
    t_current = self;
    DWORD id = self->m_nThreadID;
    int code;
    if (!self->InitInstance())
        code = self->ExitInstance();
    else
        code = self->Run();
    (void)code;
    unregisterThread(self, id);
    HANDLE ended = self->m_hThread;
    if (self->m_bAutoDelete)
        delete self;
    t_current = nullptr;
    // Last of all, so whoever waits on the handle may rely on the object being gone.
    SignalThreadEnded(ended);
    return nullptr;
}

BOOL CWinThread::InitInstance()
{
    return TRUE;
}

int CWinThread::ExitInstance()
{
    return m_nExitCode;
}

BOOL CWinThread::OnIdle(LONG)
{
    return FALSE;
}

bool CWinThread::OnThreadMessage(UINT, WPARAM, LPARAM)
{
    return false;
}

bool CWinThread::HasMessage() const
{
    std::lock_guard g(m_state->lock);
    return !m_state->messages.empty();
}

int CWinThread::Run()
{
    bool idle = true;
    LONG idleCount = 0;
    for (;;)
    {
        while (idle && !HasMessage())
        {
            if (!OnIdle(idleCount++))
                idle = false;
        }
        MSG msg;
        if (WaitNext(msg))
        {
            if (msg.message == WM_QUIT)
            {
                m_nExitCode = static_cast<int>(msg.wParam);
                return ExitInstance();
            }
            try
            {
                OnThreadMessage(msg.message, msg.wParam, msg.lParam);
            }
            catch (...)
            {
                // A handler that lets an exception escape must not take the whole
                // program down with it; the thread keeps serving its queue.
                OutputDebugString("Unhandled exception in a thread message handler\n");
            }
        }
        idle = true;
        idleCount = 0;
    }
}

bool CWinThread::WaitNext(MSG& msg)
{
    State& s = *m_state;
    std::vector<pollfd> fds;
    for (;;)
    {
        {
            std::unique_lock g(s.lock);
            if (!s.messages.empty())
            {
                msg = s.messages.front();
                s.messages.pop_front();
                return true;
            }
            if (s.watches.empty())
            {
                s.wake.wait(g, [&] { return !s.messages.empty() || !s.watches.empty(); });
                continue;
            }
            fds.clear();
            fds.push_back({s.eventFd, POLLIN, 0});
            for (const auto& w : s.watches)
                fds.push_back({w.fd, w.events, 0});
        }
        // The real poll, not the seam's: tests that script a port's poll must not
        // starve every message loop of the process.
        int n = ::poll(fds.data(), fds.size(), -1);
        if (n < 0)
            continue; // EINTR; anything else shows up again on the next pass
        if (fds[0].revents & POLLIN)
        {
            std::uint64_t count;
            RetryOnEintr([&] { return ::read(s.eventFd, &count, sizeof count); });
        }
        bool served = false;
        for (std::size_t i = 1; i < fds.size(); ++i)
        {
            if (!fds[i].revents)
                continue;
            SocketCallback callback;
            {
                std::lock_guard g(s.lock);
                auto it = std::find_if(s.watches.begin(), s.watches.end(),
                                       [&](const State::Watch& w) { return w.fd == fds[i].fd; });
                if (it == s.watches.end())
                    continue; // removed by an earlier callback of this pass
                callback = it->callback;
                if (fds[i].revents & POLLNVAL)
                    s.watches.erase(it);
            }
            served = true;
            try
            {
                if (callback)
                    callback(fds[i].fd, fds[i].revents);
            }
            catch (...)
            {
                OutputDebugString("Unhandled exception in a socket notification\n");
            }
        }
        if (served)
            return false;
    }
}

void CWinThread::AddSocketWatch(int fd, short events, SocketCallback callback)
{
    // A local reference keeps the descriptor alive should the thread end meanwhile.
    std::shared_ptr<State> state = m_state;
    int kick = -1;
    {
        std::lock_guard g(state->lock);
        if (state->eventFd < 0)
        {
            state->eventFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
            if (state->eventFd < 0)
            {
                OutputDebugString("eventfd failed; descriptor watch not added\n");
                return;
            }
        }
        auto it = std::find_if(state->watches.begin(), state->watches.end(),
                               [&](const State::Watch& w) { return w.fd == fd; });
        if (it != state->watches.end())
            *it = {fd, events, std::move(callback)};
        else
            state->watches.push_back({fd, events, std::move(callback)});
        kick = state->eventFd;
    }
    // A loop blocked in poll must pick up the new descriptor set.
    State::Kick(kick);
    state->wake.notify_all();
}

void CWinThread::RemoveSocketWatch(int fd)
{
    // A local reference keeps the descriptor alive should the thread end meanwhile.
    std::shared_ptr<State> state = m_state;
    int kick = -1;
    {
        std::lock_guard g(state->lock);
        std::erase_if(state->watches, [&](const State::Watch& w) { return w.fd == fd; });
        kick = state->eventFd;
    }
    if (kick >= 0)
        State::Kick(kick);
}

void CWinThread::SetMainWnd(CWnd* wnd)
{
    m_pMainWnd = wnd;
    m_hMainWnd = wnd ? wnd->GetSafeHwnd() : nullptr;
    m_pHandleOf = wnd;
}

HWND CWinThread::GetMainWndHandle() const
{
    // Only a pointer that changed since it was last seen is followed; one that stayed
    // the same may point to a window that is gone by now.
    if (m_pMainWnd != m_pHandleOf)
    {
        m_hMainWnd = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
        m_pHandleOf = m_pMainWnd;
    }
    return m_hMainWnd;
}

BOOL CWinThread::PostToMainWnd(UINT message, WPARAM wParam, LPARAM lParam) const
{
    HWND target = GetMainWndHandle();
    if (!target)
        return FALSE;
    return ::PostMessage(target, message, wParam, lParam);
}

CWinThread* AfxBeginThread(const CRuntimeClass* threadClass, int, UINT stackSize, DWORD createFlags,
                           void*)
{
    if (!threadClass || !threadClass->IsDerivedFrom(RUNTIME_CLASS(CWinThread)))
        return nullptr;
    CObject* object = threadClass->CreateObject();
    auto* thread = dynamic_cast<CWinThread*>(object);
    if (!thread)
    {
        delete object;
        return nullptr;
    }
    if (!thread->CreateThread(createFlags, stackSize))
    {
        delete thread;
        return nullptr;
    }
    return thread;
}

CWinThread* AfxGetThread()
{
    return t_current;
}

DWORD AfxGetThreadId(const CWinThread* thread)
{
    if (!thread)
        return 0;
    Registry& r = registry();
    std::lock_guard g(r.lock);
    auto it = r.ids.find(thread);
    return it == r.ids.end() ? 0 : it->second;
}

BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto state = findThread(threadId);
    if (!state)
        return FALSE;
    state->Post({message, wParam, lParam});
    return TRUE;
}

void PostQuitMessage(int exitCode)
{
    if (CWinThread* self = t_current)
        self->m_state->Post({WM_QUIT, static_cast<WPARAM>(exitCode), 0});
}
