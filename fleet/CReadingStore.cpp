#include "CReadingStore.h"

#include "ReadingMerge.h"

#include <sqlite3.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace
{
// "ODOM" in the file header: a file of another program is refused, never changed.
constexpr int kApplicationId = 0x4F444F4D;
constexpr std::int64_t kSchemaVersion = CReadingStore::SCHEMA_VERSION;

// A printer's row holds the name, model and port it was last read under, rewritten only
// when they change; when it was last seen is its latest reading's business (or its
// latest reset's), so a fill of an unchanged fleet writes no printer rows.
// (Keeping the readings in the order of printer and time would make one printer's year
// a few neighbouring pages, but then every fill rewrites a page per printer: twice the
// work of a fill for a read that is fast enough as it is.)
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
    kResetSeen,
    kRename,
    kNextId,
    kPreviousReading,
    kLatestReading,
    kMergeReading,
    kNextReading,
    kMergeEarlier,
    kInsertReading,
    kPendingReset,
    kLinkReset,
    kRetire,
    kSharedSerials,
    kLastResets,
    kInsertChange,
    kReadings,
    kChanges,
    kSlotCount
};

CReadingStoreError::Kind KindOf(int code)
{
    switch (code & 0xff)
    {
    case SQLITE_BUSY:
        return CReadingStoreError::Kind::busy;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return CReadingStoreError::Kind::readOnly;
    default:
        return CReadingStoreError::Kind::other;
    }
}

// A file: URI of a path, with what a URI cannot hold as it is written in %XX.
std::string UriOf(const std::string& path, const char* query)
{
    std::string uri = "file:";
    for (const unsigned char c : path)
        if (std::isalnum(c) || std::strchr("/-._~", c))
            uri += char(c);
        else
        {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    return uri + "?" + query;
}

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
    // A row of kReadingColumns.
    StoredReading Reading() const
    {
        StoredReading r;
        r.id = Int(0);
        r.firstSeen = Int(1);
        r.lastSeen = Int(2);
        r.head = OptionalInt(3);
        r.total = OptionalInt(4);
        r.unit = UnitFromKey(Text(5)).value_or(OdometerUnit::inches);
        r.name = Text(6);
        r.model = Text(7);
        r.port = Text(8);
        return r;
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
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable && variable[0] == '/')
        home = variable;
    else
    {
        // As the settings do: a service or a cron job may run without HOME, and a
        // shared folder such as /tmp would give every user's history to whoever
        // makes the file first.
        struct passwd pw
        {
        };
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &pw, buffer, sizeof buffer, &found) == 0 && found &&
            found->pw_dir && found->pw_dir[0] == '/')
            home = found->pw_dir;
    }
    if (home.empty())
        return {};
    return (fs::path(home) / ".local" / "share" / "Odomira").string();
}

std::string CReadingStore::DefaultPath()
{
    const std::string folder = DefaultFolder();
    return folder.empty() ? std::string() : (std::filesystem::path(folder) / FILE_NAME).string();
}

