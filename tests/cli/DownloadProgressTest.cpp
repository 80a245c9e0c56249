// The send command's progress display: a log must stay short (a line per tenth at
// most) and every printer's outcome must be stated; on a terminal the view redraws its
// own lines only while nothing else has written below them.
#include "DownloadProgress.h"
#include "ConsolePrompt.h"
#include "StreamText.h"

#include <gtest/gtest.h>

#include <cstdio>

using namespace cli;

namespace
{
std::size_t Count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = 0; (at = text.find(what, at)) != std::string::npos; at += what.size())
        ++n;
    return n;
}
} // namespace

TEST(DownloadProgress, PlainLinesAreFewAndStateEveryOutcome)
{
    std::FILE* err = std::tmpfile();
    DownloadProgress view(err, {"Dock", "North", "Line"}, false);
    view.Begin(0, 100000);
    for (unsigned long long sent = 5120; sent <= 100000; sent += 5120)
        view.Progress(0, sent);
    view.End(0, 1);
    view.Begin(1, 2048);
    view.End(1, 0);
    view.Withdrawn(2);
    std::string out = StreamText(err);
    std::fclose(err);
    EXPECT_NE(out.find("Dock: sending 100000 bytes\n"), std::string::npos) << out;
    // 19 notices, but only one line per tenth of the file.
    EXPECT_LE(Count(out, "Dock: "), 12u) << out;
    EXPECT_NE(out.find("Dock: 10240 of 100000 bytes (10%)\n"), std::string::npos) << out;
    EXPECT_NE(out.find("Dock: done\n"), std::string::npos);
    EXPECT_NE(out.find("North: failed\n"), std::string::npos);
    EXPECT_NE(out.find("Line: cancelled before it started\n"), std::string::npos);
    EXPECT_EQ(out.find('\033'), std::string::npos); // no terminal controls in a log
    EXPECT_EQ(view.StateOf(0), DownloadProgress::eSucceeded);
    EXPECT_TRUE(view.Finished(2));
}

TEST(DownloadProgress, TerminalRowsShowABarAndRedrawInPlace)
{
    std::FILE* err = std::tmpfile();
    DownloadProgress view(err, {"A", "Long name"}, true);
    view.Begin(0, 1000);
    view.Progress(0, 500);
    EXPECT_NE(view.RowText(0).find("[###############...............]  50%  500/1000 bytes"),
              std::string::npos)
        << view.RowText(0);
    EXPECT_EQ(view.RowText(1).rfind("Long name  waiting", 0), 0u) << view.RowText(1);
    view.End(0, 2);
    EXPECT_NE(view.RowText(0).find("cancelled"), std::string::npos);
    std::string out = StreamText(err);
    // Drawn once, then moved up over its two lines for each of the three updates.
    EXPECT_EQ(Count(out, "\033[2A"), 3u) << out;

    // Something else wrote a line meanwhile: the next drawing starts below it.
    {
        ConsolePrompt prompt(std::tmpfile(), std::tmpfile(), false);
        prompt.MessageBox("Printer Connection Error", "odomira-cli", 0);
    }
    view.End(1, 1);
    out = StreamText(err);
    std::fclose(err);
    EXPECT_EQ(Count(out, "\033[2A"), 3u) << out;
}
