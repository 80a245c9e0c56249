#pragma once
// Where the printer list's fills meet the reading store: a fill hands over each
// printer's answers as they are shown, and at its end they go into the store in one
// transaction. A store that cannot be used (damaged, unwritable, locked too long) is
// told of once, through the report function, and the fills go on without history;
// every later fill tries again quietly, so a store that has been mended is used again.
//
// Both programs use it: the window for its list, odomira-cli for `list`.
//
// Threading: one thread uses a recorder (the owner of the printer records, or the
// history writer's thread); KnownSerial may be asked from any.
#include "CPrinterAnswers.h"
#include "CReadingStore.h"

#include "CString.h"
#include "CVarkoPrinterData.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

class CVarkoPrinters;

class CHistoryRecorder
{
public:
    using Report = std::function<void(const std::string& message)>;

    explicit CHistoryRecorder(Report report, std::string path = CReadingStore::DefaultPath());
    ~CHistoryRecorder();
    CHistoryRecorder(const CHistoryRecorder&) = delete;
    CHistoryRecorder& operator=(const CHistoryRecorder&) = delete;

    // What a fill's answers record, the same for every program: nothing when the
    // odometer question failed or gave no value; the serial number and model only
    // where their questions succeeded. Stamped with the time now.
    static std::optional<OdometerReading>
    ReadingOf(const CVarkoPrinters& printers, const CPrinterAnswers& answers, EDisplayUnits units);
    // The printer a reset is recorded for: its name and port, now.
    static OdometerReading WhoOf(const CVarkoPrinters& printers, const CVarkoPrinterData& printer);

    // One reading of the fill under way (see ReadingOf).
    void Add(OdometerReading reading);
    // Ends the fill: records every reading added since the last Commit. False when
    // the store could not take them.
    bool Commit();
    // Records the readings of one fill in one transaction; false (after the report)
    // when the store could not take them, which are then the caller's to keep.
    bool Write(const std::vector<OdometerReading>& readings);
    // Reset Head Odometer was confirmed for the printer now.
    bool RecordHeadReset(const CVarkoPrinters& printers, const CVarkoPrinterData& printer);
    bool RecordHeadReset(OdometerReading who);

    // Set Serial Number gave the printer `who` names (name, port, the new serial) a new
    // serial number: its history goes with it. `oldSerial` is what it reported before.
    bool RecordSerialChange(OdometerReading who, const std::string& oldSerial);

    // The store, opened; null (after the report) when it cannot be used.
    CReadingStore* Store();
    // The store's entry for a printer of the list: by the serial number it last
    // reported to a fill of this recorder, else by its name and port.
    std::optional<StoredPrinter> FindPrinter(const CVarkoPrinters& printers,
                                             const CVarkoPrinterData& printer);

    // The reading a fill's answers make, without the time.
    static OdometerReading MakeReading(const CVarkoPrinters& printers,
                                       const CVarkoPrinterData& printer, const CString& serial,
                                       const CString& model, int head, int total,
                                       EDisplayUnits units);
    // The serial number the printer (by name and port) last reported to a written fill.
    std::string KnownSerial(const std::string& name, const std::string& port) const;
    // The port as the settings file stores it, which tells printers apart where the
    // list shows only "USB".
    static std::string PortOf(const CVarkoPrinters& printers, const CVarkoPrinterData& printer);

    // Reports a failure; once per recorder.
    void Failed(const std::string& message);
    // Where a fill's readings are kept other than as they came (a clamped value, a
    // serial number two printers share) is told through `notice`; without one, through
    // the report function. Each text once per recorder.
    void SetNotice(Report notice) { m_notice = std::move(notice); }
    void Notice(const std::string& message);
    // The latest failure's text; empty after a success.
    const std::string& LastError() const { return m_lastError; }

private:
    Report m_report;
    Report m_notice;
    std::set<std::string> m_notices;
    std::string m_path;
    std::unique_ptr<CReadingStore> m_store;
    bool m_reported = false;
    std::string m_lastError;
    std::vector<OdometerReading> m_pending;
    // The serial number each printer (by name and port) last reported.
    mutable std::mutex m_serialsLock;
    std::map<std::pair<std::string, std::string>, std::string> m_serials;
};
