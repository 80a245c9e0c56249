// A printer that is on and takes its commands but never answers: the list waits out
// its time-outs, and the printer reads as one without a serial number or odometers
// (a read that brings nothing is no error), while the other printers fill.
#include "AppTestBase.h"
#include "SimulatorProcess.h"

#include "CPrinterListModel.h"

TEST_F(AppTest, ASilentPrinterShowsNoValuesWithoutABoxWhileTheOthersFill)
{
    SimulatorProcess sim("[Quiet]\nkind = usb\nlink = lp0\nfault = silent\n"
                         "[Dock]\nkind = serial\ncom = 2\nserial = D-1\nhead = 7\ntotal = 9\n");
    const std::string file = TempPath("fleet.vps");
    WriteSettingsFile(file,
                      {UsbPrinter("Quiet", sim.Path("Quiet")), SerialPrinter("Dock", "COM2")});
    ASSERT_TRUE(Start({QString::fromStdString(file)}));
    EXPECT_TRUE(Messages().empty());
    EXPECT_EQ(Rows(), (std::vector<std::string>{
                          "Dock |  | COM2 | D-1 | 9 | 7",
                          "Quiet | Varko RX400;CMD:RLX;CLS:PRINTER; | USB | Not Set | N/A | N/A"}));
    // The serial number question is asked twice (once more, silently) before it fails;
    // the odometers once.
    EXPECT_EQ(sim.CommandBytes("Quiet"),
              (std::vector<std::string>{"\nURS\n", "\nURS\n", "\nURLi\n"}));
}
