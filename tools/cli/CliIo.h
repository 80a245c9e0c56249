#pragma once
// Where a command writes: results to standard output, everything else (errors,
// warnings, progress) to standard error, so that "odomira-cli list --json > fleet.json"
// captures clean data. Error lines name the program, then the printer when there is
// one, then the library's own message on one line.
//
// Threading: used from the main thread only; worker-thread output goes through the
// console prompt, which serialises its own lines.
#include <cstdio>
#include <string>

namespace cli
{

enum ExitStatus : int
{
    eExitOk = 0,
    eExitFailed = 1, // a printer or the file failed, or the results could not be written
    eExitUsage = 2,
    // Another program held the single-instance lock: EX_TEMPFAIL, which cron wrappers and
    // service managers take for "try again later" rather than for a fault.
    eExitLockHeld = 75
};

class CliIo
{
public:
    CliIo(std::FILE* out, std::FILE* err, bool errIsTerminal)
        : m_out(out), m_err(err), m_errIsTerminal(errIsTerminal)
    {
    }

    std::FILE* Out() const { return m_out; }
    std::FILE* Err() const { return m_err; }
    bool ErrIsTerminal() const { return m_errIsTerminal; }

    // --quiet: no progress, notes or countdowns on standard error; errors and the
    // library's questions still go there.
    void SetQuiet(bool quiet) { m_quiet = quiet; }
    bool Quiet() const { return m_quiet; }

    // Results; a failed write (a full disk, a pipe whose reader has gone while SIGPIPE is
    // ignored) is told of once and remembered, because a script must not take missing
    // results for success.
    void Write(const std::string& text) const;
    // Flushes standard output; false when anything written to it was lost (told of once).
    bool FinishOutput() const;
    // "odomira-cli: [printer: ]message" on standard error; the texts are made safe.
    void Error(const std::string& printer, const std::string& message) const;
    void Error(const std::string& message) const { Error(std::string(), message); }
    // "odomira-cli: message", then "Try 'odomira-cli COMMAND --help'."
    void Usage(const std::string& command, const std::string& message) const;
    // A progress or status line on standard error.
    void Note(const std::string& message) const;
    // A result line on standard output, made safe for a terminal.
    void Say(const std::string& message) const;

private:
    void OutputFailed(int error) const;

    std::FILE* m_out;
    std::FILE* m_err;
    bool m_errIsTerminal;
    bool m_quiet = false;
    mutable bool m_outputFailed = false;
};

constexpr const char* PROGRAM_NAME = "odomira-cli";

} // namespace cli
