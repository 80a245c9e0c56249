// The reading store on real SQLite files: what is kept of a fill, how printers are told
// apart, head changes, whole transactions, two programs writing at once, and files that
// cannot be used.
#include "FleetTestSupport.h"

#include <sqlite3.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <pwd.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{
std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs SQL on the file behind the store's back, as another program would.
void Sql(const std::string& path, const std::string& sql)
{
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}
// Runs `body` in a child that has given up root's rights (which would let it write
// anywhere) and becomes the owner of `dir`'s files; its exit status, or 99 when the
// rights could not be dropped.
int AsUser(const std::string& dir, const std::function<int()>& body)
{
    if (::geteuid() == 0)
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
            if (::chown(e.path().c_str(), 65534, 65534) != 0)
                return 98;
    if (::geteuid() == 0 && ::chown(dir.c_str(), 65534, 65534) != 0)
        return 98;
    const pid_t child = ::fork();
    if (child == 0)
    {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(99);
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 97;
}

// 0 when the store reads back head life `expected` for RX400, else why not.
int ReadsHeadLife(const std::string& path, double expected)
{
    try
    {
        CReadingStore store(path);
        store.Open(CReadingStore::OpenMode::readOnly);
        return store.HeadLife("RX400") == expected ? 0 : 2;
    }
    catch (const CReadingStoreError& e)
    {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}
} // namespace

TEST_F(StoreTest, EqualReadingsOnlyMoveLastSeenAndChangesMakeNewEntries)
{
    CReadingStore store(m_path);
    store.Open();
    auto result = store.RecordFill({Reading("A1", kStart, 100, 2000)});
    EXPECT_EQ(result.added, 1);
    for (int hour = 1; hour <= 5; ++hour)
        result = store.RecordFill({Reading("A1", kStart + hour * kHour, 100, 2000)});
    EXPECT_EQ(result.merged, 1);
    store.RecordFill({Reading("A1", kStart + 6 * kHour, 110, 2010)});
    // A missing value is a different reading from a present one.
    store.RecordFill({Reading("A1", kStart + 7 * kHour, std::nullopt, 2010)});
    // A printer that gave no value at all leaves nothing.
    EXPECT_EQ(
        store.RecordFill({Reading("A1", kStart + 8 * kHour, std::nullopt, std::nullopt)}).skipped,
        1);

    const auto printer = store.FindPrinter("A1", "", "");
    ASSERT_TRUE(printer);
    const PrinterHistory h = store.History(printer->id);
    ASSERT_EQ(h.readings.size(), 3u);
    EXPECT_EQ(h.readings[0].firstSeen, kStart);
    EXPECT_EQ(h.readings[0].lastSeen, kStart + 5 * kHour);
    EXPECT_EQ(h.readings[1].head, 110);
    EXPECT_EQ(h.readings[2].head, std::nullopt);
    EXPECT_EQ(h.readings[2].total, 2010);
    EXPECT_TRUE(h.changes.empty());
    EXPECT_EQ(h.printer.readingCount, 3);
    EXPECT_EQ(h.printer.lastSeen, kStart + 7 * kHour);
}

TEST_F(StoreTest, APrinterIsKnownBySerialNumberElseByPort)
{
    CReadingStore store(m_path);
    store.Open();
    OdometerReading moved = Reading("A1", kStart, 10, 20);
    OdometerReading later = Reading("A1", kStart + kHour, 11, 21);
    later.port = "/dev/usb/lp1";
    later.name = "Renamed";
    OdometerReading noSerial = Reading("", kStart, 5, 6);
    noSerial.port = "COM7";
    store.RecordFill({moved, noSerial});
    store.RecordFill({later});

    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), 2u);
    // Most recently seen first; the latest sighting names the printer, and each reading
    // keeps what it was seen as.
    EXPECT_EQ(printers[0].serial, "A1");
    EXPECT_EQ(printers[0].name, "Renamed");
    EXPECT_EQ(printers[0].port, "/dev/usb/lp1");
    const PrinterHistory h = store.History(printers[0].id);
    ASSERT_EQ(h.readings.size(), 2u);
    EXPECT_EQ(h.readings[0].port, "COM3");
    EXPECT_EQ(h.readings[0].name, "Printer A1");

    // Found by serial number; without one by the name and port it was last read
    // under, both exactly, or not at all.
    EXPECT_EQ(store.FindPrinter("A1", "x", "y")->id, printers[0].id);
    EXPECT_FALSE(store.FindPrinter("ZZ", "Renamed", "/dev/usb/lp1"));
    EXPECT_EQ(store.FindPrinter("", "Printer ", "COM7")->id, printers[1].id);
    EXPECT_EQ(store.FindPrinter("", "Renamed", "/dev/usb/lp1")->id, printers[0].id);
}

