#pragma once
// What a live printer lends the download jobs of its thread, held by the printer and
// the thread alike (std::shared_ptr) so that neither can pull it from under the other.
// While the printer is attached, a job reads the download file, the port and its use
// gate through the link, and later the calibrate flag, and clears the file name after a
// complete download. A printer whose thread did not end within the stop's limit lets go
// (Detach) and hands its port over: the job goes on with that port to its end, no
// longer touches the record, and the port is closed and freed with the last holder of
// the link, whichever of the two that is.
//
// Threading: any thread; one lock guards the record pointer and the handed-over port.
#include "CString.h"

#include <memory>
#include <mutex>

class CPortBase;
class CPortUse;
class CVarkoPrinterData;

class CPrinterJobLink
{
public:
    explicit CPrinterJobLink(CVarkoPrinterData* printer);
    ~CPrinterJobLink();
    CPrinterJobLink(const CPrinterJobLink&) = delete;
    CPrinterJobLink& operator=(const CPrinterJobLink&) = delete;

    struct Lease
    {
        bool attached = false; // false: the printer has let go, nothing else is set
        CPortBase* port = nullptr;
        std::shared_ptr<CPortUse> portUse;
        CString downloadFile;
    };
    // What a job needs of its printer, read while the printer is surely there.
    Lease Take();
    // Clears the download file name, unless the printer has let go meanwhile.
    void ClearDownloadFile();
    // The calibrate flag as it is now (false once the printer has let go).
    bool Calibrate();

    // The printer's side: it no longer exists for the job. port, when given, now
    // belongs to the link (its job is still using it).
    void Detach(CPortBase* port);

private:
    std::mutex m_lock;
    CVarkoPrinterData* m_printer;
    CPortBase* m_handedOver = nullptr;
};
