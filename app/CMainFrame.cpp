#include "CMainFrame.h"

#include "AppIcons.h"
#include "AppStrings.h"
#include "CFillController.h"
#include "CLockKeyState.h"
#include "COdomiraDoc.h"
#include "COdomiraView.h"
#include "CPrinterCommands.h"
#include "CommandTable.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QScreen>
#include <QShortcut>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <limits>

namespace
{
constexpr std::uint32_t WPF_RESTORETOMAXIMIZED = 2;
// How often the lock-key indicators are read again; the X server tells nobody.
constexpr int kIndicatorIntervalMs = 250;
int g_refreshMinuteMs = 60 * 1000;
// A timed refresh that finds the window busy (a command, a dialog, a menu, a fill)
// tries again this much later instead of waiting a whole interval.
constexpr int kRefreshRetryMs = 5000;

QString MenuObjectName(const char* text)
{
    QString name = QStringLiteral("menu");
    for (const char* c = text; *c && *c != '\t'; ++c)
        if (std::isalnum(static_cast<unsigned char>(*c)))
            name += QLatin1Char(*c);
    return name;
}
} // namespace

CMainFrame::CMainFrame(COdomiraDoc& doc, CCmdTarget& app) : m_doc(doc), m_app(app)
{
    setObjectName(QStringLiteral("IDR_MAINFRAME"));
    setWindowIcon(ProgramIcon());
    OnCommand(ID_HELP_CONTENTS, [this] { OnHelpContents(); });
    OnCommand(
        ID_VIEW_TOOLBAR, [this] { m_wndToolBar->setVisible(m_wndToolBar->isHidden()); },
        [this](CCmdUI& s) { s.SetCheck(!m_wndToolBar->isHidden()); });
    OnCommand(
        ID_VIEW_STATUS_BAR, [this] { statusBar()->setVisible(statusBar()->isHidden()); },
        [this](CCmdUI& s) { s.SetCheck(!statusBar()->isHidden()); });
}

CMainFrame::~CMainFrame() = default;

bool CMainFrame::Create()
{
    CreateActions();
    if (!CreateToolBar() || !CreateStatusBar())
        return false;
    CreateMenus();
    CreateAccelerators();

    m_pView = new COdomiraView(m_doc, this);
    m_pCommands = std::make_unique<CPrinterCommands>(m_doc, *m_pView);
    m_doc.AddView(m_pView);
    setCentralWidget(m_pView);
    auto scheduleUpdate = [this]
    {
        if (m_bUpdatePending)
            return;
        m_bUpdatePending = true;
        QTimer::singleShot(0, this,
                           [this]
                           {
                               m_bUpdatePending = false;
                               UpdateCommandUI();
                           });
    };
    connect(m_pView, &COdomiraView::commandStateChanged, this, scheduleUpdate);
    connect(m_pView, &COdomiraView::contextMenuRequested, this, &CMainFrame::TrackPopupMenu);
    connect(m_pView, &COdomiraView::modifyRequested, this,
            [this]
            {
                if (!IsBusy())
                    m_pCommands->OnPrinterModify();
            });
    CFillController& fill = m_doc.Fill();
    connect(&fill, &CFillController::stateChanged, this, scheduleUpdate);
    connect(&fill, &CFillController::progress, this, &CMainFrame::OnFillProgress);
    connect(&fill, &CFillController::waitsEnded, this,
            [this]
            {
                // A close asked for while the list waited is carried out now, once.
                if (std::exchange(m_bCloseAfterWait, false))
                    close();
            });
    // Esc stops a fill; it is no command of the table, so it runs whatever is enabled.
    auto* stop = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    stop->setObjectName(QStringLiteral("accel:Esc"));
    stop->setContext(Qt::WindowShortcut);
    connect(stop, &QShortcut::activated, &fill, &CFillController::Cancel);
    m_doc.SetTitleListener([this] { OnUpdateFrameTitle(); });
    OnUpdateFrameTitle();
    m_refreshTimer = new QTimer(this);
    m_refreshTimer->setObjectName(QStringLiteral("refreshTimer"));
    connect(m_refreshTimer, &QTimer::timeout, this, &CMainFrame::OnTimedRefresh);
    ApplyRefreshInterval();
    return true;
}

void CMainFrame::SetRefreshMinuteMs(int ms)
{
    g_refreshMinuteMs = ms;
}

bool CMainFrame::IsRefreshTimerActive() const
{
    return m_refreshTimer && m_refreshTimer->isActive();
}

