// libVarkoUSB.so: which device paths it reports, and that the library finds and calls
// it by name the way USB detection does.
#include "CStringArray.h"
#include "DynamicLibrary.h"
#include "UsbPrinterList.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace
{
fs::path Fresh(const char* leaf)
{
    fs::path dir = fs::temp_directory_path() / ("odomira-usb-" + std::to_string(getpid())) / leaf;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

void Touch(const fs::path& p, const std::string& text = "")
{
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
}

std::vector<std::string> Texts(const std::vector<CString>& v)
{
    std::vector<std::string> out;
    for (const CString& s : v)
        out.push_back(s.str());
    return out;
}
} // namespace

TEST(UsbDiscovery, ListsPrinterClassNodesInNumberOrderThenTheDeviceFolder)
{
    fs::path root = Fresh("tree");
    fs::path dev = root / "dev", sys = root / "sys", over = root / "devices";
    for (const char* n : {"lp10", "lp1", "lp0", "lp2", "hiddev0", "lpx"})
        Touch(dev / "usb" / n);
    fs::path cls = sys / "class" / "usbmisc";
    // lp0: bound to usblp; lp1 and lp10: printer interface class; lp2: a keyboard-like
    // interface; hiddev0 is no printer node at all.
    Touch(sys / "bus" / "usb" / "drivers" / "usblp" / "x");
    fs::create_directories(cls / "lp0" / "device");
    fs::create_symlink(sys / "bus" / "usb" / "drivers" / "usblp",
                       cls / "lp0" / "device" / "driver");
    Touch(cls / "lp1" / "device" / "bInterfaceClass", "07\n");
    Touch(cls / "lp10" / "device" / "bInterfaceClass", "07\n");
    Touch(cls / "lp2" / "device" / "bInterfaceClass", "03\n");

    Touch(over / "usb" / "zeta");
    Touch(over / "usb" / "alpha");
    Touch(over / "usb" / "alpha.ieee1284");
    Touch(over / "usb" / ".alpha.swp");

    auto found = Texts(ListUsbPrinters(dev.c_str(), sys.c_str(), over.c_str()));
    EXPECT_EQ(found, (std::vector<std::string>{
                         (dev / "usb" / "lp0").string(), (dev / "usb" / "lp1").string(),
                         (dev / "usb" / "lp10").string(), (over / "usb" / "alpha").string(),
                         (over / "usb" / "zeta").string()}));

    EXPECT_TRUE(ListUsbPrinters((root / "none").c_str(), sys.c_str(), "").empty());
}

TEST(UsbDiscovery, TheLibraryIsLoadedByNameAndFillsTheArray)
{
    fs::path over = Fresh("loaded");
    Touch(over / "usb" / "lp0");
    Touch(over / "usb" / "lp0.ieee1284");
    setenv("VARKO_DEVICE_DIR", over.c_str(), 1);

    CDynamicLibrary lib;
    ASSERT_TRUE(lib.Load("libVarkoUSB.so")) << lib.LastError().str();
    using Detect = void (*)(CStringArray*);
    auto detect = reinterpret_cast<Detect>(lib.GetProcAddress("DetectUSBDevices"));
    ASSERT_NE(detect, nullptr);
    CStringArray devices;
    detect(&devices);
    // Real usblp printers on this machine would come first; the folder's entry is last.
    ASSERT_GE(devices.GetSize(), 1);
    EXPECT_EQ(devices.GetAt(devices.GetSize() - 1), (over / "usb" / "lp0").c_str());
    for (int i = 0; i < devices.GetSize(); ++i)
        EXPECT_EQ(devices.GetAt(i).Find(".ieee1284"), -1);
    detect(nullptr); // tolerated
    lib.Free();
}
