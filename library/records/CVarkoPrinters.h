#pragma once
// The printer collection: the library's front door. It keeps the printers the user has
// configured, keyed by name (exact, case-sensitive), in insertion order; adds, edits and
// removes them through the configuration dialog; merges detected printers into the set;
// reads and writes the whole set as the printer settings file; runs printer commands on
// a caller's selection; offers the download service; and holds the single-instance lock
// shared by every program built on the library.
//
// Invariants: every printer in the map is stored under its current name, has a port and
// a running printer thread. No printer is ever displaced from the map: a name that
// would collide is refused (a rename by detection keeps the old name) or made unique
// (a loaded or newly detected printer whose name is taken gets " (2)", " (3)", ...).
//
// Threading: every operation runs on the user-interface thread and blocks it. The worker
// threads never touch the map; the download service only posts to them.
#include "CMapStringToOb.h"
#include "CPrinterSettings.h"
#include "CString.h"
#include "CVarkoPrinter.h"
#include "CVarkoPrinterData.h"
#include "Export.h"
#include "WinTypes.h"

#include <cstdint>
#include <vector>

class CArchive;
class CInstanceLock;
class CWnd;
struct CRuntimeClass;

class VARKO_EXPORT CVarkoPrinters
{
public:
    // The name of the single-instance lock.
    static constexpr const char* INSTANCE_LOCK_NAME = "VarkoPrinters";
    // The USB discovery library, loaded by name each time USB detection runs. The
    // environment variable VARKO_USB_LIBRARY names another one (a path or a file name).
    static constexpr const char* USB_LIBRARY_NAME = "libVarkoUSB.so";

    CVarkoPrinters();
    virtual ~CVarkoPrinters();
    CVarkoPrinters(const CVarkoPrinters&) = delete;
    CVarkoPrinters& operator=(const CVarkoPrinters&) = delete;

    // Takes the lock "VarkoPrinters"; TRUE when another holder has it (another program,
    // or another collection of this one), and also when no safe lock can be made at all
    // (InstanceLockProblem says why): running unlocked could let two programs drive the
    // printers at once. The lock is kept until destruction.
    BOOL IsAlreadyRunning();
    // Why the lock could not be made, for the message that refuses to run; empty when
    // it was taken or another program holds it.
    CString InstanceLockProblem() const;

    POSITION GetFirstPrinter() const;
    CVarkoPrinterData* GetNextPrinter(POSITION& pos) const;
    int GetPrinterCount() const;
    // Null when no printer has that name (exact comparison).
    CVarkoPrinterData* FindPrinter(const CString& name) const;

    void AddPrinter(CWnd* owner, EConfigFlags flags);
    void ModifyPrinter(CVarkoPrinterData* printer, EConfigFlags flags);
    void DeletePrinter(CVarkoPrinterData* printer);
    void AutoDetectPrinters(CWnd* owner);

    // The whole settings file: a 32-bit count, then each printer's record. Loading
    // leaves the modified flag alone unless it had to rename a printer whose name was
    // taken ("Name (2)"): the list is then not what the file holds, so it is marked
    // modified.
    void Serialize(CArchive& ar, CWnd* owner);

    // Batch commands over a caller's selection (name to printer), in its order. A failure
    // of one printer is reported and the next printer is served.
    void PrintTestPageRLX(const CMapStringToOb& printers) const;
    void PrintTestPageTPX(const CMapStringToOb& printers) const;
    void PrintOdometers(const CMapStringToOb& printers, EDisplayUnits units) const;
    void PrintHeadHistory(const CMapStringToOb& printers, EDisplayUnits units) const;

    // The download service.
    int MaxSimultaneousDownloads() const;
    void MaxSimultaneousDownloads(int maxDownloads);
    void SetDownloadFile(CVarkoPrinterData* printer, const CString& path);
    // Null serves the whole collection; an empty map serves nobody.
    void DownloadToPrinters(const CMapStringToOb* printers);
    void CancelDownload() const;
    // Waits at most timeoutMs until no printer of the collection runs a download job,
    // its transfer or the calibration that follows it; true when none does. A caller
    // that is about to destroy the collection waits here first if the calibrations are
    // to happen: destroying stops the printers, and a stop cancels a calibration that
    // is still waiting for the printer to settle.
    bool WaitForPrinterJobs(DWORD timeoutMs) const;

    void SetModified(BOOL modified) { m_bModified = modified; }
    BOOL IsModified() const { return m_bModified; }

    // Longest settings file loaded. Every printer of a file gets a thread, and a process
    // cannot run more than some tens of thousands; 10,000 printers take about 600 KB.
    // A longer file is refused before it is read, so it cannot take the memory.
    static constexpr std::uint64_t MAX_SETTINGS_FILE_BYTES = 64ull << 20;

    // For callers without a document framework (the command-line tool, the program's
    // own open and save). Loading reads the whole file first and adds its printers to
    // this collection; a short or damaged file throws CArchiveException, a file longer
    // than MAX_SETTINGS_FILE_BYTES CFileException ("File too large"), and neither adds
    // a printer. Saving writes a temporary file and renames it over the target,
    // so a failed save never damages the existing file (CFileException on failure).
    void LoadFromFile(const CString& path, CWnd* owner);
    void SaveToFile(const CString& path);
    // The settings-file bytes of the collection as it is now.
    std::vector<std::uint8_t> SaveToBytes();

    // For callers without the configuration dialog (the command-line tool). Adds a
    // printer on the described port with the dialog's checks and starts its thread;
    // returns 0, or the string id of the clash (33215 name in use, 33216 port in use)
    // and adds nothing. An empty name keeps the default "Printer#" name. Serial settings
    // the port refuses throw codes 1 to 5, a port class that is none of the four code 7.
    // The port is not opened.
    UINT AddPrinter(CWnd* owner, const CPrinterSettings& settings);
    // The stored fields of a printer of this collection; nothing is asked of the port.
    CPrinterSettings GetPrinterSettings(const CVarkoPrinterData* printer) const;
    // The calibrate-after-download flag, which the configuration dialog shows only when
    // not hidden; a change marks the collection modified. A null printer throws code 6.
    void SetCalibrate(CVarkoPrinterData* printer, bool calibrate);

private:
    bool ConfigurePrinter(CVarkoPrinter* printer, EConfigFlags flags);
    UINT IsPrinterInList(CVarkoPrinter* printer);
    void ReconcilePrinterWithList(CWnd* owner, const CRuntimeClass* portClass,
                                  const CString& portName, const CString& printerName);
    // checked: the outcome of the test opening made already for a new printer.
    void ReconcilePrinterWithList(CWnd* owner, const CRuntimeClass* portClass,
                                  const CString& portName, const CString& printerName,
                                  const DWORD* checked);
    bool AutoDetectUSB(CWnd* owner);
    bool AutoDetectNetwork(CWnd* owner);

    // Puts the printer into the map under its name, first giving it a unique variant of
    // that name if another printer holds it. Returns true when it was renamed.
    bool InsertPrinter(CVarkoPrinter* printer);
    CString UniqueName(const CString& name) const;
    static CVarkoPrinter* Live(CObject* object);

    CInstanceLock* m_hMutex;
    CMapStringToOb m_printers;
    BOOL m_bModified;
};
