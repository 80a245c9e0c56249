#pragma once
// Odometer History: every reading kept of one printer, as a plot of head and total
// usage over time with the head changes marked, as a table (newest first), and the
// forecast of its head's wear. "Head Life..." sets the model's head life, which the
// forecast needs; "Export CSV..." writes the readings as `odomira-cli history --csv`
// does, except that a field that would start a spreadsheet formula is kept as text.
//
// Times are shown in local time; the exported file has them in UTC.
//
// Threading: user-interface thread only.
#include "CDialog.h"
#include "CString.h"
#include "CVarkoPrinterData.h"
#include "CWearForecast.h"

#include <optional>

class CReadingStore;
class QChart;
class QChartView;
class QLabel;
class QPushButton;
class QTableWidget;

class COdometerHistoryDlg : public CDialog
{
    Q_OBJECT
public:
    static constexpr UINT IDD = 134;

    // `history` is empty when the printer has no readings yet; `store` (which may be
    // null when the history cannot be used) keeps the head lives.
    COdometerHistoryDlg(const CString& printerName, std::optional<PrinterHistory> history,
                        CReadingStore* store, EDisplayUnits units, UtcMillis now = NowUtcMillis());
    ~COdometerHistoryDlg() override;

    // Why the history could not be read, shown in place of the forecast.
    void SetProblem(const std::string& problem) { m_problem = problem; }

    BOOL OnInitDialog() override;

    QChart* Chart() const;
    const WearForecast& Forecast() const { return m_forecast; }
    QString ForecastText() const;

    void OnHeadLife();
    void OnExportCsv();

private:
    void FillChart();
    void FillTable();
    void UpdateForecast();
    double Shown(double value, OdometerUnit unit) const;
    QString UnitText() const;

    CString m_printerName;
    std::optional<PrinterHistory> m_history;
    CReadingStore* m_store;
    EDisplayUnits m_units;
    UtcMillis m_now;
    WearForecast m_forecast;
    std::string m_problem;

    QLabel* m_printer;
    QChartView* m_chartView;
    QTableWidget* m_table;
    QLabel* m_forecastText;
    QPushButton* m_headLife;
    QPushButton* m_export;
};