void CMainFrame::ApplyRefreshInterval()
{
    const std::uint32_t minutes = GetApplicationSettings().m_refreshMinutes;
    if (minutes == 0)
    {
        m_refreshTimer->stop();
        return;
    }
    const qint64 ms = static_cast<qint64>(minutes) * g_refreshMinuteMs;
    const int interval = static_cast<int>(std::min<qint64>(ms, std::numeric_limits<int>::max()));
    if (!m_refreshTimer->isActive() || m_refreshTimer->interval() != interval)
        m_refreshTimer->start(interval);
}

void CMainFrame::OnTimedRefresh()
{
    // Never in the middle of something the user is doing: the refresh would stop a fill
    // they started, or wait behind a command, a dialog or an open menu.
    const bool busy = IsBusy() || m_doc.Fill().IsFilling() || QApplication::activeModalWidget() ||
                      QApplication::activePopupWidget();
    if (busy)
    {
        if (std::exchange(m_bRefreshRetryPending, true))
            return;
        QTimer::singleShot(kRefreshRetryMs, this,
                           [this]
                           {
                               m_bRefreshRetryPending = false;
                               if (m_refreshTimer->isActive())
                                   OnTimedRefresh();
                           });
        return;
    }
    ExecuteCommand(ID_VIEW_REFRESH);
}

void CMainFrame::OnFillProgress(const QString& text, bool stoppable)
{
    m_idle->setText(text.isEmpty() ? ToQString(LoadStringById(AFX_IDS_IDLEMESSAGE)) : text);
    m_stopFill->setVisible(!text.isEmpty());
    m_stopFill->setEnabled(stoppable);
}

void CMainFrame::CreateActions()
{
    for (const CommandInfo& info : Commands())
    {
        auto* action = new QAction(this);
        action->setObjectName(QString::fromLatin1(info.name));
        action->setProperty("commandId", info.id);
        action->setText(ToQString(CommandTooltip(info.id)));
        action->setStatusTip(ToQString(CommandPrompt(info.id)));
        action->setToolTip(ToQString(CommandTooltip(info.id)));
        if (info.icon)
            action->setIcon(SvgIcon(QString::fromLatin1(info.icon)));
        if (info.id == ID_VIEW_TOOLBAR || info.id == ID_VIEW_STATUS_BAR)
            action->setCheckable(true);
        const UINT id = info.id;
        connect(action, &QAction::triggered, this, [this, id] { ExecuteCommand(id); });
        m_actions[id] = action;
    }
}

bool CMainFrame::CreateToolBar()
{
    m_wndToolBar = new QToolBar(QStringLiteral("Standard"), this);
    m_wndToolBar->setObjectName(QStringLiteral("AFX_IDW_TOOLBAR"));
    m_wndToolBar->setIconSize(QSize(16, 16));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_wndToolBar->setMovable(true);
    m_wndToolBar->setFloatable(true);
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    for (UINT id : ToolbarButtons())
    {
        if (id == 0)
            m_wndToolBar->addSeparator();
        else if (QAction* action = CommandAction(id))
            m_wndToolBar->addAction(action);
        else
            return false;
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);
    return true;
}

bool CMainFrame::CreateStatusBar()
{
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("AFX_IDW_STATUS_BAR"));
    // The idle text is the bar's normal content; command prompts show over it while the
    // pointer is on a menu item or a toolbar button.
    m_idle = new QLabel(ToQString(LoadStringById(AFX_IDS_IDLEMESSAGE)), bar);
    m_idle->setObjectName(QStringLiteral("AFX_IDS_IDLEMESSAGE"));
    bar->addWidget(m_idle, 1);
    // Shown while the list asks the printers.
    m_stopFill = new QToolButton(bar);
    m_stopFill->setObjectName(QStringLiteral("fillStopButton"));
    m_stopFill->setText(QStringLiteral("Stop"));
    m_stopFill->setToolTip(ToQString(LoadStringById(IDS_STOP_FILL)));
    m_stopFill->setStatusTip(ToQString(LoadStringById(IDS_STOP_FILL)));
    m_stopFill->setAutoRaise(true);
    m_stopFill->setVisible(false);
    connect(m_stopFill, &QToolButton::clicked, this, [this] { m_doc.Fill().Cancel(); });
    bar->addWidget(m_stopFill);
    static const struct
    {
        UINT id;
        const char* name;
    } kIndicators[] = {{ID_INDICATOR_CAPS, "ID_INDICATOR_CAPS"},
                       {ID_INDICATOR_NUM, "ID_INDICATOR_NUM"},
                       {ID_INDICATOR_SCRL, "ID_INDICATOR_SCRL"}};
    for (const auto& indicator : kIndicators)
    {
        auto* pane = new QLabel(bar);
        pane->setObjectName(QString::fromLatin1(indicator.name));
        pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        pane->setAlignment(Qt::AlignCenter);
        const QString text = ToQString(LoadStringById(indicator.id));
        pane->setMinimumWidth(pane->fontMetrics().horizontalAdvance(text) + 12);
        bar->addPermanentWidget(pane);
        m_indicators[indicator.id] = pane;
    }
    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, [this] { UpdateIndicators(); });
    timer->start(kIndicatorIntervalMs);
    UpdateIndicators();
    return true;
}

