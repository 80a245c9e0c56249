#include "COdometerHistoryDlg.h"

#include "CHeadLifeDlg.h"
#include "CReadingStore.h"
#include "FileNamePrompt.h"
#include "HistoryTable.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QChart>
#include <QChartView>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineSeries>
#include <QPushButton>
#include <QSaveFile>
#include <QScatterSeries>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace
{
constexpr double kMillisPerDay = 86400000.0;

// "12.0 to 30.5 days": the days left at the fastest and the slowest wear of the range.
QString DaysRange(const WearForecast& f)
{
    const QString low =
        f.daysLeftLow ? QString::number(*f.daysLeftLow, 'f', 1) : QStringLiteral("?");
    const QString high =
        f.daysLeftHigh ? QString::number(*f.daysLeftHigh, 'f', 1) : QStringLiteral("no end");
    return QStringLiteral("%1 to %2").arg(low, high);
}

QString LocalTime(UtcMillis time)
{
    return QDateTime::fromMSecsSinceEpoch(time).toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString LocalDate(UtcMillis time)
{
    return QDateTime::fromMSecsSinceEpoch(time).toString(QStringLiteral("yyyy-MM-dd"));
}

QString Text(const std::string& bytes)
{
    return ToQString(CString(bytes));
}

// The histories kept under the printer's key before it took the key over: each one is
// another printer's, so its readings are left out of the plot and the table.
QString EarlierText(const std::vector<StoredPrinter>& earlier)
{
    QString text;
    for (const StoredPrinter& e : earlier)
        text += QStringLiteral("\nAn earlier printer under this key (model %1, seen %2 to %3, "
                               "%4 readings) is kept apart; its readings are not shown.")
                    .arg(Text(e.model), LocalDate(e.firstSeen), LocalDate(e.lastSeen))
                    .arg(e.readingCount);
    return text;
}

QString ChangeText(const std::string& key)
{
    if (key == HeadChangeKey(HeadChangeKind::reset))
        return QStringLiteral("Head reset");
    if (key == HeadChangeKey(HeadChangeKind::lowerValue))
        return QStringLiteral("Head changed");
    return QString();
}

// What the table shows of each row, in this order: the times in local time, then the
// row's own cells.
const struct
{
    const char* heading;
    int cell; // -1: first seen, -2: last seen
} kTableColumns[] = {{"First Seen", -1},
                     {"Last Seen", -2},
                     {"Head Usage", HISTORY_HEAD},
                     {"Total Usage", HISTORY_TOTAL},
                     {"Units", HISTORY_UNITS},
                     {"Head Change", HISTORY_CHANGE},
                     {"Printer Name", HISTORY_NAME},
                     {"Model", HISTORY_MODEL},
                     {"Port", HISTORY_PORT}};
} // namespace

COdometerHistoryDlg::COdometerHistoryDlg(const CString& printerName,
                                         std::optional<PrinterHistory> history,
                                         CReadingStore* store, EDisplayUnits units, UtcMillis now)
    : CDialog(IDD, nullptr), m_printerName(printerName), m_history(std::move(history)),
      m_store(store), m_units(units), m_now(now)
{
    // A plot and a table want room: this one dialog may be resized.
    setWindowFlags(windowFlags() & ~Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(QStringLiteral("Odometer History - ") + ToQString(printerName));
    setSizeGripEnabled(true);

    m_printer = new QLabel(this);
    m_printer->setTextFormat(Qt::PlainText);
    SetControlId(m_printer, IDC_HISTORY_PRINTER, "IDC_HISTORY_PRINTER");

    m_chartView = new QChartView(new QChart, this);
    SetControlId(m_chartView, IDC_HISTORY_CHART, "IDC_HISTORY_CHART");
    m_chartView->setRenderHint(QPainter::Antialiasing);
    m_chartView->setMinimumSize(DialogUnitsX(320), DialogUnitsY(130));

    m_table = new QTableWidget(0, int(std::size(kTableColumns)), this);
    SetControlId(m_table, IDC_HISTORY_TABLE, "IDC_HISTORY_TABLE");
    QStringList headings;
    for (const auto& column : kTableColumns)
        headings << QString::fromLatin1(column.heading);
    m_table->setHorizontalHeaderLabels(headings);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    m_table->horizontalHeader()->setStretchLastSection(true);

    m_forecastText = new QLabel(this);
    m_forecastText->setTextFormat(Qt::PlainText);
    m_forecastText->setWordWrap(true);
    SetControlId(m_forecastText, IDC_HISTORY_FORECAST, "IDC_HISTORY_FORECAST");

    m_headLife = new QPushButton(QStringLiteral("Head &Life..."), this);
    SetControlId(m_headLife, IDC_HISTORY_HEAD_LIFE, "IDC_HISTORY_HEAD_LIFE");
    m_export = new QPushButton(QStringLiteral("&Export CSV..."), this);
    SetControlId(m_export, IDC_HISTORY_EXPORT, "IDC_HISTORY_EXPORT");
    auto* close = new QPushButton(QStringLiteral("Close"), this);
    SetControlId(close, IDOK, "IDOK");
    close->setDefault(true);
    connect(m_headLife, &QPushButton::clicked, this, [this] { OnHeadLife(); });
    connect(m_export, &QPushButton::clicked, this, [this] { OnExportCsv(); });
    connect(close, &QPushButton::clicked, this, [this] { OnOK(); });

    auto* split = new QSplitter(Qt::Vertical, this);
    split->addWidget(m_chartView);
    split->addWidget(m_table);
    split->setStretchFactor(0, 3);
    split->setStretchFactor(1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_printer);
    layout->addWidget(split, 1);
    layout->addWidget(m_forecastText);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_headLife);
    buttons->addWidget(m_export);
    buttons->addStretch();
    buttons->addWidget(close);
    layout->addLayout(buttons);
    SetTabOrderList({m_table, m_headLife, m_export, close});
    resize(DialogUnitsX(420), DialogUnitsY(330));
}

COdometerHistoryDlg::~COdometerHistoryDlg() = default;

BOOL COdometerHistoryDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (m_history)
    {
        const StoredPrinter& p = m_history->printer;
        m_printer->setText(
            QStringLiteral("Serial number: %1    Model: %2    Port: %3%4")
                .arg(p.serial.empty() ? ToQString(LoadStringById(IDS_NOT_SET)) : Text(p.serial),
                     Text(p.model), Text(p.port),
                     p.sharedSerial ? QStringLiteral("    (another printer reports the same "
                                                     "serial number; kept apart by port)")
                                    : QString()) +
            EarlierText(m_history->earlier));
    }
    else
        m_printer->setText(ToQString(m_printerName));
    FillChart();
    FillTable();
    UpdateForecast();
    m_export->setEnabled(m_history && !m_history->readings.empty());
    m_headLife->setEnabled(m_history && m_store);
    return TRUE;
}

