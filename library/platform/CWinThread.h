#pragma once
// Message-loop threads: the framework's worker-thread model on pthreads.
//
// - Each thread has a message queue. Messages are posted by thread id through a
//   registry of live threads, so posting to a thread that has ended (or never existed)
//   is a safe no-op that returns FALSE. The id is registered before AfxBeginThread or
//   CreateThread returns, also for a thread created suspended, so messages posted at
//   once are kept until the loop runs.
// - The loop follows the framework's idle rule: while the queue is empty it calls
//   OnIdle(0), OnIdle(1), ... until OnIdle returns FALSE, then blocks. Every handled
//   message (or socket notification) restarts idle processing at count 0.
// - WM_QUIT (PostQuitMessage) ends the loop; ExitInstance runs, the id leaves the
//   registry, the object deletes itself when m_bAutoDelete is set (the default), and
//   only then m_hThread becomes signalled. m_hThread stays waitable after the object
//   is gone: a stopper takes the handle before posting the quit message and waits on
//   it without touching the object again.
// - A thread may watch descriptors (sockets) beside its queue: the loop then waits on
//   both at once (poll on an eventfd plus the descriptors) and calls the watch's
//   callback on this thread when a descriptor is ready, as socket notifications arrive
//   on the thread that created the socket.
// - Threads get a small stack (DEFAULT_THREAD_STACK) unless asked otherwise: every
//   printer has a thread of its own, and a fleet of ten thousand printers must fit.
//
// Threading: PostThreadMessage, ResumeThread, AddSocketWatch and RemoveSocketWatch may
// be called from any thread. The virtual operations run on the thread itself.
// m_pMainWnd and the main window handle are set by the creator before it resumes a
// suspended thread and are read-only afterwards.
#include "CObject.h"
#include "CWnd.h"
#include "Export.h"
#include "WinTypes.h"

#include <functional>
#include <memory>

constexpr UINT WM_QUIT = 0x0012;
constexpr DWORD CREATE_SUSPENDED = 0x4;
constexpr int THREAD_PRIORITY_NORMAL = 0;
// Enough for the download job and the discovery socket, small enough for big fleets.
constexpr UINT DEFAULT_THREAD_STACK = 256 * 1024;

struct MSG
{
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

class VARKO_EXPORT CWinThread : public CObject
{
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread();
    ~CWinThread() override;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread (suspended with CREATE_SUSPENDED). stackSize 0 takes
    // DEFAULT_THREAD_STACK. FALSE when the system refused; the object is then not
    // running and the caller still owns it.
    BOOL CreateThread(DWORD createFlags = 0, UINT stackSize = 0);
    // Lets a suspended thread run. Returns the previous suspend count (0 when it was
    // running already), or 0xFFFFFFFF when the thread was never created.
    DWORD ResumeThread();

    // TRUE enters the message loop; FALSE goes straight to ExitInstance.
    virtual BOOL InitInstance();
    // The thread's exit code; the base returns the code given to PostQuitMessage.
    virtual int ExitInstance();
    // Called while the queue is empty; TRUE asks to be called again before blocking.
    // The base has nothing to do and returns FALSE.
    virtual BOOL OnIdle(LONG count);
    // The message loop; returns the exit code.
    virtual int Run();
    // The message map: handle one posted thread message, returning false when this
    // class has no entry for it. Overrides call the base for messages they do not map.
    virtual bool OnThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Sets m_pMainWnd and remembers its handle, so window messages from this thread are
    // posted by handle and are dropped once the window is gone. Assigning m_pMainWnd
    // directly works too: the handle is then taken at the next post.
    void SetMainWnd(CWnd* wnd);
    HWND GetMainWndHandle() const;
    // PostMessage to the main window by handle; FALSE when there is none (any more).
    BOOL PostToMainWnd(UINT message, WPARAM wParam, LPARAM lParam) const;

    // Descriptor watches. events is a poll mask (POLLIN, POLLOUT); the callback gets the
    // descriptor and the poll result bits and runs on this thread. A descriptor that
    // poll reports as invalid (closed without removing its watch) gets POLLNVAL once
    // and is then dropped. Adding a watch for a descriptor already watched replaces it.
    // After RemoveSocketWatch returns on this thread, its callback is not called again;
    // from another thread, a call already under way may still finish.
    using SocketCallback = std::function<void(int fd, short revents)>;
    void AddSocketWatch(int fd, short events, SocketCallback callback);
    void RemoveSocketWatch(int fd);

    CWnd* m_pMainWnd;
    BOOL m_bAutoDelete;
    HANDLE m_hThread;
    DWORD m_nThreadID;

    struct State; // queue, suspend gate and watches; shared with the registry

private:
    friend void PostQuitMessage(int);
    static void* ThreadEntry(void* param);
    // Blocks until a message arrives (true) or watches were served (false).
    bool WaitNext(MSG& msg);
    bool HasMessage() const;

    std::shared_ptr<State> m_state;
    // The handle of the window m_pMainWnd pointed to when it was last looked at.
    mutable HWND m_hMainWnd;
    mutable const CWnd* m_pHandleOf;
    int m_nExitCode;
};

// Creates an object of the class (which must be dynamically creatable and derive from
// CWinThread) and starts it. priority and security are accepted for the framework's
// signature and ignored. Null when the object could not be made or the thread not
// started; the object is then freed.
VARKO_EXPORT CWinThread* AfxBeginThread(const CRuntimeClass* threadClass,
                                        int priority = THREAD_PRIORITY_NORMAL, UINT stackSize = 0,
                                        DWORD createFlags = 0, void* security = nullptr);
// The CWinThread running the calling thread, or null.
VARKO_EXPORT CWinThread* AfxGetThread();

// The id of a thread object whose loop has not ended yet, without touching the object:
// 0 when it has ended (and possibly deleted itself). For holders of a pointer that may
// have gone stale, such as a job's dispatching throttle.
VARKO_EXPORT DWORD AfxGetThreadId(const CWinThread* thread);

// FALSE when no live thread has that id (the message is dropped).
VARKO_EXPORT BOOL PostThreadMessage(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam);
// Asks the calling thread's loop to end once it reaches this point of its queue. Does
// nothing on a thread without a message loop.
VARKO_EXPORT void PostQuitMessage(int exitCode);