void CMainFrame::CreateMenus()
{
    for (const MenuItem& popup : MainMenu())
    {
        QMenu* menu = menuBar()->addMenu(QString::fromLatin1(popup.text));
        menu->setObjectName(MenuObjectName(popup.text));
        FillMenu(menu, popup, false);
    }
}

void CMainFrame::FillMenu(QMenu* menu, const MenuItem& item, bool ownActions)
{
    // The enabling functions run just before a menu opens.
    connect(menu, &QMenu::aboutToShow, this, [this] { UpdateCommandUI(); });
    for (const MenuItem& child : item.children)
    {
        if (child.IsSeparator())
        {
            menu->addSeparator();
            continue;
        }
        if (child.IsPopup())
        {
            QMenu* sub = menu->addMenu(QString::fromLatin1(child.text));
            sub->setObjectName(MenuObjectName(child.text));
            FillMenu(sub, child, ownActions);
            continue;
        }
        QAction* shared = CommandAction(child.id);
        if (!ownActions && shared)
        {
            shared->setText(QString::fromLatin1(child.text));
            menu->addAction(shared);
            continue;
        }
        // A context menu's items are its own, with its own texts; they raise the same
        // commands through the same routing.
        QAction* action = menu->addAction(QString::fromLatin1(child.text));
        action->setProperty("commandId", child.id);
        if (const CommandInfo* info = FindCommand(child.id))
            action->setObjectName(QString::fromLatin1(info->name));
        action->setStatusTip(ToQString(CommandPrompt(child.id)));
        action->setEnabled(IsCommandEnabled(child.id));
    }
}

void CMainFrame::CreateAccelerators()
{
    for (const Accelerator& accelerator : Accelerators())
    {
        auto* shortcut = new QShortcut(QKeySequence(QString::fromLatin1(accelerator.key)), this);
        shortcut->setObjectName(QStringLiteral("accel:") + QString::fromLatin1(accelerator.key));
        shortcut->setContext(Qt::WindowShortcut);
        const UINT id = accelerator.id;
        connect(shortcut, &QShortcut::activated, this, [this, id] { ExecuteCommand(id); });
    }
}

QAction* CMainFrame::CommandAction(UINT id) const
{
    auto it = m_actions.find(id);
    return it == m_actions.end() ? nullptr : it->second;
}

bool CMainFrame::IsBusy() const
{
    // A command waits for the printers, or a step of the document does: anything else
    // could use a printer the fill still holds, or change what the waiting one relies on.
    return m_doc.Fill().IsStopping();
}

bool CMainFrame::IsCommandEnabled(UINT id, int* check)
{
    if (IsBusy())
        return false;
    CCmdTarget* route[] = {m_pView, m_pCommands.get(), &m_doc, this, &m_app};
    CCmdUI state(id);
    bool answered = false;
    for (CCmdTarget* target : route)
        if (target && target->UpdateCommand(id, state))
        {
            answered = true;
            break;
        }
    if (check)
        *check = state.m_nCheck;
    if (answered)
        return state.m_bEnabled;
    return std::any_of(std::begin(route), std::end(route),
                       [id](CCmdTarget* t) { return t && t->HandlesCommand(id); });
}

bool CMainFrame::ExecuteCommand(UINT id)
{
    if (!IsCommandEnabled(id))
        return false;
    CCmdTarget* route[] = {m_pView, m_pCommands.get(), &m_doc, this, &m_app};
    bool ran = false;
    for (CCmdTarget* target : route)
        if (target && target->RunCommand(id))
        {
            ran = true;
            break;
        }
    UpdateCommandUI();
    // Options may have changed the interval.
    if (id == ID_TOOLS_OPTIONS)
        ApplyRefreshInterval();
    return ran;
}

