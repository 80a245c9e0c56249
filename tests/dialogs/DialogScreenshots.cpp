// Writes a picture of each library dialog, as the user first sees it, into the folder
// given on the command line (docs/screenshots in the source tree). Runs offscreen with
// a made-up port list so the pictures do not depend on the machine.
#include "CNetworkPort.h"
#include "CPrinterConfigureDlg.h"
#include "CSerialPort.h"
#include "CSerialPortSettingsDlg.h"
#include "CVarkoPrinter.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;

namespace
{
bool Save(CDialog& dlg, const QString& path)
{
    dlg.InitModal();
    dlg.ShowModeless(true);
    QApplication::processEvents();
    const bool ok = dlg.grab().save(path);
    dlg.ShowModeless(false);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", path.toLocal8Bit().constData());
    return ok;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: %s <output folder>\n", argv[0]);
        return 2;
    }
    std::string tmpl = (fs::temp_directory_path() / "dialog-shots-XXXXXX").string();
    if (!::mkdtemp(tmpl.data()))
        return 1;
    const fs::path devices = tmpl;
    for (int n = 1; n <= 96; ++n)
        fs::create_symlink("/nonexistent/device", devices / ("COM" + std::to_string(n)));
    for (int n = 1; n <= 8; ++n)
        fs::create_symlink("/nonexistent/device", devices / ("LPT" + std::to_string(n)));
    for (const char* name : {"COM1", "COM3", "LPT1"})
    {
        fs::remove(devices / name);
        fs::create_symlink("/dev/null", devices / name);
    }
    ::setenv("VARKO_DEVICE_DIR", tmpl.c_str(), 1);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    const QDir out(QString::fromLocal8Bit(argv[1]));
    bool ok = true;
    {
        CVarkoPrinter printer;
        printer.SetName("Shipping Dock 1");
        printer.Model("RLX 400");
        auto* port = new CSerialPort;
        port->SetPortName("COM3");
        printer.SetPort(port);
        CPrinterConfigureDlg dlg(printer, eConfigNone);
        ok &= Save(dlg, out.filePath("printer-settings.png"));
    }
    {
        CVarkoPrinter printer;
        printer.SetName("Packing Line");
        auto* port = new CNetworkPort;
        port->SetIPAddress(192, 168, 10, 41);
        printer.SetPort(port);
        CPrinterConfigureDlg dlg(printer, eConfigHideCalibration);
        ok &= Save(dlg, out.filePath("printer-settings-network.png"));
    }
    {
        CSerialPort port;
        port.SetSettings(19200, 8, 0, 0, 2);
        CSerialPortSettingsDlg dlg(&port);
        ok &= Save(dlg, out.filePath("port-settings.png"));
    }
    fs::remove_all(devices);
    return ok ? 0 : 1;
}
