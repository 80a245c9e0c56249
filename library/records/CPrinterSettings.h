#pragma once
// What is stored about one printer, port fields included, as plain values: the way a
// caller without the configuration dialog (the command-line tool) describes a printer
// to add, and reads back a printer's stored fields without talking to it.
//
// Threading: none; plain values.
#include "CString.h"
#include "WinTypes.h"

struct CPrinterSettings
{
    CString name;
    CString model;        // as stored; never asked of the port
    CString downloadFile; // read back only
    // "CSerialPort", "CParallelPort", "CNetworkPort" or "CUSBPort".
    CString portClass;
    // What the port is set to: COM3, LPT1, a dotted address, a device path.
    CString portName;
    // The device the port opens, as stored (\\.\COM3 for serial and parallel ports);
    // read back only.
    CString devicePath;
    bool calibrate = false;

    // Serial lines only, in the port's own codes: parity 0 none, 1 odd, 2 even; stop
    // bits 0 one, 2 two; flow control 1 XON/XOFF, 2 hardware.
    int baudRate = 9600;
    int dataBits = 8;
    int parity = 0;
    int stopBits = 0;
    int flowControl = 2;

    // Network ports only.
    DWORD tcpPort = 9100;
};
