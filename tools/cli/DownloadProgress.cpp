#include "DownloadProgress.h"

#include "ConsolePrompt.h"
#include "TextEscaping.h"

#include <mutex>

namespace cli
{
namespace
{
constexpr int BAR_WIDTH = 30;

const char* ResultWord(DownloadProgress::State s)
{
    switch (s)
    {
    case DownloadProgress::eWaiting:
        return "waiting";
    case DownloadProgress::eSending:
        return "sending";
    case DownloadProgress::eSucceeded:
        return "done";
    case DownloadProgress::eFailed:
        return "failed";
    case DownloadProgress::eCancelled:
        return "cancelled";
    case DownloadProgress::eWithdrawn:
        break;
    }
    return "cancelled before it started";
}

int Percent(unsigned long long sent, unsigned long long length)
{
    if (length == 0)
        return 100;
    if (sent >= length)
        return 100;
    return static_cast<int>(sent * 100 / length);
}
} // namespace

DownloadProgress::DownloadProgress(std::FILE* err, std::vector<std::string> names, bool terminal,
                                   bool quiet)
    : m_err(err), m_terminal(terminal && !quiet), m_quiet(quiet)
{
    for (auto& n : names)
    {
        Row r;
        r.name = TerminalSafe(n);
        m_nameWidth = std::max(m_nameWidth, r.name.size());
        m_rows.push_back(std::move(r));
    }
    if (m_terminal)
        Redraw();
}

std::string DownloadProgress::RowText(std::size_t printer) const
{
    const Row& r = m_rows[printer];
    std::string line = r.name;
    line.resize(std::max(m_nameWidth, r.name.size()), ' ');
    line += "  ";
    if (r.state == eSending || r.state == eSucceeded || r.state == eCancelled ||
        (r.state == eFailed && r.length > 0))
    {
        int pct = Percent(r.sent, r.length);
        int filled = pct * BAR_WIDTH / 100;
        line += '[';
        line.append(static_cast<std::size_t>(filled), '#');
        line.append(static_cast<std::size_t>(BAR_WIDTH - filled), '.');
        line += "] ";
        char buf[64];
        std::snprintf(buf, sizeof buf, "%3d%%  %llu/%llu bytes  ", pct, r.sent, r.length);
        line += buf;
    }
    line += ResultWord(r.state);
    return line;
}

void DownloadProgress::Redraw()
{
    std::lock_guard g(ConsolePrompt::OutputLock());
    // Move back over our own lines, unless something else has written in between.
    unsigned long lines = ConsolePrompt::LinesWritten();
    if (m_drawn && lines == m_promptLines && !m_rows.empty())
        std::fprintf(m_err, "\033[%zuA", m_rows.size());
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        std::fprintf(m_err, "\r\033[K%s\n", RowText(i).c_str());
    std::fflush(m_err);
    m_drawn = true;
    m_promptLines = lines;
}

void DownloadProgress::PlainLine(std::size_t printer, const std::string& text)
{
    std::lock_guard g(ConsolePrompt::OutputLock());
    std::fprintf(m_err, "%s: %s\n", m_rows[printer].name.c_str(), text.c_str());
    std::fflush(m_err);
}

void DownloadProgress::Begin(std::size_t printer, unsigned long long length)
{
    Row& r = m_rows[printer];
    r.state = eSending;
    r.length = length;
    r.sent = 0;
    r.lastTenth = 0;
    if (m_terminal)
        Redraw();
    else if (!m_quiet)
        PlainLine(printer, "sending " + std::to_string(length) + " bytes");
}

void DownloadProgress::Progress(std::size_t printer, unsigned long long sent)
{
    Row& r = m_rows[printer];
    r.sent = sent;
    if (m_terminal)
    {
        Redraw();
        return;
    }
    int tenth = Percent(sent, r.length) / 10;
    if (m_quiet || tenth <= r.lastTenth)
        return;
    r.lastTenth = tenth;
    PlainLine(printer, std::to_string(sent) + " of " + std::to_string(r.length) + " bytes (" +
                           std::to_string(Percent(sent, r.length)) + "%)");
}

void DownloadProgress::End(std::size_t printer, int result)
{
    Row& r = m_rows[printer];
    r.state = result == 1 ? eSucceeded : result == 2 ? eCancelled : eFailed;
    if (r.state == eSucceeded)
        r.sent = r.length;
    if (m_terminal)
        Redraw();
    else if (!m_quiet || r.state != eSucceeded)
        PlainLine(printer, ResultWord(r.state));
}

void DownloadProgress::Withdrawn(std::size_t printer)
{
    m_rows[printer].state = eWithdrawn;
    if (m_terminal)
        Redraw();
    else
        PlainLine(printer, ResultWord(eWithdrawn));
}

void DownloadProgress::Message(const std::string& text)
{
    {
        std::lock_guard g(ConsolePrompt::OutputLock());
        std::fprintf(m_err, "%s\n", text.c_str());
        std::fflush(m_err);
    }
    if (m_terminal)
    {
        m_drawn = false; // draw afresh below the message
        Redraw();
    }
}

} // namespace cli