QChart* COdometerHistoryDlg::Chart() const
{
    return m_chartView->chart();
}

double COdometerHistoryDlg::Shown(double value, OdometerUnit unit) const
{
    const OdometerUnit shown =
        m_units == eUnitsMillimeters ? OdometerUnit::millimeters : OdometerUnit::inches;
    return unit == shown ? value : FromInches(ToInches(value, unit), shown);
}

QString COdometerHistoryDlg::UnitText() const
{
    return ToQString(LoadStringById(m_units == eUnitsMillimeters ? IDS_MILLIMETERS_ABBREVIATION
                                                                 : IDS_INCHES_ABBREVIATION));
}

void COdometerHistoryDlg::FillChart()
{
    QChart* chart = Chart();
    chart->removeAllSeries();
    for (QAbstractAxis* axis : chart->axes())
        chart->removeAxis(axis);
    chart->legend()->setAlignment(Qt::AlignBottom);
    chart->setMargins(QMargins(4, 4, 4, 4));

    auto* head = new QLineSeries;
    head->setName(QStringLiteral("Head Usage (%1)").arg(UnitText()));
    head->setObjectName(QStringLiteral("headSeries"));
    auto* total = new QLineSeries;
    total->setName(QStringLiteral("Total Usage (%1)").arg(UnitText()));
    total->setObjectName(QStringLiteral("totalSeries"));
    auto* changes = new QScatterSeries;
    changes->setName(QStringLiteral("Head changed"));
    changes->setObjectName(QStringLiteral("changeSeries"));
    changes->setMarkerShape(QScatterSeries::MarkerShapeRectangle);
    changes->setMarkerSize(9);

    UtcMillis first = m_now, last = m_now;
    double headTop = 1, totalLow = -1, totalTop = 1;
    if (m_history && !m_history->readings.empty())
    {
        first = m_history->readings.front().firstSeen;
        last = first;
        for (const StoredReading& r : m_history->readings)
        {
            // Each entry stands for the whole time its values were seen.
            for (UtcMillis t : {r.firstSeen, r.lastSeen})
            {
                if (r.head)
                    head->append(double(t), Shown(double(*r.head), r.unit));
                if (r.total)
                    total->append(double(t), Shown(double(*r.total), r.unit));
                if (r.lastSeen == r.firstSeen)
                    break;
            }
            last = std::max(last, r.lastSeen);
            if (r.head)
                headTop = std::max(headTop, Shown(double(*r.head), r.unit));
            if (r.total)
            {
                const double shown = Shown(double(*r.total), r.unit);
                totalTop = std::max(totalTop, shown);
                totalLow = totalLow < 0 ? shown : std::min(totalLow, shown);
            }
        }
        // A change is marked where the old head ended.
        for (const HeadChange& c : m_history->changes)
            if (c.headBefore)
                changes->append(double(c.time), Shown(double(*c.headBefore), c.unitBefore));
            else
                changes->append(double(c.time), 0);
    }
    if (last <= first)
    {
        first -= 12 * 3600 * 1000;
        last += 12 * 3600 * 1000;
    }

    chart->addSeries(head);
    chart->addSeries(total);
    chart->addSeries(changes);
    auto* time = new QDateTimeAxis;
    time->setFormat(last - first > 3 * kMillisPerDay ? QStringLiteral("yyyy-MM-dd")
                                                     : QStringLiteral("MM-dd HH:mm"));
    time->setRange(QDateTime::fromMSecsSinceEpoch(first), QDateTime::fromMSecsSinceEpoch(last));
    time->setTickCount(5);
    chart->addAxis(time, Qt::AlignBottom);
    auto* headAxis = new QValueAxis;
    headAxis->setTitleText(QStringLiteral("Head (%1)").arg(UnitText()));
    headAxis->setLabelFormat(QStringLiteral("%.0f"));
    headAxis->setRange(0, headTop * 1.05);
    headAxis->applyNiceNumbers();
    chart->addAxis(headAxis, Qt::AlignLeft);
    auto* totalAxis = new QValueAxis;
    totalAxis->setTitleText(QStringLiteral("Total (%1)").arg(UnitText()));
    totalAxis->setLabelFormat(QStringLiteral("%.0f"));
    // The total only grows, and over months by a small part of what it is: its scale
    // spans what the printer did in this time, not everything since it was built.
    const double margin = std::max(1.0, (totalTop - std::max(totalLow, 0.0)) * 0.05);
    totalAxis->setRange(std::max(0.0, std::max(totalLow, 0.0) - margin), totalTop + margin);
    totalAxis->applyNiceNumbers();
    chart->addAxis(totalAxis, Qt::AlignRight);
    for (QAbstractSeries* series :
         {static_cast<QAbstractSeries*>(head), static_cast<QAbstractSeries*>(changes)})
    {
        series->attachAxis(time);
        series->attachAxis(headAxis);
    }
    total->attachAxis(time);
    total->attachAxis(totalAxis);
}

