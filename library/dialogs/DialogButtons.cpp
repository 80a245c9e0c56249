#include "DialogButtons.h"

#include "CDialog.h"
#include "DialogResources.h"

#include <QPushButton>

DialogButtons AddOkCancelButtons(CDialog* dialog)
{
    auto* ok = new QPushButton(QString::fromLatin1(DialogText::OK), dialog);
    CDialog::SetControlId(ok, IDOK, "IDOK");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QString::fromLatin1(DialogText::Cancel), dialog);
    CDialog::SetControlId(cancel, IDCANCEL, "IDCANCEL");
    QObject::connect(ok, &QPushButton::clicked, dialog, [dialog] { dialog->OnOK(); });
    QObject::connect(cancel, &QPushButton::clicked, dialog, [dialog] { dialog->OnCancel(); });
    return {ok, cancel};
}
