// send: the library's download service from a terminal. The file becomes the download
// file of each chosen printer, the library sends it, a limited number of printers at a
// time, and the printers' notices drive the progress display. Ctrl+C cancels.
#include "CommandHelpers.h"
#include "Commands.h"
#include "ConsolePrompt.h"
#include "DownloadMonitor.h"
#include "DownloadProgress.h"
#include "FleetSession.h"

#include "CMapStringToOb.h"
#include "CPrinterSettings.h"
#include "CVarkoPrinterData.h"
#include "ThreadMessages.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace cli
{
namespace
{
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int)
{
    g_interrupted = 1;
    // A second Ctrl+C ends the program at once, for a transfer that will not stop.
    std::signal(SIGINT, SIG_DFL);
}

// Installs the Ctrl+C handler for the life of a send and puts the old one back.
class InterruptGuard
{
public:
    InterruptGuard()
    {
        g_interrupted = 0;
        struct sigaction sa = {};
        sa.sa_handler = OnInterrupt;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGINT, &sa, &m_old);
    }
    ~InterruptGuard() { sigaction(SIGINT, &m_old, nullptr); }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

private:
    struct sigaction m_old;
};

// After a cancel, a transfer that was still queued never reports; this long without
// any notice means every transfer that had started has reported its end.
constexpr auto QUIET_AFTER_CANCEL = std::chrono::milliseconds(1500);
constexpr auto POLL = std::chrono::milliseconds(100);
// A calibration follows its transfer after the printer's 5 s settling time and is one
// short command; this is ample for all of them.
constexpr auto CALIBRATION_WAIT = std::chrono::seconds(60);

// Checks the file now, once, rather than once per printer in the worker threads, and
// gives its absolute path: the printer threads open it by the path stored with each
// printer, whatever the current directory is then.
bool ResolveDownloadFile(const CliIo& io, const std::string& path, std::string& absolute)
{
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved)
    {
        io.Error(path, std::string("cannot be read: ") + std::strerror(errno));
        return false;
    }
    absolute = resolved;
    std::free(resolved);
    int fd = ::open(absolute.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
    {
        io.Error(absolute, std::string("cannot be read: ") + std::strerror(errno));
        return false;
    }
    ::close(fd);
    return true;
}
} // namespace