void COdometerHistoryDlg::FillTable()
{
    m_table->setRowCount(0);
    if (!m_history)
        return;
    std::vector<HistoryRow> rows = HistoryRows(*m_history);
    std::reverse(rows.begin(), rows.end());
    m_table->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r)
    {
        const HistoryRow& row = rows[std::size_t(r)];
        for (int c = 0; c < int(std::size(kTableColumns)); ++c)
        {
            const int cell = kTableColumns[c].cell;
            QString text;
            if (cell == -1)
                text = LocalTime(row.firstSeen);
            else if (cell == -2)
                text = LocalTime(row.lastSeen);
            else if (cell == HISTORY_CHANGE)
                text = ChangeText(row.cells[std::size_t(cell)]);
            else
                text = Text(row.cells[std::size_t(cell)]);
            m_table->setItem(r, c, new QTableWidgetItem(text));
        }
    }
    m_table->resizeColumnsToContents();
}

void COdometerHistoryDlg::UpdateForecast()
{
    m_forecast = WearForecast{};
    if (!m_problem.empty())
    {
        m_forecastText->setText(Text(m_problem));
        return;
    }
    if (!m_history || m_history->readings.empty())
    {
        m_forecastText->setText(QStringLiteral(
            "No readings are kept for this printer. A reading is kept each time the printer "
            "list is filled."));
        return;
    }
    std::optional<double> life;
    if (m_store)
    {
        try
        {
            life = m_store->HeadLife(m_history->printer.model);
        }
        catch (const CReadingStoreError& e)
        {
            AfxMessageBox(e.what(), MB_OK | MB_ICONEXCLAMATION);
        }
    }
    m_forecast = ForecastWear(*m_history, life, m_now);
    m_forecastText->setText(ForecastText());
}

