// The history writer: what a store held by another program cannot take is kept, and
// written in the order it was handed over once the store is free; the failure is told
// once.
#include "CHistoryWriter.h"
#include "FleetTestSupport.h"

#include <sqlite3.h>

#include <atomic>
#include <chrono>

using namespace std::chrono_literals;

TEST_F(StoreTest, AHeldStoreKeepsTheReadingsAndWritesThemInOrderOnceFree)
{
    {
        CReadingStore store(m_path);
        store.Open();
        store.RecordFill({Reading("A1", kStart, 500, 900)});
    }
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(m_path.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    std::atomic<int> reports{0};
    CHistoryWriter writer([&](const std::string&) { ++reports; }, m_path);
    // A fill, a reset, and the fill after it: the reset must stay between the two.
    writer.Add(Reading("A1", kStart + kHour, 510, 910));
    writer.Commit();
    OdometerReading who = Reading("A1", kStart + 2 * kHour, std::nullopt, std::nullopt);
    writer.RecordHeadReset(who);
    ASSERT_TRUE(writer.WaitIdle(3 * std::chrono::milliseconds(CReadingStore::BUSY_TIMEOUT_MS)));
    EXPECT_EQ(writer.Kept(), 1u);
    EXPECT_EQ(reports, 1);

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    writer.Add(Reading("A1", kStart + 3 * kHour, 0, 915));
    writer.Commit();
    ASSERT_TRUE(writer.WaitIdle(10s));
    EXPECT_EQ(writer.Kept(), 0u);
    EXPECT_EQ(reports, 1) << "told once";
    EXPECT_EQ(writer.KnownSerial("Printer A1", "COM3"), "A1");

    CReadingStore store(m_path);
    store.Open(CReadingStore::OpenMode::readOnly);
    const PrinterHistory h = store.History(store.FindPrinter("A1", "", "")->id);
    ASSERT_EQ(h.readings.size(), 3u);
    EXPECT_EQ(h.readings[1].head, 510);
    ASSERT_EQ(h.changes.size(), 1u);
    EXPECT_EQ(h.changes[0].kind, HeadChangeKind::reset) << "the reset came before the 0";
    EXPECT_EQ(h.changes[0].readingId, h.readings[2].id);
}