int RunSend(CommandContext& c)
{
    std::string file;
    std::vector<std::string> names;
    if (!TakeFileOperand(c, file, names))
        return eExitUsage;
    auto path = c.args.Value("file");
    if (!path || path->empty())
    {
        c.io.Usage(c.command, "--file PATH is required");
        return eExitUsage;
    }
    std::optional<long long> max;
    if (auto v = c.args.Value("max"))
    {
        max = ParseInteger(*v, 1, INT_MAX);
        if (!max)
        {
            c.io.Usage(c.command, "--max takes a whole number of 1 or more");
            return eExitUsage;
        }
    }
    std::string download;
    if (!ResolveDownloadFile(c.io, *path, download))
        return eExitFailed;

    // Declared before the session: the printers notify it until the session has
    // stopped them, and a notice to a window that is gone is dropped harmlessly.
    DownloadMonitor monitor;
    FleetSession session(c.io, c.lockWait);
    if (!session.Open(file, FleetSession::eMustExist, true, &monitor))
        return session.ExitStatus();
    CVarkoPrinters& all = session.Printers();
    std::vector<CVarkoPrinterData*> printers = session.Select(names);
    if (printers.empty())
        return session.ExitStatus();

    // The limit the library reads for every printer it starts. A --max is written
    // there for this run and the old value put back once the transfers are queued.
    int previousLimit = all.MaxSimultaneousDownloads();
    int limit = previousLimit;
    if (max)
    {
        all.MaxSimultaneousDownloads(static_cast<int>(*max));
        limit = all.MaxSimultaneousDownloads();
        if (limit != *max)
            c.io.Error("could not apply --max " + std::to_string(*max) +
                       " (the machine-wide setting cannot be written here); the limit "
                       "stays " +
                       std::to_string(limit));
    }
    if (limit <= 0)
    {
        // The throttle would queue every transfer and never start one.
        c.io.Error("the machine-wide download limit is " + std::to_string(limit) +
                   ", so no transfer could start; give --max N");
        if (max)
            all.MaxSimultaneousDownloads(previousLimit);
        return eExitFailed;
    }

    std::map<WPARAM, std::string> recordNames;
    std::map<WPARAM, std::size_t> index;
    std::vector<std::string> rowNames;
    CMapStringToOb selection;
    for (CVarkoPrinterData* p : printers)
    {
        WPARAM key = reinterpret_cast<WPARAM>(p);
        recordNames[key] = p->Name().str();
        index[key] = rowNames.size();
        rowNames.push_back(p->Name().str());
        all.SetDownloadFile(p, CString(download));
        // The flag is a stored setting of the printer, read by its thread when a
        // transfer ends; it is changed here, before any transfer starts, and kept.
        if (c.args.Has("calibrate"))
            all.SetCalibrate(p, true);
        else if (c.args.Has("no-calibrate"))
            all.SetCalibrate(p, false);
        selection.SetAt(p->Name(), p);
    }
    monitor.SetNames(recordNames);

    DownloadProgress view(c.io.Err(), rowNames, c.io.ErrIsTerminal(), c.io.Quiet());
    InterruptGuard interrupts;
    bool cancelled = false;
    try
    {
        all.DownloadToPrinters(&selection);
    }
    catch (const CException& e)
    {
        session.Fail(std::string(), e);
        all.CancelDownload();
        cancelled = true;
    }
    if (max && limit != previousLimit)
        all.MaxSimultaneousDownloads(previousLimit);

    std::size_t finished = 0;
    auto quietSince = std::chrono::steady_clock::now();
    while (finished < printers.size())
    {
        if (g_interrupted && !cancelled)
        {
            cancelled = true;
            view.Message("Cancelling (press Ctrl+C again to quit at once)...");
            all.CancelDownload();
            quietSince = std::chrono::steady_clock::now();
        }
        auto notice = monitor.Wait(POLL);
        if (!notice)
        {
            if (cancelled && std::chrono::steady_clock::now() - quietSince > QUIET_AFTER_CANCEL)
            {
                bool anySending = false;
                for (std::size_t i = 0; i < printers.size(); ++i)
                    anySending = anySending || view.StateOf(i) == DownloadProgress::eSending;
                if (anySending)
                    continue; // a transfer that began still owes its end notice
                for (std::size_t i = 0; i < printers.size(); ++i)
                    if (!view.Finished(i))
                    {
                        view.Withdrawn(i);
                        ++finished;
                    }
            }
            continue;
        }
        quietSince = std::chrono::steady_clock::now();
        auto it = index.find(notice->printer);
        if (it == index.end())
            continue;
        std::size_t i = it->second;
        switch (notice->message)
        {
        case WM_DOWNLOAD_BEGIN:
            if (view.Finished(i))
                break;
            view.Begin(i, static_cast<unsigned long long>(static_cast<DWORD>(notice->value)));
            // A job the throttle handed over just as the cancel came would otherwise
            // run to its end.
            if (cancelled)
                all.CancelDownload();
            break;
        case WM_DOWNLOAD_PROGRESS:
            if (!view.Finished(i))
                view.Progress(i,
                              static_cast<unsigned long long>(static_cast<DWORD>(notice->value)));
            break;
        case WM_DOWNLOAD_END:
            if (!view.Finished(i))
            {
                view.End(i, static_cast<int>(notice->value));
                ++finished;
            }
            break;
        default:
            break;
        }
    }

    bool calibrating = false;
    for (std::size_t i = 0; i < printers.size(); ++i)
    {
        if (view.StateOf(i) != DownloadProgress::eSucceeded)
            session.MarkFailed();
        else if (all.GetPrinterSettings(printers[i]).calibrate)
            calibrating = true;
    }
    // What is left to send stays with each printer in the file; a printer that got the
    // file has had its download file cleared by the library.
    if (all.IsModified())
        session.Save();
    if (calibrating)
    {
        c.io.Note("Waiting for the calibrations that follow the transfers...");
        // Leaving stops the printer threads, and a stop ends a calibration that is still
        // waiting for its printer to settle: wait for them first. Ctrl+C leaves at once.
        const auto until = std::chrono::steady_clock::now() + CALIBRATION_WAIT;
        while (!all.WaitForPrinterJobs(200) && !g_interrupted &&
               std::chrono::steady_clock::now() < until)
        {
        }
    }
    return session.ExitStatus();
}

} // namespace cli
