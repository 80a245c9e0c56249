#include "CSerialPortSettingsDlg.h"

#include "CComboBox.h"
#include "CSerialPort.h"
#include "CVarkoPrinterException.h"
#include "DialogButtons.h"
#include "DialogResources.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <iterator>

namespace
{
template <std::size_t N> int PositionOf(const int (&values)[N], int value, int fallback)
{
    for (std::size_t i = 0; i < N; ++i)
        if (values[i] == value)
            return static_cast<int>(i);
    return fallback;
}

template <std::size_t N> int ValueAt(const int (&values)[N], int position, int defaultPosition)
{
    if (position < 0 || position >= static_cast<int>(N))
        position = defaultPosition;
    return values[position];
}

CComboBox* MakeList(QWidget* parent, int id, const char* symbol,
                    std::initializer_list<const char*> texts)
{
    auto* list = new CComboBox(false, parent);
    CDialog::SetControlId(list, id, symbol);
    for (const char* t : texts)
        list->AddString(t);
    return list;
}
} // namespace

CSerialPortSettingsDlg::CSerialPortSettingsDlg(CSerialPort* port, QWidget* parent)
    : CDialog(IDD, parent), m_pPort(port)
{
    setWindowTitle(QString::fromLatin1(DialogText::PortSettingsCaption));

    const auto [ok, cancel] = AddOkCancelButtons(this);

    m_tab = new QTabWidget(this);
    SetControlId(m_tab, IDC_SETTINGS_TAB, "IDC_SETTINGS_TAB");
    auto* page = new QWidget(m_tab);

    m_bitsPerSecond = MakeList(page, IDC_BAUD_RATE, "IDC_BAUD_RATE",
                               {"110", "300", "600", "1200", "2400", "4800", "9600", "14400",
                                "19200", "38400", "56000", "57600", "115200", "128000", "256000"});
    m_dataBits = MakeList(page, IDC_DATA_BITS, "IDC_DATA_BITS", {"7", "8"});
    m_parity = MakeList(page, IDC_PARITY, "IDC_PARITY", {"Even", "Odd", "None"});
    m_stopBits = MakeList(page, IDC_STOP_BITS, "IDC_STOP_BITS", {"1", "2"});
    m_flowControl =
        MakeList(page, IDC_FLOW_CONTROL, "IDC_FLOW_CONTROL", {"Xon / Xoff", "Hardware"});
    // Long enough lists that the speeds open without a scroll bar.
    m_bitsPerSecond->setMaxVisibleItems(15);

    m_restoreDefaults = new QPushButton(QString::fromLatin1(DialogText::RestoreDefaults), page);
    SetControlId(m_restoreDefaults, IDC_RESTORE_DEFAULTS, "IDC_RESTORE_DEFAULTS");
    m_restoreDefaults->setAutoDefault(false);
    connect(m_restoreDefaults, &QPushButton::clicked, this, [this] { OnRestoreDefaults(); });

    auto* group = new QGroupBox(page);
    group->setObjectName(QStringLiteral("IDC_STATIC_GROUP"));
    auto* grid = new QGridLayout(group);
    grid->setHorizontalSpacing(DialogUnitsX(4));
    grid->setVerticalSpacing(DialogUnitsY(8));
    struct Row
    {
        const char* text;
        const char* symbol;
        CComboBox* list;
    };
    const Row rows[] = {
        {DialogText::BitsPerSecond, "IDC_STATIC_BAUD_RATE", m_bitsPerSecond},
        {DialogText::DataBits, "IDC_STATIC_DATA_BITS", m_dataBits},
        {DialogText::Parity, "IDC_STATIC_PARITY", m_parity},
        {DialogText::StopBits, "IDC_STATIC_STOP_BITS", m_stopBits},
        {DialogText::FlowControl, "IDC_STATIC_FLOW_CONTROL", m_flowControl},
    };
    int r = 0;
    for (const Row& row : rows)
    {
        auto* label = new QLabel(QString::fromLatin1(row.text), group);
        label->setObjectName(QString::fromLatin1(row.symbol));
        label->setBuddy(row.list);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row.list->setParent(group);
        row.list->setMinimumWidth(DialogUnitsX(95));
        grid->addWidget(label, r, 1);
        grid->addWidget(row.list, r, 2);
        ++r;
    }
    grid->setColumnStretch(0, 1);
    grid->setColumnStretch(3, 1);
    grid->setContentsMargins(DialogUnitsX(8), DialogUnitsY(10), DialogUnitsX(8), DialogUnitsY(10));

    auto* pageLayout = new QVBoxLayout(page);
    pageLayout->setContentsMargins(DialogUnitsX(10), DialogUnitsY(10), DialogUnitsX(10),
                                   DialogUnitsY(10));
    pageLayout->setSpacing(DialogUnitsY(10));
    pageLayout->addWidget(group);
    auto* restoreRow = new QHBoxLayout;
    restoreRow->addStretch(1);
    restoreRow->addWidget(m_restoreDefaults);
    pageLayout->addLayout(restoreRow);
    pageLayout->addStretch(1);
    m_tab->addTab(page, QString::fromLatin1(DialogText::PortSettingsTab));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    ok->setMinimumWidth(DialogUnitsX(50));
    cancel->setMinimumWidth(DialogUnitsX(50));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(DialogUnitsX(7), DialogUnitsY(7), DialogUnitsX(7), DialogUnitsY(7));
    main->addWidget(m_tab, 1);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);
    setMinimumSize(DialogUnitsX(240), DialogUnitsY(218));

    SetTabOrderList({ok, cancel, m_tab, m_bitsPerSecond, m_dataBits, m_parity, m_stopBits,
                     m_flowControl, m_restoreDefaults});
}

