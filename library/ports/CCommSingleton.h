#pragma once
// The serial (COM) and parallel (LPT) port names that exist on this machine, found once
// per process: COM1 to COM256 and LPT1 to LPT256, through the device name rule of
// DeviceNames.h. No device is opened to find them: the list is made at every start of
// the library, and opening a serial line can raise its modem lines and reset a board
// attached to it, or disturb a program that has the line. Instead:
// - a name the rule maps to no device is absent;
// - an override-folder entry counts when it leads to a character device, or to one we
//   may not look at (it is there, only not ours);
// - a device of the fixed rule counts when its node is a character device and the
//   system lists it as a port: /sys/class/tty for ttyS (only one with a UART behind
//   it: the driver makes ttyS nodes for every possible port), ttyUSB and ttyACM,
//   /sys/class/printer for lp. Without /sys the node alone decides.
// A line held by another program is listed like any other. The lists are not refreshed
// while the process runs.
//
// Threading: built on the first GetInstance (the collection's constructor, on the
// user-interface thread); read-only afterwards.
#include "CString.h"

#include <vector>

class CCommSingleton
{
public:
    static CCommSingleton& GetInstance();

    // This machine's /dev and /sys. Normal code uses GetInstance.
    CCommSingleton();
    // The same search in a prepared tree, for tests: devRoot stands for /dev and
    // sysRoot for /sys.
    CCommSingleton(const CString& devRoot, const CString& sysRoot);
    virtual ~CCommSingleton();
    CCommSingleton(const CCommSingleton&) = delete;
    CCommSingleton& operator=(const CCommSingleton&) = delete;

    // In ascending order of their numbers.
    const std::vector<CString>& SerialPorts() const { return m_serialPorts; }
    const std::vector<CString>& ParallelPorts() const { return m_parallelPorts; }

    static constexpr int MAX_PORT_NUMBER = 256;

private:
    std::vector<CString> m_serialPorts;
    std::vector<CString> m_parallelPorts;
};
