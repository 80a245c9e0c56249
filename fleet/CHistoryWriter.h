#pragma once
// Writes the odometer history on a thread of its own, so whoever fills a printer list
// never waits for the store: a commit is an fsync, and while another program (a cron
// job running `odomira-cli list`, a backup) holds the store's write lock, it waits up
// to CReadingStore::BUSY_TIMEOUT_MS.
//
// Work is done in the order it was handed over: a fill's readings, then a reset, then
// the next fill's readings, so the store sees the same sequence the user caused. What
// the store could not take (busy, damaged, unwritable) is kept and written before the
// next piece of work, oldest first; beyond MAX_KEPT_READINGS the oldest readings are
// given up, so a store that stays broken for months costs bounded memory. A failure is
// reported once per writer (the report runs on the writer's thread: it must only
// arrange for the owner to show it).
//
// Threading contract: Add, Commit, RecordHeadReset, WaitIdle and the destructor are
// called from one thread, the owner's; KnownSerial, Kept and LastError from any.
#include "CHistoryRecorder.h"
#include "OdometerReading.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class CHistoryWriter
{
public:
    using Report = CHistoryRecorder::Report;

    // A year of hourly fills of a hundred printers.
    static constexpr std::size_t MAX_KEPT_READINGS = 1'000'000;

    explicit CHistoryWriter(Report report, std::string path = CReadingStore::DefaultPath());
    // Writes what was handed over (each try bounded by the store's own busy wait), then
    // ends the thread. Readings added but never committed are dropped.
    ~CHistoryWriter();
    CHistoryWriter(const CHistoryWriter&) = delete;
    CHistoryWriter& operator=(const CHistoryWriter&) = delete;

    // One printer's reading of the fill under way.
    void Add(OdometerReading reading);
    // Hands the readings added since the last Commit to the writer: one transaction.
    void Commit();
    // Reset Head Odometer was confirmed for the printer `who` names (name and port).
    void RecordHeadReset(OdometerReading who);
    // Set Serial Number changed `who`'s serial number (who.serial) from `oldSerial`; in
    // order with the fills around it, so a fill before it is recorded under the old one.
    void RecordSerialChange(OdometerReading who, std::string oldSerial);

    // Waits until the work handed over so far has been tried; false when `limit`
    // passed first.
    bool WaitIdle(std::chrono::milliseconds limit);
    // Calls `done` on the writer's thread once the work handed over so far has been
    // tried.
    void WhenIdle(std::function<void()> done);

    // Readings waiting for a store that could not take them.
    std::size_t Kept() const;
    // The serial number the printer (by name and port) last reported to a written fill.
    std::string KnownSerial(const std::string& name, const std::string& port) const;
    const std::string& Path() const { return m_path; }

private:
    struct Work
    {
        std::vector<OdometerReading> readings;
        // A reset when set; `readings` is then empty.
        bool reset = false;
        OdometerReading who;
        // A serial number change when set (from this serial number); `readings` is then
        // empty.
        std::optional<std::string> oldSerial;
        // A WhenIdle call: nothing to write.
        std::function<void()> done;
    };

    void Run();
    // Writes the kept work in order; stops at the first piece the store refuses.
    void WriteKept();
    void Trim();

    const std::string m_path;
    CHistoryRecorder m_recorder;           // writer thread only
    std::vector<OdometerReading> m_adding; // owner thread only

    mutable std::mutex m_lock;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Work> m_queue;
    std::deque<Work> m_kept; // writer thread, but counted under the lock
    std::size_t m_keptReadings = 0;
    bool m_writing = false;
    bool m_stop = false;
    std::thread m_thread;
};