TEST_F(StoreTest, LookupsNeverFallBackToTheNameOrThePortAlone)
{
    CReadingStore store(m_path);
    store.Open();
    OdometerReading dock = Reading("D7", kStart, 10, 20);
    dock.name = "Dock";
    dock.port = "COM1";
    OdometerReading line2 = Reading("Line2", kStart, 30, 40);
    line2.name = "Packing";
    line2.port = "10.0.0.5";
    store.RecordFill({dock, line2});
    // "Fresh" on COM1 and a network printer "Line2" were never read.
    EXPECT_FALSE(store.FindPrinter("", "Fresh", "COM1"));
    EXPECT_FALSE(store.FindPrinter("", "Line2", "10.0.0.9"));
    EXPECT_FALSE(store.FindPrinter("", "Dock", "COM2"));
    EXPECT_FALSE(store.FindPrinter("", "Packing", "COM1"));
    EXPECT_TRUE(store.FindPrinter("", "Dock", "COM1"));
}

TEST_F(StoreTest, AFallingTotalIsAnotherPrinterNotAHeadChange)
{
    CReadingStore store(m_path);
    store.Open();
    // A printer without a serial number on COM3, then another one put on the port.
    store.RecordFill({Reading("", kStart, 500, 9000)});
    store.RecordFill({Reading("", kStart + kHour, 510, 9010)});
    const auto result = store.RecordFill({Reading("", kStart + 2 * kHour, 40, 300)});
    EXPECT_EQ(result.headChanges, 0);
    EXPECT_EQ(result.otherPrinters, 1);
    store.RecordFill({Reading("", kStart + 3 * kHour, 45, 305)});

    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), 2u) << "two histories under the one key";
    const auto now = store.FindPrinter("", "Printer ", "COM3");
    ASSERT_TRUE(now);
    const PrinterHistory h = store.History(now->id);
    ASSERT_EQ(h.readings.size(), 2u);
    EXPECT_EQ(h.readings[0].total, 300);
    EXPECT_TRUE(h.changes.empty());
    EXPECT_FALSE(now->retiredAt);
    const StoredPrinter& earlier = printers[0].id == now->id ? printers[1] : printers[0];
    EXPECT_EQ(earlier.retiredAt, kStart + 2 * kHour);
    EXPECT_EQ(store.History(earlier.id).readings.size(), 2u) << "the earlier one is kept";
    // Shown as another printer's history beside the one under the key now, never mixed
    // into it; the earlier one has no earlier one of its own.
    ASSERT_EQ(h.earlier.size(), 1u);
    EXPECT_EQ(h.earlier[0].id, earlier.id);
    EXPECT_EQ(h.earlier[0].readingCount, 2);
    EXPECT_EQ(h.earlier[0].lastSeen, kStart + kHour);
    EXPECT_TRUE(store.History(earlier.id).earlier.empty());
    // A third printer on the port: both before it are its earlier ones, latest first.
    store.RecordFill({Reading("", kStart + 4 * kHour, 1, 10)});
    const auto third = store.FindPrinter("", "Printer ", "COM3");
    ASSERT_TRUE(third);
    const auto before = store.History(third->id).earlier;
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(before[0].id, now->id);
    EXPECT_EQ(before[1].id, earlier.id);
}

