#include "CFillController.h"

#include "CHistoryRecorder.h"
#include "CPrinterNamePrompt.h"
#include "CVarkoPrinters.h"
#include "QtText.h"
#include "Resource.h"
#include "StringTable.h"
#include "UserPrompt.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>

namespace
{
int g_portsAtOnce = CFleetQuery::DEFAULT_CONCURRENCY;
} // namespace

void CFillController::SetPortsAtOnce(int ports)
{
    g_portsAtOnce = ports;
}

CFillController::CFillController(std::string historyPath, QObject* parent)
    : QObject(parent), m_engine(std::make_unique<CFleetQuery>(g_portsAtOnce)),
      m_wake(std::make_shared<std::atomic<bool>>(false))
{
    // The writer reports on its own thread; the box is shown on this one.
    m_history = std::make_unique<CHistoryWriter>(
        [this](const std::string& problem)
        {
            QMetaObject::invokeMethod(
                this, [this, problem] { ReportHistoryProblem(problem); }, Qt::QueuedConnection);
        },
        std::move(historyPath));
}

CFillController::~CFillController()
{
    // The engine's threads must be done with the printers before the collection goes;
    // the writer then writes what it was given.
    m_engine.reset();
    m_history.reset();
}

void CFillController::Start(const CVarkoPrinters& collection,
                            std::vector<CVarkoPrinterData*> printers, EDisplayUnits units)
{
    m_collection = &collection;
    m_units = units;
    m_printers = printers;
    m_answers.clear();
    m_answers.resize(m_printers.size());
    m_bReport = true;
    if (printers.empty())
        return;
    m_bActive = true;
    m_wake->store(false);
    // The flag is shared, so a wake-up that comes late never touches a destroyed
    // controller; the queued call itself is dropped with its context object.
    std::shared_ptr<std::atomic<bool>> wake = m_wake;
    m_engine->Start(std::move(printers), units,
                    [this, wake]
                    {
                        if (!wake->exchange(true))
                            QMetaObject::invokeMethod(
                                this, [this] { TakeAnswers(); }, Qt::QueuedConnection);
                    });
    ShowProgress();
    emit stateChanged();
}

void CFillController::Cancel()
{
    if (!m_bActive)
        return;
    m_engine->Cancel();
    ShowProgress();
}

void CFillController::TakeAnswers()
{
    m_wake->store(false);
    if (!m_bActive)
        return;
    // The engine's state is read before its answers, so a fill seen as ended has no
    // answer left behind.
    const bool ended = !m_engine->IsBusy();
    std::vector<CPrinterAnswers> answers = m_engine->TakeAnswers();
    for (const CPrinterAnswers& a : answers)
    {
        if (auto reading = CHistoryRecorder::ReadingOf(*m_collection, a, m_units))
            m_history->Add(std::move(*reading));
        if (a.index < m_answers.size())
            m_answers[a.index] = std::make_unique<CPrinterAnswers>(a);
    }
    if (!answers.empty())
        emit answered(answers);
    if (ended)
        Finish();
    else
        ShowProgress();
}

void CFillController::Finish()
{
    m_bActive = false;
    // One transaction per fill, with what it got before it ended or was stopped.
    m_history->Commit();
    std::vector<CVarkoPrinterData*> notAsked;
    // One box per distinct message, naming the printers it concerns, in the order the
    // first of them was asked: a fleet with a thousand printers gone is one box, not a
    // thousand.
    struct Group
    {
        CString text;
        std::vector<CString> printers;
    };
    std::vector<Group> groups;
    for (std::size_t i = 0; i < m_printers.size(); ++i)
    {
        if (!m_answers[i])
        {
            notAsked.push_back(m_printers[i]);
            continue;
        }
        if (!m_bReport || !m_answers[i]->serialFailure)
            continue;
        const CString& text = m_answers[i]->serialFailure->text;
        auto group = std::find_if(groups.begin(), groups.end(),
                                  [&](const Group& g) { return g.text == text; });
        if (group == groups.end())
            group = groups.insert(groups.end(), Group{text, {}});
        group->printers.push_back(m_printers[i]->Name());
    }
    m_answers.clear();
    m_printers.clear();
    emit progress(QString(), false);
    emit ended(notAsked);
    for (const Group& group : groups)
    {
        CString details;
        const CString text =
            CPrinterNamePrompt::WithPrinterNames(group.text, group.printers, details);
        Show([text, details] { AfxMessageBox(text, MB_OK, details); });
    }
    RunPending();
    emit stateChanged();
}

