#pragma once
// The OK and Cancel buttons every dialog of the library carries, named as the templates
// name them. Internal to the dialogs; not exported.
class CDialog;
class QPushButton;

struct DialogButtons
{
    QPushButton* ok;
    QPushButton* cancel;
};

// Creates both buttons on the dialog (OK is the default one) and sends their clicks to
// the dialog's OnOK and OnCancel. The caller places them.
DialogButtons AddOkCancelButtons(CDialog* dialog);
