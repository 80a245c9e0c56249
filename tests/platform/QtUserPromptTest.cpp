#include "QtUserPrompt.h"
#include "CEvent.h"
#include "CPrinterThread.h"
#include "CVarkoPrinter.h"
#include "DialogTestSupport.h"
#include "ScriptedPort.h"
#include "UserPrompt.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>
#include <unistd.h>

// The prompt opens no port: an empty port folder is enough.
static const bool s_env = RegisterDialogTestEnvironment({});

namespace
{
// Installs the Qt prompt for one test and puts the previous one back.
class QtUserPromptTest : public ::testing::Test
{
protected:
    void SetUp() override { m_previous = InstallQtUserPrompt(); }
    void TearDown() override { SetUserPrompt(m_previous); }

    // Answers the next box that opens with the given button, noting what it showed.
    void AnswerNextBox(QMessageBox::StandardButton answer)
    {
        auto* timer = new QTimer;
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout,
                         [this, timer, answer]
                         {
                             auto* box =
                                 qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                             if (!box)
                                 return;
                             timer->stop();
                             timer->deleteLater();
                             seenText = box->text();
                             seenTitle = box->windowTitle();
                             seenFormat = box->textFormat();
                             seenOnGuiThread = box->thread() == qApp->thread() &&
                                               QThread::currentThread() == qApp->thread();
                             seenButtons = box->standardButtons();
                             seenIcon = box->icon();
                             seenDetails = box->detailedText();
                             box->button(answer)->click();
                         });
        timer->start();
    }

    QString seenText, seenTitle;
    Qt::TextFormat seenFormat = Qt::AutoText;
    bool seenOnGuiThread = false;
    QMessageBox::StandardButtons seenButtons;
    QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
    QString seenDetails;

private:
    IUserPrompt* m_previous = nullptr;
};
} // namespace

TEST_F(QtUserPromptTest, AWorkerThreadsPromptIsAnsweredOnTheGuiThread)
{
    std::atomic<int> result{-1};
    std::atomic<bool> done{false};
    AnswerNextBox(QMessageBox::Yes);
    std::thread worker(
        [&]
        {
            result =
                WorkerMessageBox("Reset <b>Dock 1</b>?", "Odomira", MB_YESNO | MB_ICONQUESTION);
            done = true;
        });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_EQ(result.load(), IDYES);
    EXPECT_TRUE(seenOnGuiThread);
    // Names come from the network: markup is shown, never interpreted.
    EXPECT_EQ(seenFormat, Qt::PlainText);
    EXPECT_EQ(seenText, "Reset <b>Dock 1</b>?");
    EXPECT_EQ(seenTitle, "Odomira");
    EXPECT_EQ(seenButtons, QMessageBox::Yes | QMessageBox::No);
}

TEST_F(QtUserPromptTest, TheWorkerWaitsUntilTheUserAnswers)
{
    std::atomic<bool> done{false};
    bool doneWhileBoxWasUp = true;
    // The box runs its own loop on this thread, so the checks run from timers in it.
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout,
                     [&, timer]
                     {
                         auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                         if (!box)
                             return;
                         timer->stop();
                         timer->deleteLater();
                         QTimer::singleShot(50, box,
                                            [&, box]
                                            {
                                                doneWhileBoxWasUp = done.load();
                                                box->button(QMessageBox::Ok)->click();
                                            });
                     });
    timer->start();
    std::thread worker(
        [&]
        {
            WorkerMessageBox("Printing finished.", "Odomira", MB_OK);
            done = true;
        });
    ASSERT_TRUE(WaitUntil([&] { return done.load(); }));
    worker.join();
    EXPECT_FALSE(doneWhileBoxWasUp);
}

TEST_F(QtUserPromptTest, OnTheGuiThreadTheBoxRunsInPlaceAndMapsTheButtons)
{
    AnswerNextBox(QMessageBox::Cancel);
    EXPECT_EQ(AfxMessageBox("Save changes to <i>list.vps</i>?", MB_YESNOCANCEL), IDCANCEL);
    EXPECT_EQ(seenFormat, Qt::PlainText);
    EXPECT_EQ(seenButtons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);

    AnswerNextBox(QMessageBox::No);
    EXPECT_EQ(AfxMessageBox("Are you sure?", MB_YESNO), IDNO);

    AnswerNextBox(QMessageBox::Ok);
    EXPECT_EQ(AfxMessageBox("That port is unavailable.", MB_OK | MB_ICONEXCLAMATION), IDOK);
    EXPECT_EQ(seenButtons, QMessageBox::Ok);
}

