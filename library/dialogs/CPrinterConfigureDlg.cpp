#include "CPrinterConfigureDlg.h"

#include "CComboBox.h"
#include "CCommSingleton.h"
#include "CIPAddressCtrl.h"
#include "CNetworkPort.h"
#include "CParallelPort.h"
#include "CSerialPort.h"
#include "CSerialPortSettingsDlg.h"
#include "CUSBPort.h"
#include "CVarkoPrinterException.h"
#include "DialogButtons.h"
#include "DialogResources.h"
#include "LibraryStrings.h"
#include "QtText.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include <cctype>
#include <string>

namespace
{
// What the framework's integer exchange accepts: blanks, an optional sign, digits,
// blanks. Anything else is not a number; values beyond int are out of any range.
enum class ParseResult
{
    Ok,
    NotANumber,
    OutOfRange
};

ParseResult ParseInteger(const std::string& text, long long& value)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    std::size_t digits = 0;
    bool tooLong = false;
    value = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
    {
        if (value > 1'000'000'000'000LL)
            tooLong = true;
        else
            value = value * 10 + (text[i] - '0');
        ++i;
        ++digits;
    }
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    if (digits == 0 || i != text.size())
        return ParseResult::NotANumber;
    if (negative)
        value = -value;
    return tooLong ? ParseResult::OutOfRange : ParseResult::Ok;
}

QLabel* MakeLabel(QWidget* parent, const char* text, const char* symbol, int id = IDC_STATIC)
{
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    if (id == IDC_STATIC)
        label->setObjectName(QString::fromLatin1(symbol));
    else
        CDialog::SetControlId(label, id, symbol);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// The controls that share one place keep their room while hidden, so the dialog does
// not change shape when the connection type changes.
void KeepRoomWhenHidden(QWidget* w)
{
    QSizePolicy p = w->sizePolicy();
    p.setRetainSizeWhenHidden(true);
    w->setSizePolicy(p);
}
} // namespace

