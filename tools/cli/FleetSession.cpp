#include "FleetSession.h"

#include "CException.h"
#include "CVarkoPrinterData.h"
#include "CVarkoPrinterException.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <set>
#include <sys/stat.h>
#include <thread>

namespace cli
{

std::string MessageOf(const CException& e)
{
    return e.GetReportText(0).str();
}

FleetSession::~FleetSession() = default;

bool FleetSession::Open(const std::string& path, OpenMode mode, bool takeLock, CWnd* owner)
{
    m_path = path;
    try
    {
        m_printers = std::make_unique<CVarkoPrinters>();
        if (takeLock && !TakeLock())
            return false;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0 && errno == ENOENT && mode == eCreateIfMissing)
            return true; // a new file: it is written by Save
        m_printers->LoadFromFile(CString(path), owner);
        return true;
    }
    catch (const CException& e)
    {
        // The file errors name the file themselves.
        std::string message = MessageOf(e);
        m_io.Error(message.find(path) == std::string::npos ? path : std::string(), message);
    }
    catch (const std::bad_alloc&)
    {
        m_io.Error(path, "out of memory while reading the file");
    }
    m_failed = true;
    return false;
}

bool FleetSession::TakeLock()
{
    // The lock offers no way to sleep until it is free, so it is tried again a few times
    // a second; a holder that ends is noticed within that.
    constexpr auto RETRY = std::chrono::milliseconds(250);
    const auto until = std::chrono::steady_clock::now() + m_lockWait;
    bool told = false;
    while (m_printers->IsAlreadyRunning())
    {
        // No safe place for the lock: waiting cannot help.
        if (CString problem = m_printers->InstanceLockProblem(); !problem.IsEmpty())
        {
            m_io.Error(problem.str());
            return false;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now >= until)
        {
            m_lockHeld = true;
            m_io.Error("another program that uses the printers is running (it holds the "
                       "lock \"" +
                       std::string(CVarkoPrinters::INSTANCE_LOCK_NAME) +
                       "\"); close it and try again");
            return false;
        }
        if (!told)
        {
            m_io.Note("Waiting up to " + std::to_string(m_lockWait.count()) +
                      " s for another program to release the lock \"" +
                      CVarkoPrinters::INSTANCE_LOCK_NAME + "\"...");
            told = true;
        }
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(RETRY, until - now));
    }
    return true;
}

bool FleetSession::Save()
{
    try
    {
        m_printers->SaveToFile(CString(m_path));
        m_printers->SetModified(FALSE);
        return true;
    }
    catch (const CException& e)
    {
        std::string message = MessageOf(e) + " (the file was not changed)";
        m_io.Error(message.find(m_path) == std::string::npos ? m_path : std::string(), message);
    }
    catch (const std::bad_alloc&)
    {
        m_io.Error(m_path, "out of memory while saving (the file was not changed)");
    }
    m_failed = true;
    return false;
}

std::vector<CVarkoPrinterData*> FleetSession::Select(const std::vector<std::string>& names)
{
    std::vector<CVarkoPrinterData*> chosen;
    if (names.empty())
    {
        for (POSITION pos = m_printers->GetFirstPrinter(); pos;)
            chosen.push_back(m_printers->GetNextPrinter(pos));
        return chosen;
    }
    std::set<std::string> seen;
    for (const auto& name : names)
    {
        if (!seen.insert(name).second)
            continue;
        CVarkoPrinterData* p = m_printers->FindPrinter(CString(name));
        if (!p)
        {
            Fail(name, "no printer of that name in " + m_path);
            continue;
        }
        chosen.push_back(p);
    }
    return chosen;
}

void FleetSession::Fail(const std::string& printer, const std::string& message)
{
    m_failed = true;
    m_io.Error(printer, message);
}

} // namespace cli
