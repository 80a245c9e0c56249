#include "CSingleFieldDlg.h"

#include "OkCancelRow.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

CSingleFieldDlg::CSingleFieldDlg(UINT nIDTemplate, const QString& caption)
    : CDialog(nIDTemplate, nullptr)
{
    setWindowTitle(caption);
}

CSingleFieldDlg::~CSingleFieldDlg() = default;

void CSingleFieldDlg::LayOut(const QString& labelText, QWidget* field, int fieldWidthUnits)
{
    auto* label = new QLabel(labelText, this);
    label->setBuddy(field);
    field->setMinimumWidth(DialogUnitsX(fieldWidthUnits));

    const OkCancelRow buttons = MakeOkCancelRow(*this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(field, 0, 1);
    grid->addLayout(buttons.layout, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    SetTabOrderList({field, buttons.ok, buttons.cancel});
}
