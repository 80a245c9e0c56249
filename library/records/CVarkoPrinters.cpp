#include "CVarkoPrinters.h"

#include "CArchive.h"
#include "CCommSingleton.h"
#include "CNetworkPort.h"
#include "CSerialPort.h"
#include "CSettingsMachine.h"
#include "CStringArray.h"
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"
#include "DebugOutput.h"
#include "DynamicLibrary.h"
#include "InstanceLock.h"
#include "LibraryStrings.h"
#include "RecordWindows.h"
#include "UserPrompt.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <new>

namespace
{
// The entry point of the USB discovery library: fills the array with the device paths
// of the attached USB printers. Its return value, if any, means nothing.
using DetectUSBDevicesFn = void (*)(CStringArray*);
constexpr const char* kUsbEntryPoint = "DetectUSBDevices";

void reportOutOfMemory()
{
    // The framework's memory exception showed its own text; ours is the generic one.
    AfxMessageBox(AfxNoErrorMessageText(), MB_OK);
}
} // namespace

CVarkoPrinters::CVarkoPrinters() : m_hMutex(nullptr), m_printers(10), m_bModified(FALSE)
{
    // Sockets need no set-up for the process on this platform; the port list is
    // enumerated once per process, on first use.
    CCommSingleton::GetInstance();
}

CVarkoPrinters::~CVarkoPrinters()
{
    // The walk moves on before an entry goes, so deleting the printer in hand is safe.
    for (CObject* object : m_printers.Values())
    {
        try
        {
            DeletePrinter(Live(object));
        }
        catch (...)
        {
        }
    }
    delete m_hMutex;
    m_hMutex = nullptr;
}

CVarkoPrinter* CVarkoPrinters::Live(CObject* object)
{
    return dynamic_cast<CVarkoPrinter*>(object);
}

BOOL CVarkoPrinters::IsAlreadyRunning()
{
    if (!m_hMutex)
        m_hMutex = new CInstanceLock(INSTANCE_LOCK_NAME);
    return m_hMutex->Acquire() == CInstanceLock::eAcquired ? FALSE : TRUE;
}

CString CVarkoPrinters::InstanceLockProblem() const
{
    return m_hMutex ? m_hMutex->FailureReason() : CString();
}

POSITION CVarkoPrinters::GetFirstPrinter() const
{
    return m_printers.GetStartPosition();
}

CVarkoPrinterData* CVarkoPrinters::GetNextPrinter(POSITION& pos) const
{
    if (!pos)
        return nullptr;
    CString key;
    CObject* object = nullptr;
    m_printers.GetNextAssoc(pos, key, object);
    return dynamic_cast<CVarkoPrinterData*>(object);
}

int CVarkoPrinters::GetPrinterCount() const
{
    return m_printers.GetCount();
}

CVarkoPrinterData* CVarkoPrinters::FindPrinter(const CString& name) const
{
    CObject* object = nullptr;
    if (!m_printers.Lookup(name, object))
        return nullptr;
    return dynamic_cast<CVarkoPrinterData*>(object);
}

CString CVarkoPrinters::UniqueName(const CString& name) const
{
    CObject* found = nullptr;
    if (!m_printers.Lookup(name, found))
        return name;
    for (int n = 2;; ++n)
    {
        CString candidate = CString::Formatted("%s (%d)", name.GetString(), n);
        if (!m_printers.Lookup(candidate, found))
            return candidate;
    }
}

bool CVarkoPrinters::InsertPrinter(CVarkoPrinter* printer)
{
    CObject* holder = nullptr;
    bool renamed = false;
    if (m_printers.Lookup(printer->Name(), holder) && holder != printer)
    {
        printer->SetName(UniqueName(printer->Name()));
        renamed = true;
    }
    m_printers.SetAt(printer->Name(), printer);
    return renamed;
}

