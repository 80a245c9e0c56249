#pragma once
// The Qt face of the network search: the "Please Wait" window with its one line of text
// and a Cancel button, and the modal loop the search dialog's logic runs in. Escape and
// the window's close button cancel as the Cancel button does.
//
// The windowed program calls InstallQtSearchDialogHost() once at start; from then on
// every search shows this window. Without it a search runs without a window.
//
// Threading: created, shown and destroyed on the user-interface thread. Post may be
// called from any thread: it queues onto this object's thread.
#include "CSearchNetworkDlg.h"

#include <QDialog>
#include <map>

class QTimer;

class CSearchNetworkWidget : public QDialog, public ISearchDialogHost
{
    Q_OBJECT
public:
    explicit CSearchNetworkWidget(QWidget* parent = nullptr);
    ~CSearchNetworkWidget() override;

    int RunModal(CSearchNetworkDlg& dlg) override;
    void EndModal(int result) override;
    void Post(UINT message, WPARAM wParam, LPARAM lParam) override;
    void SetTimer(UINT id, UINT periodMs) override;
    void KillTimer(UINT id) override;

    void reject() override;

private:
    CSearchNetworkDlg* m_pDlg = nullptr;
    std::map<UINT, QTimer*> m_timers;
};

// Makes every later search dialog show a CSearchNetworkWidget over the active window.
VARKO_EXPORT void InstallQtSearchDialogHost();
