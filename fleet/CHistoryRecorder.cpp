#include "CHistoryRecorder.h"

#include "CException.h"
#include "CVarkoPrinters.h"
#include "HistoryUnits.h"

CHistoryRecorder::CHistoryRecorder(Report report, std::string path)
    : m_report(std::move(report)), m_path(std::move(path))
{
}

CHistoryRecorder::~CHistoryRecorder() = default;

std::string CHistoryRecorder::PortOf(const CVarkoPrinters& printers,
                                     const CVarkoPrinterData& printer)
{
    try
    {
        const CString port = printers.GetPrinterSettings(&printer).portName;
        if (!port.IsEmpty())
            return port.str();
    }
    catch (const CException&)
    {
        // A record the collection does not hold: its display name will do.
    }
    return printer.PortDisplayName().str();
}

OdometerReading CHistoryRecorder::MakeReading(const CVarkoPrinters& printers,
                                              const CVarkoPrinterData& printer,
                                              const CString& serial, const CString& model, int head,
                                              int total, EDisplayUnits units)
{
    OdometerReading r;
    r.serial = serial.str();
    r.name = printer.Name().str();
    r.model = model.str();
    r.port = PortOf(printers, printer);
    if (head >= 0)
        r.head = head;
    if (total >= 0)
        r.total = total;
    r.unit = HistoryUnitOf(units);
    return r;
}

std::optional<OdometerReading> CHistoryRecorder::ReadingOf(const CVarkoPrinters& printers,
                                                           const CPrinterAnswers& a,
                                                           EDisplayUnits units)
{
    if (!a.asked || !a.printer || a.odometerFailure || (a.head < 0 && a.total < 0))
        return std::nullopt;
    OdometerReading r = MakeReading(printers, *a.printer, a.serialFailure ? CString() : a.serial,
                                    a.modelFailure ? CString() : a.model, a.head, a.total, units);
    r.time = NowUtcMillis();
    return r;
}

OdometerReading CHistoryRecorder::WhoOf(const CVarkoPrinters& printers,
                                        const CVarkoPrinterData& printer)
{
    OdometerReading who;
    who.time = NowUtcMillis();
    who.name = printer.Name().str();
    who.port = PortOf(printers, printer);
    return who;
}

void CHistoryRecorder::Add(OdometerReading reading)
{
    m_pending.push_back(std::move(reading));
}

void CHistoryRecorder::Failed(const std::string& message)
{
    m_lastError = message;
    if (m_reported)
        return;
    m_reported = true;
    if (m_report)
        m_report(message);
}

CReadingStore* CHistoryRecorder::Store()
{
    if (m_store && m_store->IsOpen())
        return m_store.get();
    try
    {
        auto store = std::make_unique<CReadingStore>(m_path);
        store->Open();
        m_store = std::move(store);
        m_lastError.clear();
        return m_store.get();
    }
    catch (const CReadingStoreError& e)
    {
        Failed(e.what());
    }
    return nullptr;
}

bool CHistoryRecorder::Commit()
{
    std::vector<OdometerReading> readings;
    readings.swap(m_pending);
    return Write(readings);
}

bool CHistoryRecorder::Write(const std::vector<OdometerReading>& readings)
{
    if (readings.empty())
        return true;
    CReadingStore* store = Store();
    if (!store)
        return false;
    CReadingStore::FillResult result;
    try
    {
        result = store->RecordFill(readings);
    }
    catch (const CReadingStoreError& e)
    {
        // Opened again next time: the file may have been mended or moved meanwhile.
        m_store.reset();
        Failed(e.what());
        return false;
    }
    for (const std::string& name : result.clamped)
        Notice(name + ": an odometer value was larger than the printer library can pass on "
                      "(2147483647); the reading is not kept in the odometer history");
    for (const std::string& serial : result.sharedSerials)
        Notice("Serial number " + serial +
               " was reported by printers on different ports; "
               "their odometer histories are kept apart by port");
    std::lock_guard g(m_serialsLock);
    for (const OdometerReading& r : readings)
        m_serials[{r.name, r.port}] = r.serial;
    return true;
}

void CHistoryRecorder::Notice(const std::string& message)
{
    // Once per recorder: a printer that keeps answering the same way is told of once.
    if (!m_notices.insert(message).second)
        return;
    if (m_notice)
        m_notice(message);
    else if (m_report)
        m_report(message);
}

std::string CHistoryRecorder::KnownSerial(const std::string& name, const std::string& port) const
{
    std::lock_guard g(m_serialsLock);
    auto it = m_serials.find({name, port});
    return it == m_serials.end() ? std::string() : it->second;
}

bool CHistoryRecorder::RecordHeadReset(const CVarkoPrinters& printers,
                                       const CVarkoPrinterData& printer)
{
    return RecordHeadReset(WhoOf(printers, printer));
}

bool CHistoryRecorder::RecordHeadReset(OdometerReading who)
{
    if (who.serial.empty())
        who.serial = KnownSerial(who.name, who.port);
    CReadingStore* store = Store();
    if (!store)
        return false;
    try
    {
        store->RecordHeadReset(who);
        return true;
    }
    catch (const CReadingStoreError& e)
    {
        m_store.reset();
        Failed(e.what());
    }
    return false;
}

bool CHistoryRecorder::RecordSerialChange(OdometerReading who, const std::string& oldSerial)
{
    CReadingStore* store = Store();
    if (!store)
        return false;
    try
    {
        store->RecordSerialChange(who, oldSerial);
    }
    catch (const CReadingStoreError& e)
    {
        m_store.reset();
        Failed(e.what());
        return false;
    }
    std::lock_guard g(m_serialsLock);
    m_serials[{who.name, who.port}] = who.serial;
    return true;
}

std::optional<StoredPrinter> CHistoryRecorder::FindPrinter(const CVarkoPrinters& printers,
                                                           const CVarkoPrinterData& printer)
{
    CReadingStore* store = Store();
    if (!store)
        return std::nullopt;
    const std::string name = printer.Name().str();
    const std::string port = PortOf(printers, printer);
    try
    {
        return store->FindPrinter(KnownSerial(name, port), name, port);
    }
    catch (const CReadingStoreError& e)
    {
        m_store.reset();
        Failed(e.what());
    }
    return std::nullopt;
}