UINT CVarkoPrinters::IsPrinterInList(CVarkoPrinter* printer)
{
    CObject* found = nullptr;
    if (m_printers.Lookup(printer->Name(), found))
        return IDS_NAME_IN_USE;
    CString portName = printer->GetPort() ? printer->GetPort()->PortName() : CString();
    for (CObject* object : m_printers.Values())
    {
        if (CVarkoPrinter* other = Live(object);
            other && other->Port().CompareNoCase(portName) == 0)
            return IDS_PORT_IN_USE;
    }
    return 0;
}

bool CVarkoPrinters::ConfigurePrinter(CVarkoPrinter* printer, EConfigFlags flags)
{
    // What the printer was before the first OK. A clash takes the entered values over
    // (and replaces the port) before the user is asked again; a cancel after that must
    // give the printer back as it was, with its thread, or it would return to the map
    // under a name or port another printer holds.
    std::unique_ptr<CVarkoPrinter> before;
    bool hadThread = printer->HasThread();
    if (printer->GetPort())
        before = std::make_unique<CVarkoPrinter>(*printer);
    bool clashed = false;
    try
    {
        for (;;)
        {
            if (!printer->EditSettings(flags))
            {
                if (clashed && before)
                {
                    printer->AssignFrom(*before);
                    if (hadThread)
                        printer->StartThread();
                }
                return false;
            }
            if (UINT id = IsPrinterInList(printer))
            {
                clashed = true;
                AfxMessageBox(id, MB_OK);
                continue;
            }
            printer->StartThread();
            m_bModified = TRUE;
            return true;
        }
    }
    catch (const CVarkoPrinterException&)
    {
        printer->StopThreads();
        throw;
    }
}

void CVarkoPrinters::AddPrinter(CWnd* owner, EConfigFlags flags)
{
    CVarkoPrinter* printer = nullptr;
    try
    {
        printer = new CVarkoPrinter(owner);
        if (ConfigurePrinter(printer, flags))
            InsertPrinter(printer);
        else
        {
            printer->StopThreads(); // a port taken over before a clash is freed here
            delete printer;
        }
    }
    catch (const std::bad_alloc&)
    {
        if (printer)
            printer->StopThreads();
        delete printer;
        reportOutOfMemory();
    }
    catch (const CVarkoPrinterException&)
    {
        if (printer)
            printer->StopThreads();
        delete printer;
        throw;
    }
}

void CVarkoPrinters::ModifyPrinter(CVarkoPrinterData* data, EConfigFlags flags)
{
    CVarkoPrinter* printer = dynamic_cast<CVarkoPrinter*>(data);
    if (!printer)
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    // Only a printer of this collection: removing the entry by name alone would drop
    // another printer of the same name from the map, and take in one that belongs
    // elsewhere.
    CObject* holder = nullptr;
    if (!m_printers.Lookup(printer->Name(), holder) || holder != printer)
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    m_printers.RemoveKey(printer->Name());
    try
    {
        ConfigurePrinter(printer, flags);
    }
    catch (const CVarkoPrinterException&)
    {
        // ConfigurePrinter has stopped it; it leaves the collection.
        delete printer;
        throw;
    }
    catch (...)
    {
        // Anything else (out of memory) must not lose the printer with its thread still
        // running: one that is whole goes back into the list as it now is, one that
        // lost its thread on the way is stopped and destroyed.
        if (printer->HasThread() && printer->GetPort())
            InsertPrinter(printer);
        else
        {
            printer->StopThreads();
            delete printer;
        }
        throw;
    }
    InsertPrinter(printer);
}

void CVarkoPrinters::DeletePrinter(CVarkoPrinterData* data)
{
    CVarkoPrinter* printer = dynamic_cast<CVarkoPrinter*>(data);
    if (!printer)
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    printer->StopThreads();
    CObject* holder = nullptr;
    if (m_printers.Lookup(printer->Name(), holder) && holder == printer)
        m_printers.RemoveKey(printer->Name());
    delete printer;
    m_bModified = TRUE;
}

