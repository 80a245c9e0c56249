#pragma once
// About Odomira: the program's icon, its version as the program file carries it, and
// the maker's notice.
#include "CDialog.h"

class CAboutDlg : public CDialog
{
    Q_OBJECT
public:
    static constexpr UINT IDD = 100;

    CAboutDlg();
    ~CAboutDlg() override;

    BOOL OnInitDialog() override;
};