TEST_F(StoreTest, ASerialNumberOfTwoPrintersOfOneFillKeepsThemApartByPort)
{
    CReadingStore store(m_path);
    store.Open();
    for (int hour = 0; hour < 3; ++hour)
    {
        OdometerReading a = Reading("SAME", kStart + hour * kHour, 100 + hour, 5000 + hour);
        OdometerReading b = Reading("SAME", kStart + hour * kHour, 7 + 2 * hour, 800 + 2 * hour);
        b.port = "COM4";
        const auto result = store.RecordFill({a, b});
        EXPECT_EQ(result.headChanges, 0);
        EXPECT_EQ(result.otherPrinters, 0);
        EXPECT_EQ(result.sharedSerials, std::vector<std::string>{"SAME"});
    }
    // Later fills in which only one of them answers stay with that one.
    store.RecordFill({Reading("SAME", kStart + 3 * kHour, 103, 5003)});
    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), 2u);
    for (const StoredPrinter& p : printers)
        EXPECT_TRUE(p.sharedSerial);
    const auto a = store.FindPrinter("SAME", "Printer SAME", "COM3");
    const auto b = store.FindPrinter("SAME", "Printer SAME", "COM4");
    ASSERT_TRUE(a && b);
    EXPECT_NE(a->id, b->id);
    EXPECT_EQ(store.History(a->id).readings.size(), 4u);
    EXPECT_EQ(store.History(b->id).readings.size(), 3u);
    EXPECT_TRUE(store.History(a->id).changes.empty());
}

TEST_F(StoreTest, ANewSerialNumberCarriesTheHistory)
{
    CReadingStore store(m_path);
    store.Open();
    store.RecordFill({Reading("OLD", kStart, 100, 900)});
    // Another printer once reported the number now given.
    OdometerReading stale = Reading("NEW", kStart, 5, 50);
    stale.port = "COM9";
    store.RecordFill({stale});
    OdometerReading who = Reading("NEW", kStart + kHour, std::nullopt, std::nullopt);
    who.name = "Printer OLD";
    EXPECT_TRUE(store.RecordSerialChange(who, "OLD"));
    store.RecordFill({Reading("NEW", kStart + 2 * kHour, 110, 910)});

    EXPECT_FALSE(store.FindPrinter("OLD", "", ""));
    const auto now = store.FindPrinter("NEW", "", "");
    ASSERT_TRUE(now);
    const PrinterHistory h = store.History(now->id);
    ASSERT_EQ(h.readings.size(), 2u);
    EXPECT_EQ(h.readings[0].head, 100);
    EXPECT_EQ(now->serial, "NEW");
    EXPECT_TRUE(h.changes.empty());
    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), 2u);
    for (const StoredPrinter& p : printers)
    {
        if (p.id != now->id)
        {
            EXPECT_TRUE(p.retiredAt) << "the stale holder of the number";
        }
    }
    // The stale holder is an earlier printer of the new number; a serial number that
    // merely ends like the key is not the key.
    ASSERT_EQ(h.earlier.size(), 1u);
    EXPECT_EQ(h.earlier[0].port, "COM9");
    OdometerReading lookalike = Reading("x:serial:NEW", kStart + 3 * kHour, 9, 90);
    lookalike.port = "COM7";
    store.RecordFill({lookalike});
    lookalike.time += kHour;
    lookalike.total = 1;
    store.RecordFill({lookalike});
    EXPECT_EQ(store.History(now->id).earlier.size(), 1u);
    EXPECT_FALSE(
        store.RecordSerialChange(Reading("X", kStart, std::nullopt, std::nullopt), "NONE"));
}

TEST_F(StoreTest, AConfirmedResetAlwaysStartsANewEntry)
{
    CReadingStore store(m_path);
    store.Open();
    store.RecordFill({Reading("A1", kStart, 500, 900)});
    store.RecordHeadReset(Reading("A1", kStart + kHour, std::nullopt, std::nullopt));
    // The printer has not counted anything yet: the values are those of before.
    store.RecordFill({Reading("A1", kStart + 2 * kHour, 500, 900)});
    store.RecordFill({Reading("A1", kStart + 3 * kHour, 500, 900)});
    const PrinterHistory h = store.History(store.FindPrinter("A1", "", "")->id);
    ASSERT_EQ(h.readings.size(), 2u);
    EXPECT_EQ(h.readings[0].lastSeen, kStart);
    EXPECT_EQ(h.readings[1].firstSeen, kStart + 2 * kHour);
    EXPECT_EQ(h.readings[1].lastSeen, kStart + 3 * kHour);
}

TEST_F(StoreTest, AClampedValueIsNeverRecorded)
{
    CReadingStore store(m_path);
    store.Open();
    store.RecordFill({Reading("A1", kStart, 500, 900)});
    const auto result = store.RecordFill({Reading("A1", kStart + kHour, 510, 2147483647)});
    EXPECT_EQ(result.added, 0);
    EXPECT_EQ(result.clamped, std::vector<std::string>{"Printer A1"});
    store.RecordFill({Reading("A1", kStart + 2 * kHour, 2147483647, 920)});
    EXPECT_EQ(store.History(store.FindPrinter("A1", "", "")->id).readings.size(), 1u);
}

