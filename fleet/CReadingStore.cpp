#include "CReadingStore.h"

#include <sqlite3.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace
{
// "ODOM" in the file header: a file of another program is refused, never changed.
constexpr int kApplicationId = 0x4F444F4D;
constexpr int kSchemaVersion = 1;

const char* const kSchema = R"sql(
CREATE TABLE printers(
    id INTEGER PRIMARY KEY,
    identity TEXT NOT NULL UNIQUE,
    serial TEXT NOT NULL,
    name TEXT NOT NULL,
    model TEXT NOT NULL,
    port TEXT NOT NULL,
    first_seen INTEGER NOT NULL,
    last_seen INTEGER NOT NULL);
CREATE INDEX printers_by_port ON printers(port, last_seen);
CREATE TABLE readings(
    id INTEGER PRIMARY KEY,
    printer INTEGER NOT NULL REFERENCES printers(id),
    first_seen INTEGER NOT NULL,
    last_seen INTEGER NOT NULL,
    name TEXT NOT NULL,
    model TEXT NOT NULL,
    port TEXT NOT NULL,
    head INTEGER,
    total INTEGER,
    unit TEXT NOT NULL CHECK(unit IN ('in', 'mm')));
CREATE INDEX readings_by_printer ON readings(printer, first_seen);
CREATE TABLE head_changes(
    id INTEGER PRIMARY KEY,
    printer INTEGER NOT NULL REFERENCES printers(id),
    time INTEGER NOT NULL,
    kind TEXT NOT NULL CHECK(kind IN ('lower_value', 'reset')),
    reading INTEGER REFERENCES readings(id),
    head_before INTEGER,
    unit_before TEXT);
CREATE INDEX head_changes_by_printer ON head_changes(printer, time);
CREATE TABLE head_life(
    model TEXT PRIMARY KEY,
    inches REAL NOT NULL CHECK(inches > 0));
)sql";

// Slots of the prepared statements, which a fill of a thousand printers reuses.
enum Slot
{
    kFindIdentity,
    kInsertPrinter,
    kUpdatePrinter,
    kLastOnPort,
    kPreviousReading,
    kMergeReading,
    kNextReading,
    kMergeEarlier,
    kInsertReading,
    kPendingReset,
    kLinkReset,
    kInsertChange,
    kPrinterById,
    kReadings,
    kChanges,
    kSlotCount
};

std::string Describe(int code, const char* message)
{
    switch (code & 0xff)
    {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return std::string("the file is damaged or is not an odometer history (") + message + ")";
    case SQLITE_CANTOPEN:
        return std::string("the file cannot be opened or created; check that the folder "
                           "exists and that you may write to it (") +
               message + ")";
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return std::string("you may not write to the file or its folder (") + message + ")";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return "another program kept the file locked for more than " +
               std::to_string(CReadingStore::BUSY_TIMEOUT_MS / 1000) + " seconds";
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_IOERR:
        return std::string("the disk reported an error (") + message + ")";
    default:
        return message;
    }
}

bool IsLowerHead(const StoredReading& before, const OdometerReading& now)
{
    if (!before.head || !now.head)
        return false;
    if (before.unit == now.unit)
        return *now.head < *before.head;
    // Each value is rounded to a whole number of its own unit: only a drop larger than
    // both roundings together is a drop.
    const double tolerance = 0.5 + 0.5 / MILLIMETERS_PER_INCH;
    return ToInches(double(*now.head), now.unit) <
           ToInches(double(*before.head), before.unit) - tolerance;
}

bool SameOdometers(const StoredReading& before, const OdometerReading& now)
{
    return before.unit == now.unit && before.head == now.head && before.total == now.total;
}
} // namespace

