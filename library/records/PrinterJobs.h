#pragma once
// The download machinery a live printer drives: its own download thread, and the one
// throttle per process that lets downloads run a few at a time. The threads work on
// printer records, so the records cannot depend on them in turn: they know only these
// interfaces, which the thread layer implements and installs when the library loads.
//
// Threading: the user-interface thread, like the printer records that use it.
#include "WinTypes.h"

#include <memory>

class CPortBase;
class CVarkoPrinter;
class CWinThread;
class CWnd;

// One printer's running download thread.
class IPrinterJobThread
{
public:
    virtual ~IPrinterJobThread();
    // Ends the job at hand at once; the thread goes on serving the next one.
    virtual void CancelJob() = 0;
    // Waits at most ms until the thread runs no job; true when it does not.
    virtual bool WaitUntilIdle(DWORD ms) = 0;
    // Stops the thread and waits for it (up to the stop limit); true when it ended. A
    // job that is still running then keeps port, and frees it when it is over.
    virtual bool Stop(CPortBase* port) = 0;
    // The thread itself, for posting it messages by id and waiting on its handle.
    virtual CWinThread* Thread() const = 0;
};

class IPrinterJobs
{
public:
    virtual ~IPrinterJobs();
    // Starts the download thread of printer, which posts its notices to owner. Null
    // when no thread could be made.
    virtual std::unique_ptr<IPrinterJobThread> StartThread(CVarkoPrinter& printer, CWnd* owner) = 0;
    // Starts the throttle if need be, sets its limit and queues the download thread
    // printerThread's next job. Throws CVarkoPrinterException when no throttle can run.
    virtual void StartDownload(DWORD printerThread, int limit) = 0;
    // Drops every queued download.
    virtual void CancelDownloads() = 0;
    // Stops the throttle; the next download starts a fresh one.
    virtual void StopThrottle() = 0;
};

// Installs the implementation (the thread layer does, at load). Returns the previous one.
IPrinterJobs* SetPrinterJobs(IPrinterJobs* jobs);
// The installed implementation, or null.
IPrinterJobs* GetPrinterJobs();
