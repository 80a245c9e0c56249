#pragma once
// Base of the library's modal dialogs: a QDialog that runs through the modal-dialog
// seam (ModalDialog.h) and keeps the framework's shape, so the dialog code reads as
// OnInitDialog / data exchange / OnOK / OnCancel / EndDialog.
//
// Every control carries an objectName (its resource symbol, such as "IDC_COMM_TYPE")
// and the property "controlId" (its number); tests and GetDlgItem find controls by
// them, never by position.
//
// Threading: user-interface thread only.
#include "Export.h"
#include "ModalDialog.h"

#include <QDialog>

#include <initializer_list>
#include <vector>

class VARKO_EXPORT CDialog : public QDialog, public IModalDialog
{
    Q_OBJECT
public:
    CDialog(UINT nIDTemplate, QWidget* parent);
    ~CDialog() override;

    // Runs the dialog modally through the seam; IDOK or IDCANCEL.
    int DoModal();

    UINT GetTemplateId() const override { return m_nIDTemplate; }
    void InitModal() override;
    // The base OnInitDialog shows the field values (UpdateData(FALSE)) and returns TRUE
    // to let the first control of the tab order take the focus.
    virtual BOOL OnInitDialog();
    // The base OnOK reads and validates the fields, then ends with IDOK.
    void OnOK() override;
    void OnCancel() override;
    int GetModalResult() const override { return m_nModalResult; }
    int RunModalLoop() override;
    void ShowModeless(bool show) override;

    void EndDialog(int nResult);
    // TRUE: controls to fields, validating (FALSE when a value was refused; the user
    // has been told and the offending control has the focus). FALSE: fields to controls.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    QWidget* GetDlgItem(int nID) const;

    // Names a control for tests and GetDlgItem.
    static void SetControlId(QWidget* control, int nID, const char* symbol);
    // Dialog units of the dialog's font, so layouts keep the template's proportions.
    int DialogUnitsX(int units) const;
    int DialogUnitsY(int units) const;

protected:
    // The template's tab order, first control first.
    void SetTabOrderList(std::initializer_list<QWidget*> controls);
    void SetTabOrderList(const std::vector<QWidget*>& controls);
    // Returns false to stop the exchange at a refused value.
    virtual bool DoDataExchange(bool bSaveAndValidate);

    // Enter, Escape and the window's close button arrive here.
    void accept() override;
    void reject() override;

private:
    UINT m_nIDTemplate;
    int m_nModalResult = -1;
    std::vector<QWidget*> m_tabOrder;
};
