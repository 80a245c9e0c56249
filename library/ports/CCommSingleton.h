#pragma once
// The serial (COM) and parallel (LPT) port names that exist on this machine, probed
// once per process: COM1 to COM256 and LPT1 to LPT256, through the device name rule of
// DeviceNames.h. A name that the rule maps to no device is absent without any probe;
// the others get a bare open and close (DeviceExists) that leaves the line as it was,
// since a line may belong to a login prompt or a terminal program at that moment. A
// name is listed when it opens, or when it exists but another program holds it (access
// denied or busy). The lists are not refreshed while the process runs.
//
// Threading: built on the first GetInstance (the collection's constructor, on the
// user-interface thread); read-only afterwards.
#include "CString.h"

#include <vector>

class CCommSingleton
{
public:
    static CCommSingleton& GetInstance();

    // Probes now. Normal code uses GetInstance; tests build their own to probe a
    // prepared device folder.
    CCommSingleton();
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
