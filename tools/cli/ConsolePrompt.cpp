#include "ConsolePrompt.h"

#include "TextEscaping.h"

#include <atomic>
#include <cctype>

namespace cli
{
namespace
{
thread_local std::string t_context;
thread_local int t_reports = 0;
thread_local int t_lastAnswer = 0;
std::atomic<unsigned long> g_linesWritten{0};

bool IsQuestion(UINT type)
{
    UINT kind = type & MB_TYPEMASK;
    return kind == MB_YESNO || kind == MB_YESNOCANCEL || kind == MB_OKCANCEL;
}

int NegativeAnswer(UINT type)
{
    return (type & MB_TYPEMASK) == MB_OKCANCEL ? IDCANCEL : IDNO;
}

int PositiveAnswer(UINT type)
{
    return (type & MB_TYPEMASK) == MB_OKCANCEL ? IDOK : IDYES;
}
} // namespace

ConsolePrompt::ConsolePrompt(std::FILE* in, std::FILE* err, bool interactive)
    : m_in(in), m_err(err), m_interactive(interactive)
{
}

ConsolePrompt::~ConsolePrompt()
{
    if (m_installed)
        SetUserPrompt(m_previous);
}

void ConsolePrompt::Install()
{
    if (!m_installed)
    {
        m_previous = SetUserPrompt(this);
        m_installed = true;
    }
}

void ConsolePrompt::SetPrinterContext(const std::string& name)
{
    t_context = name;
}

int ConsolePrompt::ReportsOnThisThread()
{
    return t_reports;
}

std::mutex& ConsolePrompt::OutputLock()
{
    static std::mutex lock;
    return lock;
}

unsigned long ConsolePrompt::LinesWritten()
{
    return g_linesWritten.load();
}

int ConsolePrompt::LastAnswerOnThisThread()
{
    return t_lastAnswer;
}

void ConsolePrompt::ForgetAnswer()
{
    t_lastAnswer = 0;
}

int ConsolePrompt::MessageBox(const CString& text, const CString& caption, UINT type)
{
    int answer = Ask(text, caption, type);
    if (IsQuestion(type))
        t_lastAnswer = answer;
    return answer;
}

int ConsolePrompt::Ask(const CString& text, const CString& caption, UINT type)
{
    std::string line = caption.IsEmpty() ? std::string() : TerminalSafe(caption.str()) + ": ";
    if (!t_context.empty())
        line += TerminalSafe(t_context) + ": ";
    line += TerminalSafe(OneLine(text.str()));

    std::lock_guard g(OutputLock());
    ++g_linesWritten;
    if (!IsQuestion(type))
    {
        ++t_reports;
        std::fprintf(m_err, "%s\n", line.c_str());
        std::fflush(m_err);
        return IDOK;
    }
    if (m_assumeYes)
    {
        std::fprintf(m_err, "%s yes (--yes)\n", line.c_str());
        std::fflush(m_err);
        return PositiveAnswer(type);
    }
    if (!m_interactive)
    {
        std::fprintf(m_err, "%s no (no terminal to ask; use --yes)\n", line.c_str());
        std::fflush(m_err);
        return NegativeAnswer(type);
    }
    for (;;)
    {
        std::fprintf(m_err, "%s [y/N] ", line.c_str());
        std::fflush(m_err);
        char buf[64];
        if (!std::fgets(buf, sizeof buf, m_in))
        {
            std::fprintf(m_err, "\n");
            return NegativeAnswer(type);
        }
        std::string answer(buf);
        while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back())))
            answer.pop_back();
        std::size_t b = 0;
        while (b < answer.size() && std::isspace(static_cast<unsigned char>(answer[b])))
            ++b;
        answer.erase(0, b);
        for (auto& c : answer)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (answer == "y" || answer == "yes")
            return PositiveAnswer(type);
        if (answer.empty() || answer == "n" || answer == "no")
            return NegativeAnswer(type);
        // Anything else is asked again rather than guessed.
    }
}

} // namespace cli
