#pragma once
// The object behind a device HANDLE; shared by the device-file sources only.
#include "CString.h"
#include "DeviceFile.h"

struct DeviceFileObject
{
    int fd = -1;
    CString path;                // after name resolution, as opened (a link is not followed here)
    bool tty = false;            // a terminal: line settings, queues and TIOCEXCL apply
    bool pseudoTerminal = false; // the slave side of a pty: forces 8 data bits, no parity
    bool locked = false;
    COMMTIMEOUTS timeouts{};
    DWORD writeStallLimitMs = 0;
};

// The live object of a handle, or null for a closed, invalid or foreign handle.
DeviceFileObject* LookUpDeviceFile(HANDLE handle);
