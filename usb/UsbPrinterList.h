#pragma once
// What libVarkoUSB.so reports as attached USB printers: the printer-class device nodes
// of the usblp driver (/dev/usb/lp0, lp1, ... in number order), then every entry of the
// "usb" folder in the device-override folder (simulated or hand-made printers, the
// ".ieee1284" description files left out) in name order, each as a full path.
//
// A node counts as a printer when sysfs says so: its interface is bound to the usblp
// driver, or its interface class is 07 (printer). Nodes sysfs knows nothing about are
// left out; they could be anything.
//
// Threading: no state; callable from any thread.
#include "CString.h"

#include <vector>

#define VARKO_USB_EXPORT __attribute__((visibility("default")))

// devRoot and sysRoot are "/dev" and "/sys" except in tests; overrideDir is the device
// override folder (empty: none).
VARKO_USB_EXPORT std::vector<CString>
ListUsbPrinters(const CString& devRoot, const CString& sysRoot, const CString& overrideDir);