void CVarkoPrinters::ReconcilePrinterWithList(CWnd* owner, const CRuntimeClass* portClass,
                                              const CString& portName, const CString& printerName)
{
    ReconcilePrinterWithList(owner, portClass, portName, printerName, nullptr);
}

void CVarkoPrinters::ReconcilePrinterWithList(CWnd* owner, const CRuntimeClass* portClass,
                                              const CString& portName, const CString& printerName,
                                              const DWORD* checked)
{
    CVarkoPrinter* found = nullptr;
    for (CObject* object : m_printers.Values())
        if (CVarkoPrinter* p = Live(object); p && p->Port().CompareNoCase(portName) == 0)
        {
            found = p;
            break;
        }

    if (found)
    {
        // A name that another printer holds is not taken: renaming would push that
        // printer out of the map. The found printer keeps its name.
        CObject* holder = nullptr;
        if (!printerName.IsEmpty() && printerName != found->Name() &&
            !m_printers.Lookup(printerName, holder))
        {
            m_printers.RemoveKey(found->Name());
            found->SetName(printerName);
            m_bModified = TRUE;
        }
        InsertPrinter(found);
        return;
    }

    CVarkoPrinter* printer = nullptr;
    try
    {
        printer = new CVarkoPrinter(owner);
        printer->AttachPort(portClass, portName, printerName, checked);
        printer->StartThread();
        m_bModified = TRUE;
        InsertPrinter(printer); // a taken name becomes "Name (2)"
    }
    catch (const CVarkoPrinterException& e)
    {
        if (printer)
            printer->StopThreads();
        delete printer;
        if (e.GetErrorCode() != CVarkoPrinterException::eTimeout)
            e.ReportError(MB_OK, 0);
    }
    catch (const std::bad_alloc&)
    {
        if (printer)
            printer->StopThreads();
        delete printer;
        reportOutOfMemory();
    }
}

void CVarkoPrinters::AutoDetectPrinters(CWnd* owner)
{
    try
    {
        AutoDetectUSB(owner);
    }
    catch (const CVarkoPrinterException&)
    {
    }
    AutoDetectNetwork(owner);
}

bool CVarkoPrinters::AutoDetectUSB(CWnd* owner)
{
    CString name = USB_LIBRARY_NAME;
    if (const char* other = std::getenv("VARKO_USB_LIBRARY"); other && *other)
        name = other;
    CStringArray paths;
    {
        CDynamicLibrary library;
        if (!library.Load(name))
            return false;
        auto detect = reinterpret_cast<DetectUSBDevicesFn>(library.GetProcAddress(kUsbEntryPoint));
        if (!detect)
            return false;
        detect(&paths);
        // Released before the printers are attached: the paths are our own copies.
    }
    for (int i = 0; i < paths.GetSize(); ++i)
        ReconcilePrinterWithList(owner, RUNTIME_CLASS(CUSBPort), paths.GetAt(i), CString());
    return false;
}

bool CVarkoPrinters::AutoDetectNetwork(CWnd* owner)
{
    // The search makes the test connections of the printers it would add, side by side
    // and within its bounds; reconciling then connects to nobody.
    auto known = [&](const CString& address)
    {
        for (CObject* object : m_printers.Values())
            if (CVarkoPrinter* p = Live(object); p && p->Port().CompareNoCase(address) == 0)
                return true;
        return false;
    };
    if (NetworkSearchRunner search = GetNetworkSearchRunner())
        search(owner, known,
               [&](const CString& address, const CString& name, DWORD checked) {
                   ReconcilePrinterWithList(owner, RUNTIME_CLASS(CNetworkPort), address, name,
                                            &checked);
               });
    return false;
}