TEST_F(StoreTest, ALowerHeadValueIsAHeadChangeUnlessAResetAccountsForIt)
{
    CReadingStore store(m_path);
    store.Open();
    store.RecordFill({Reading("A1", kStart, 500, 900)});
    auto result = store.RecordFill({Reading("A1", kStart + kHour, 3, 903)});
    EXPECT_EQ(result.headChanges, 1);

    // Reset through the program: the lower value after it is the same change. The
    // reset is found by port, since the program did not ask the serial number.
    store.RecordFill({Reading("A1", kStart + 2 * kHour, 40, 940)});
    OdometerReading who = Reading("", kStart + 2 * kHour + 1000, std::nullopt, std::nullopt);
    who.name = "Printer A1";
    store.RecordHeadReset(who);
    result = store.RecordFill({Reading("A1", kStart + 3 * kHour, 0, 940)});
    EXPECT_EQ(result.headChanges, 0);
    // A reset that the printer did not carry out leaves no lower value; it stays a
    // reset of its own, without a reading.
    store.RecordHeadReset(Reading("A1", kStart + 4 * kHour, std::nullopt, std::nullopt));
    store.RecordFill({Reading("A1", kStart + 5 * kHour, 2, 942)});

    const PrinterHistory h = store.History(store.FindPrinter("A1", "", "")->id);
    ASSERT_EQ(h.changes.size(), 3u);
    EXPECT_EQ(h.changes[0].kind, HeadChangeKind::lowerValue);
    EXPECT_EQ(h.changes[0].headBefore, 500);
    EXPECT_EQ(h.changes[0].readingId, h.readings[1].id);
    EXPECT_EQ(h.changes[1].kind, HeadChangeKind::reset);
    EXPECT_EQ(h.changes[1].headBefore, 40);
    EXPECT_EQ(h.changes[1].readingId, h.readings[3].id);
    EXPECT_EQ(h.changes[2].kind, HeadChangeKind::reset);
    EXPECT_EQ(h.changes[2].readingId, 0);
    EXPECT_EQ(store.Printers().size(), 1u) << "the reset by port found the same printer";
}

TEST_F(StoreTest, UnitsAreKeptAndComparedAcrossTheirRounding)
{
    CReadingStore store(m_path);
    store.Open();
    store.RecordFill({Reading("A1", kStart, 100, 200)});
    // 2540 mm is the same 100 inches: a new entry (another unit), but no head change;
    // nor is 2533 mm (99.7 in), which an inch reading of 100 may have been rounded from.
    auto result =
        store.RecordFill({Reading("A1", kStart + kHour, 2540, 5080, OdometerUnit::millimeters)});
    EXPECT_EQ(result.added, 1);
    EXPECT_EQ(result.headChanges, 0);
    store.RecordFill({Reading("A1", kStart + 2 * kHour, 100, 200)});
    EXPECT_EQ(
        store.RecordFill({Reading("A1", kStart + 3 * kHour, 2533, 5080, OdometerUnit::millimeters)})
            .headChanges,
        0);
    EXPECT_EQ(store.RecordFill({Reading("A1", kStart + 4 * kHour, 98, 200)}).headChanges, 1)
        << "98 in is well below 99.7 in";
    const PrinterHistory h = store.History(store.FindPrinter("A1", "", "")->id);
    EXPECT_EQ(h.readings[1].unit, OdometerUnit::millimeters);
    EXPECT_EQ(h.readings[1].head, 2540);
}

TEST_F(StoreTest, AFillIsOneTransaction)
{
    {
        CReadingStore store(m_path);
        store.Open();
        store.RecordFill({Reading("A1", kStart, 1, 1)});
    }
    // Another program's trigger refuses one printer's reading half way through a fill.
    Sql(m_path, "CREATE TRIGGER refuse BEFORE INSERT ON readings WHEN NEW.name = 'Printer B2' "
                "BEGIN SELECT RAISE(ABORT, 'refused'); END;");
    CReadingStore store(m_path);
    store.Open();
    EXPECT_THROW(
        store.RecordFill({Reading("A1", kStart + kHour, 2, 2), Reading("B1", kStart + kHour, 5, 5),
                          Reading("B2", kStart + kHour, 6, 6)}),
        CReadingStoreError);
    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), 1u) << "nothing of the failed fill is kept";
    EXPECT_EQ(store.History(printers[0].id).readings.size(), 1u);
    // The store is still usable afterwards.
    Sql(m_path, "DROP TRIGGER refuse;");
    EXPECT_EQ(store.RecordFill({Reading("B2", kStart + 2 * kHour, 6, 6)}).added, 1);
}

