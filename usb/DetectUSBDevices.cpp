// The entry point the printer library looks up by name after loading this library.
#include "CStringArray.h"
#include "DeviceNames.h"
#include "UsbPrinterList.h"

extern "C" VARKO_USB_EXPORT void DetectUSBDevices(CStringArray* devices)
{
    if (!devices)
        return;
    try
    {
        for (const CString& path : ListUsbPrinters("/dev", "/sys", ExistingDeviceOverrideDir()))
            devices->Add(path);
    }
    catch (...)
    {
        // Nothing may cross into the caller: a failure means no USB printers were found.
    }
}
