#pragma once
// The fleet-query engine: asks a list of printers for their model, serial number and
// odometers, every port at once, so a fill costs about as long as its slowest printer
// instead of the sum of all. Each printer is asked by one thread at a time and its
// questions keep their order (model, serial number, odometers), exactly as a fill one
// printer after the other asks them. Printers that name the same port (a hand-edited
// file can hold two) are asked one after the other, in the list's order, since two
// conversations on one line would garble each other.
//
// Both the window's printer list and `odomira-cli list` fill through it.
//
// Threading contract:
//   - Start, Cancel, TakeAnswers, Wait and the destructor are called from one thread,
//     the owner's (the user-interface thread in the window).
//   - While a fill runs (IsBusy), its printers belong to the engine's threads: the
//     owner must not call any operation of those printer records (Model() may store
//     what a USB printer says, and every query opens and closes the record's port), and
//     must not delete them. Cancel stops asking further printers at once, but a printer
//     being asked is asked to the end, bounded by the library's time-outs; only after
//     IsBusy() turns false (or Wait returns) do the records belong to the owner again.
//   - Answers handed over by TakeAnswers were written completely before they were
//     handed over; reading them needs no further care.
//   - The notify callback runs on an engine thread each time an answer is ready and
//     once more when the fill ends; it must only arrange for the owner to look (post
//     an event) and return.
#include "CPrinterAnswers.h"
#include "CVarkoPrinterData.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CFleetQuery
{
public:
    // Ports asked at the same time. Each question waits mostly on a line or a socket,
    // so more threads than processors pay: a desk's serial and USB ports all fit, and a
    // silent printer delays nobody else. The bound only keeps a network fleet of
    // thousands from opening thousands of sockets at once.
    static constexpr int DEFAULT_CONCURRENCY = 256;

    explicit CFleetQuery(int maxConcurrent = DEFAULT_CONCURRENCY);
    // Cancels and waits for the printers being asked.
    ~CFleetQuery();
    CFleetQuery(const CFleetQuery&) = delete;
    CFleetQuery& operator=(const CFleetQuery&) = delete;

    // Starts asking; the previous fill must have ended (IsBusy() false).
    void Start(std::vector<CVarkoPrinterData*> printers, EDisplayUnits units,
               std::function<void()> notify = {});
    // No printer not yet asked will be asked.
    void Cancel();
    bool IsCancelled() const { return m_cancelled.load(); }
    // True from Start until the last printer being asked has its answers.
    bool IsBusy() const;
    // Blocks until the fill has ended.
    void Wait();

    // Answers that came in since the last call, in the order they came in.
    std::vector<CPrinterAnswers> TakeAnswers();
    std::size_t Count() const { return m_printers.size(); }
    std::size_t Answered() const { return m_answered.load(); }

    // One printer's questions, one after the other, on the calling thread.
    static CPrinterAnswers Ask(CVarkoPrinterData& printer, EDisplayUnits units);
    // Every printer, answers in the order of the list given: for callers that wait for
    // the whole fill (the command-line tool).
    static std::vector<CPrinterAnswers> AskAll(const std::vector<CVarkoPrinterData*>& printers,
                                               EDisplayUnits units,
                                               int maxConcurrent = DEFAULT_CONCURRENCY);

private:
    void Work();
    void JoinThreads();

    const int m_maxConcurrent;
    std::vector<CVarkoPrinterData*> m_printers;
    // Indexes into m_printers, one list per port, in the list's order.
    std::vector<std::vector<std::size_t>> m_ports;
    EDisplayUnits m_units = eUnitsInches;
    std::function<void()> m_notify;
    std::vector<std::thread> m_threads;

    std::atomic<std::size_t> m_next{0};
    std::atomic<std::size_t> m_answered{0};
    std::atomic<bool> m_cancelled{false};

    mutable std::mutex m_lock;
    std::condition_variable m_ended;
    std::vector<CPrinterAnswers> m_ready;
    int m_running = 0;
};