void CMainFrame::UpdateCommandUI()
{
    for (auto& [id, action] : m_actions)
    {
        int check = -1;
        action->setEnabled(IsCommandEnabled(id, &check));
        if (action->isCheckable() && check >= 0)
            action->setChecked(check == 1);
    }
}

void CMainFrame::TrackPopupMenu(UINT resourceId, const QPoint& globalPos, UINT defaultId)
{
    QMenu menu(this);
    menu.setObjectName(QString::fromLatin1(
        resourceId == IDR_CONTEXT_ON_ITEM ? "IDR_CONTEXT_ON_ITEM" : "IDR_CONTEXT_BACKGROUND"));
    FillMenu(&menu, ContextMenu(resourceId), true);
    if (defaultId)
        for (QAction* action : menu.actions())
            if (action->property("commandId").toUInt() == defaultId)
                menu.setDefaultAction(action);
    QAction* chosen = menu.exec(globalPos);
    if (chosen)
        ExecuteCommand(chosen->property("commandId").toUInt());
}

void CMainFrame::OnUpdateFrameTitle()
{
    setWindowTitle(ToQString(m_doc.GetTitle()) + QStringLiteral(" - ") +
                   ToQString(LoadStringById(AFX_IDS_APP_TITLE)));
}

WINDOWPLACEMENT CMainFrame::GetWindowPlacement() const
{
    WINDOWPLACEMENT wp{};
    wp.length = sizeof wp;
    const bool minimized = isMinimized();
    const bool maximized = windowState() & Qt::WindowMaximized;
    wp.showCmd = minimized ? SW_SHOWMINIMIZED : maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
    wp.flags = minimized && maximized ? WPF_RESTORETOMAXIMIZED : 0;
    wp.ptMinPosition[0] = wp.ptMinPosition[1] = -1;
    wp.ptMaxPosition[0] = wp.ptMaxPosition[1] = -1;
    QRect normal = (minimized || maximized) ? normalGeometry() : geometry();
    if (!normal.isValid())
        normal = geometry();
    // Right and bottom lie just outside the rectangle, as the stored record has them.
    wp.rcNormalPosition[0] = normal.left();
    wp.rcNormalPosition[1] = normal.top();
    wp.rcNormalPosition[2] = normal.left() + normal.width();
    wp.rcNormalPosition[3] = normal.top() + normal.height();
    return wp;
}

bool CMainFrame::PlacementMeetsScreen(const WINDOWPLACEMENT& placement, const QRect& screen)
{
    const std::int64_t left = placement.rcNormalPosition[0];
    const std::int64_t top = placement.rcNormalPosition[1];
    const std::int64_t right = placement.rcNormalPosition[2];
    const std::int64_t bottom = placement.rcNormalPosition[3];
    // A record of another length is not one this program wrote.
    return placement.length == sizeof(WINDOWPLACEMENT) && left < right && top < bottom &&
           left < std::int64_t(screen.left()) + screen.width() && right > screen.left() &&
           top < std::int64_t(screen.top()) + screen.height() && bottom > screen.top();
}

void CMainFrame::RestoreWindowPlacement(const WINDOWPLACEMENT& placement)
{
    QScreen* primary = QGuiApplication::primaryScreen();
    // The primary screen where it stands: on Windows it is always at the origin, on X11
    // it need not be (a primary monitor to the right of another starts at x = 1920).
    const QRect screen = primary ? primary->geometry() : QRect(0, 0, 800, 600);
    const QSize screenSize = screen.size();
    const std::int64_t left = placement.rcNormalPosition[0];
    const std::int64_t top = placement.rcNormalPosition[1];
    const std::int64_t right = placement.rcNormalPosition[2];
    const std::int64_t bottom = placement.rcNormalPosition[3];
    if (!PlacementMeetsScreen(placement, screen))
    {
        // Maximized, over a normal size to come back to: three quarters of the screen,
        // centred. (Without a window manager, as under Xvfb, the normal size is what
        // shows.)
        const QRect available =
            primary ? primary->availableGeometry() : QRect(QPoint(0, 0), screenSize);
        QRect normal(QPoint(0, 0), available.size() * 3 / 4);
        normal.moveCenter(available.center());
        setGeometry(normal);
        showMaximized();
        return;
    }
    // A stored size larger than every screen together is cut down to that, so the
    // window's title bar and edges stay reachable.
    const QRect desktop = primary ? primary->virtualGeometry() : QRect(QPoint(0, 0), screenSize);
    const int width = static_cast<int>(std::min<std::int64_t>(right - left, desktop.width()));
    const int height = static_cast<int>(std::min<std::int64_t>(bottom - top, desktop.height()));
    setGeometry(QRect(static_cast<int>(left), static_cast<int>(top), width, height));
    // A window closed while minimized comes back in its normal state.
    if (placement.showCmd == SW_SHOWMAXIMIZED)
        showMaximized();
    else
        showNormal();
}

