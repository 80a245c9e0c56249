// detect: automatic detection from a terminal. USB printers first, then one network
// search, whose modal wait runs in the library's console host; this command adds a
// countdown in place of the "Please Wait" window and turns Ctrl+C into its Cancel.
#include "CommandHelpers.h"
#include "Commands.h"
#include "ConsolePrompt.h"
#include "FleetSession.h"

#include "CSearchNetworkDlg.h"
#include "CVarkoPrinterData.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

namespace cli
{
namespace
{
// Set by the signal handler on the main thread and read by the countdown thread: a
// lock-free atomic is both safe in a handler and visible across threads (a volatile
// sig_atomic_t is only the former).
std::atomic<int> g_interrupted{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnDetectInterrupt(int)
{
    g_interrupted = 1;
}

// The console host with a visible wait: a second thread counts the search window down
// on standard error and passes a Ctrl+C on as the dialog's Cancel.
class CountdownSearchHost : public CConsoleSearchHost
{
public:
    // quiet: no countdown, only the cancel note.
    CountdownSearchHost(std::FILE* err, bool terminal, bool quiet)
        : m_err(err), m_terminal(terminal), m_quiet(quiet)
    {
    }

    int RunModal(CSearchNetworkDlg& dlg) override
    {
        std::atomic<bool> done{false};
        std::thread ticker([&] { Tick(done); });
        int result = CConsoleSearchHost::RunModal(dlg);
        done = true;
        ticker.join();
        return result;
    }

private:
    void Tick(const std::atomic<bool>& done)
    {
        using namespace std::chrono;
        const auto start = steady_clock::now();
        const int total = static_cast<int>(CSearchNetworkDlg::DETECT_TIME_MS / 1000);
        int shown = -1;
        bool cancelled = false;
        while (!done)
        {
            if (g_interrupted && !cancelled)
            {
                cancelled = true;
                RequestCancel();
            }
            int elapsed =
                static_cast<int>(duration_cast<seconds>(steady_clock::now() - start).count());
            if (elapsed >= total && !cancelled && !m_quiet)
            {
                // The search window is over; the printers found are tried now.
                if (shown < total)
                {
                    shown = total;
                    std::lock_guard g(ConsolePrompt::OutputLock());
                    if (m_terminal)
                        std::fprintf(m_err, "\r\033[KTrying the printers found (Ctrl+C cancels)");
                    std::fflush(m_err);
                }
            }
            else if (elapsed != shown && !cancelled && !m_quiet)
            {
                shown = elapsed;
                std::lock_guard g(ConsolePrompt::OutputLock());
                if (m_terminal)
                    std::fprintf(m_err, "\r\033[K%s %ds left (Ctrl+C cancels)",
                                 CSearchNetworkDlg::MESSAGE, std::max(0, total - elapsed));
                else if (elapsed == 0)
                    std::fprintf(m_err, "%s (up to %d s)\n", CSearchNetworkDlg::MESSAGE, total);
                std::fflush(m_err);
            }
            std::this_thread::sleep_for(milliseconds(100));
        }
        std::lock_guard g(ConsolePrompt::OutputLock());
        if (m_terminal && !m_quiet)
            std::fprintf(m_err, "\r\033[K");
        if (cancelled)
            std::fprintf(m_err, "Search cancelled.\n");
        std::fflush(m_err);
    }

    std::FILE* m_err;
    bool m_terminal;
    bool m_quiet;
};

// Puts an environment variable back as it was when the command ends, so that the
// command's choices do not leak into anything that runs after it in this process.
class ScopedEnv
{
public:
    ScopedEnv(const char* name, const char* value) : m_name(name)
    {
        if (const char* old = std::getenv(name))
            m_old = old;
        ::setenv(name, value, 1);
    }
    ~ScopedEnv()
    {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

bool IsDottedIPv4(const std::string& text)
{
    int parts = 0;
    std::size_t start = 0;
    for (;;)
    {
        std::size_t dot = text.find('.', start);
        std::string part = text.substr(start, dot == std::string::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 || !ParseInteger(part, 0, 255) || part[0] == '+' ||
            part[0] == '-')
            return false;
        ++parts;
        if (dot == std::string::npos)
            return parts == 4;
        start = dot + 1;
    }
}
} // namespace

int RunDetect(CommandContext& c)
{
    std::string file;
    std::vector<std::string> extra;
    if (!TakeFileOperand(c, file, extra))
        return eExitUsage;
    if (!extra.empty())
    {
        c.io.Usage(c.command, "unexpected operand '" + extra[0] + "'");
        return eExitUsage;
    }
    std::optional<ScopedEnv> broadcast;
    if (auto v = c.args.Value("broadcast"))
    {
        if (!IsDottedIPv4(*v))
        {
            c.io.Usage(c.command, "--broadcast takes a dotted IPv4 address, not '" + *v + "'");
            return eExitUsage;
        }
        broadcast.emplace("VARKO_DISCOVERY_BROADCAST", v->c_str());
    }
    // The library loads the USB discovery library by the name this variable gives; a
    // name that cannot be loaded means "no USB printers", which is what --no-usb asks.
    std::optional<ScopedEnv> noUsb;
    if (c.args.Has("no-usb"))
        noUsb.emplace("VARKO_USB_LIBRARY", "odomira-cli-no-usb-detection");

    FleetSession session(c.io, c.lockWait);
    if (!session.Open(file, FleetSession::eCreateIfMissing, true))
        return session.ExitStatus();
    CVarkoPrinters& all = session.Printers();

    std::map<const CVarkoPrinterData*, std::string> before;
    for (CVarkoPrinterData* p : session.Select({}))
        before[p] = p->Name().str();

    bool terminal = c.io.ErrIsTerminal();
    SearchDialogHostFactory previous = SetSearchDialogHostFactory(
        [&] { return std::make_unique<CountdownSearchHost>(c.io.Err(), terminal, c.io.Quiet()); });
    struct sigaction sa = {}, old;
    sa.sa_handler = OnDetectInterrupt;
    // The first Ctrl+C cancels; should anything still hold the program up, the second
    // ends it as usual.
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    g_interrupted = 0;
    sigaction(SIGINT, &sa, &old);
    int reportsBefore = ConsolePrompt::ReportsOnThisThread();
    try
    {
        all.AutoDetectPrinters(nullptr);
    }
    catch (const CException& e)
    {
        session.Fail(std::string(), e);
    }
    sigaction(SIGINT, &old, nullptr);
    SetSearchDialogHostFactory(previous);
    if (ConsolePrompt::ReportsOnThisThread() != reportsBefore)
        session.MarkFailed(); // a found printer could not be attached; said above

    int changes = 0;
    for (CVarkoPrinterData* p : session.Select({}))
    {
        auto it = before.find(p);
        if (it == before.end())
        {
            std::string shown = p->PortDisplayName().str();
            if (p->Port().str() != shown)
                shown += " " + p->Port().str();
            c.io.Say("added " + p->Name().str() + " (" + shown + ")");
            ++changes;
        }
        else if (it->second != p->Name().str())
        {
            c.io.Say("renamed " + it->second + " to " + p->Name().str());
            ++changes;
        }
    }
    if (changes == 0)
        c.io.Say("no new printers found");
    if (all.IsModified() && !session.Save())
        return eExitFailed;
    return session.ExitStatus();
}

} // namespace cli