TEST_F(StoreTest, TwoProcessesWritingAtOnceLoseNothing)
{
    constexpr int kFills = 60;
    constexpr int kPrinters = 40;
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    pid_t children[2];
    for (int child = 0; child < 2; ++child)
    {
        children[child] = ::fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0)
        {
            char go;
            ::close(start[1]);
            if (::read(start[0], &go, 1) != 1)
                ::_exit(3);
            try
            {
                // Both open a file that does not exist yet, and both write every fill.
                CReadingStore store(m_path);
                store.Open();
                const std::string prefix = child ? "B" : "A";
                for (int fill = 0; fill < kFills; ++fill)
                {
                    std::vector<OdometerReading> readings;
                    for (int p = 0; p < kPrinters; ++p)
                        readings.push_back(Reading(prefix + std::to_string(p),
                                                   kStart + fill * kHour, fill * 10, fill * 20));
                    // And one printer both programs see.
                    readings.push_back(
                        Reading("SHARED", kStart + fill * kHour + child, fill, fill));
                    store.RecordFill(readings);
                }
            }
            catch (const std::exception& e)
            {
                std::fprintf(stderr, "child %d: %s\n", child, e.what());
                ::_exit(1);
            }
            ::_exit(0);
        }
    }
    ::close(start[0]);
    ASSERT_EQ(::write(start[1], "gg", 2), 2);
    ::close(start[1]);
    for (pid_t pid : children)
    {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }

    CReadingStore store(m_path);
    store.Open(CReadingStore::OpenMode::readOnly);
    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), std::size_t(2 * kPrinters + 1));
    for (const StoredPrinter& p : printers)
    {
        const PrinterHistory h = store.History(p.id);
        if (p.serial == "SHARED")
        {
            // Both saw the same value each hour, a millisecond apart: one entry per hour,
            // seen first by one program and last by the other.
            ASSERT_EQ(h.readings.size(), std::size_t(kFills));
            for (const StoredReading& r : h.readings)
                EXPECT_EQ(r.lastSeen - r.firstSeen, 1);
            EXPECT_TRUE(h.changes.empty());
            continue;
        }
        ASSERT_EQ(h.readings.size(), std::size_t(kFills)) << p.serial;
        for (int fill = 0; fill < kFills; ++fill)
            EXPECT_EQ(h.readings[std::size_t(fill)].head, fill * 10);
    }
}

