#pragma once
// How a send command shows its transfers: on a terminal, one line per printer with a
// bar, redrawn in place; anywhere else (a log, a pipe, CI) one plain line per event,
// with progress lines at most every tenth of the file so logs stay short.
//
// Threading: main thread; drawing takes the console prompt's output lock so a worker
// thread's error box never lands in the middle of a line.
#include <cstdio>
#include <string>
#include <vector>

namespace cli
{

class DownloadProgress
{
public:
    enum State
    {
        eWaiting,
        eSending,
        eSucceeded,
        eFailed,
        eCancelled,
        eWithdrawn // cancelled before its transfer started
    };

    // quiet: only the transfers that did not succeed get a line, at their end.
    DownloadProgress(std::FILE* err, std::vector<std::string> names, bool terminal,
                     bool quiet = false);

    void Begin(std::size_t printer, unsigned long long length);
    void Progress(std::size_t printer, unsigned long long sent);
    // result: 0 failed, 1 succeeded, 2 cancelled.
    void End(std::size_t printer, int result);
    void Withdrawn(std::size_t printer);
    void Message(const std::string& text);

    State StateOf(std::size_t printer) const { return m_rows[printer].state; }
    bool Finished(std::size_t printer) const { return m_rows[printer].state >= eSucceeded; }

    // The line of one printer as the terminal view shows it.
    std::string RowText(std::size_t printer) const;

private:
    struct Row
    {
        std::string name;
        State state = eWaiting;
        unsigned long long length = 0;
        unsigned long long sent = 0;
        int lastTenth = -1;
    };
    void Redraw();
    void PlainLine(std::size_t printer, const std::string& text);

    std::FILE* m_err;
    std::vector<Row> m_rows;
    bool m_terminal;
    bool m_quiet;
    std::size_t m_nameWidth = 0;
    bool m_drawn = false;
    unsigned long m_promptLines = 0;
};

} // namespace cli
