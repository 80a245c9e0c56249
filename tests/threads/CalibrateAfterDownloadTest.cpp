// Calibration follows a successful download after the printer's 5000 ms settling
// time, and only then; these wait that time out for real.
#include "CPrinterThread.h"
#include "CVarkoPrinter.h"
#include "RecordingWindow.h"
#include "ScriptedPort.h"
#include "ScriptedPrompt.h"
#include "ThreadTestSupport.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace
{
struct CalibrateRun
{
    std::vector<std::string> writes;
    std::chrono::steady_clock::duration endToCalibrate{};
    std::vector<LPARAM> ends;
};

// A printer on a scripted port, with its window and a scratch folder for its files.
struct ScriptedPrinter
{
    explicit ScriptedPrinter(bool calibrate)
    {
        printer.SetPort(port);
        printer.m_bCalibrate = calibrate;
    }
    ScratchDir dir;
    RecordingWindow window;
    ScriptedPrompt prompt;
    CVarkoPrinter printer{&window};
    ScriptedPort* port = new ScriptedPort; // the printer's
};

CalibrateRun RunJob(bool calibrate, bool fileExists, std::chrono::milliseconds settle)
{
    ScriptedPrinter p(calibrate);
    auto& [dir, window, prompt, printer, port] = p;
    ThreadInbox inbox;
    InboxThread* dispatcher = InboxThread::Start(inbox);
    StartDownloadJob(printer, port, fileExists ? dir.MakeFile("l.lbl", 10) : dir.Path("gone"),
                     dispatcher->m_nThreadID);
    CalibrateRun run;
    EXPECT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 1));
    auto ended = std::chrono::steady_clock::now();
    // The throttle hears of the end only after calibrating, so the slot stays taken
    // while the printer is busy with it.
    EXPECT_TRUE(inbox.WaitFor(WM_JOB_FINISHED, 1, settle + 3s));
    run.endToCalibrate = std::chrono::steady_clock::now() - ended;
    run.writes = port->Writes();
    run.ends = window.LParams(WM_DOWNLOAD_END);
    printer.StopThreads();
    CBaseThread::StopAndWait(dispatcher, 5000);
    return run;
}
} // namespace

TEST(CalibrateAfterDownload, SuccessfulDownloadCalibratesAfterFiveSeconds)
{
    CalibrateRun run = RunJob(true, true, 5s);
    ASSERT_EQ(run.writes.size(), 2u);
    EXPECT_EQ(run.writes[1], std::string("\x0a\x78\x61\x0a", 4));
    EXPECT_GE(run.endToCalibrate, 4900ms);
    EXPECT_EQ(run.ends, (std::vector<LPARAM>{eDownloadSucceeded}));
}

TEST(CalibrateAfterDownload, NoCalibrationWhenTheFlagIsOffOrTheDownloadFailed)
{
    CalibrateRun off = RunJob(false, true, 0s);
    EXPECT_EQ(off.writes.size(), 1u);
    EXPECT_LT(off.endToCalibrate, 1s);
    CalibrateRun failed = RunJob(true, false, 0s);
    EXPECT_TRUE(failed.writes.empty());
    EXPECT_LT(failed.endToCalibrate, 1s);
    EXPECT_EQ(failed.ends, (std::vector<LPARAM>{eDownloadFailed}));
}

// A stop cancels a calibration that is still waiting for the printer to settle; an owner
// that wants it done waits for the job first.
TEST(CalibrateAfterDownload, WaitingForTheJobLetsTheCalibrationHappenBeforeTheStop)
{
    ScriptedPrinter p(true);
    auto& [dir, window, prompt, printer, port] = p;
    StartDownloadJob(printer, port, dir.MakeFile("l.lbl", 10));
    ASSERT_TRUE(window.WaitFor(WM_DOWNLOAD_END, 1));
    EXPECT_FALSE(printer.WaitForJob(0)) << "the printer is settling";
    EXPECT_TRUE(printer.WaitForJob(8000));
    ASSERT_EQ(port->Writes().size(), 2u);
    EXPECT_EQ(port->Writes()[1], std::string("\x0a\x78\x61\x0a", 4));
    printer.StopThreads();
    EXPECT_TRUE(printer.WaitForJob(0)) << "no thread, no job";
}