TEST_F(StoreTest, ADamagedFileIsReportedAndLeftAsItWas)
{
    const std::string garbage(8192, '\x5a');
    {
        std::ofstream f(m_path, std::ios::binary);
        f << garbage;
    }
    CReadingStore store(m_path);
    try
    {
        store.Open();
        FAIL() << "a damaged file opened";
    }
    catch (const CReadingStoreError& e)
    {
        const std::string text = e.what();
        EXPECT_NE(text.find(m_path), std::string::npos) << text;
        EXPECT_NE(text.find("damaged"), std::string::npos) << text;
    }
    EXPECT_FALSE(store.IsOpen());
    EXPECT_TRUE(Slurp(m_path) == garbage) << "the damaged file was changed";

    // A database of another program is refused as well, and not changed.
    const std::string other = m_dir + "/other.sqlite";
    Sql(other, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('keep');");
    const std::string before = Slurp(other);
    CReadingStore foreign(other);
    try
    {
        foreign.Open();
        FAIL() << "another program's file opened";
    }
    catch (const CReadingStoreError& e)
    {
        EXPECT_NE(std::string(e.what()).find("another program"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(Slurp(other) == before) << "the other program's file was changed";
}

TEST_F(StoreTest, AFolderThatCannotBeWrittenIsReported)
{
    // A file where the folder should be stops even the superuser.
    {
        std::ofstream f(m_dir + "/blocked");
        f << "x";
    }
    CReadingStore store(m_dir + "/blocked/Odomira/odometers.sqlite");
    try
    {
        store.Open();
        FAIL() << "opened below a file";
    }
    catch (const CReadingStoreError& e)
    {
        EXPECT_NE(std::string(e.what()).find("cannot be created"), std::string::npos) << e.what();
    }

    if (::geteuid() != 0)
    {
        const std::string locked = m_dir + "/locked";
        std::filesystem::create_directories(locked);
        ::chmod(locked.c_str(), 0500);
        CReadingStore denied(locked + "/odometers.sqlite");
        EXPECT_THROW(denied.Open(), CReadingStoreError);
        ::chmod(locked.c_str(), 0700);
    }
}

TEST_F(StoreTest, ReadingOnlyNeverCreatesAFile)
{
    CReadingStore store(m_path);
    store.Open(CReadingStore::OpenMode::readOnly);
    EXPECT_TRUE(store.Printers().empty());
    EXPECT_FALSE(store.HeadLife("RX400"));
    EXPECT_FALSE(std::filesystem::exists(m_path));
}

TEST_F(StoreTest, HistoryIsCutToTheTimeAsked)
{
    CReadingStore store(m_path);
    store.Open();
    for (int day = 0; day < 10; ++day)
        store.RecordFill({Reading("A1", kStart + day * kDay, day * 5, day * 9)});
    // An entry seen on days 10 to 12.
    for (int day = 10; day <= 12; ++day)
        store.RecordFill({Reading("A1", kStart + day * kDay, 100, 100)});
    const std::int64_t id = store.FindPrinter("A1", "", "")->id;
    const PrinterHistory h = store.History(id, kStart + 3 * kDay, kStart + 5 * kDay);
    ASSERT_EQ(h.readings.size(), 3u);
    EXPECT_EQ(h.readings.front().head, 15);
    EXPECT_EQ(h.readings.back().head, 25);
    // An entry counts when any part of the time it was seen lies within.
    EXPECT_EQ(store.History(id, kStart + 11 * kDay, std::nullopt).readings.size(), 1u);
    EXPECT_EQ(store.History(id, std::nullopt, kStart - 1).readings.size(), 0u);
}

TEST_F(StoreTest, HeadLifeIsKeptPerModel)
{
    CReadingStore store(m_path);
    store.Open();
    store.SetHeadLife("RX400", 1.5e6);
    store.SetHeadLife("RX200", 800000);
    store.SetHeadLife("RX400", 1.2e6);
    EXPECT_EQ(store.HeadLife("RX400"), 1.2e6);
    EXPECT_FALSE(store.HeadLife("rx400")) << "the model as the list shows it, exactly";
    EXPECT_THROW(store.SetHeadLife("RX400", 0.0), CReadingStoreError);
    EXPECT_THROW(store.SetHeadLife("RX400", -3.0), CReadingStoreError);
    EXPECT_THROW(store.SetHeadLife("RX400", 1e300), CReadingStoreError);
    EXPECT_NO_THROW(store.SetHeadLife("RX300", 1e9));
    store.SetHeadLife("RX300", std::nullopt);

    // As people type them, in the dialog and on the command line.
    for (const auto& [text, value] :
         std::vector<std::pair<const char*, std::optional<double>>>{{"150000", 150000.0},
                                                                    {"1.5e5", 150000.0},
                                                                    {"1", 1.0},
                                                                    {"1000000000", 1e9},
                                                                    {"0.5", std::nullopt},
                                                                    {"1000000001", std::nullopt},
                                                                    {"1e300", std::nullopt},
                                                                    {"0x10", std::nullopt},
                                                                    {"inf", std::nullopt},
                                                                    {"nan", std::nullopt},
                                                                    {"-5", std::nullopt},
                                                                    {" 5", std::nullopt},
                                                                    {"5 in", std::nullopt},
                                                                    {"1e", std::nullopt},
                                                                    {".", std::nullopt},
                                                                    {"", std::nullopt}})
        EXPECT_EQ(ParseHeadLife(text), value) << text;
    store.SetHeadLife("RX200", std::nullopt);
    const auto lives = store.HeadLives();
    ASSERT_EQ(lives.size(), 1u);
    EXPECT_EQ(lives[0].first, "RX400");

    CReadingStore again(m_path);
    again.Open(CReadingStore::OpenMode::readOnly);
    EXPECT_EQ(again.HeadLife("RX400"), 1.2e6);
}

TEST_F(StoreTest, TheFolderFollowsTheSettingsRootThenXdgDataHome)
{
    const std::string saved = std::getenv("VARKO_SETTINGS_ROOT");
    EXPECT_EQ(CReadingStore::DefaultPath(), saved + "/data/Odomira/odometers.sqlite");
    ::unsetenv("VARKO_SETTINGS_ROOT");
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(CReadingStore::DefaultFolder(), "/srv/data/Odomira");
    // A relative XDG_DATA_HOME is to be ignored.
    ::setenv("XDG_DATA_HOME", "relative", 1);
    ::setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(CReadingStore::DefaultFolder(), "/home/someone/.local/share/Odomira");
    // Without HOME (a service, a cron job): the home folder the system knows, never a
    // folder that every user shares.
    const std::string home = std::getenv("HOME");
    ::unsetenv("HOME");
    ::unsetenv("XDG_DATA_HOME");
    const struct passwd* pw = ::getpwuid(::getuid());
    ASSERT_TRUE(pw && pw->pw_dir);
    EXPECT_EQ(CReadingStore::DefaultFolder(), std::string(pw->pw_dir) + "/.local/share/Odomira");
    EXPECT_EQ(CReadingStore::DefaultFolder().rfind("/tmp", 0), std::string::npos);
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("VARKO_SETTINGS_ROOT", saved.c_str(), 1);
}

TEST_F(StoreTest, ReadersNeedNoWriteAccessAndLeaveNothingThatStopsLaterWrites)
{
    const std::string folder = "/tmp/odomira-ro-" + std::to_string(::getpid());
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    ::chmod(folder.c_str(), 0755);
    const std::string path = folder + "/odometers.sqlite";
    {
        CReadingStore store(path);
        store.Open();
        store.SetHeadLife("RX400", 1000);
    }
    // A folder the reader may not write, with no log beside the file.
    ::chmod(folder.c_str(), 0555);
    EXPECT_EQ(AsUser(folder, [&] { return ReadsHeadLife(path, 1000); }), 0);

    // A writer that ended without tidying up: its log still holds the latest change.
    ::chmod(folder.c_str(), 0755);
    const pid_t writer = ::fork();
    if (writer == 0)
    {
        CReadingStore store(path);
        store.Open();
        store.SetHeadLife("RX400", 2000);
        ::_exit(0); // no close: the log stays
    }
    ::waitpid(writer, nullptr, 0);
    ASSERT_TRUE(std::filesystem::exists(path + "-wal"));
    ::chmod(folder.c_str(), 0555);
    EXPECT_EQ(AsUser(folder, [&] { return ReadsHeadLife(path, 2000); }), 0);
    ::chmod(folder.c_str(), 0755);

    // A file made read-only for a while: reading it leaves nothing that stops the
    // owner's writes once it may be written again.
    {
        CReadingStore store(path);
        store.Open();
    }
    std::filesystem::remove(path + "-wal");
    std::filesystem::remove(path + "-shm");
    EXPECT_EQ(AsUser(folder,
                     [&]
                     {
                         ::chmod(path.c_str(), 0444);
                         if (const int read = ReadsHeadLife(path, 2000))
                             return read;
                         ::chmod(path.c_str(), 0644);
                         try
                         {
                             CReadingStore store(path);
                             store.Open();
                             store.SetHeadLife("RX400", 3000);
                         }
                         catch (const CReadingStoreError& e)
                         {
                             std::fprintf(stderr, "%s\n", e.what());
                             return 3;
                         }
                         return 0;
                     }),
              0);
    // Left-overs of such a reader of an older version, as unwritable as the file was.
    for (const char* side : {"-wal", "-shm"})
    {
        std::ofstream(path + side).close();
        ::chmod((path + side).c_str(), 0444);
    }
    EXPECT_EQ(AsUser(folder,
                     [&]
                     {
                         try
                         {
                             CReadingStore store(path);
                             store.Open();
                             store.SetHeadLife("RX400", 4000);
                         }
                         catch (const CReadingStoreError& e)
                         {
                             std::fprintf(stderr, "%s\n", e.what());
                             return 3;
                         }
                         return 0;
                     }),
              0);
    std::filesystem::remove_all(folder);
}

TEST_F(StoreTest, ANetworkFileSystemGetsARollbackJournal)
{
    for (const auto& [type, network] :
         std::vector<std::pair<long, bool>>{{0x6969, true},       // NFS
                                            {0xFF534D42L, true},  // CIFS
                                            {0xFE534D42L, true},  // SMB2
                                            {0x517B, true},       // SMB
                                            {0xEF53, false},      // ext4
                                            {0x01021994, false},  // tmpfs
                                            {0x58465342, false}}) // XFS
        EXPECT_EQ(CReadingStore::IsNetworkFileSystemType(type), network) << std::hex << type;

    {
        CReadingStore local(m_path);
        local.Open();
        EXPECT_EQ(local.JournalMode(), "wal");
    }
    CReadingStore shared(m_path);
    std::string asked;
    shared.SetFileSystemProbe(
        [&](const std::string& folder)
        {
            asked = folder;
            return true;
        });
    shared.Open();
    EXPECT_EQ(asked, m_dir);
    EXPECT_EQ(shared.JournalMode(), "delete") << "a WAL file is turned back";
    shared.RecordFill({Reading("A1", kStart, 1, 2)});
    EXPECT_FALSE(std::filesystem::exists(m_path + "-wal"));
}

TEST_F(StoreTest, ANewerSchemaIsReadOnlyWhenItSaysItCanBe)
{
    for (const auto& [userVersion, readable] : std::vector<std::pair<std::int64_t, bool>>{
             {1, true}, {2, false}, {2 | (1 << 16), true}, {3 | (2 << 16), false}})
    {
        std::filesystem::remove(m_path);
        {
            CReadingStore store(m_path);
            store.Open();
            store.SetHeadLife("RX400", 1000);
        }
        Sql(m_path, "PRAGMA user_version=" + std::to_string(userVersion));
        CReadingStore reader(m_path);
        if (readable)
        {
            ASSERT_NO_THROW(reader.Open(CReadingStore::OpenMode::readOnly)) << userVersion;
            EXPECT_EQ(reader.HeadLife("RX400"), 1000.0);
        }
        else
            EXPECT_THROW(reader.Open(CReadingStore::OpenMode::readOnly), CReadingStoreError)
                << userVersion;
        CReadingStore writer(m_path);
        if (userVersion == 1)
            EXPECT_NO_THROW(writer.Open());
        else
            EXPECT_THROW(writer.Open(), CReadingStoreError) << "never written: " << userVersion;
    }
}

TEST_F(StoreTest, AStoredVersionOneFileStillReads)
{
    // Written by the first version of the store; later versions must read it (and
    // migrate it when the schema moves on).
    const char* source = std::getenv("ODOMIRA_SOURCE_DIR");
    ASSERT_TRUE(source);
    std::filesystem::copy_file(std::string(source) + "/tests/fleet/data/odometers-v1.sqlite",
                               m_path);
    CReadingStore store(m_path);
    store.Open(CReadingStore::OpenMode::readOnly);
    const auto printers = store.Printers();
    ASSERT_EQ(printers.size(), 2u);
    const auto dock = store.FindPrinter("RX4-1", "", "");
    ASSERT_TRUE(dock);
    EXPECT_EQ(dock->name, "Dock");
    const PrinterHistory h = store.History(dock->id);
    ASSERT_EQ(h.readings.size(), 4u);
    EXPECT_EQ(h.readings[0].head, 100);
    EXPECT_EQ(h.readings[3].unit, OdometerUnit::millimeters);
    ASSERT_EQ(h.changes.size(), 2u);
    EXPECT_EQ(h.changes[0].kind, HeadChangeKind::lowerValue);
    EXPECT_EQ(h.changes[1].kind, HeadChangeKind::reset);
    EXPECT_EQ(store.HeadLife("RX400"), 1000000.0);
    const auto byPort = store.FindPrinter("", "Line", "LPT1");
    ASSERT_TRUE(byPort);
    EXPECT_EQ(store.History(byPort->id).readings.size(), 1u);

    // And takes new readings after the old ones.
    CReadingStore writer(m_path);
    writer.Open();
    OdometerReading r =
        Reading("RX4-1", h.readings.back().lastSeen + kDay, 80, 95000, OdometerUnit::millimeters);
    r.name = "Dock";
    EXPECT_EQ(writer.RecordFill({r}).added, 1);
}