void CVarkoPrinters::Serialize(CArchive& ar, CWnd* owner)
{
    if (ar.IsStoring())
    {
        ar << static_cast<DWORD>(GetPrinterCount());
        for (CObject* object : m_printers.Values())
        {
            object->Serialize(ar);
        }
        return;
    }
    DWORD count = 0;
    ar >> count;
    for (DWORD i = 0; i < count; ++i)
    {
        auto printer = std::make_unique<CVarkoPrinter>(owner);
        printer->Serialize(ar);
        try
        {
            printer->StartThread();
        }
        catch (...)
        {
            printer->StopThreads();
            throw;
        }
        // Two printers of one name in a file: the second becomes "Name (2)", so both
        // stay and neither is lost. The list then differs from the file, and the user
        // must be asked to save the corrected one.
        if (InsertPrinter(printer.release()))
            m_bModified = TRUE;
    }
}

void CVarkoPrinters::LoadFromFile(const CString& path, CWnd* owner)
{
    CArchive ar(ReadWholeFile(path, MAX_SETTINGS_FILE_BYTES), path);
    // All or nothing: a file that fails part way adds none of its printers, so a
    // program never goes on with half a file that a later save would make permanent.
    std::vector<CObject*> already;
    for (CObject* object : m_printers.Values())
    {
        already.push_back(object);
    }
    BOOL modified = m_bModified;
    try
    {
        Serialize(ar, owner);
    }
    catch (...)
    {
        std::vector<CVarkoPrinter*> added;
        for (CObject* object : m_printers.Values())
        {
            if (std::find(already.begin(), already.end(), object) == already.end())
                added.push_back(Live(object));
        }
        for (CVarkoPrinter* p : added)
            DeletePrinter(p);
        m_bModified = modified;
        throw;
    }
}

std::vector<std::uint8_t> CVarkoPrinters::SaveToBytes()
{
    CArchive ar(CArchive::store);
    Serialize(ar, nullptr);
    return ar.Buffer();
}

void CVarkoPrinters::SaveToFile(const CString& path)
{
    WriteFileAtomically(path, SaveToBytes());
}

namespace
{
template <typename Fn> void forEachSelected(const CMapStringToOb& printers, Fn&& fn)
{
    for (CObject* object : printers.Values())
    {
        CVarkoPrinter* printer = dynamic_cast<CVarkoPrinter*>(object);
        if (!printer)
            continue;
        try
        {
            fn(*printer);
        }
        catch (const CVarkoPrinterException& e)
        {
            e.ReportError(MB_OK, 0);
        }
    }
}
} // namespace

void CVarkoPrinters::PrintTestPageRLX(const CMapStringToOb& printers) const
{
    forEachSelected(printers, [](CVarkoPrinter& p) { p.PrintTestPageRLX(); });
}

void CVarkoPrinters::PrintTestPageTPX(const CMapStringToOb& printers) const
{
    forEachSelected(printers, [](CVarkoPrinter& p) { p.PrintTestPageTPX(); });
}

void CVarkoPrinters::PrintOdometers(const CMapStringToOb& printers, EDisplayUnits units) const
{
    forEachSelected(printers, [units](CVarkoPrinter& p) { p.PrintOdometers(units); });
}

void CVarkoPrinters::PrintHeadHistory(const CMapStringToOb& printers, EDisplayUnits units) const
{
    forEachSelected(printers, [units](CVarkoPrinter& p) { p.PrintHeadHistory(units); });
}

int CVarkoPrinters::MaxSimultaneousDownloads() const
{
    return CSettingsMachine().GetMaxDownloads();
}

void CVarkoPrinters::MaxSimultaneousDownloads(int maxDownloads)
{
    CSettingsMachine().SetMaxDownloads(maxDownloads);
}

void CVarkoPrinters::SetDownloadFile(CVarkoPrinterData* printer, const CString& path)
{
    if (!printer)
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    if (printer->DownloadFile().CompareNoCase(path) != 0)
        m_bModified = TRUE;
    printer->DownloadFile(path);
}

