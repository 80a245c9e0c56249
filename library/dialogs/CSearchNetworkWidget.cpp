#include "CSearchNetworkWidget.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

CSearchNetworkWidget::CSearchNetworkWidget(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("IDD_SEARCH_NETWORK"));
    setWindowTitle(QString::fromLatin1(CSearchNetworkDlg::CAPTION));
    setModal(true);
    auto* layout = new QVBoxLayout(this);
    auto* text = new QLabel(QString::fromLatin1(CSearchNetworkDlg::MESSAGE), this);
    text->setObjectName(QStringLiteral("IDC_SEARCH_TEXT"));
    text->setTextFormat(Qt::PlainText);
    layout->addWidget(text);
    auto* row = new QHBoxLayout;
    auto* cancel = new QPushButton(QString::fromLatin1(CSearchNetworkDlg::CANCEL_TEXT), this);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    cancel->setDefault(true);
    row->addStretch();
    row->addWidget(cancel);
    row->addStretch();
    layout->addLayout(row);
    connect(cancel, &QPushButton::clicked, this, &CSearchNetworkWidget::reject);
}

CSearchNetworkWidget::~CSearchNetworkWidget() = default;

int CSearchNetworkWidget::RunModal(CSearchNetworkDlg& dlg)
{
    m_pDlg = &dlg;
    // The search starts once the window is up, as OnInitDialog runs in the original.
    QTimer::singleShot(0, this,
                       [this]
                       {
                           if (m_pDlg)
                               m_pDlg->OnInitDialog();
                       });
    int result = exec();
    for (auto& [id, timer] : m_timers)
        delete timer;
    m_timers.clear();
    m_pDlg = nullptr;
    return result;
}

void CSearchNetworkWidget::EndModal(int result)
{
    done(result);
}

void CSearchNetworkWidget::Post(UINT message, WPARAM wParam, LPARAM lParam)
{
    QMetaObject::invokeMethod(
        this,
        [this, message, wParam, lParam]
        {
            if (m_pDlg)
                m_pDlg->DispatchPosted(message, wParam, lParam);
        },
        Qt::QueuedConnection);
}

void CSearchNetworkWidget::SetTimer(UINT id, UINT periodMs)
{
    QTimer*& timer = m_timers[id];
    if (!timer)
    {
        timer = new QTimer(this);
        // The search window is a promise to the printers: a coarse timer may end it up
        // to 5 % early and miss the last answers.
        timer->setTimerType(Qt::PreciseTimer);
        connect(timer, &QTimer::timeout, this,
                [this, id]
                {
                    if (m_pDlg)
                        m_pDlg->OnTimer(id);
                });
    }
    timer->start(static_cast<int>(periodMs));
}

void CSearchNetworkWidget::KillTimer(UINT id)
{
    if (auto it = m_timers.find(id); it != m_timers.end())
        it->second->stop();
}

void CSearchNetworkWidget::reject()
{
    // Cancel, Escape and the close button: the logic ends the dialog itself.
    if (m_pDlg)
        m_pDlg->OnCancel();
    else
        QDialog::reject();
}

void InstallQtSearchDialogHost()
{
    SetSearchDialogHostFactory(
        [] { return std::make_unique<CSearchNetworkWidget>(QApplication::activeWindow()); });
}