BOOL CSerialPortSettingsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    if (!m_pPort)
    {
        OnRestoreDefaults();
        return TRUE;
    }
    int baudRate = 0, dataBits = 0, parity = 0, stopBits = 0, flowControl = 0;
    m_pPort->GetSettings(baudRate, dataBits, parity, stopBits, flowControl);
    m_bitsPerSecond->SetCurSel(PositionOf(kBaudRates, baudRate, DEFAULT_BAUD_POS));
    m_dataBits->SetCurSel(dataBits == 7 ? 0 : 1);
    m_parity->SetCurSel(parity == 1 ? 1 : (parity == 2 ? 0 : 2));
    m_stopBits->SetCurSel(stopBits == 2 ? 1 : 0);
    m_flowControl->SetCurSel(flowControl == 2 ? 1 : 0);
    return TRUE;
}

void CSerialPortSettingsDlg::OnRestoreDefaults()
{
    m_bitsPerSecond->SetCurSel(DEFAULT_BAUD_POS);
    m_dataBits->SetCurSel(DEFAULT_DATA_BITS_POS);
    m_parity->SetCurSel(DEFAULT_PARITY_POS);
    m_stopBits->SetCurSel(DEFAULT_STOP_BITS_POS);
    m_flowControl->SetCurSel(DEFAULT_FLOW_POS);
}

void CSerialPortSettingsDlg::OnOK()
{
    // Without a port there is nothing to write into; OK simply closes.
    if (m_pPort)
    {
        try
        {
            m_pPort->SetSettings(
                ValueAt(kBaudRates, m_bitsPerSecond->GetCurSel(), DEFAULT_BAUD_POS),
                ValueAt(kDataBits, m_dataBits->GetCurSel(), DEFAULT_DATA_BITS_POS),
                ValueAt(kParities, m_parity->GetCurSel(), DEFAULT_PARITY_POS),
                ValueAt(kStopBits, m_stopBits->GetCurSel(), DEFAULT_STOP_BITS_POS),
                ValueAt(kFlowControls, m_flowControl->GetCurSel(), DEFAULT_FLOW_POS));
        }
        catch (const CVarkoPrinterException& e)
        {
            // Every value offered is one the port accepts, so this means the tables
            // and the port disagree; say so and let the user choose again.
            e.ReportError();
            return;
        }
    }
    CDialog::OnOK();
}
