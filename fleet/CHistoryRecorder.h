#pragma once
// Where the printer list's fills meet the reading store: a fill hands over each
// printer's answers as they are shown, and at its end they go into the store in one
// transaction. A store that cannot be used (damaged, unwritable, locked too long) is
// told of once, through the report function, and the fills go on without history;
// every later fill tries again quietly, so a store that has been mended is used again.
//
// Both programs use it: the window for its list, odomira-cli for `list`.
//
// Threading: the thread that owns the printer records, after their answers are in.
#include "CReadingStore.h"

#include "CString.h"
#include "CVarkoPrinterData.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
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

    // One printer's answers during a fill, when its odometer question succeeded.
    // `serial` is empty when the printer reported none or its question failed; head
    // and total are negative where the printer gave no value.
    void Add(const CVarkoPrinters& printers, const CVarkoPrinterData& printer,
             const CString& serial, const CString& model, int head, int total, EDisplayUnits units);
    // Ends the fill: records every reading added since the last Commit. False when
    // the store could not take them.
    bool Commit();
    // Reset Head Odometer was confirmed for the printer now.
    bool RecordHeadReset(const CVarkoPrinters& printers, const CVarkoPrinterData& printer);

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
    // The port as the settings file stores it, which tells printers apart where the
    // list shows only "USB".
    static std::string PortOf(const CVarkoPrinters& printers, const CVarkoPrinterData& printer);

    // Reports a failure; once per recorder.
    void Failed(const std::string& message);
    // The latest failure's text; empty after a success.
    const std::string& LastError() const { return m_lastError; }

private:
    std::string KnownSerial(const std::string& name, const std::string& port) const;

    Report m_report;
    std::string m_path;
    std::unique_ptr<CReadingStore> m_store;
    bool m_reported = false;
    std::string m_lastError;
    std::vector<OdometerReading> m_pending;
    // The serial number each printer (by name and port) last reported.
    std::map<std::pair<std::string, std::string>, std::string> m_serials;
};
