#pragma once
// The OK and Cancel buttons the program's small dialogs end with: OK the default, both
// named as the framework names them (IDOK, IDCANCEL), centred in a row, and wired to the
// dialog's own OnOK and OnCancel.
class CDialog;
class QHBoxLayout;
class QPushButton;

struct OkCancelRow
{
    QPushButton* ok;
    QPushButton* cancel;
    QHBoxLayout* layout;
};

OkCancelRow MakeOkCancelRow(CDialog& dialog);
