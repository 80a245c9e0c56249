#pragma once
// The user-prompt seam on a terminal. Every box the library raises (its confirmation
// question, error reports from batch commands, the worker threads' download boxes) is
// written to standard error as one line. A Yes/No question is answered on the
// terminal; without one it counts as No, unless the user said --yes beforehand, so a
// script never hangs and never resets an odometer by accident.
//
// Threading: MessageBox may be called from any thread (worker threads report download
// failures); output lines never interleave. The printer context and the report count
// are per thread: a batch run on the main thread attributes its own reports to the
// printer it is working on, and a worker's box does not disturb that count.
#include "UserPrompt.h"

#include <cstdio>
#include <mutex>
#include <string>

namespace cli
{

class ConsolePrompt : public IUserPrompt
{
public:
    // in: where answers are read (normally stdin); err: where boxes are written.
    // interactive: whether in is a person at a terminal.
    ConsolePrompt(std::FILE* in, std::FILE* err, bool interactive);
    ~ConsolePrompt() override;

    // Every question is answered Yes without asking.
    void SetAssumeYes(bool yes) { m_assumeYes = yes; }

    int MessageBox(const CString& text, const CString& caption, UINT type) override;

    // Names the printer a message on this thread is about, "" for none.
    static void SetPrinterContext(const std::string& name);
    // Reports (boxes that are not questions) shown on this thread so far.
    static int ReportsOnThisThread();

    // The answer to the last question asked on this thread (0 when none was asked
    // since ForgetAnswer).
    static int LastAnswerOnThisThread();
    static void ForgetAnswer();

    // Held while a line is written to standard error, by the prompt and by anything
    // else that draws there (the download progress), so lines never interleave.
    static std::mutex& OutputLock();
    // Lines the prompt has written so far; a progress display that sees it change
    // knows its lines have scrolled and draws afresh below.
    static unsigned long LinesWritten();

    // Installs this prompt as the library's for its lifetime.
    void Install();

private:
    int Ask(const CString& text, const CString& caption, UINT type);

    std::FILE* m_in;
    std::FILE* m_err;
    bool m_interactive;
    bool m_assumeYes = false;
    bool m_installed = false;
    IUserPrompt* m_previous = nullptr;
};

// Scope helper: names the printer for messages raised while it lives.
class PrinterContext
{
public:
    explicit PrinterContext(const std::string& name) { ConsolePrompt::SetPrinterContext(name); }
    ~PrinterContext() { ConsolePrompt::SetPrinterContext(std::string()); }
    PrinterContext(const PrinterContext&) = delete;
    PrinterContext& operator=(const PrinterContext&) = delete;
};

} // namespace cli
