#pragma once
// The shape the Options and Set Serial Number dialogs share: one labelled field (and
// optionally a row of further controls) above an OK and a Cancel button, OK the
// default, tab order field, the row's controls, OK, Cancel.
#include "CDialog.h"

#include <vector>

class QLabel;

class CSingleFieldDlg : public CDialog
{
    Q_OBJECT
public:
    CSingleFieldDlg(UINT nIDTemplate, const QString& caption);
    ~CSingleFieldDlg() override;

protected:
    // Puts the label and its field in place and adds the buttons; the field's width is
    // given in dialog units.
    void LayOut(const QString& labelText, QWidget* field, int fieldWidthUnits,
                const std::vector<QWidget*>& row = {});
};