bool CReadingStore::IsHeadLife(double value)
{
    // Whole bounds of either unit: from an inch (25.4 mm are entered as 25.4) to 10^9
    // millimetres or inches, which keeps every date the forecast works out in range.
    return std::isfinite(value) && value >= 1 / MILLIMETERS_PER_INCH && value <= MAX_HEAD_LIFE;
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
                                 (what.empty() ? "" : " (" + what + ")"),
                             KindOf(code));
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
    if (m_path.empty())
        throw CReadingStoreError("Odometer history: there is no folder to keep it in (HOME is "
                                 "not set and the user has no home folder); set XDG_DATA_HOME");
    std::error_code ec;
    if (mode == OpenMode::readOnly)
    {
        if (!fs::exists(m_path, ec))
        {
            // Nothing recorded yet: an empty store in memory answers every question.
            m_empty = true;
            OpenFile(":memory:", SQLITE_OPEN_READWRITE);
            return;
        }
        // A file we may not write, with no log beside it, is read as it lies: opened
        // the usual way, SQLite would leave a log and shared-memory file of ours beside
        // it, made as unwritable as the file, that later stop the owner's writes.
        if (::access(m_path.c_str(), W_OK) != 0 && !fs::exists(m_path + "-wal", ec))
        {
            OpenFile(UriOf(m_path, "immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
            return;
        }
        try
        {
            OpenFile(UriOf(m_path, "mode=ro"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
            return;
        }
        catch (const CReadingStoreError& e)
        {
            if (!e.IsReadOnly())
                throw;
        }
        // Reading a file in WAL mode needs its shared-memory file, which cannot be made
        // in a folder we may not write. Without a log of changes not yet copied into the
        // file, the file alone is the whole store and is read as one that cannot change.
        if (fs::file_size(m_path + "-wal", ec) > 0 && !ec)
            throw CReadingStoreError(
                "Odometer history " + m_path + ": the latest readings are still in " + m_path +
                    "-wal, which cannot be read without writing to the folder; run "
                    "odomira-cli once where you may write to it",
                CReadingStoreError::Kind::readOnly);
        OpenFile(UriOf(m_path, "immutable=1"), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
        return;
    }
    const fs::path folder = fs::path(m_path).parent_path();
    if (!folder.empty() && !fs::is_directory(folder, ec))
    {
        fs::create_directories(folder, ec);
        if (ec)
            throw CReadingStoreError("Odometer history " + m_path + ": the folder " +
                                     folder.string() + " cannot be created (" + ec.message() + ")");
    }
    RepairLeftOvers();
    const std::string where = folder.empty() ? "." : folder.string();
    m_networkFolder = m_probe ? m_probe(where) : IsNetworkFileSystem(where);
    OpenFile(m_path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
}

void CReadingStore::RepairLeftOvers() const
{
    // A reader of the file while it was read-only may have left its log and shared-
    // memory files as unwritable as the file was then; once the file may be written
    // again, so may they, or every write fails until someone deletes them.
    struct stat file
    {
    };
    if (::stat(m_path.c_str(), &file) != 0 || ::access(m_path.c_str(), W_OK) != 0)
        return;
    for (const char* suffix : {"-wal", "-shm"})
    {
        const std::string side = m_path + suffix;
        struct stat st
        {
        };
        if (::lstat(side.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
            ::access(side.c_str(), W_OK) == 0)
            continue;
        ::chmod(side.c_str(), file.st_mode & 0666);
    }
}

void CReadingStore::OpenFile(const std::string& path, int flags)
{
    if (sqlite3_open_v2(path.c_str(), &m_db, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK)
    {
        const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
        const std::string message = "Odometer history " + m_path + ": " +
                                    Describe(code, m_db ? sqlite3_errmsg(m_db) : "out of memory");
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw CReadingStoreError(message, KindOf(code));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, BUSY_TIMEOUT_MS);
    try
    {
        // While another program turns a new file into WAL mode, SQLite may answer "busy"
        // at once instead of waiting: the setting up is tried again for as long as a
        // write would wait.
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(BUSY_TIMEOUT_MS);
        for (;;)
        {
            try
            {
                CreateSchema();
                break;
            }
            catch (const CReadingStoreError& e)
            {
                if (!e.IsBusy() || std::chrono::steady_clock::now() > deadline)
                    throw;
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
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
        // kept in the file's header. One read transaction sees the header and the
        // tables as one program left them.
        Execute("BEGIN");
        std::int64_t applicationId = 0, tables = 0;
        try
        {
            applicationId = pragma("PRAGMA application_id");
            tables = pragma("SELECT count(*) FROM sqlite_master");
            Execute("COMMIT");
        }
        catch (...)
        {
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
            throw;
        }
        if (applicationId != kApplicationId && (applicationId != 0 || tables != 0))
            throw CReadingStoreError("Odometer history " + m_path +
                                     ": the file belongs to another program; this version of "
                                     "Odomira leaves it alone");
        // SQLite's WAL keeps its index in shared memory, which clients on two machines
        // of a network file system do not share: there the rollback journal, whose
        // locks such a file system carries.
        Execute(m_networkFolder ? "PRAGMA journal_mode=DELETE" : "PRAGMA journal_mode=WAL");
        // A fill of a large fleet changes a page or so per printer; copying the log back
        // into the file every 16 MB instead of every 4 MB spares most fills that work
        // (a page changed by many fills is copied once), and the log is cut back to
        // that size afterwards.
        Execute("PRAGMA wal_autocheckpoint=4000; PRAGMA journal_size_limit=16777216");
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
            const SchemaVersion schema = SchemaVersionOf(version);
            if (schema.version > kSchemaVersion && (writable || !CanRead(schema, kSchemaVersion)))
                throw CReadingStoreError(
                    "Odometer history " + m_path +
                    ": the file was written by a newer version of "
                    "Odomira; this version " +
                    (CanRead(schema, kSchemaVersion) ? "only reads it" : "leaves it alone"));
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

namespace
{
// A printer as it was last read, last seen at its latest reading (or its latest reset,
// when that came later).
const char* const kPrinterColumns =
    "SELECT p.id, p.serial, p.name, p.model, p.port, p.first_seen, max(p.last_seen, "
    "coalesce((SELECT l.last_seen FROM readings l WHERE l.printer = p.id "
    "ORDER BY l.first_seen DESC, l.id DESC LIMIT 1), 0)) AS seen, p.identity FROM printers p ";
// Printers that still hold their identity: not an earlier printer under the same key.
const char* const kCurrent = "substr(p.identity, 1, 8) <> 'retired:'";

StoredPrinter PrinterRow(std::int64_t id, std::string serial, std::string name, std::string model,
                         std::string port, UtcMillis first, UtcMillis seen,
                         const std::string& identity)
{
    StoredPrinter p;
    p.id = id;
    p.serial = std::move(serial);
    p.name = std::move(name);
    p.model = std::move(model);
    p.port = std::move(port);
    p.firstSeen = first;
    p.lastSeen = seen;
    p.sharedSerial = identity.rfind("shared:", 0) == 0;
    if (identity.rfind("retired:", 0) == 0)
    {
        p.retiredAt = std::strtoll(identity.c_str() + 8, nullptr, 10);
        p.sharedSerial = identity.find(":shared:") != std::string::npos;
    }
    return p;
}
} // namespace

std::optional<StoredPrinter> CReadingStore::FirstPrinter(const std::string& where,
                                                         const std::vector<std::string>& values,
                                                         std::optional<std::int64_t> id) const
{
    Statement s(*this, (kPrinterColumns + where + " ORDER BY seen DESC, p.id LIMIT 1").c_str());
    for (const std::string& v : values)
        s.Bind(v);
    if (id)
        s.Bind(*id);
    if (!s.Step())
        return std::nullopt;
    StoredPrinter p = PrinterRow(s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4), s.Int(5),
                                 s.Int(6), s.Text(7));
    s.Finish();
    Statement count(*this, "SELECT count(*) FROM readings WHERE printer = ?");
    if (count.Bind(p.id).Step())
        p.readingCount = count.Int(0);
    count.Finish();
    return p;
}

std::int64_t CReadingStore::KnownPrinter(const std::string& identity)
{
    // A printer's number never changes while it holds its identity, so it is looked up
    // once per object (numbers made in a transaction count only once it is committed).
    if (auto known = m_ids.find(identity); known != m_ids.end())
        return known->second;
    if (auto made = m_newIds.find(identity); made != m_newIds.end())
        return made->second;
    Statement& find = Prepared(kFindIdentity, "SELECT id FROM printers WHERE identity = ?");
    if (!find.Bind(identity).Step())
        return 0;
    const std::int64_t id = find.Int(0);
    find.Finish();
    m_newIds[identity] = id;
    return id;
}

std::int64_t CReadingStore::PrinterFor(const OdometerReading& r, const std::string& identity)
{
    if (const std::int64_t id = KnownPrinter(identity))
        return id;
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
    const std::int64_t id = sqlite3_last_insert_rowid(m_db);
    m_newIds[identity] = id;
    return id;
}

void CReadingStore::Begin()
{
    Execute("BEGIN IMMEDIATE");
    // Reading numbers are handed out from here for the whole transaction: no other
    // program writes until it ends.
    Statement& next = Prepared(kNextId, "SELECT coalesce(max(id), 0) + 1 FROM readings");
    m_nextReadingId = next.Step() ? next.Int(0) : 1;
    next.Finish();
    // What another program may have changed since this object's last transaction.
    m_sharedSerials.clear();
    Statement& shared = Prepared(kSharedSerials, "SELECT identity FROM printers WHERE identity "
                                                 ">= 'shared:' AND identity < 'shared;'");
    while (shared.Step())
    {
        const std::string identity = shared.Text(0);
        m_sharedSerials.insert(identity.substr(identity.find('\n') + 1));
    }
    m_lastResets.clear();
    Statement& resets = Prepared(kLastResets, "SELECT printer, max(time) FROM head_changes "
                                              "WHERE kind = 'reset' GROUP BY printer");
    while (resets.Step())
        m_lastResets[resets.Int(0)] = resets.Int(1);
}

void CReadingStore::Commit()
{
    Execute("COMMIT");
    m_ids.merge(m_newIds);
    m_newIds.clear();
}

void CReadingStore::Rollback()
{
    sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    m_newIds.clear();
}

namespace
{
const char* const kReadingColumns =
    "SELECT id, first_seen, last_seen, head, total, unit, name, model, port FROM readings ";

} // namespace

std::optional<StoredReading> CReadingStore::ReadingBefore(std::int64_t printer, UtcMillis time,
                                                          std::optional<StoredReading>* after)
{
    auto take = [](Statement& s)
    {
        StoredReading r = s.Reading();
        s.Finish();
        return r;
    };
    // Nearly always the printer's latest reading is the one before: one look suffices.
    Statement& latest =
        Prepared(kLatestReading, (std::string(kReadingColumns) +
                                  "WHERE printer = ? ORDER BY first_seen DESC, id DESC LIMIT 1")
                                     .c_str());
    if (!latest.Bind(printer).Step())
        return std::nullopt;
    StoredReading last = take(latest);
    if (last.firstSeen <= time)
        return last;
    // Readings of two programs arrive slightly out of order now and then.
    if (after)
    {
        Statement& next = Prepared(kNextReading, (std::string(kReadingColumns) +
                                                  "WHERE printer = ? AND first_seen > ? "
                                                  "ORDER BY first_seen, id LIMIT 1")
                                                     .c_str());
        if (next.Bind(printer).Bind(time).Step())
            *after = take(next);
    }
    Statement& previous = Prepared(kPreviousReading, (std::string(kReadingColumns) +
                                                      "WHERE printer = ? AND first_seen <= ? "
                                                      "ORDER BY first_seen DESC, id DESC LIMIT 1")
                                                         .c_str());
    if (previous.Bind(printer).Bind(time).Step())
        return take(previous);
    return std::nullopt;
}

std::string CReadingStore::IdentityOf(const OdometerReading& r, bool shared) const
{
    if (r.serial.empty())
        return "port:" + r.port;
    // Once two printers reported one serial number, each keeps a history of its own,
    // told apart by port, also in the fills where only one of them answers.
    if (shared || m_sharedSerials.count(r.serial))
        return "shared:" + r.port + "\n" + r.serial;
    return "serial:" + r.serial;
}

void CReadingStore::RetirePrinter(std::int64_t printer, const std::string& identity, UtcMillis time)
{
    // The old history keeps its readings under an identity no lookup matches, and the
    // key is free for the printer that reports it now.
    Prepared(kRetire, "UPDATE printers SET identity = ? WHERE id = ?")
        .Bind("retired:" + std::to_string(time) + ":" + std::to_string(printer) + ":" + identity)
        .Bind(printer)
        .Run();
    m_ids.erase(identity);
    m_newIds.erase(identity);
}

CReadingStore::FillResult CReadingStore::RecordFill(const std::vector<OdometerReading>& readings)
{
    ExpectOpen();
    FillResult result;
    // Serial numbers that printers on different ports of this fill report alike.
    std::unordered_map<std::string, std::string> portOfSerial;
    std::unordered_map<std::string, bool> sharedNow;
    for (const OdometerReading& r : readings)
    {
        if (r.serial.empty())
            continue;
        auto [it, added] = portOfSerial.emplace(r.serial, r.port);
        if (!added && it->second != r.port && !sharedNow[r.serial])
        {
            sharedNow[r.serial] = true;
            result.sharedSerials.push_back(r.serial);
        }
    }
    try
    {
        Begin();
        for (const OdometerReading& r : readings)
        {
            const auto shared = sharedNow.find(r.serial);
            const std::string identity = IdentityOf(r, shared != sharedNow.end() && shared->second);
            MergeNeighbours n;
            if (r.head || r.total)
            {
                if (const std::int64_t known = KnownPrinter(identity))
                {
                    n.before = ReadingBefore(known, r.time, &n.after);
                    const auto reset = m_lastResets.find(known);
                    n.resetSinceBefore = n.before && reset != m_lastResets.end() &&
                                         reset->second > n.before->lastSeen &&
                                         reset->second <= r.time;
                }
            }
            const MergeDecision decision = DecideMerge(n, r);
            if (decision == MergeDecision::noValues)
            {
                ++result.skipped;
                continue;
            }
            if (decision == MergeDecision::clamped)
            {
                ++result.skipped;
                result.clamped.push_back(r.name);
                continue;
            }
            if (decision == MergeDecision::otherPrinter)
            {
                RetirePrinter(KnownPrinter(identity), identity, r.time);
                n = MergeNeighbours{};
                ++result.otherPrinters;
            }
            const std::int64_t printer = PrinterFor(r, identity);

            // The latest sighting names the printer.
            if (!n.after && (!n.before || n.before->name != r.name || n.before->model != r.model ||
                             n.before->port != r.port))
                Prepared(kRename, "UPDATE printers SET name = ?, model = ?, port = ? WHERE id = ?")
                    .Bind(r.name)
                    .Bind(r.model)
                    .Bind(r.port)
                    .Bind(printer)
                    .Run();
            if (decision == MergeDecision::sameAsBefore)
            {
                Prepared(kMergeReading,
                         "UPDATE readings SET last_seen = max(last_seen, ?) WHERE id = ?")
                    .Bind(r.time)
                    .Bind(n.before->id)
                    .Run();
                ++result.merged;
                continue;
            }
            // The other program may already have recorded the same value a little later.
            if (decision == MergeDecision::sameAsAfter)
            {
                Prepared(kMergeEarlier, "UPDATE readings SET first_seen = ? WHERE id = ?")
                    .Bind(r.time)
                    .Bind(n.after->id)
                    .Run();
                ++result.merged;
                continue;
            }

            const std::int64_t readingId = m_nextReadingId++;
            Prepared(kInsertReading,
                     "INSERT INTO readings(id, printer, first_seen, last_seen, name, model, port, "
                     "head, total, unit) VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                .Bind(readingId)
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
            ++result.added;

            if (decision != MergeDecision::headChange)
                continue;
            // A reset confirmed after the reading before this one already is the change
            // this lower value shows.
            if (n.resetSinceBefore)
            {
                Statement& pending =
                    Prepared(kPendingReset, "SELECT id FROM head_changes WHERE printer = ? AND "
                                            "kind = 'reset' AND reading IS NULL AND time >= ? AND "
                                            "time <= ? ORDER BY time DESC LIMIT 1");
                if (pending.Bind(printer).Bind(n.before->lastSeen).Bind(r.time).Step())
                {
                    const std::int64_t reset = pending.Int(0);
                    pending.Finish();
                    Prepared(kLinkReset, "UPDATE head_changes SET reading = ? WHERE id = ?")
                        .Bind(readingId)
                        .Bind(reset)
                        .Run();
                    continue;
                }
            }
            Prepared(kInsertChange, "INSERT INTO head_changes(printer, time, kind, reading, "
                                    "head_before, unit_before) VALUES(?, ?, ?, ?, ?, ?)")
                .Bind(printer)
                .Bind(r.time)
                .Bind(HeadChangeKey(HeadChangeKind::lowerValue))
                .Bind(readingId)
                .Bind(n.before->head)
                .Bind(UnitKey(n.before->unit))
                .Run();
            ++result.headChanges;
        }
        Commit();
    }
    catch (...)
    {
        Rollback();
        throw;
    }
    return result;
}

void CReadingStore::RecordHeadReset(const OdometerReading& who)
{
    ExpectOpen();
    try
    {
        Begin();
        std::int64_t printer = 0;
        // Without a serial number, only the printer last read under this very name on
        // this very port is the one reset; another printer that was once on the port
        // is not.
        if (who.serial.empty())
            if (auto last =
                    FirstPrinter("WHERE p.name = ? AND p.port = ? AND " + std::string(kCurrent),
                                 {who.name, who.port}, std::nullopt))
                printer = last->id;
        if (!printer)
            printer = PrinterFor(who, IdentityOf(who, false));
        Prepared(kResetSeen, "UPDATE printers SET last_seen = max(last_seen, ?) WHERE id = ?")
            .Bind(who.time)
            .Bind(printer)
            .Run();
        // What the old head had done: the printer's reading before the reset.
        const StoredReading before =
            ReadingBefore(printer, who.time, nullptr).value_or(StoredReading{});
        Prepared(kInsertChange, "INSERT INTO head_changes(printer, time, kind, reading, "
                                "head_before, unit_before) VALUES(?, ?, ?, ?, ?, ?)")
            .Bind(printer)
            .Bind(who.time)
            .Bind(HeadChangeKey(HeadChangeKind::reset))
            .Bind(std::optional<long long>())
            .Bind(before.head)
            .Bind(UnitKey(before.unit))
            .Run();
        Commit();
    }
    catch (...)
    {
        Rollback();
        throw;
    }
}

std::vector<StoredPrinter> CReadingStore::Printers() const
{
    ExpectOpen();
    std::vector<StoredPrinter> printers;
    Statement s(*this, (std::string(kPrinterColumns) + "ORDER BY seen DESC, p.id").c_str());
    while (s.Step())
        printers.push_back(PrinterRow(s.Int(0), s.Text(1), s.Text(2), s.Text(3), s.Text(4),
                                      s.Int(5), s.Int(6), s.Text(7)));
    Statement count(*this, "SELECT count(*) FROM readings WHERE printer = ?");
    for (StoredPrinter& p : printers)
    {
        if (count.Start().Bind(p.id).Step())
            p.readingCount = count.Int(0);
        count.Finish();
    }
    return printers;
}

std::optional<StoredPrinter> CReadingStore::FindPrinter(const std::string& serial,
                                                        const std::string& name,
                                                        const std::string& port) const
{
    ExpectOpen();
    // Exactly the printer's key or nothing: a near match would show another printer's
    // numbers as this one's.
    if (!serial.empty())
    {
        if (auto p = FirstPrinter("WHERE p.identity = ?", {"shared:" + port + "\n" + serial},
                                  std::nullopt))
            return p;
        return FirstPrinter("WHERE p.identity = ?", {"serial:" + serial}, std::nullopt);
    }
    return FirstPrinter("WHERE p.name = ? AND p.port = ? AND " + std::string(kCurrent),
                        {name, port}, std::nullopt);
}

PrinterHistory CReadingStore::History(std::int64_t printerId, std::optional<UtcMillis> since,
                                      std::optional<UtcMillis> until) const
{
    ExpectOpen();
    PrinterHistory history;
    const auto printer = FirstPrinter("WHERE p.id = ?", {}, printerId);
    if (!printer)
        return history;
    history.printer = *printer;

    const UtcMillis from = since.value_or(INT64_MIN);
    const UtcMillis to = until.value_or(INT64_MAX);
    Statement& r = Prepared(kReadings, (std::string(kReadingColumns) +
                                        "WHERE printer = ? AND first_seen <= ? AND last_seen >= ? "
                                        "ORDER BY first_seen, id")
                                           .c_str());
    r.Bind(printerId).Bind(to).Bind(from);
    while (r.Step())
        history.readings.push_back(r.Reading());
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
    if (inches && !IsHeadLife(*inches))
        throw CReadingStoreError("a head life is between 1 and 1000000000 inches or millimetres");
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

CReadingStore::SchemaVersion CReadingStore::SchemaVersionOf(std::int64_t userVersion)
{
    return {userVersion & 0xffff, (userVersion >> 16) & 0xffff};
}

bool CReadingStore::CanRead(const SchemaVersion& schema, std::int64_t known)
{
    if (schema.version <= known)
        return true;
    return schema.readableFrom != 0 && schema.readableFrom <= known;
}

bool CReadingStore::IsNetworkFileSystemType(long type)
{
    switch (static_cast<unsigned long>(type) & 0xffffffffUL)
    {
    case 0x6969:     // NFS
    case 0x517B:     // SMB
    case 0xFF534D42: // CIFS
    case 0xFE534D42: // SMB2
    case 0x65735546: // FUSE (sshfs and the like)
    case 0x564C:     // NCP
    case 0x6B414653: // AFS
    case 0x01021997: // 9P
        return true;
    default:
        return false;
    }
}

bool CReadingStore::IsNetworkFileSystem(const std::string& folder)
{
    struct statfs fs
    {
    };
    if (::statfs(folder.c_str(), &fs) != 0)
        return false;
    return IsNetworkFileSystemType(long(fs.f_type));
}

std::string CReadingStore::JournalMode() const
{
    ExpectOpen();
    Statement s(*this, "PRAGMA journal_mode");
    std::string mode = s.Step() ? s.Text(0) : std::string();
    s.Finish();
    return mode;
}

void CReadingStore::BackupTo(const std::string& target) const
{
    namespace fs = std::filesystem;
    ExpectOpen();
    std::error_code ec;
    if (fs::exists(fs::symlink_status(target, ec)))
        throw CReadingStoreError("Odometer history backup " + target +
                                 ": the file exists already; a backup never replaces a file");
    // Written beside the target and renamed, so a copy cut short never looks whole.
    const std::string partial = target + ".partial-" + std::to_string(::getpid());
    Statement s(*this, "VACUUM INTO ?");
    s.Bind(partial);
    try
    {
        s.Run();
    }
    catch (const CReadingStoreError& e)
    {
        fs::remove(partial, ec);
        throw CReadingStoreError("Odometer history backup " + target + ": " + e.what());
    }
    // link() refuses an existing name, where rename() would replace a file made
    // meanwhile.
    if (::link(partial.c_str(), target.c_str()) != 0)
    {
        const int error = errno;
        fs::remove(partial, ec);
        throw CReadingStoreError("Odometer history backup " + target + ": " + std::strerror(error));
    }
    fs::remove(partial, ec);
}

bool CReadingStore::RecordSerialChange(const OdometerReading& who, const std::string& oldSerial)
{
    ExpectOpen();
    if (who.serial == oldSerial)
        return false;
    bool carried = false;
    try
    {
        Begin();
        OdometerReading before = who;
        before.serial = oldSerial;
        std::int64_t printer = 0;
        std::string identity;
        if (oldSerial.empty())
        {
            // Known by its port until now: the printer last read under this name there.
            if (auto last =
                    FirstPrinter("WHERE p.name = ? AND p.port = ? AND " + std::string(kCurrent),
                                 {who.name, who.port}, std::nullopt))
                printer = last->id;
            identity = "port:" + who.port;
        }
        else
        {
            identity = IdentityOf(before, false);
            printer = KnownPrinter(identity);
        }
        if (printer)
        {
            const std::string next = IdentityOf(who, false);
            if (const std::int64_t holder = KnownPrinter(next); holder && holder != printer)
                RetirePrinter(holder, next, who.time);
            Prepared(kRetire, "UPDATE printers SET identity = ? WHERE id = ?")
                .Bind(next)
                .Bind(printer)
                .Run();
            Statement s(*this, "UPDATE printers SET serial = ? WHERE id = ?");
            s.Bind(who.serial).Bind(printer).Run();
            m_ids.erase(identity);
            m_newIds.erase(identity);
            m_newIds[next] = printer;
            carried = true;
        }
        Commit();
    }
    catch (...)
    {
        Rollback();
        throw;
    }
    return carried;
}
