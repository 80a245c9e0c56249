// The console prompt: the library's questions must never be answered Yes without a
// person or --yes, and every report must reach standard error as one line naming the
// printer it is about.
#include "ConsolePrompt.h"
#include "StreamText.h"

#include "UserPrompt.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

using namespace cli;

namespace
{
struct Streams
{
    std::FILE* in = std::tmpfile();
    std::FILE* err = std::tmpfile();
    ~Streams()
    {
        std::fclose(in);
        std::fclose(err);
    }
    void Type(const std::string& text)
    {
        std::fputs(text.c_str(), in);
        std::rewind(in);
    }
    std::string Err() { return StreamText(err); }
};
} // namespace

TEST(ConsolePrompt, WithoutATerminalAQuestionIsNoAndSaysSo)
{
    Streams s;
    s.Type("yes\n"); // not a terminal: typed text must not be taken as the answer
    ConsolePrompt p(s.in, s.err, false);
    EXPECT_EQ(p.MessageBox("Reset?", "odomira-cli", MB_YESNO | MB_ICONQUESTION), IDNO);
    EXPECT_EQ(p.MessageBox("Go on?", "odomira-cli", MB_OKCANCEL), IDCANCEL);
    std::string err = s.Err();
    EXPECT_NE(err.find("odomira-cli: Reset? no"), std::string::npos);
    EXPECT_NE(err.find("--yes"), std::string::npos);
}

TEST(ConsolePrompt, AssumeYesAnswersEveryQuestion)
{
    Streams s;
    ConsolePrompt p(s.in, s.err, false);
    p.SetAssumeYes(true);
    EXPECT_EQ(p.MessageBox("Reset?", "t", MB_YESNO), IDYES);
    EXPECT_EQ(p.MessageBox("Go on?", "t", MB_OKCANCEL), IDOK);
    EXPECT_EQ(ConsolePrompt::LastAnswerOnThisThread(), IDOK);
}

TEST(ConsolePrompt, ReadsTheAnswerAndAsksAgainOnNonsense)
{
    Streams s;
    s.Type("maybe\n  YES \nn\n\n");
    ConsolePrompt p(s.in, s.err, true);
    EXPECT_EQ(p.MessageBox("Reset?", "t", MB_YESNO), IDYES);
    EXPECT_EQ(p.MessageBox("Reset?", "t", MB_YESNO), IDNO);
    EXPECT_EQ(p.MessageBox("Reset?", "t", MB_YESNO), IDNO); // empty line: the default
    EXPECT_EQ(p.MessageBox("Reset?", "t", MB_YESNO), IDNO); // end of input
    std::string err = s.Err();
    std::size_t asked = 0;
    for (std::size_t at = 0; (at = err.find("[y/N]", at)) != std::string::npos; ++at)
        ++asked;
    EXPECT_EQ(asked, 5u); // "maybe" was asked again
}

TEST(ConsolePrompt, ReportsAreOneSafeLineWithThePrinterAndCountedPerThread)
{
    Streams s;
    ConsolePrompt p(s.in, s.err, false);
    p.Install();
    int before = ConsolePrompt::ReportsOnThisThread();
    {
        PrinterContext ctx("Dock\x1b[2J");
        AfxSetAppTitle("odomira-cli");
        AfxMessageBox(CString("The operation timed out.  Check: \n1)  Cable."), MB_OK);
    }
    EXPECT_EQ(ConsolePrompt::ReportsOnThisThread(), before + 1);
    // A report from another thread does not count as this thread's printer failing.
    std::thread(
        [] { WorkerMessageBox("Printer Connection Error", "odomira-cli", MB_ICONINFORMATION); })
        .join();
    EXPECT_EQ(ConsolePrompt::ReportsOnThisThread(), before + 1);
    std::string err = s.Err();
    EXPECT_NE(err.find("odomira-cli: Dock\\x1b[2J: The operation timed out.  Check: 1)  Cable.\n"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("odomira-cli: Printer Connection Error\n"), std::string::npos);
    EXPECT_EQ(err.find('\x1b'), std::string::npos);
}
