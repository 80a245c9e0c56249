#pragma once
// The "Please Wait" window that frames one network search: it starts the discovery
// thread, asks it to search when it opens, and runs the 10-second search window on its
// own timer once the thread says the request is out. When the timer fires it ends the
// search and then itself with IDOK; Cancel ends it with IDCANCEL; a request that could
// not be sent ends it with IDOK at once, by the thread's word. The caller then reads the
// answers; destroying the dialog stops the thread.
//
// The search logic lives here, apart from any widget: what shows the window and runs
// its modal loop is a host (ISearchDialogHost). The windowed program installs a Qt
// host (CSearchNetworkWidget); without one, a console host runs the same search with a
// plain blocking loop, so a program without windows searches exactly as the program
// with windows does.
//
// Threading: everything runs on the caller's (user-interface) thread except
// OnPostedMessage, which the discovery thread reaches by window handle; the host hands
// what it posts to the user-interface thread before the dialog sees it.
#include "CWnd.h"
#include "DiscoveryPacket.h"
#include "Export.h"
#include "ThreadMessages.h"
#include "WinTypes.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class CDetectPrintersThread;
class CInstanceLock;
class CSearchNetworkDlg;

class VARKO_EXPORT ISearchDialogHost
{
public:
    virtual ~ISearchDialogHost();
    // Shows the window with the dialog's texts and runs its modal loop: calls
    // dlg.OnInitDialog() once it is up, dlg.OnCancel() when the user cancels, delivers
    // what Post hands it through dlg.DispatchPosted, and timers through dlg.OnTimer, all
    // on the calling thread, until EndModal. Returns the result given to EndModal.
    virtual int RunModal(CSearchNetworkDlg& dlg) = 0;
    virtual void EndModal(int result) = 0;
    // Any thread: queue a message for dlg.DispatchPosted on the loop's thread.
    virtual void Post(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Loop thread only. A timer fires once per period until killed.
    virtual void SetTimer(UINT id, UINT periodMs) = 0;
    virtual void KillTimer(UINT id) = 0;
};

// The modal loop without a window: waits for posted messages, timers and a cancel
// request on one condition variable. RequestCancel may be called from any thread (a
// console program calls it on Ctrl-C, tests to play the user); a cancel requested
// before the loop runs takes effect as soon as it does.
class VARKO_EXPORT CConsoleSearchHost : public ISearchDialogHost
{
public:
    int RunModal(CSearchNetworkDlg& dlg) override;
    void EndModal(int result) override;
    void Post(UINT message, WPARAM wParam, LPARAM lParam) override;
    void SetTimer(UINT id, UINT periodMs) override;
    void KillTimer(UINT id) override;
    void RequestCancel();

private:
    struct Posted
    {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    struct Timer
    {
        UINT id;
        UINT periodMs;
        std::chrono::steady_clock::time_point due;
    };
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Posted> m_posted;
    std::vector<Timer> m_timers;
    bool m_cancelRequested = false;
    bool m_ended = false;
    int m_result = IDCANCEL;
};

// Makes the host for each search dialog. The default makes a CConsoleSearchHost; the
// windowed program installs its Qt host. Returns the previous factory.
using SearchDialogHostFactory = std::function<std::unique_ptr<ISearchDialogHost>()>;
VARKO_EXPORT SearchDialogHostFactory SetSearchDialogHostFactory(SearchDialogHostFactory factory);

class VARKO_EXPORT CSearchNetworkDlg : public CWnd
{
public:
    static constexpr UINT IDD = 3003;
    static constexpr UINT DETECT_TIMER_ID = ::DETECT_TIMER_ID;
    static constexpr UINT DETECT_TIME_MS = ::DETECT_TIME_MS;
    // The discovery thread asks the dialog's window for its timer by message once the
    // request is out. The dialog stops the timer itself (when it fires, or on Cancel),
    // and its tick ends the search and the dialog directly on that thread.
    static constexpr UINT WM_SEARCH_SET_TIMER = ::WM_SEARCH_SET_TIMER;
    static constexpr const char* CAPTION = "Please Wait";
    static constexpr const char* MESSAGE = "Searching Local Network and USB...";
    static constexpr const char* CANCEL_TEXT = "Cancel";

    explicit CSearchNetworkDlg(CWnd* parent = nullptr);
    // Stops the thread if one was started: WM_THREAD_QUIT, then at most 15000 ms.
    ~CSearchNetworkDlg() override;

    // False when the thread could not be started, or when another search of this
    // user runs on this computer (IsAnotherSearchRunning): the two would share the
    // discovery port, and the system hands each answer to only one of them, so both
    // would miss printers without a word.
    bool StartDetectThread();
    bool IsAnotherSearchRunning() const { return m_bOtherSearch; }
    // IDOK when the search ran its course, IDCANCEL when the user cancelled.
    int DoModal();

    // The answers of the search, in order of arrival; valid until the dialog is gone.
    int GetResponseCount() const;
    POSITION GetFirstResponse() const;
    const DiscoveryRecord* GetNextResponse(POSITION& pos) const;

    // The host calls these on the user-interface thread.
    void OnInitDialog();
    void OnCancel();
    void OnTimer(UINT id);
    void DispatchPosted(UINT message, WPARAM wParam, LPARAM lParam);
    CWnd* GetParent() const { return m_pParent; }

private:
    void OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    void OnDetectDone();
    void EndDialog(int result);

    // Held from StartDetectThread until the dialog is gone: one search per user and
    // discovery port at a time.
    std::unique_ptr<CInstanceLock> m_searchLock;
    bool m_bOtherSearch = false;
    CDetectPrintersThread* m_pThread;
    HANDLE m_hThread;
    DWORD m_nThreadID;
    CWnd* m_pParent;
    std::mutex m_hostLock; // OnPostedMessage reads m_pHost from the discovery thread
    ISearchDialogHost* m_pHost;
};
