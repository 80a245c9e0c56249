#pragma once
// The live printer the collection keeps: the stored record plus its port object, the
// window its worker thread notifies, the calibrate-after-download flag and the worker
// thread itself. The thread only serves downloads, so a printer that is started gets it
// when it is first needed: a fleet of thousands that is only listed runs no thread. This class
// holds the complete set of bytes the library sends to printers; no other class builds printer
// commands.
//
// Threading: everything runs on the user-interface thread except SendCalibration, which
// the printer's own thread calls after a download. A printer's port is used by one
// thread at a time (CPortUse).
#include "CVarkoPrinterData.h"
#include "PrinterJobs.h"

#include <memory>

class CWnd;
struct HWND__;
using HWND = HWND__*;
struct CRuntimeClass;

enum EConfigFlags : unsigned
{
    eConfigNone = 0,
    eConfigHideCalibration = 1
};

class CVarkoPrinter : public CVarkoPrinterData
{
public:
    explicit CVarkoPrinter(CWnd* owner = nullptr);
    // The configuration dialog's working copy: same fields and a fresh port with the
    // same settings, but a default number of its own and never a thread.
    CVarkoPrinter(const CVarkoPrinter& source);
    ~CVarkoPrinter() override;
    CVarkoPrinter& operator=(const CVarkoPrinter&) = delete;

    void Serialize(CArchive& ar) override;

    // Gives a detected printer its port and opens it once as a test.
    // checked, when given, is the outcome of a test opening made already (0: it opened;
    // otherwise the code it failed with), and the port is not opened again.
    bool AttachPort(const CRuntimeClass* portClass, const CString& portName,
                    const CString& printerName, const DWORD* checked = nullptr);

    // Port failures are swallowed: a test page to a printer that is off fails quietly.
    void PrintTestPageRLX();
    void PrintTestPageTPX();
    // Port failures pass to the caller.
    void PrintOdometers(EDisplayUnits units);
    void PrintHeadHistory(EDisplayUnits units);
    // Reports its own failure to the user; returns nothing.
    void Calibrate();
    // The calibration command on a given port, for whoever holds the port's use (the
    // download job); failures are thrown.
    static void SendCalibration(CPortBase* port);

    // Threads and settings. StartThread makes the printer one that runs its thread (the
    // thread itself starts on first use); StopThreads stops it if it ever started.
    void StartThread();
    void StopThreads();
    // True between StartThread and StopThreads, whether or not the thread runs yet.
    bool HasThread() const { return m_bThreadWanted; }
    bool EditSettings(EConfigFlags flags);
    void AssignFrom(const CVarkoPrinter& edited);
    void StartDownload(int limit);
    void CancelDownload();
    // Waits at most ms until this printer's thread runs no job; true when it does not.
    bool WaitForJob(DWORD ms);

    CPortBase* GetPort() const { return m_pPort; }
    // Takes ownership of port and frees the previous one (which must be closed).
    void SetPort(CPortBase* port);
    CWnd* GetOwner() const { return m_pOwner; }
    void SetName(const CString& name) { m_strName = name; }
    // The printer's download thread, started now if it has not run yet; null when the
    // printer was not started or no thread could be made.
    CWinThread* GetThread();

    bool m_bCalibrate;

private:
    // Opens, writes the bytes and closes; exceptions pass on after the port is closed.
    void SendCommand(const char* bytes, DWORD length);

    // Starts the thread if it is wanted and not running; throws eThreadCreate when it
    // cannot be made.
    IPrinterJobThread* RunningThread();

    CWnd* m_pOwner;
    // The owner's handle while it was surely alive: the thread may start long after,
    // when the window can be gone, and must then notify nobody.
    HWND m_hOwner;
    std::unique_ptr<IPrinterJobThread> m_pThread;
    bool m_bThreadWanted = false;
};