void CVarkoPrinters::DownloadToPrinters(const CMapStringToOb* printers)
{
    OutputDebugString("Enter DownloadToPrinters\n");
    const CMapStringToOb& selection = printers ? *printers : m_printers;
    for (CObject* object : selection.Values())
    {
        CVarkoPrinter* printer = Live(object);
        if (!printer || printer->DownloadFile().IsEmpty())
            continue;
        OutputDebugString((printer->DownloadFile() + "\n").GetString());
        printer->StartDownload(MaxSimultaneousDownloads());
    }
}

void CVarkoPrinters::CancelDownload() const
{
    for (CObject* object : m_printers.Values())
    {
        CVarkoPrinter* printer = Live(object);
        if (printer && !printer->DownloadFile().IsEmpty())
            printer->CancelDownload();
    }
}

bool CVarkoPrinters::WaitForPrinterJobs(DWORD timeoutMs) const
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (CObject* object : m_printers.Values())
    {
        CVarkoPrinter* printer = Live(object);
        if (!printer)
            continue;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        until - std::chrono::steady_clock::now())
                        .count();
        if (!printer->WaitForJob(static_cast<DWORD>(left > 0 ? left : 0)))
            return false;
    }
    return true;
}

UINT CVarkoPrinters::AddPrinter(CWnd* owner, const CPrinterSettings& settings)
{
    const CRuntimeClass* portClass = CRuntimeClass::FromName(settings.portClass.GetString());
    if (!portClass || portClass == RUNTIME_CLASS(CPortBase) ||
        !portClass->IsDerivedFrom(RUNTIME_CLASS(CPortBase)))
        throw CVarkoPrinterException(CVarkoPrinterException::ePortUnavailable);
    auto printer = std::make_unique<CVarkoPrinter>(owner);
    auto* port = static_cast<CPortBase*>(portClass->CreateObject());
    printer->SetPort(port);
    port->SetPortName(settings.portName);
    // The same validation as the serial settings dialog: the first value refused throws.
    if (auto* serial = dynamic_cast<CSerialPort*>(port))
        serial->SetSettings(settings.baudRate, settings.dataBits, settings.parity,
                            settings.stopBits, settings.flowControl);
    if (auto* network = dynamic_cast<CNetworkPort*>(port))
        network->m_tcpPort = settings.tcpPort;
    if (!settings.name.IsEmpty())
        printer->SetName(settings.name);
    printer->Model(settings.model);
    printer->m_bCalibrate = settings.calibrate;
    if (UINT id = IsPrinterInList(printer.get()))
        return id; // no thread was started; the printer and its port go with it
    printer->StartThread();
    m_bModified = TRUE;
    InsertPrinter(printer.release());
    return 0;
}

CPrinterSettings CVarkoPrinters::GetPrinterSettings(const CVarkoPrinterData* data) const
{
    const CVarkoPrinter* printer = dynamic_cast<const CVarkoPrinter*>(data);
    if (!printer)
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    CPrinterSettings s;
    s.name = printer->Name();
    s.model = printer->StoredModel();
    s.downloadFile = printer->DownloadFile();
    s.calibrate = printer->m_bCalibrate;
    if (const CPortBase* port = printer->GetPort())
    {
        s.portClass = port->GetRuntimeClass()->m_lpszClassName;
        s.portName = port->PortName();
        s.devicePath = port->DeviceName();
        if (auto* serial = dynamic_cast<const CSerialPort*>(port))
            serial->GetSettings(s.baudRate, s.dataBits, s.parity, s.stopBits, s.flowControl);
        if (auto* network = dynamic_cast<const CNetworkPort*>(port))
            s.tcpPort = network->m_tcpPort;
    }
    return s;
}

void CVarkoPrinters::SetCalibrate(CVarkoPrinterData* data, bool calibrate)
{
    CVarkoPrinter* printer = dynamic_cast<CVarkoPrinter*>(data);
    if (!printer)
        throw CVarkoPrinterException(CVarkoPrinterException::eConfiguration);
    if (printer->m_bCalibrate != calibrate)
        m_bModified = TRUE;
    printer->m_bCalibrate = calibrate;
}
