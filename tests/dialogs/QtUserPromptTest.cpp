#include "QtUserPrompt.h"
#include "DialogTestSupport.h"
#include "UserPrompt.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

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
                             box->button(answer)->click();
                         });
        timer->start();
    }

    QString seenText, seenTitle;
    Qt::TextFormat seenFormat = Qt::AutoText;
    bool seenOnGuiThread = false;
    QMessageBox::StandardButtons seenButtons;

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
