// send --calibrate: the printer calibrates five seconds after a successful transfer,
// and the tool stays until it has (LABEL slow: the five seconds are real).
#include "CliRunner.h"
#include "Json.h"
#include "SimulatorProcess.h"

#include <gtest/gtest.h>

#include <chrono>

TEST(CliCalibrate, CalibrationFollowsEachSuccessfulTransferBeforeTheToolEnds)
{
    SimulatorProcess sim("[Dock]\nkind = serial\ncom = 4\n[Spare]\nkind = serial\ncom = 5\n");
    CliRunner cli;
    std::string file = cli.File("fleet.vps");
    ASSERT_EQ(cli.Run({"add", file, "--name", "Dock", "--serial", "COM4"}).status, 0);
    ASSERT_EQ(cli.Run({"add", file, "--name", "Spare", "--serial", "COM5"}).status, 0);
    std::string label = cli.File("label.prn");
    CliRunner::WriteFile(label, std::string(4000, 'L'));

    auto start = std::chrono::steady_clock::now();
    CliResult r = cli.Run({"send", file, "--file", label, "Dock", "--calibrate"});
    auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(r.status, 0) << r.err;
    // Already counted when the tool has ended: it waited for the calibration.
    EXPECT_EQ(sim.State("Dock").Counter("calibrations"), 1u);
    EXPECT_GE(took, std::chrono::milliseconds(4900));
    EXPECT_EQ(sim.State("Spare").Counter("calibrations"), 0u);
    EXPECT_NE(r.err.find("Waiting for the calibrations"), std::string::npos) << r.err;

    // The setting is kept in the file; --no-calibrate turns it off again.
    auto doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    EXPECT_TRUE(doc["printers"][0]["calibrate"].Bool());
    EXPECT_FALSE(doc["printers"][1]["calibrate"].Bool());
    r = cli.Run({"send", file, "--file", label, "Dock", "--no-calibrate"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sim.State("Dock").Counter("calibrations"), 1u);
    doc = json::Parse(cli.Run({"show", file, "--json"}).out);
    EXPECT_FALSE(doc["printers"][0]["calibrate"].Bool());
}
