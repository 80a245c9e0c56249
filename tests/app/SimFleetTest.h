#pragma once
// The window over four simulated printers, one of each kind: Dock (serial, COM3, model
// RX400, serial number RX4-1, 100.4 in. of head, 2000 of total), Desk (USB, USB-7, 12
// and 345 in.), Line (parallel, LPT1) and Yard (network, a private loopback address).
#include "AppTestBase.h"
#include "SimulatorProcess.h"

#include "CPrinterListModel.h"

#include <memory>
#include <string>
#include <vector>

class SimFleetTest : public AppTest
{
protected:
    void SetUp() override
    {
        AppTest::SetUp();
        m_address = SimulatorProcess::UniqueLoopback();
        m_sim = std::make_unique<SimulatorProcess>(
            "[Dock]\nkind = serial\ncom = 3\nmodel = RX400\nserial = RX4-1\nhead = 100.4\n"
            "total = 2000\nhistory = Head 2 of Dock: {head} {unit}\\r\\n\n"
            "[Desk]\nkind = usb\nlink = lp0\nserial = USB-7\nhead = 12\ntotal = 345\n"
            "[Line]\nkind = parallel\nlpt = 1\n"
            "[Yard]\nkind = network\naddress = " +
            m_address + "\nport = 9100\n");
        m_file = TempPath("fleet.vps");
        CPrinterSettings dock = SerialPrinter("Dock", "COM3");
        dock.model = "RX400";
        WriteSettingsFile(m_file, {dock, UsbPrinter("Desk", m_sim->Path("Desk")),
                                   ParallelPrinter("Line", "LPT1"),
                                   NetworkPrinter("Yard", m_address, 9100)});
    }
    void TearDown() override
    {
        AppTest::TearDown();
        m_sim.reset();
    }
    bool Open() { return Start({QString::fromStdString(m_file)}); }
    int RowOf(const std::string& name) const
    {
        for (int r = 0; r < View()->GetItemCount(); ++r)
            if (Cell(r, 0) == name)
                return r;
        return -1;
    }
    void Select(std::initializer_list<const char*> names)
    {
        View()->clearSelection();
        for (const char* name : names)
            View()->selectionModel()->select(View()->GetListModel()->index(RowOf(name), 0),
                                             QItemSelectionModel::Select |
                                                 QItemSelectionModel::Rows);
    }
    std::vector<std::string> Commands(const std::string& printer) const
    {
        return m_sim->CommandBytes(printer);
    }

    std::unique_ptr<SimulatorProcess> m_sim;
    std::string m_address;
    std::string m_file;
};
