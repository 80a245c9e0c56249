#pragma once
// One command's hold on a printer settings file: the collection loaded from it, the
// single-instance lock when the command talks to printers, the printers the user
// named, and the record of whether any of them failed (which decides the exit status).
//
// Threading: main thread only, like the collection itself.
#include "CliIo.h"

#include "CException.h"
#include "CVarkoPrinters.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class CVarkoPrinterData;
class CWnd;

namespace cli
{

// The library's text for any of its exceptions, on one line.
std::string MessageOf(const CException& e);

class FleetSession
{
public:
    enum OpenMode
    {
        eMustExist,
        eCreateIfMissing
    };

    // lockWait: how long Open waits for a lock that another program holds.
    explicit FleetSession(const CliIo& io, std::chrono::seconds lockWait = {})
        : m_io(io), m_lockWait(lockWait)
    {
    }
    ~FleetSession();
    FleetSession(const FleetSession&) = delete;
    FleetSession& operator=(const FleetSession&) = delete;

    // Creates the collection, takes the single-instance lock if asked, and loads the
    // file (owner receives the printers' download notices). False after saying why;
    // ExitStatus() then tells a held lock from a failure.
    bool Open(const std::string& path, OpenMode mode, bool takeLock, CWnd* owner = nullptr);
    // Writes the file atomically. False after saying why; the old file is then intact.
    bool Save();

    CVarkoPrinters& Printers() { return *m_printers; }
    const std::string& Path() const { return m_path; }

    // The printers named, in the order given and each once; all printers, in the
    // file's order, when no name is given. Unknown names are reported and count as
    // failures.
    std::vector<CVarkoPrinterData*> Select(const std::vector<std::string>& names);

    void Fail(const std::string& printer, const std::string& message);
    void Fail(const std::string& printer, const CException& e) { Fail(printer, MessageOf(e)); }
    void MarkFailed() { m_failed = true; }
    bool Failed() const { return m_failed; }
    int ExitStatus() const { return m_lockHeld ? eExitLockHeld : m_failed ? eExitFailed : eExitOk; }
    const CliIo& Io() const { return m_io; }

private:
    bool TakeLock();

    const CliIo& m_io;
    std::chrono::seconds m_lockWait;
    bool m_lockHeld = false; // another program held the lock for the whole wait
    std::unique_ptr<CVarkoPrinters> m_printers;
    std::string m_path;
    bool m_failed = false;
};

} // namespace cli
