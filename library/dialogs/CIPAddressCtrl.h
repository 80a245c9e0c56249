#pragma once
// An IPv4 address edited as four fields of 0 to 255, standing in for the platform's
// IP address control. The fields are named "field0" to "field3"; typing a full stop
// or a third digit moves on to the next field. The whole control is one stop of the
// dialog's tab order.
//
// Threading: user-interface thread only.
#include "WinTypes.h"

#include <QFrame>

class QLineEdit;

class CIPAddressCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* parent = nullptr);

    void SetAddress(BYTE f0, BYTE f1, BYTE f2, BYTE f3);
    // Blank fields read as 0, values above 255 as 255. Returns how many fields are not
    // blank.
    int GetAddress(BYTE& f0, BYTE& f1, BYTE& f2, BYTE& f3) const;
    void ClearAddress();
    bool IsBlank() const;
    // Puts the caret into field n (0 to 3).
    void SetFieldFocus(int n);
    QLineEdit* Field(int n) const { return m_fields[n]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnFieldEdited(int n);

    QLineEdit* m_fields[4];
};
