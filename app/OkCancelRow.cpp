#include "OkCancelRow.h"

#include "CDialog.h"

#include <QHBoxLayout>
#include <QPushButton>

OkCancelRow MakeOkCancelRow(CDialog& dialog)
{
    auto* ok = new QPushButton(QStringLiteral("OK"), &dialog);
    CDialog::SetControlId(ok, IDOK, "IDOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), &dialog);
    CDialog::SetControlId(cancel, IDCANCEL, "IDCANCEL");
    QObject::connect(ok, &QPushButton::clicked, &dialog, [&dialog] { dialog.OnOK(); });
    QObject::connect(cancel, &QPushButton::clicked, &dialog, [&dialog] { dialog.OnCancel(); });
    auto* layout = new QHBoxLayout;
    layout->addStretch();
    layout->addWidget(ok);
    layout->addWidget(cancel);
    layout->addStretch();
    return {ok, cancel, layout};
}
