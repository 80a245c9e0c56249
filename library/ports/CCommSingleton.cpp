#include "CCommSingleton.h"

#include "DeviceFile.h"

namespace
{
void probe(const char* kind, std::vector<CString>& list)
{
    for (int n = 1; n <= CCommSingleton::MAX_PORT_NUMBER; ++n)
    {
        CString name = CString::Formatted("%s%d", kind, n);
        if (DeviceExists(("\\\\.\\" + name).GetString()))
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
