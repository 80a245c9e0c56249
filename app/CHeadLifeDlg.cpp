#include "CHeadLifeDlg.h"

#include "HistoryUnits.h"
#include "OkCancelRow.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

CHeadLifeDlg::CHeadLifeDlg(const CString& model, std::optional<double> headLifeInches,
                           EDisplayUnits units, QWidget* parent)
    : CDialog(IDD, parent), m_headLifeInches(headLifeInches), m_units(units)
{
    setWindowTitle(QStringLiteral("Head Life"));
    auto* modelLabel = new QLabel(QStringLiteral("Model:"), this);
    auto* modelText = new QLabel(ToQString(model), this);
    modelText->setTextFormat(Qt::PlainText);
    SetControlId(modelText, IDC_HEAD_LIFE_MODEL, "IDC_HEAD_LIFE_MODEL");
    auto* valueLabel = new QLabel(QStringLiteral("&Head life:"), this);
    m_valueEdit = new QLineEdit(this);
    SetControlId(m_valueEdit, IDC_HEAD_LIFE_VALUE, "IDC_HEAD_LIFE_VALUE");
    m_valueEdit->setMinimumWidth(DialogUnitsX(70));
    valueLabel->setBuddy(m_valueEdit);
    auto* unit = new QLabel(
        ToQString(LoadStringById(units == eUnitsMillimeters ? IDS_MILLIMETERS_ABBREVIATION
                                                            : IDS_INCHES_ABBREVIATION)),
        this);
    auto* note = new QLabel(QStringLiteral("Leave the field empty when the head life of this "
                                           "model is not known."),
                            this);
    note->setWordWrap(true);

    const OkCancelRow buttons = MakeOkCancelRow(*this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(modelLabel, 0, 0);
    grid->addWidget(modelText, 0, 1, 1, 2);
    grid->addWidget(valueLabel, 1, 0);
    grid->addWidget(m_valueEdit, 1, 1);
    grid->addWidget(unit, 1, 2);
    grid->addWidget(note, 2, 0, 1, 3);
    grid->addLayout(buttons.layout, 3, 0, 1, 3);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    SetTabOrderList({m_valueEdit, buttons.ok, buttons.cancel});
}

CHeadLifeDlg::~CHeadLifeDlg() = default;

bool CHeadLifeDlg::DoDataExchange(bool bSaveAndValidate)
{
    const OdometerUnit unit = HistoryUnitOf(m_units);
    if (!bSaveAndValidate)
    {
        m_valueEdit->setText(m_headLifeInches
                                 ? QString::number(FromInches(*m_headLifeInches, unit), 'f', 0)
                                 : QString());
        return true;
    }
    // Thousands separators and blanks are what people type into such a number.
    QString text = m_valueEdit->text().trimmed();
    text.remove(QLatin1Char(',')).remove(QLatin1Char(' '));
    if (text.isEmpty())
    {
        m_headLifeInches.reset();
        return true;
    }
    const std::optional<double> value = ParseHeadLife(text.toStdString());
    if (!value)
    {
        AfxMessageBox(IDS_HEAD_LIFE_INVALID, MB_OK | MB_ICONEXCLAMATION);
        m_valueEdit->setFocus();
        m_valueEdit->selectAll();
        return false;
    }
    m_headLifeInches = ToInches(*value, unit);
    return true;
}