void CFillController::RunWhenFree(std::function<void()> command, bool afterHistory)
{
    if (m_pending)
    {
        // Only one command waits at a time (the others are disabled meanwhile); the
        // list's own rebuilds follow the command that waits.
        command = [first = std::move(m_pending), then = std::move(command)]
        {
            first();
            then();
        };
        afterHistory = afterHistory || m_bPendingAfterHistory;
    }
    m_pending = std::move(command);
    m_bPendingAfterHistory = afterHistory;
    if (m_bActive)
    {
        m_engine->Cancel();
        // What the command does next must not be preceded by boxes about the fill it
        // stopped; the rows still show "Error!" where a question failed.
        m_bReport = false;
        ShowProgress();
        emit stateChanged();
        return;
    }
    RunPending();
}

void CFillController::RunPending()
{
    if (!m_pending)
        return;
    if (m_nWaits > 0)
    {
        // A blocking wait's owner is about to change the list: the command runs after
        // it, and finds out then whether its printers are still there.
        m_held.push_back(std::move(m_pending));
        m_pending = nullptr;
        return;
    }
    if (m_bPendingAfterHistory)
    {
        m_bPendingAfterHistory = false;
        // Whichever comes first: the writer has tried what the fill read, or the
        // store is held by another program and the command goes on with what it has.
        auto once = std::make_shared<bool>(false);
        auto go = [this, once]
        {
            if (*once)
                return;
            *once = true;
            RunPending();
        };
        m_history->WhenIdle([this, go]
                            { QMetaObject::invokeMethod(this, go, Qt::QueuedConnection); });
        QTimer::singleShot(HISTORY_WAIT_MS, this, go);
        emit stateChanged();
        return;
    }
    std::function<void()> command = std::move(m_pending);
    m_pending = nullptr;
    emit stateChanged();
    command();
}

void CFillController::ShowProgress()
{
    if (!m_bActive)
        return;
    if (m_engine->IsCancelled() && IsStopping())
    {
        const int waiting =
            static_cast<int>(m_printers.size()) - static_cast<int>(m_engine->Answered());
        CString text;
        text.Format(LoadStringById(IDS_STOPPING_FILL).GetString(), waiting > 0 ? waiting : 0);
        emit progress(ToQString(text), false);
        return;
    }
    CString text;
    text.Format(LoadStringById(IDS_ASKING_PRINTERS).GetString(),
                static_cast<int>(m_engine->Answered()), static_cast<int>(m_printers.size()));
    emit progress(ToQString(text), !m_engine->IsCancelled());
}

CFillController::CWait::CWait(CFillController& fill, bool cancel) : m_fill(fill)
{
    ++m_fill.m_nWaits;
    if (cancel && m_fill.m_bActive)
    {
        m_fill.m_engine->Cancel();
        m_fill.m_bReport = false;
    }
    m_fill.ShowProgress();
    emit m_fill.stateChanged();
    if (!m_fill.m_bActive)
        return;
    // The end notice quits the loop; until then the window paints and its timers run,
    // while input waits, so nothing the user does can change what the caller relies on.
    QEventLoop loop;
    const QMetaObject::Connection quit =
        QObject::connect(&m_fill, &CFillController::ended, &loop, &QEventLoop::quit);
    if (m_fill.m_bActive)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    QObject::disconnect(quit);
}

CFillController::CWait::~CWait()
{
    if (--m_fill.m_nWaits == 0)
        QTimer::singleShot(0, &m_fill, [fill = &m_fill] { fill->ReleaseHeld(); });
    emit m_fill.stateChanged();
}

void CFillController::ReleaseHeld()
{
    if (m_nWaits > 0)
        return;
    std::vector<std::function<void()>> held;
    held.swap(m_held);
    for (auto& show : held)
        show();
    emit waitsEnded();
}

void CFillController::Show(std::function<void()> show)
{
    if (m_nWaits > 0)
        m_held.push_back(std::move(show));
    else
        show();
}

void CFillController::ReportHistoryProblem(const std::string& problem)
{
    CString text;
    text.Format(LoadStringById(IDS_HISTORY_UNAVAILABLE).GetString(), problem.c_str());
    Show([text] { AfxMessageBox(text, MB_OK | MB_ICONEXCLAMATION); });
}

void CFillController::RecordSerialChange(const CVarkoPrinters& collection,
                                         const CVarkoPrinterData& printer,
                                         const std::string& oldSerial, const std::string& serial)
{
    OdometerReading who = CHistoryRecorder::WhoOf(collection, printer);
    who.serial = serial;
    m_history->RecordSerialChange(std::move(who), oldSerial);
}

void CFillController::RecordHeadReset(const CVarkoPrinters& collection,
                                      const CVarkoPrinterData& printer)
{
    m_history->RecordHeadReset(CHistoryRecorder::WhoOf(collection, printer));
}