QStringList CMainFrame::ManualLocations()
{
    const QString override = qEnvironmentVariable("ODOMIRA_MANUAL_DIR");
    if (!override.isEmpty())
        return {QDir(override).filePath(QStringLiteral("index.html"))};
    // The installed manual is the program's own data, which minimal systems keep when
    // they drop /usr/share/doc (where the package only links to it); the build tree
    // has it beside the program.
    const QDir programDir(QCoreApplication::applicationDirPath());
    return {
        QDir::cleanPath(programDir.filePath(QStringLiteral("../share/odomira/manual/index.html"))),
        QDir::cleanPath(programDir.filePath(QStringLiteral("manual/index.html")))};
}

void CMainFrame::OnHelpContents()
{
    const QStringList locations = ManualLocations();
    for (const QString& location : locations)
    {
        if (QFileInfo(location).isFile())
        {
            OpenInBrowser(location);
            return;
        }
    }
    CString text;
    text.Format(LoadStringById(IDS_HELP_MISSING).GetString(),
                FromQString(locations.join(QLatin1Char('\n'))).GetString());
    AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
}

void CMainFrame::OpenInBrowser(const QString& file)
{
    // The desktop's opener, run here rather than through QDesktopServices, which counts
    // it a success once the opener has started: an opener that finds no browser ends
    // with a failure status, and the user is told.
    auto fail = [file]
    {
        CString text;
        text.Format(LoadStringById(IDS_HELP_FAILED).GetString(), FromQString(file).GetString());
        AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION);
    };
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty())
    {
        fail();
        return;
    }
    auto* process = new QProcess(this);
    process->setProgram(opener);
    process->setArguments({QUrl::fromLocalFile(file).toString()});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::finished, this,
            [process, fail](int status, QProcess::ExitStatus how)
            {
                process->deleteLater();
                if (how != QProcess::NormalExit || status != 0)
                    fail();
            });
    connect(process, &QProcess::errorOccurred, this,
            [process, fail](QProcess::ProcessError error)
            {
                if (error != QProcess::FailedToStart)
                    return;
                process->deleteLater();
                fail();
            });
    process->start();
}

QString CMainFrame::IndicatorText(UINT id) const
{
    auto it = m_indicators.find(id);
    return it == m_indicators.end() ? QString() : it->second->text();
}

void CMainFrame::UpdateIndicators()
{
    static const struct
    {
        UINT id;
        CLockKeyState::Key key;
    } kKeys[] = {{ID_INDICATOR_CAPS, CLockKeyState::CapsLock},
                 {ID_INDICATOR_NUM, CLockKeyState::NumLock},
                 {ID_INDICATOR_SCRL, CLockKeyState::ScrollLock}};
    for (const auto& k : kKeys)
    {
        // Blank when the key is off and when its state cannot be known.
        const std::optional<bool> on = CLockKeyState::IsOn(k.key);
        const QString text = on.value_or(false) ? ToQString(LoadStringById(k.id)) : QString();
        QLabel* pane = m_indicators[k.id];
        if (pane->text() != text)
            pane->setText(text);
    }
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    // Asked while the list waits (a save, an open, this very close): whoever waits
    // still uses the printers, so the window closes once they are done, and only once.
    if (m_doc.Fill().IsWaiting())
    {
        m_bCloseAfterWait = true;
        event->ignore();
        return;
    }
    CFillController::CWait wait(m_doc.Fill(), true);
    m_bCloseAfterWait = false;
    // A minimized window counts as visible; only a hidden one keeps the stored position.
    if (isVisible())
        GetApplicationSettings().m_windowPlacement = GetWindowPlacement();
    if (!m_doc.SaveModified())
    {
        event->ignore();
        return;
    }
    m_doc.OnCloseDocument();
    event->accept();
}

bool CMainFrame::event(QEvent* event)
{
    // Keys that change a lock light show at once, not at the next tick.
    if (event->type() == QEvent::KeyRelease || event->type() == QEvent::WindowActivate)
        UpdateIndicators();
    return QMainWindow::event(event);
}
