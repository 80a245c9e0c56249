#include "CSingleFieldDlg.h"

#include <QGridLayout>
#include <QHBoxLayout>
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

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    SetControlId(ok, IDOK, "IDOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    SetControlId(cancel, IDCANCEL, "IDCANCEL");
    connect(ok, &QPushButton::clicked, this, [this] { OnOK(); });
    connect(cancel, &QPushButton::clicked, this, [this] { OnCancel(); });

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(field, 0, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addStretch();
    grid->addLayout(buttons, 1, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    SetTabOrderList({field, ok, cancel});
}
