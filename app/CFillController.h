#pragma once
// The printer list's fill, apart from the widgets that show it: it asks the document's
// printers on the fleet-query engine's threads, hands their answers to the list as they
// arrive, keeps their odometers in the history (through a writer on a thread of its
// own, so the store never holds up the window), reports what failed once the fill has
// ended, and decides when the printers belong to the window again.
//
// Everything that uses the printer records waits for that moment, in one of two ways:
// - a command runs through RunWhenFree: it captures what it acts on when it is given,
//   the fill is stopped, and the command runs once the printers are free; meanwhile
//   the window takes input as always, but no other command can start (IsStopping);
// - New, Open, Save and closing the window block in a CWait: the window repaints and
//   its timers run, but no input reaches it. Boxes that the end of the fill or the
//   history would show, and a command that was waiting, are held until the last wait
//   has ended, so nothing the wait's owner relies on changes under it; `waitsEnded`
//   then tells the window that a close asked for meanwhile can be carried out.
// Nothing polls: waits block on the engine's end notice.
//
// Threading contract: user-interface thread only. The engine's and the writer's threads
// only post calls to it.
#include "CFleetQuery.h"
#include "CHistoryWriter.h"
#include "CPrinterAnswers.h"
#include "CVarkoPrinterData.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class CVarkoPrinters;

class CFillController : public QObject
{
    Q_OBJECT
public:
    explicit CFillController(std::string historyPath = CReadingStore::DefaultPath(),
                             QObject* parent = nullptr);
    ~CFillController() override;

    // Starts asking `printers` of `collection` in `units`; only while no fill runs.
    // The collection must stay until the fill has ended (every change of it waits).
    void Start(const CVarkoPrinters& collection, std::vector<CVarkoPrinterData*> printers,
               EDisplayUnits units);
    // Esc or Stop: no further printer is asked; those being asked answer to the end,
    // and the failures are still reported.
    void Cancel();

    // How many ports the fills of controllers made from now on ask at once (tests lower
    // it to see printers wait their turn).
    static void SetPortsAtOnce(int ports);

    // Printers are being asked (or their last answers not yet taken).
    bool IsFilling() const { return m_bActive; }
    // A command waits for the printers, or a blocking wait is under way: no command
    // may start.
    bool IsStopping() const { return static_cast<bool>(m_pending) || m_nWaits > 0; }
    bool IsBusy() const { return IsFilling() || IsStopping(); }
    // A blocking wait is under way.
    bool IsWaiting() const { return m_nWaits > 0; }

    // Runs `command` at once when no printer is being asked. Otherwise the fill is
    // stopped (its failures go unreported: the user has moved on) and the command runs
    // when the printers are free; with `afterHistory` also only once the history has
    // what the fill read (or after HISTORY_WAIT_MS, should the store be held).
    void RunWhenFree(std::function<void()> command, bool afterHistory = false);

    // A blocking wait for the printers; see the header comment. Nested waits are fine.
    class CWait
    {
    public:
        CWait(CFillController& fill, bool cancel);
        ~CWait();
        CWait(const CWait&) = delete;
        CWait& operator=(const CWait&) = delete;

    private:
        CFillController& m_fill;
    };

    // Shows a box now, or when the last blocking wait has ended.
    void Show(std::function<void()> show);

    // Reset Head Odometer was confirmed for the printer: a new head for the history.
    void RecordHeadReset(const CVarkoPrinters& collection, const CVarkoPrinterData& printer);
    // Set Serial Number gave the printer `serial` in place of `oldSerial`: its history
    // goes with it, after the fills handed over before.
    void RecordSerialChange(const CVarkoPrinters& collection, const CVarkoPrinterData& printer,
                            const std::string& oldSerial, const std::string& serial);
    CHistoryWriter& History() { return *m_history; }

    // How long a command that shows the history waits for the writer at most.
    static constexpr int HISTORY_WAIT_MS = 1000;

signals:
    // Answers of printers of the running fill, as they arrive.
    void answered(const std::vector<CPrinterAnswers>& answers);
    // The fill has ended; `notAsked` are the printers it never reached.
    void ended(const std::vector<CVarkoPrinterData*>& notAsked);
    // The status bar's text while a fill runs or stops (empty when none does), and
    // whether Stop can still act.
    void progress(const QString& text, bool stoppable);
    // Busy or free: the commands' enabling has changed.
    void stateChanged();
    // The last blocking wait has ended and what it held has been shown and run.
    void waitsEnded();

private:
    void TakeAnswers();
    void Finish();
    void RunPending();
    void ShowProgress();
    void ReleaseHeld();
    void ReportHistoryProblem(const std::string& problem);

    std::unique_ptr<CHistoryWriter> m_history;
    std::unique_ptr<CFleetQuery> m_engine;
    const CVarkoPrinters* m_collection = nullptr;
    EDisplayUnits m_units = eUnitsInches;
    std::vector<CVarkoPrinterData*> m_printers;
    // What each printer of the fill answered (indexed alike), for the reports at the end.
    std::vector<std::unique_ptr<CPrinterAnswers>> m_answers;
    bool m_bActive = false;
    bool m_bReport = true;
    std::function<void()> m_pending;
    bool m_bPendingAfterHistory = false;
    int m_nWaits = 0;
    std::vector<std::function<void()>> m_held;
    // Set by an engine thread when answers wait, cleared when they are taken, so a burst
    // of answers costs one wake-up.
    std::shared_ptr<std::atomic<bool>> m_wake;
};
