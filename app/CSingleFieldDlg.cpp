#include "CSingleFieldDlg.h"

#include "OkCancelRow.h"

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

void CSingleFieldDlg::LayOut(const QString& labelText, QWidget* field, int fieldWidthUnits,
                             const std::vector<QWidget*>& row)
{
    auto* label = new QLabel(labelText, this);
    label->setBuddy(field);
    field->setMinimumWidth(DialogUnitsX(fieldWidthUnits));

    const OkCancelRow buttons = MakeOkCancelRow(*this);

    auto* grid = new QGridLayout(this);
    grid->addWidget(label, 0, 0);
    grid->addWidget(field, 0, 1);
    std::vector<QWidget*> order = {field};
    if (!row.empty())
    {
        auto* line = new QHBoxLayout;
        for (QWidget* w : row)
        {
            line->addWidget(w);
            if (w->focusPolicy() != Qt::NoFocus)
                order.push_back(w);
        }
        line->addStretch(1);
        grid->addLayout(line, 1, 0, 1, 2);
    }
    grid->addLayout(buttons.layout, row.empty() ? 1 : 2, 0, 1, 2);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    order.push_back(buttons.ok);
    order.push_back(buttons.cancel);
    SetTabOrderList(order);
}