// One prepared statement, bound and stepped through; errors become CReadingStoreError.
class CReadingStore::Statement
{
public:
    Statement(const CReadingStore& store, const char* sql) : m_store(store)
    {
        if (sqlite3_prepare_v2(store.m_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
            store.Fail("cannot prepare a query");
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Start()
    {
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        m_next = 1;
        return *this;
    }
    Statement& Bind(std::int64_t value)
    {
        sqlite3_bind_int64(m_stmt, m_next++, value);
        return *this;
    }
    Statement& Bind(const std::string& text)
    {
        sqlite3_bind_text(m_stmt, m_next++, text.data(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(const char* text) { return Bind(std::string(text)); }
    Statement& Bind(const std::optional<long long>& value)
    {
        if (value)
            sqlite3_bind_int64(m_stmt, m_next++, *value);
        else
            sqlite3_bind_null(m_stmt, m_next++);
        return *this;
    }
    Statement& Bind(double value)
    {
        sqlite3_bind_double(m_stmt, m_next++, value);
        return *this;
    }

    // True while there is a row to read.
    bool Step()
    {
        const int rc = sqlite3_step(m_stmt);
        if (rc == SQLITE_ROW)
            return true;
        // Done: the statement lets go of its read lock at once.
        sqlite3_reset(m_stmt);
        if (rc != SQLITE_DONE)
            m_store.Fail("cannot read or write the readings");
        return false;
    }
    void Run()
    {
        while (Step())
        {
        }
    }
    void Finish() { sqlite3_reset(m_stmt); }

    std::int64_t Int(int column) const { return sqlite3_column_int64(m_stmt, column); }
    double Real(int column) const { return sqlite3_column_double(m_stmt, column); }
    std::optional<long long> OptionalInt(int column) const
    {
        if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
            return std::nullopt;
        return sqlite3_column_int64(m_stmt, column);
    }
    std::string Text(int column) const
    {
        const auto* text = sqlite3_column_text(m_stmt, column);
        return text ? std::string(reinterpret_cast<const char*>(text),
                                  std::size_t(sqlite3_column_bytes(m_stmt, column)))
                    : std::string();
    }

private:
    const CReadingStore& m_store;
    sqlite3_stmt* m_stmt = nullptr;
    int m_next = 1;
};

std::string CReadingStore::DefaultFolder()
{
    namespace fs = std::filesystem;
    if (const char* root = std::getenv("VARKO_SETTINGS_ROOT"); root && *root)
        return (fs::path(root) / "data" / "Odomira").string();
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data && data[0] == '/')
        return (fs::path(data) / "Odomira").string();
    const char* home = std::getenv("HOME");
    return (fs::path(home && *home ? home : "/tmp") / ".local" / "share" / "Odomira").string();
}

std::string CReadingStore::DefaultPath()
{
    return (std::filesystem::path(DefaultFolder()) / FILE_NAME).string();
}

CReadingStore::CReadingStore(std::string path) : m_path(std::move(path))
{
    m_statements.resize(kSlotCount);
}

CReadingStore::~CReadingStore()
{
    m_statements.clear();
    if (m_db)
        sqlite3_close_v2(m_db);
}

void CReadingStore::Fail(const std::string& what) const
{
    const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    const char* message = m_db ? sqlite3_errmsg(m_db) : "out of memory";
    throw CReadingStoreError("Odometer history " + m_path + ": " + Describe(code, message) +
                             (what.empty() ? "" : " (" + what + ")"));
}

void CReadingStore::ExpectOpen() const
{
    if (!m_db)
        throw CReadingStoreError("Odometer history " + m_path + ": not open");
}

void CReadingStore::Execute(const char* sql)
{
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail("");
}

CReadingStore::Statement& CReadingStore::Prepared(int slot, const char* sql) const
{
    auto& statement = m_statements[std::size_t(slot)];
    if (!statement)
        statement = std::make_unique<Statement>(*this, sql);
    return statement->Start();
}

void CReadingStore::Open(OpenMode mode)
{
    namespace fs = std::filesystem;
    if (m_db)
        return;
    int flags = SQLITE_OPEN_NOMUTEX;
    std::string path = m_path;
    std::error_code ec;
    if (mode == OpenMode::readOnly)
    {
        if (!fs::exists(m_path, ec))
        {
            // Nothing recorded yet: an empty store in memory answers every question.
            m_empty = true;
            path = ":memory:";
            flags |= SQLITE_OPEN_READWRITE;
        }
        else
            flags |= SQLITE_OPEN_READONLY;
    }
    else
    {
        const fs::path folder = fs::path(m_path).parent_path();
        if (!folder.empty() && !fs::is_directory(folder, ec))
        {
            fs::create_directories(folder, ec);
            if (ec)
                throw CReadingStoreError("Odometer history " + m_path + ": the folder " +
                                         folder.string() + " cannot be created (" + ec.message() +
                                         ")");
        }
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    }

    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK)
    {
        const std::string message =
            "Odometer history " + m_path + ": " +
            Describe(m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN,
                     m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw CReadingStoreError(message);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, BUSY_TIMEOUT_MS);
    try
    {
        CreateSchema();
    }
    catch (...)
    {
        m_statements.clear();
        m_statements.resize(kSlotCount);
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw;
    }
}

void CReadingStore::CreateSchema()
{
    auto pragma = [this](const char* sql)
    {
        Statement s(*this, sql);
        const std::int64_t value = s.Step() ? s.Int(0) : 0;
        s.Finish();
        return value;
    };
    const bool writable = !sqlite3_db_readonly(m_db, "main");
    if (writable && !m_empty)
    {
        // Whose file it is, before anything is written to it: even the journal mode is
        // kept in the file's header.
        const std::int64_t applicationId = pragma("PRAGMA application_id");
        if (applicationId != kApplicationId &&
            (applicationId != 0 || pragma("SELECT count(*) FROM sqlite_master") != 0))
            throw CReadingStoreError("Odometer history " + m_path +
                                     ": the file belongs to another program; this version of "
                                     "Odomira leaves it alone");
        Execute("PRAGMA journal_mode=WAL");
    }
    if (writable)
        Execute("BEGIN IMMEDIATE");
    try
    {
        // Again inside the transaction: another program may have made the file meanwhile.
        const std::int64_t applicationId = pragma("PRAGMA application_id");
        const std::int64_t version = pragma("PRAGMA user_version");
        const std::int64_t tables = pragma("SELECT count(*) FROM sqlite_master");
        if (applicationId == kApplicationId)
        {
            if (version > kSchemaVersion)
                throw CReadingStoreError("Odometer history " + m_path +
                                         ": the file was written by a newer version of "
                                         "Odomira; this version leaves it alone");
        }
        else if (applicationId != 0 || tables != 0)
            throw CReadingStoreError("Odometer history " + m_path +
                                     ": the file belongs to another program; this version of "
                                     "Odomira leaves it alone");
        else if (!writable)
        {
            // An empty file made by someone else: nothing to read.
            if (!m_empty)
                throw CReadingStoreError("Odometer history " + m_path + ": the file is empty");
        }
        if (applicationId != kApplicationId && (writable || m_empty))
        {
            Execute(kSchema);
            Execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
            Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        }
        if (writable)
            Execute("COMMIT");
    }
    catch (...)
    {
        if (writable)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

std::int64_t CReadingStore::PrinterFor(const OdometerReading& r, bool byPortFallback)
{
    if (byPortFallback && r.serial.empty())
    {
        Statement& last = Prepared(
            kLastOnPort, "SELECT id FROM printers WHERE port = ? ORDER BY last_seen DESC LIMIT 1");
        if (last.Bind(r.port).Step())
        {
            const std::int64_t id = last.Int(0);
            last.Finish();
            return id;
        }
    }
    const std::string identity = r.serial.empty() ? "port:" + r.port : "serial:" + r.serial;
    Statement& find =
        Prepared(kFindIdentity, "SELECT id, last_seen FROM printers WHERE identity = ?");
    if (find.Bind(identity).Step())
    {
        const std::int64_t id = find.Int(0);
        const UtcMillis lastSeen = find.Int(1);
        find.Finish();
        // The latest sighting names the printer.
        if (r.time >= lastSeen)
            Prepared(kUpdatePrinter,
                     "UPDATE printers SET name = ?, model = ?, port = ?, last_seen = ? "
                     "WHERE id = ?")
                .Bind(r.name)
                .Bind(r.model)
                .Bind(r.port)
                .Bind(r.time)
                .Bind(id)
                .Run();
        return id;
    }
    Prepared(kInsertPrinter, "INSERT INTO printers(identity, serial, name, model, port, "
                             "first_seen, last_seen) VALUES(?, ?, ?, ?, ?, ?, ?)")
        .Bind(identity)
        .Bind(r.serial)
        .Bind(r.name)
        .Bind(r.model)
        .Bind(r.port)
        .Bind(r.time)
        .Bind(r.time)
        .Run();
    return sqlite3_last_insert_rowid(m_db);
}

CReadingStore::FillResult CReadingStore::RecordFill(const std::vector<OdometerReading>& readings)
{
    ExpectOpen();
    FillResult result;
    Execute("BEGIN IMMEDIATE");
    try
    {
        for (const OdometerReading& r : readings)
        {
            if (!r.head && !r.total)
            {
                ++result.skipped;
                continue;
            }
            const std::int64_t printer = PrinterFor(r, false);

            // The reading this one follows in time; readings of two programs may arrive
            // slightly out of order.
            Statement& previous =
                Prepared(kPreviousReading, "SELECT id, last_seen, head, total, unit FROM readings "
                                           "WHERE printer = ? AND first_seen <= ? "
                                           "ORDER BY first_seen DESC, id DESC LIMIT 1");
            std::optional<StoredReading> before;
            if (previous.Bind(printer).Bind(r.time).Step())
            {
                before.emplace();
                before->id = previous.Int(0);
                before->lastSeen = previous.Int(1);
                before->head = previous.OptionalInt(2);
                before->total = previous.OptionalInt(3);
                before->unit = UnitFromKey(previous.Text(4)).value_or(OdometerUnit::inches);
                previous.Finish();
            }

            if (before && SameOdometers(*before, r))
            {
                Prepared(kMergeReading,
                         "UPDATE readings SET last_seen = max(last_seen, ?) WHERE id = ?")
                    .Bind(r.time)
                    .Bind(before->id)
                    .Run();
                ++result.merged;
                continue;
            }

            // The other program may already have recorded the same value a little later.
            Statement& next = Prepared(kNextReading, "SELECT id, head, total, unit FROM readings "
                                                     "WHERE printer = ? AND first_seen > ? "
                                                     "ORDER BY first_seen, id LIMIT 1");
            if (next.Bind(printer).Bind(r.time).Step())
            {
                StoredReading after;
                after.id = next.Int(0);
                after.head = next.OptionalInt(1);
                after.total = next.OptionalInt(2);
                after.unit = UnitFromKey(next.Text(3)).value_or(OdometerUnit::inches);
                next.Finish();
                if (SameOdometers(after, r))
                {
                    Prepared(kMergeEarlier, "UPDATE readings SET first_seen = ? WHERE id = ?")
                        .Bind(r.time)
                        .Bind(after.id)
                        .Run();
                    ++result.merged;
                    continue;
                }
            }

            Prepared(kInsertReading,
                     "INSERT INTO readings(printer, first_seen, last_seen, name, model, port, "
                     "head, total, unit) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .Bind(printer)
                .Bind(r.time)
                .Bind(r.time)
                .Bind(r.name)
                .Bind(r.model)
                .Bind(r.port)
                .Bind(r.head)
                .Bind(r.total)
                .Bind(UnitKey(r.unit))
                .Run();
            const std::int64_t readingId = sqlite3_last_insert_rowid(m_db);
            ++result.added;

            if (!before || !IsLowerHead(*before, r))
                continue;
            // A reset confirmed after the reading before this one already is the change
            // this lower value shows.
            Statement& pending =
                Prepared(kPendingReset, "SELECT id FROM head_changes WHERE printer = ? AND "
                                        "kind = 'reset' AND reading IS NULL AND time >= ? AND "
                                        "time <= ? ORDER BY time DESC LIMIT 1");
            if (pending.Bind(printer).Bind(before->lastSeen).Bind(r.time).Step())
            {
                const std::int64_t reset = pending.Int(0);
                pending.Finish();
                Prepared(kLinkReset, "UPDATE head_changes SET reading = ? WHERE id = ?")
                    .Bind(readingId)
                    .Bind(reset)
                    .Run();
                continue;
            }
            Prepared(kInsertChange, "INSERT INTO head_changes(printer, time, kind, reading, "
                                    "head_before, unit_before) VALUES(?, ?, ?, ?, ?, ?)")
                .Bind(printer)
                .Bind(r.time)
                .Bind(HeadChangeKey(HeadChangeKind::lowerValue))
                .Bind(readingId)
                .Bind(before->head)
                .Bind(UnitKey(before->unit))
                .Run();
            ++result.headChanges;
        }
        Execute("COMMIT");
    }
    catch (...)
    {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
    return result;
}

void CReadingStore::RecordHeadReset(const OdometerReading& who)
{
    ExpectOpen();
    Execute("BEGIN IMMEDIATE");
    try
    {
        const std::int64_t printer = PrinterFor(who, true);
        Statement& previous =
            Prepared(kPreviousReading, "SELECT id, last_seen, head, total, unit FROM readings "
                                       "WHERE printer = ? AND first_seen <= ? "
                                       "ORDER BY first_seen DESC, id DESC LIMIT 1");
        std::optional<long long> headBefore;
        std::string unitBefore = UnitKey(OdometerUnit::inches);
        if (previous.Bind(printer).Bind(who.time).Step())
        {
            headBefore = previous.OptionalInt(2);
            unitBefore = previous.Text(4);
            previous.Finish();
        }
        Prepared(kInsertChange, "INSERT INTO head_changes(printer, time, kind, reading, "
                                "head_before, unit_before) VALUES(?, ?, ?, ?, ?, ?)")
            .Bind(printer)
            .Bind(who.time)
            .Bind(HeadChangeKey(HeadChangeKind::reset))
            .Bind(std::optional<long long>())
            .Bind(headBefore)
            .Bind(unitBefore)
            .Run();
        Execute("COMMIT");
    }
    catch (...)
    {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

namespace
{
const char* const kPrinterColumns =
    "SELECT p.id, p.serial, p.name, p.model, p.port, p.first_seen, p.last_seen, "
    "(SELECT count(*) FROM readings r WHERE r.printer = p.id) FROM printers p ";
} // namespace

std::vector<StoredPrinter> CReadingStore::Printers() const
{
    ExpectOpen();
    std::vector<StoredPrinter> printers;
    Statement s(*this, (std::string(kPrinterColumns) + "ORDER BY p.last_seen DESC, p.id").c_str());
    while (s.Step())
        printers.push_back(
            {s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Int(5), s.Int(6), s.Int(7)});
    return printers;
}

std::optional<StoredPrinter> CReadingStore::FindPrinter(const std::string& serial,
                                                        const std::string& name,
                                                        const std::string& port) const
{
    ExpectOpen();
    auto first = [this](const std::string& where, std::initializer_list<std::string> values)
    {
        Statement s(*this,
                    (kPrinterColumns + where + " ORDER BY p.last_seen DESC LIMIT 1").c_str());
        for (const std::string& v : values)
            s.Bind(v);
        std::optional<StoredPrinter> found;
        if (s.Step())
        {
            found = StoredPrinter{s.Int(0),  s.Text(1), s.Text(2), s.Text(3),
                                  s.Text(4), s.Int(5),  s.Int(6),  s.Int(7)};
            s.Finish();
        }
        return found;
    };
    if (!serial.empty())
        return first("WHERE p.identity = ?", {"serial:" + serial});
    if (auto p = first("WHERE p.name = ? AND p.port = ?", {name, port}))
        return p;
    if (auto p = first("WHERE p.port = ?", {port}))
        return p;
    return first("WHERE p.name = ?", {name});
}

PrinterHistory CReadingStore::History(std::int64_t printerId, std::optional<UtcMillis> since,
                                      std::optional<UtcMillis> until) const
{
    ExpectOpen();
    PrinterHistory history;
    Statement& p =
        Prepared(kPrinterById, (std::string(kPrinterColumns) + "WHERE p.id = ?").c_str());
    if (p.Bind(printerId).Step())
    {
        history.printer = {p.Int(0),  p.Text(1), p.Text(2), p.Text(3),
                           p.Text(4), p.Int(5),  p.Int(6),  p.Int(7)};
        p.Finish();
    }
    else
        return history;

    const UtcMillis from = since.value_or(INT64_MIN);
    const UtcMillis to = until.value_or(INT64_MAX);
    Statement& r =
        Prepared(kReadings, "SELECT id, first_seen, last_seen, name, model, port, head, total, "
                            "unit FROM readings WHERE printer = ? AND last_seen >= ? AND "
                            "first_seen <= ? ORDER BY first_seen, id");
    r.Bind(printerId).Bind(from).Bind(to);
    while (r.Step())
    {
        StoredReading reading;
        reading.id = r.Int(0);
        reading.firstSeen = r.Int(1);
        reading.lastSeen = r.Int(2);
        reading.name = r.Text(3);
        reading.model = r.Text(4);
        reading.port = r.Text(5);
        reading.head = r.OptionalInt(6);
        reading.total = r.OptionalInt(7);
        reading.unit = UnitFromKey(r.Text(8)).value_or(OdometerUnit::inches);
        history.readings.push_back(std::move(reading));
    }
    Statement& c = Prepared(kChanges, "SELECT time, kind, reading, head_before, unit_before FROM "
                                      "head_changes WHERE printer = ? AND time >= ? AND time <= ? "
                                      "ORDER BY time, id");
    c.Bind(printerId).Bind(from).Bind(to);
    while (c.Step())
    {
        HeadChange change;
        change.time = c.Int(0);
        change.kind = c.Text(1) == HeadChangeKey(HeadChangeKind::reset)
                          ? HeadChangeKind::reset
                          : HeadChangeKind::lowerValue;
        change.readingId = c.OptionalInt(2).value_or(0);
        change.headBefore = c.OptionalInt(3);
        change.unitBefore = UnitFromKey(c.Text(4)).value_or(OdometerUnit::inches);
        history.changes.push_back(change);
    }
    return history;
}

void CReadingStore::SetHeadLife(const std::string& model, std::optional<double> inches)
{
    ExpectOpen();
    if (inches && !(std::isfinite(*inches) && *inches > 0))
        throw CReadingStoreError("a head life is a positive number of inches");
    if (inches)
    {
        Statement s(*this, "INSERT INTO head_life(model, inches) VALUES(?, ?) "
                           "ON CONFLICT(model) DO UPDATE SET inches = excluded.inches");
        s.Bind(model).Bind(*inches).Run();
    }
    else
    {
        Statement s(*this, "DELETE FROM head_life WHERE model = ?");
        s.Bind(model).Run();
    }
}

std::optional<double> CReadingStore::HeadLife(const std::string& model) const
{
    ExpectOpen();
    Statement s(*this, "SELECT inches FROM head_life WHERE model = ?");
    if (!s.Bind(model).Step())
        return std::nullopt;
    const double inches = s.Real(0);
    s.Finish();
    return inches;
}

std::vector<std::pair<std::string, double>> CReadingStore::HeadLives() const
{
    ExpectOpen();
    std::vector<std::pair<std::string, double>> lives;
    Statement s(*this, "SELECT model, inches FROM head_life ORDER BY model");
    while (s.Step())
        lives.emplace_back(s.Text(0), s.Real(1));
    return lives;
}
