#include "CliIo.h"

#include "TextEscaping.h"

#include <cerrno>
#include <cstring>

namespace cli
{

void CliIo::Write(const std::string& text) const
{
    errno = 0;
    if (std::fwrite(text.data(), 1, text.size(), m_out) != text.size() || std::fflush(m_out) != 0)
        OutputFailed(errno);
}

bool CliIo::FinishOutput() const
{
    errno = 0;
    if (std::fflush(m_out) != 0 || std::ferror(m_out))
        OutputFailed(errno);
    return !m_outputFailed;
}

void CliIo::OutputFailed(int error) const
{
    if (m_outputFailed)
        return;
    m_outputFailed = true;
    Error(std::string("cannot write the results to standard output: ") +
          (error ? std::strerror(error) : "write error"));
}

void CliIo::Error(const std::string& printer, const std::string& message) const
{
    std::string line = std::string(PROGRAM_NAME) + ": ";
    if (!printer.empty())
        line += TerminalSafe(printer) + ": ";
    line += TerminalSafe(OneLine(message));
    std::fprintf(m_err, "%s\n", line.c_str());
    std::fflush(m_err);
}

void CliIo::Usage(const std::string& command, const std::string& message) const
{
    std::fprintf(m_err, "%s: %s\n", PROGRAM_NAME, TerminalSafe(message).c_str());
    if (command.empty())
        std::fprintf(m_err, "Try '%s --help'.\n", PROGRAM_NAME);
    else
        std::fprintf(m_err, "Try '%s %s --help'.\n", PROGRAM_NAME, command.c_str());
    std::fflush(m_err);
}

void CliIo::Note(const std::string& message) const
{
    if (m_quiet)
        return;
    std::fprintf(m_err, "%s\n", TerminalSafe(message).c_str());
    std::fflush(m_err);
}

void CliIo::Say(const std::string& message) const
{
    Write(TerminalSafe(message) + "\n");
}

} // namespace cli