QString COdometerHistoryDlg::ForecastText() const
{
    if (!m_forecast.headInches)
        return m_forecastText->text();
    const WearForecast& f = m_forecast;
    const OdometerUnit shown =
        m_units == eUnitsMillimeters ? OdometerUnit::millimeters : OdometerUnit::inches;
    QString since = f.sinceKind == HeadChangeKind::reset        ? QStringLiteral("head reset")
                    : f.sinceKind == HeadChangeKind::lowerValue ? QStringLiteral("head changed")
                                                                : QStringLiteral("first reading");
    QStringList lines;
    lines << QStringLiteral("Head in use since %1 (%2): %3 readings over %4 days.")
                 .arg(LocalTime(f.since), since)
                 .arg(f.readingsUsed)
                 .arg(f.spanDays, 0, 'f', 1);
    if (f.inchesPerDay)
        lines << QStringLiteral("Wear: %1 %2 a day (%3 to %4).")
                     .arg(FromInches(*f.inchesPerDay, shown), 0, 'f', 2)
                     .arg(UnitText())
                     .arg(FromInches(f.inchesPerDayLow.value_or(*f.inchesPerDay), shown), 0, 'f', 2)
                     .arg(FromInches(f.inchesPerDayHigh.value_or(*f.inchesPerDay), shown), 0, 'f',
                          2);
    else
        lines << QStringLiteral("Wear: not known until the printer has been read three times "
                                "over at least a day with this head.");
    const QString model = Text(m_history->printer.model);
    if (!f.headLifeInches)
        lines << QStringLiteral("Head life of %1: not set (Head Life... sets it).").arg(model);
    else if (!f.daysLeft)
        lines << QStringLiteral("Head life of %1: %2 %3; no wear measured, so no date.")
                     .arg(model)
                     .arg(FromInches(*f.headLifeInches, shown), 0, 'f', 0)
                     .arg(UnitText());
    else if (*f.daysLeft >= 0)
        lines << QStringLiteral("Head life of %1: %2 %3; %4 days left (%5), due on %6.")
                     .arg(model)
                     .arg(FromInches(*f.headLifeInches, shown), 0, 'f', 0)
                     .arg(UnitText())
                     .arg(*f.daysLeft, 0, 'f', 1)
                     .arg(DaysRange(f))
                     .arg(f.due ? LocalDate(*f.due) : QStringLiteral("no date before 9999"));
    else
        lines << QStringLiteral("Head life of %1: %2 %3; reached on %4, %5 days ago.")
                     .arg(model)
                     .arg(FromInches(*f.headLifeInches, shown), 0, 'f', 0)
                     .arg(UnitText())
                     .arg(f.due ? LocalDate(*f.due) : QStringLiteral("?"))
                     .arg(-*f.daysLeft, 0, 'f', 1);
    return lines.join(QLatin1Char('\n'));
}

void COdometerHistoryDlg::OnHeadLife()
{
    if (!m_history || !m_store)
        return;
    const std::string model = m_history->printer.model;
    try
    {
        CHeadLifeDlg dlg(CString(model), m_store->HeadLife(model), m_units, this);
        if (dlg.DoModal() != IDOK)
            return;
        m_store->SetHeadLife(model, dlg.m_headLifeInches);
    }
    catch (const CReadingStoreError& e)
    {
        AfxMessageBox(e.what(), MB_OK | MB_ICONEXCLAMATION);
    }
    UpdateForecast();
}

void COdometerHistoryDlg::OnExportCsv()
{
    if (!m_history)
        return;
    QString path = ToQString(m_printerName) + QStringLiteral(" odometers.csv");
    if (!AskFileName(
            this, false, QStringLiteral("Export CSV"),
            {QStringLiteral("CSV Files (*.csv)"), ToQString(LoadStringById(AFX_IDS_ALLFILTER))},
            path))
        return;
    // Written beside the target and renamed over it: a failed export leaves any older
    // file of that name as it was.
    QSaveFile file(path);
    const std::string csv = HistoryCsv({*m_history}, ECsvUse::eForSpreadsheet);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(csv.data(), qint64(csv.size())) != qint64(csv.size()) || !file.commit())
    {
        CString text;
        text.Format(LoadStringById(IDS_HISTORY_EXPORT_FAILED).GetString(),
                    FromQString(path).GetString(), FromQString(file.errorString()).GetString());
        AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    }
}