CPrinterConfigureDlg::CPrinterConfigureDlg(const CVarkoPrinter& printer, EConfigFlags flags,
                                           QWidget* parent)
    : CDialog(IDD, parent), m_nTCPPort(0), m_nCalibrate(0), m_flags(flags), m_printer(printer),
      m_bExchangeOK(true)
{
    setWindowTitle(QString::fromLatin1(DialogText::PrinterSettingsCaption));

    const auto [ok, cancel] = AddOkCancelButtons(this);

    m_commType = new CComboBox(true, this);
    SetControlId(m_commType, IDC_COMM_TYPE, "IDC_COMM_TYPE");
    auto* commTypeLabel = MakeLabel(this, DialogText::CommunicationType, "IDC_STATIC_COMM_TYPE");
    m_serialList = new CComboBox(true, this);
    SetControlId(m_serialList, IDC_SERIAL_PORT, "IDC_SERIAL_PORT");
    m_portLabel = MakeLabel(this, DialogText::Port, "IDC_PORT_LABEL", IDC_PORT_LABEL);
    m_addressLabel =
        MakeLabel(this, DialogText::TcpIpAddress, "IDC_ADDRESS_LABEL", IDC_ADDRESS_LABEL);
    m_address = new CIPAddressCtrl(this);
    SetControlId(m_address, IDC_IP_ADDRESS, "IDC_IP_ADDRESS");
    m_tcpPortEdit = new QLineEdit(this);
    SetControlId(m_tcpPortEdit, IDC_TCP_PORT, "IDC_TCP_PORT");
    m_parallelList = new CComboBox(true, this);
    SetControlId(m_parallelList, IDC_PARALLEL_PORT, "IDC_PARALLEL_PORT");
    m_nameEdit = new QLineEdit(this);
    SetControlId(m_nameEdit, IDC_PRINTER_NAME, "IDC_PRINTER_NAME");
    auto* nameLabel = MakeLabel(this, DialogText::PrinterName, "IDC_STATIC_PRINTER_NAME");
    m_portSettings = new QPushButton(QString::fromLatin1(DialogText::PortSettingsButton), this);
    SetControlId(m_portSettings, IDC_PORT_SETTINGS, "IDC_PORT_SETTINGS");
    m_portSettings->setAutoDefault(false);
    connect(m_portSettings, &QPushButton::clicked, this, [this] { OnPortSettings(); });
    m_spareList = new CComboBox(true, this);
    SetControlId(m_spareList, IDC_SPARE_PORT, "IDC_SPARE_PORT");
    m_spareList->hide();
    m_calibrate = new QCheckBox(QString::fromLatin1(DialogText::Calibrate), this);
    SetControlId(m_calibrate, IDC_CALIBRATE, "IDC_CALIBRATE");
    // The text stands on the left of the box.
    m_calibrate->setLayoutDirection(Qt::RightToLeft);
    m_calibrate->setTristate(false);
    m_modelEdit = new QLineEdit(this);
    SetControlId(m_modelEdit, IDC_PRINTER_MODEL, "IDC_PRINTER_MODEL");
    auto* modelLabel = MakeLabel(this, DialogText::PrinterModel, "IDC_STATIC_PRINTER_MODEL");

    connect(m_commType, &QComboBox::currentIndexChanged, this, [this] { OnCommTypeChange(); });

    for (QWidget* w : {static_cast<QWidget*>(m_serialList), static_cast<QWidget*>(m_tcpPortEdit),
                       static_cast<QWidget*>(m_parallelList), static_cast<QWidget*>(m_spareList),
                       static_cast<QWidget*>(m_portLabel), static_cast<QWidget*>(m_addressLabel),
                       static_cast<QWidget*>(m_address), static_cast<QWidget*>(m_portSettings),
                       static_cast<QWidget*>(m_calibrate)})
        KeepRoomWhenHidden(w);

    const int narrow = DialogUnitsX(46);
    const int wide = DialogUnitsX(100);
    m_serialList->setFixedWidth(narrow);
    m_tcpPortEdit->setFixedWidth(narrow);
    m_parallelList->setFixedWidth(narrow);
    m_spareList->setFixedWidth(narrow);
    m_portSettings->setMinimumWidth(DialogUnitsX(50));
    m_commType->setFixedWidth(wide);
    m_address->setFixedWidth(wide);
    m_nameEdit->setFixedWidth(wide);
    m_modelEdit->setFixedWidth(wide);
    ok->setMinimumWidth(DialogUnitsX(50));
    cancel->setMinimumWidth(DialogUnitsX(50));

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(DialogUnitsX(4));
    grid->setVerticalSpacing(DialogUnitsY(3));
    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(m_nameEdit, 0, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(modelLabel, 1, 0);
    grid->addWidget(m_modelEdit, 1, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(commTypeLabel, 2, 0);
    grid->addWidget(m_commType, 2, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(m_addressLabel, 3, 0);
    grid->addWidget(m_address, 3, 1, 1, 2, Qt::AlignLeft);
    grid->addWidget(m_portLabel, 4, 0);
    // One place, four controls: at most one of them is ever visible.
    grid->addWidget(m_serialList, 4, 1, Qt::AlignLeft);
    grid->addWidget(m_tcpPortEdit, 4, 1, Qt::AlignLeft);
    grid->addWidget(m_parallelList, 4, 1, Qt::AlignLeft);
    grid->addWidget(m_spareList, 4, 1, Qt::AlignLeft);
    grid->addWidget(m_portSettings, 4, 2, Qt::AlignRight);
    grid->addWidget(m_calibrate, 5, 0, 1, 2, Qt::AlignLeft);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(ok);
    buttons->addSpacing(DialogUnitsX(13));
    buttons->addWidget(cancel);
    buttons->addStretch(1);

    auto* main = new QVBoxLayout(this);
    main->setContentsMargins(DialogUnitsX(7), DialogUnitsY(7), DialogUnitsX(7), DialogUnitsY(7));
    main->setSpacing(DialogUnitsY(6));
    main->addLayout(grid);
    main->addStretch(1);
    main->addLayout(buttons);
    main->setSizeConstraint(QLayout::SetFixedSize);

    SetTabOrderList({ok, cancel, m_commType, m_serialList, m_address, m_tcpPortEdit, m_parallelList,
                     m_nameEdit, m_portSettings, m_spareList, m_calibrate, m_modelEdit});
}

CPrinterConfigureDlg::~CPrinterConfigureDlg() = default;

BOOL CPrinterConfigureDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    FillPortLists();
    LoadFromPrinter();
    ShowPortControls();
    return TRUE;
}

void CPrinterConfigureDlg::FillPortLists()
{
    CCommSingleton& ports = CCommSingleton::GetInstance();
    for (const CString& name : ports.SerialPorts())
        m_serialList->AddString(name);
    for (const CString& name : ports.ParallelPorts())
        m_parallelList->AddString(name);
    m_commType->SetItemData(m_commType->AddString(LoadStringById(IDS_PORT_SERIAL)), eCommSerial);
    m_commType->SetItemData(m_commType->AddString(LoadStringById(IDS_PORT_PARALLEL)),
                            eCommParallel);
    m_commType->SetItemData(m_commType->AddString(LoadStringById(IDS_PORT_NETWORK)), eCommNetwork);
}

void CPrinterConfigureDlg::SelectCommType(int code)
{
    for (int i = 0; i < m_commType->GetCount(); ++i)
    {
        if (m_commType->GetItemData(i) == code)
        {
            m_commType->SetCurSel(i);
            return;
        }
    }
    m_commType->SetCurSel(0);
}

int CPrinterConfigureDlg::SelectedCommType() const
{
    const int sel = m_commType->GetCurSel();
    return sel < 0 ? -1 : static_cast<int>(m_commType->GetItemData(sel));
}

void CPrinterConfigureDlg::LoadFromPrinter()
{
    CPortBase* port = m_printer.GetPort();
    if (!port)
    {
        SelectCommType(eCommSerial);
        m_printer.SetPort(new CSerialPort);
        m_serialList->SetCurSel(0);
    }
    else if (port->IsKindOf(RUNTIME_CLASS(CSerialPort)) ||
             port->IsKindOf(RUNTIME_CLASS(CParallelPort)))
    {
        const bool serial = port->IsKindOf(RUNTIME_CLASS(CSerialPort));
        SelectCommType(serial ? eCommSerial : eCommParallel);
        CComboBox* list = serial ? m_serialList : m_parallelList;
        // A prefix search, as the list offers it: a port that has gone away may select
        // its longer namesake (COM1 finds COM10), and a port without a name selects
        // nothing, so OK then asks for one.
        const CString name = port->PortName();
        list->SetCurSel(name.IsEmpty() ? -1 : list->FindString(-1, name));
    }
    else if (port->IsKindOf(RUNTIME_CLASS(CUSBPort)))
    {
        m_commType->SetItemData(m_commType->AddString(LoadStringById(IDS_PORT_USB)), eCommUSB);
        SelectCommType(eCommUSB);
    }
    else if (auto* net = dynamic_cast<CNetworkPort*>(port))
    {
        SelectCommType(eCommNetwork);
        BYTE a = 0, b = 0, c = 0, d = 0;
        net->GetIPAddress(a, b, c, d);
        m_address->SetAddress(a, b, c, d);
        m_nTCPPort = static_cast<int>(net->m_tcpPort);
    }

    m_strName = m_printer.Name();
    try
    {
        // A USB printer without a stored model asks the device; one that is unplugged
        // simply shows no model.
        m_strModel = m_printer.Model();
    }
    catch (const CVarkoPrinterException&)
    {
        m_strModel.Empty();
    }
    m_nCalibrate = m_printer.m_bCalibrate ? 1 : 0;
    UpdateData(FALSE);
}

void CPrinterConfigureDlg::ShowPortControls()
{
    const int code = SelectedCommType();
    auto show = [](std::initializer_list<QWidget*> ws, bool visible)
    {
        for (QWidget* w : ws)
            w->setVisible(visible);
    };
    switch (code)
    {
    case eCommSerial:
        show({m_portSettings, m_serialList, m_portLabel}, true);
        show({m_parallelList, m_address, m_tcpPortEdit, m_addressLabel, m_spareList}, false);
        m_serialList->setFocus(Qt::OtherFocusReason);
        break;
    case eCommParallel:
        show({m_parallelList, m_portLabel}, true);
        show({m_portSettings, m_serialList, m_address, m_tcpPortEdit, m_addressLabel, m_spareList},
             false);
        m_parallelList->setFocus(Qt::OtherFocusReason);
        break;
    case eCommUSB:
        show({m_spareList, m_portSettings, m_serialList, m_parallelList, m_portLabel, m_address,
              m_tcpPortEdit, m_addressLabel},
             false);
        m_commType->setEnabled(false);
        break;
    case eCommNetwork:
        show({m_portLabel, m_address, m_tcpPortEdit, m_addressLabel}, true);
        show({m_portSettings, m_serialList, m_parallelList, m_spareList}, false);
        m_address->SetFieldFocus(0);
        break;
    default:
        break;
    }
    if (m_flags & eConfigHideCalibration)
        m_calibrate->hide();
}

void CPrinterConfigureDlg::OnCommTypeChange()
{
    // The TCP port typed so far belongs to the port being discarded, so it is not
    // validated here; only the texts and the check box are kept.
    ExchangeTexts(true);
    switch (SelectedCommType())
    {
    case eCommSerial:
        m_printer.SetPort(new CSerialPort);
        m_serialList->SetCurSel(0);
        break;
    case eCommParallel:
        m_printer.SetPort(new CParallelPort);
        m_parallelList->SetCurSel(0);
        break;
    case eCommUSB:
        m_printer.SetPort(new CUSBPort);
        break;
    case eCommNetwork:
    {
        auto* net = new CNetworkPort;
        m_printer.SetPort(net);
        BYTE a = 0, b = 0, c = 0, d = 0;
        net->GetIPAddress(a, b, c, d);
        m_address->SetAddress(a, b, c, d);
        m_nTCPPort = static_cast<int>(net->m_tcpPort);
        break;
    }
    default:
        return;
    }
    ShowPortControls();
    UpdateData(FALSE);
}

void CPrinterConfigureDlg::OnPortSettings()
{
    // The dialog writes into the port itself on OK; its result does not matter here.
    CSerialPortSettingsDlg dlg(dynamic_cast<CSerialPort*>(m_printer.GetPort()), nullptr);
    dlg.DoModal();
}

bool CPrinterConfigureDlg::SaveToPrinter()
{
    m_bExchangeOK = UpdateData(TRUE) != FALSE;
    bool chosen = false;
    CPortBase* port = m_printer.GetPort();
    switch (SelectedCommType())
    {
    case eCommSerial:
    case eCommParallel:
    {
        CComboBox* list = SelectedCommType() == eCommSerial ? m_serialList : m_parallelList;
        const int sel = list->GetCurSel();
        chosen = sel >= 0 && port;
        if (port)
            port->SetPortName(sel >= 0 ? list->GetLBText(sel) : CString());
        break;
    }
    case eCommNetwork:
        if (auto* net = dynamic_cast<CNetworkPort*>(port))
        {
            BYTE a = 0, b = 0, c = 0, d = 0;
            m_address->GetAddress(a, b, c, d);
            net->SetIPAddress(a, b, c, d);
            net->m_tcpPort = static_cast<DWORD>(m_nTCPPort);
            chosen = true;
        }
        break;
    case eCommUSB:
        chosen = port != nullptr;
        break;
    default:
        break;
    }
    m_printer.SetName(m_strName);
    m_printer.Model(m_strModel);
    m_printer.m_bCalibrate = m_nCalibrate == 1;
    return chosen;
}

void CPrinterConfigureDlg::OnOK()
{
    const bool chosen = SaveToPrinter();
    // A refused TCP port has been reported already; one message per press is enough.
    if (!m_bExchangeOK)
        return;
    if (!chosen)
    {
        AfxMessageBox(IDS_SELECT_PORT, MB_OK);
        return;
    }
    CDialog::OnOK();
}

bool CPrinterConfigureDlg::DoDataExchange(bool bSaveAndValidate)
{
    if (!ExchangeTcpPort(bSaveAndValidate))
        return false;
    ExchangeTexts(bSaveAndValidate);
    return true;
}

bool CPrinterConfigureDlg::ExchangeTcpPort(bool bSaveAndValidate)
{
    if (!bSaveAndValidate)
    {
        m_tcpPortEdit->setText(QString::number(m_nTCPPort));
        return true;
    }
    long long value = 0;
    const ParseResult r = ParseInteger(FromQString(m_tcpPortEdit->text()).str(), value);
    if (r == ParseResult::Ok && value >= 0 && value <= 65535)
    {
        m_nTCPPort = static_cast<int>(value);
        return true;
    }
    CString message = r == ParseResult::NotANumber
                          ? CString(DialogText::ParseInteger)
                          : CString::Formatted(DialogText::ParseIntegerRange, 0, 65535);
    AfxMessageBox(message, MB_OK | MB_ICONEXCLAMATION);
    m_tcpPortEdit->setFocus(Qt::OtherFocusReason);
    m_tcpPortEdit->selectAll();
    return false;
}

void CPrinterConfigureDlg::ExchangeTexts(bool bSaveAndValidate)
{
    if (bSaveAndValidate)
    {
        m_strName = FromQString(m_nameEdit->text(), m_strName);
        m_nCalibrate = m_calibrate->checkState() == Qt::Checked ? 1 : 0;
        m_strModel = FromQString(m_modelEdit->text(), m_strModel);
    }
    else
    {
        m_nameEdit->setText(ToQString(m_strName));
        m_calibrate->setCheckState(m_nCalibrate == 1 ? Qt::Checked : Qt::Unchecked);
        m_modelEdit->setText(ToQString(m_strModel));
    }
}
