// The dialog half of the live printer: running the configuration dialog on a printer
// and taking over what the user chose. The dialog itself is Qt code a layer up, reached
// through the seam it installs (RecordWindows.h); the record stays free of any
// user-interface code.
#include "CVarkoPrinter.h"

#include "CPortBase.h"
#include "RecordWindows.h"

bool CVarkoPrinter::EditSettings(EConfigFlags flags)
{
    ConfigureDialogRunner run = GetConfigureDialogRunner();
    return run && run(*this, flags);
}

void CVarkoPrinter::AssignFrom(const CVarkoPrinter& edited)
{
    // The thread works on the port being replaced; it has to be gone first. The caller
    // starts a new thread afterwards.
    if (m_pPort)
        StopThreads();

    CPortBase* source = edited.GetPort();
    CPortBase* port = nullptr;
    if (source)
    {
        CObject* created = source->GetRuntimeClass()->CreateObject();
        port = dynamic_cast<CPortBase*>(created);
        if (!port)
            delete created;
    }
    SetPort(port);

    if (edited.m_strName != m_strName)
        m_strName = edited.m_strName;
    // The stored texts are compared, not Model(): asking a port for its model could
    // open the device (a USB port), and the new port has no settings yet.
    if (edited.m_strModel != m_strModel)
        m_strModel = edited.m_strModel;

    if (port)
        port->CopyFrom(source);
    m_bCalibrate = edited.m_bCalibrate;
}