TEST_F(QtUserPromptTest, ABoxWithoutAnIconGetsTheFrameworksAndDetailsGoBehindTheirButton)
{
    const struct
    {
        UINT type;
        QMessageBox::StandardButton answer;
        QMessageBox::Icon icon;
    } cases[] = {{MB_OK, QMessageBox::Ok, QMessageBox::Warning},
                 {MB_OKCANCEL, QMessageBox::Ok, QMessageBox::Warning},
                 {MB_YESNO, QMessageBox::No, QMessageBox::Question},
                 {MB_YESNOCANCEL, QMessageBox::Cancel, QMessageBox::Question},
                 {MB_OK | MB_ICONINFORMATION, QMessageBox::Ok, QMessageBox::Information}};
    for (const auto& c : cases)
    {
        AnswerNextBox(c.answer);
        AfxMessageBox("text", c.type);
        EXPECT_EQ(seenIcon, c.icon) << c.type;
    }
    AnswerNextBox(QMessageBox::Ok);
    AfxMessageBox("12 printers cannot be reached", MB_OK, "P1\nP2\n");
    EXPECT_EQ(seenDetails, "P1\nP2\n");
    EXPECT_EQ(seenText, "12 printers cannot be reached");
}

TEST_F(QtUserPromptTest, ClosingTheBoxWithoutAButtonIsTheSafeAnswer)
{
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout,
                     [timer]
                     {
                         if (auto* box =
                                 qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                         {
                             timer->stop();
                             timer->deleteLater();
                             box->reject(); // Escape or the title bar's close button
                         }
                     });
    timer->start();
    EXPECT_EQ(AfxMessageBox("Are you sure you want to Reset the Head Odometer?", MB_YESNO), IDNO);
}

namespace
{
// Passes every box on to the prompt it wraps, and says when one was asked for.
class AskedSpy : public IUserPrompt
{
public:
    explicit AskedSpy(IUserPrompt* inner) : m_inner(inner) { m_previous = SetUserPrompt(this); }
    ~AskedSpy() override { SetUserPrompt(m_previous); }
    int MessageBox(const CString& text, const CString& caption, UINT type) override
    {
        asked.SetEvent();
        return m_inner->MessageBox(text, caption, type);
    }
    CEvent asked{false, true};

private:
    IUserPrompt* m_inner;
    IUserPrompt* m_previous;
};
} // namespace

// A download job reports a failure in a box from its own thread just as the window's
// thread stops that printer (Delete, Modify, closing the list). The window's thread is
// busy waiting for the job and cannot show the box: the job must not wait for it, and
// the box must not come up later for a job that is gone.
TEST_F(QtUserPromptTest, AJobBeingStoppedDoesNotWaitForABoxTheStoppingThreadWouldShow)
{
    std::string path = "/tmp/odomira-prompt-" + std::to_string(::getpid()) + ".prn";
    std::ofstream(path) << "label";
    AskedSpy spy(GetUserPrompt());
    CVarkoPrinter printer(nullptr);
    auto* port = new ScriptedPort;
    port->FailOn(PortCall::Open, 1, 7); // the job's report: "That port is unavailable."
    printer.SetPort(port);
    printer.DownloadFile(path.c_str());
    printer.StartThread();
    PostThreadMessage(printer.GetThread()->m_nThreadID, WM_JOB_START, 0, 0);
    ASSERT_TRUE(spy.asked.Lock(5000));

    // This is the GUI thread: it stops the printer without serving its events.
    auto t0 = std::chrono::steady_clock::now();
    printer.StopThreads();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));

    bool boxCameUp = false;
    auto* closer = new QTimer;
    closer->setInterval(5);
    QObject::connect(closer, &QTimer::timeout,
                     [&boxCameUp]
                     {
                         if (auto* box =
                                 qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
                         {
                             boxCameUp = true;
                             box->reject();
                         }
                     });
    closer->start();
    QCoreApplication::processEvents();
    delete closer;
    EXPECT_FALSE(boxCameUp) << "a withdrawn box was shown after all";
    std::remove(path.c_str());
}
