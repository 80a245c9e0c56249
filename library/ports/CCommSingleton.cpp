#include "CCommSingleton.h"

#include "DeviceFile.h"

namespace
{
bool portExists(const CString& devicePath)
{
    HANDLE h = CreateFileA(devicePath.GetString(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE)
    {
        CloseHandle(h);
        return true;
    }
    DWORD error = GetLastError();
    // Held by another program, or not ours to open: the port is there all the same.
    return error == ERROR_ACCESS_DENIED || error == ERROR_BUSY || error == ERROR_SHARING_VIOLATION;
}

void probe(const char* kind, std::vector<CString>& list)
{
    for (int n = 1; n <= CCommSingleton::MAX_PORT_NUMBER; ++n)
    {
        CString name = CString::Formatted("%s%d", kind, n);
        if (portExists("\\\\.\\" + name))
            list.push_back(name);
    }
}
} // namespace

CCommSingleton& CCommSingleton::GetInstance()
{
    // Built on first use and destroyed with the library's static objects.
    static CCommSingleton instance;
    return instance;
}

CCommSingleton::CCommSingleton()
{
    probe("COM", m_serialPorts);
    probe("LPT", m_parallelPorts);
}

CCommSingleton::~CCommSingleton() = default;
