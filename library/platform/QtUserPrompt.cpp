#include "QtUserPrompt.h"

#include "CEvent.h"
#include "CString.h"
#include "QtText.h"
#include "WaitHandles.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>

#include <cstdio>
#include <memory>
#include <mutex>

namespace
{
constexpr UINT MB_ABORTRETRYIGNORE_ = 0x2;
constexpr UINT MB_RETRYCANCEL_ = 0x5;
constexpr UINT MB_DEFMASK_ = 0xF00;
constexpr int IDABORT_ = 3;
constexpr int IDRETRY_ = 4;
constexpr int IDIGNORE_ = 5;

struct ButtonChoice
{
    QMessageBox::StandardButton button;
    int result;
};

CQtUserPrompt g_prompt;
} // namespace

int CQtUserPrompt::ShowOnGuiThread(const CString& text, const CString& caption, UINT type,
                                   const CString& details)
{
    std::vector<ButtonChoice> buttons;
    switch (type & MB_TYPEMASK)
    {
    case MB_OKCANCEL:
        buttons = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_ABORTRETRYIGNORE_:
        buttons = {{QMessageBox::Abort, IDABORT_},
                   {QMessageBox::Retry, IDRETRY_},
                   {QMessageBox::Ignore, IDIGNORE_}};
        break;
    case MB_YESNOCANCEL:
        buttons = {
            {QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    case MB_YESNO:
        buttons = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
        break;
    case MB_RETRYCANCEL_:
        buttons = {{QMessageBox::Retry, IDRETRY_}, {QMessageBox::Cancel, IDCANCEL}};
        break;
    default:
        buttons = {{QMessageBox::Ok, IDOK}};
        break;
    }

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (type & MB_ICONMASK)
    {
    case MB_ICONERROR:
        icon = QMessageBox::Critical;
        break;
    case MB_ICONQUESTION:
        icon = QMessageBox::Question;
        break;
    case MB_ICONWARNING:
        icon = QMessageBox::Warning;
        break;
    case MB_ICONINFORMATION:
        icon = QMessageBox::Information;
        break;
    default:
        switch (type & MB_TYPEMASK)
        {
        case MB_OK:
        case MB_OKCANCEL:
            icon = QMessageBox::Warning;
            break;
        case MB_YESNO:
        case MB_YESNOCANCEL:
            icon = QMessageBox::Question;
            break;
        default:
            break;
        }
        break;
    }

    // Parented to whatever window is in front, so the box stays on top of it. The box
    // is held weakly: closing that window while the box is open deletes the box too.
    QWidget* parent = QApplication::activeModalWidget();
    if (!parent)
        parent = QApplication::activeWindow();
    QPointer<QMessageBox> box = new QMessageBox(parent);
    box->setObjectName(QStringLiteral("UserPromptBox"));
    box->setTextFormat(Qt::PlainText);
    box->setWindowTitle(ToQString(caption));
    box->setText(ToQString(text));
    box->setIcon(icon);
    if (!details.IsEmpty())
        box->setDetailedText(ToQString(details));
    QMessageBox::StandardButtons set;
    for (const ButtonChoice& b : buttons)
        set |= b.button;
    box->setStandardButtons(set);
    const std::size_t def = ((type & MB_DEFMASK_) >> 8);
    box->setDefaultButton(buttons[def < buttons.size() ? def : 0].button);

    const int answer = box->exec();
    int result = -1;
    for (const ButtonChoice& b : buttons)
        if (answer == b.button)
            result = b.result;
    if (result == -1)
    {
        // Closed without a button: Cancel where there is one, No for a question, else OK.
        if (set & QMessageBox::Cancel)
            result = IDCANCEL;
        else if (set & QMessageBox::No)
            result = IDNO;
        else
            result = buttons.front().result;
    }
    delete box.data();
    return result;
}

int CQtUserPrompt::MessageBoxWithDetails(const CString& text, const CString& caption, UINT type,
                                         const CString& details)
{
    QCoreApplication* app = QCoreApplication::instance();
    // Details come only from the user-interface thread; anywhere else the text alone.
    if (app && qobject_cast<QApplication*>(app) && QThread::currentThread() == app->thread())
        return ShowOnGuiThread(text, caption, type, details);
    return MessageBox(text, caption, type);
}

int CQtUserPrompt::MessageBox(const CString& text, const CString& caption, UINT type)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !qobject_cast<QApplication*>(app))
    {
        // No windows to show a box in: say it on standard error and take the safe
        // answer, as the default prompt does.
        std::fprintf(stderr, "%s: %s\n", caption.GetString(), text.GetString());
        UINT kind = type & MB_TYPEMASK;
        return (kind == MB_YESNO || kind == MB_YESNOCANCEL) ? IDNO : IDOK;
    }
    if (QThread::currentThread() == app->thread())
        return ShowOnGuiThread(text, caption, type);

    // The box is handed to the GUI thread, and this thread waits for the answer or for
    // its own cancel event (a download job that is being stopped), whichever comes
    // first. The GUI thread may be the very thread stopping the job, busy waiting for
    // this one: the job must not wait for a box that thread cannot show. A box withdrawn
    // before it was shown is never shown.
    struct Request
    {
        std::mutex lock;
        bool withdrawn = false;
        int result = -1;
        CEvent answered{false, true};
    };
    auto request = std::make_shared<Request>();
    QMetaObject::invokeMethod(
        app,
        [request, text, caption, type]
        {
            {
                std::lock_guard g(request->lock);
                if (request->withdrawn)
                    return;
            }
            int r = ShowOnGuiThread(text, caption, type);
            {
                std::lock_guard g(request->lock);
                request->result = r;
            }
            request->answered.SetEvent();
        },
        Qt::QueuedConnection);
    if (WaitForEventOrCancel(request->answered.m_hObject, INFINITE) == WAIT_OBJECT_0)
    {
        std::lock_guard g(request->lock);
        return request->result;
    }
    {
        std::lock_guard g(request->lock);
        request->withdrawn = true;
    }
    // Taken as the box would be closed without a button.
    UINT kind = type & MB_TYPEMASK;
    if (kind == MB_OKCANCEL || kind == MB_YESNOCANCEL || kind == MB_RETRYCANCEL_)
        return IDCANCEL;
    return kind == MB_YESNO ? IDNO : IDOK;
}

IUserPrompt* InstallQtUserPrompt()
{
    return SetUserPrompt(&g_prompt);
}
