#include "CReadingStore.h"

#include "ReadingMerge.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <system_error>

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
    kIdentityOf,
    kRetired,
    kCountReadings,
    // One for each CReadingStore::PrinterBy.
    kPrinterBy
};

using Access = CSqliteDatabase::Access;

} // namespace

namespace
{
// A row of kReadingColumns.
StoredReading ReadingOf(const CSqliteStatement& s)
{
    StoredReading r;
    r.id = s.Int(0);
    r.firstSeen = s.Int(1);
    r.lastSeen = s.Int(2);
    r.head = s.OptionalInt(3);
    r.total = s.OptionalInt(4);
    r.unit = UnitFromKey(s.Text(5)).value_or(OdometerUnit::inches);
    r.name = s.Text(6);
    r.model = s.Text(7);
    r.port = s.Text(8);
    return r;
}
} // namespace

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

CReadingStore::CReadingStore(std::string path)
    : m_path(std::move(path)), m_db("Odometer history " + m_path, BUSY_TIMEOUT_MS)
{
}

CReadingStore::~CReadingStore() = default;

void CReadingStore::ExpectOpen() const
{
    if (!m_db.IsOpen())
        throw CReadingStoreError("Odometer history " + m_path + ": not open");
}

void CReadingStore::Open(OpenMode mode)
{
    namespace fs = std::filesystem;
    if (m_db.IsOpen())
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
            OpenFile(":memory:", Access::readWrite);
            return;
        }
        // A file we may not write, with no log beside it, is read as it lies: opened
        // the usual way, SQLite would leave a log and shared-memory file of ours beside
        // it, made as unwritable as the file, that later stop the owner's writes.
        if (::access(m_path.c_str(), W_OK) != 0 && !fs::exists(m_path + "-wal", ec))
        {
            OpenFile(CSqliteDatabase::UriOf(m_path, "immutable=1"), Access::readOnly);
            return;
        }
        try
        {
            OpenFile(CSqliteDatabase::UriOf(m_path, "mode=ro"), Access::readOnly);
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
        OpenFile(CSqliteDatabase::UriOf(m_path, "immutable=1"), Access::readOnly);
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
    OpenFile(m_path, Access::readWriteCreate);
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

void CReadingStore::OpenFile(const std::string& path, CSqliteDatabase::Access access)
{
    m_db.Open(path, access);
    try
    {
        // A fill of a large fleet looks at a page or two of each printer's readings:
        // SQLite's 2 MB default would read most of them from the file again on every
        // fill. The cache only grows as far as pages are used.
        m_db.Execute("PRAGMA cache_size=-32768");
        m_db.RetryWhileBusy([this] { CreateSchema(); });
    }
    catch (...)
    {
        m_db.Close();
        throw;
    }
}

void CReadingStore::CreateSchema()
{
    auto pragma = [this](const char* sql) { return m_db.QueryInt(sql); };
    const bool writable = !m_db.IsReadOnly();
    if (writable && !m_empty)
    {
        // Whose file it is, before anything is written to it: even the journal mode is
        // kept in the file's header. One read transaction sees the header and the
        // tables as one program left them.
        m_db.Execute("BEGIN");
        std::int64_t applicationId = 0, tables = 0;
        try
        {
            applicationId = pragma("PRAGMA application_id");
            tables = pragma("SELECT count(*) FROM sqlite_master");
            m_db.Execute("COMMIT");
        }
        catch (...)
        {
            m_db.ExecuteQuietly("ROLLBACK");
            throw;
        }
        if (applicationId != kApplicationId && (applicationId != 0 || tables != 0))
            throw CReadingStoreError("Odometer history " + m_path +
                                     ": the file belongs to another program; this version of "
                                     "Odomira leaves it alone");
        // SQLite's WAL keeps its index in shared memory, which clients on two machines
        // of a network file system do not share: there the rollback journal, whose
        // locks such a file system carries.
        m_db.Execute(m_networkFolder ? "PRAGMA journal_mode=DELETE" : "PRAGMA journal_mode=WAL");
        // A fill of a large fleet changes a page or so per printer; copying the log back
        // into the file every 16 MB instead of every 4 MB spares most fills that work
        // (a page changed by many fills is copied once), and the log is cut back to
        // that size afterwards.
        m_db.Execute("PRAGMA wal_autocheckpoint=4000; PRAGMA journal_size_limit=16777216");
    }
    if (writable)
        m_db.Execute("BEGIN IMMEDIATE");
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
            m_db.Execute(kSchema);
            m_db.Execute(("PRAGMA application_id=" + std::to_string(kApplicationId)).c_str());
            m_db.Execute(("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str());
        }
        if (writable)
            m_db.Execute("COMMIT");
    }
    catch (...)
    {
        if (writable)
            m_db.ExecuteQuietly("ROLLBACK");
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

// A history another printer took the key from keeps its readings under an identity no
// lookup matches: "retired:<time>:<printer>:<key>".
std::string RetiredIdentity(UtcMillis time, std::int64_t printer, const std::string& key)
{
    return "retired:" + std::to_string(time) + ":" + std::to_string(printer) + ":" + key;
}

// The key a retired history held, and when it gave it up.
std::optional<std::pair<std::string, UtcMillis>> RetiredKey(const std::string& identity)
{
    if (identity.rfind("retired:", 0) != 0)
        return std::nullopt;
    std::size_t at = 8;
    for (int field = 0; field < 2; ++field)
    {
        if (at < identity.size() && identity[at] == '-')
            ++at;
        const std::size_t digits = at;
        while (at < identity.size() && std::isdigit(static_cast<unsigned char>(identity[at])))
            ++at;
        if (at == digits || at >= identity.size() || identity[at] != ':')
            return std::nullopt;
        ++at;
    }
    return std::pair(identity.substr(at),
                     UtcMillis(std::strtoll(identity.c_str() + 8, nullptr, 10)));
}

// A row of kPrinterColumns.
StoredPrinter PrinterRow(const CSqliteStatement& s)
{
    StoredPrinter p;
    p.id = s.Int(0);
    p.serial = s.Text(1);
    p.name = s.Text(2);
    p.model = s.Text(3);
    p.port = s.Text(4);
    p.firstSeen = s.Int(5);
    p.lastSeen = s.Int(6);
    std::string key = s.Text(7);
    if (auto retired = RetiredKey(key))
    {
        key = std::move(retired->first);
        p.retiredAt = retired->second;
    }
    p.sharedSerial = key.rfind("shared:", 0) == 0;
    return p;
}

void CountReadings(const CSqliteDatabase& db, std::vector<StoredPrinter>& printers)
{
    CSqliteStatement& count =
        db.Prepared(kCountReadings, "SELECT count(*) FROM readings WHERE printer = ?");
    for (StoredPrinter& p : printers)
    {
        if (count.Start().Bind(p.id).Step())
            p.readingCount = count.Int(0);
        count.Finish();
    }
}
} // namespace

std::optional<StoredPrinter> CReadingStore::FirstPrinter(PrinterBy by,
                                                         const std::vector<std::string>& values,
                                                         std::optional<std::int64_t> id) const
{
    static const std::string where[] = {"WHERE p.id = ?", "WHERE p.identity = ?",
                                        std::string("WHERE p.name = ? AND p.port = ? AND ") +
                                            kCurrent};
    const auto which = std::size_t(by);
    CSqliteStatement& s = m_db.Prepared(
        kPrinterBy + which,
        (kPrinterColumns + where[which] + " ORDER BY seen DESC, p.id LIMIT 1").c_str());
    for (const std::string& v : values)
        s.Bind(v);
    if (id)
        s.Bind(*id);
    if (!s.Step())
        return std::nullopt;
    std::vector<StoredPrinter> found{PrinterRow(s)};
    s.Finish();
    CountReadings(m_db, found);
    return found.front();
}

std::int64_t CReadingStore::KnownPrinter(const std::string& identity)
{
    // A printer's number never changes while it holds its identity, so it is looked up
    // once per object (numbers made in a transaction count only once it is committed).
    if (auto known = m_ids.find(identity); known != m_ids.end())
        return known->second;
    if (auto made = m_newIds.find(identity); made != m_newIds.end())
        return made->second;
    CSqliteStatement& find =
        m_db.Prepared(kFindIdentity, "SELECT id FROM printers WHERE identity = ?");
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
    return NewPrinter(r, identity);
}

std::int64_t CReadingStore::NewPrinter(const OdometerReading& r, const std::string& identity)
{
    m_db.Prepared(kInsertPrinter, "INSERT INTO printers(identity, serial, name, model, port, "
                                  "first_seen, last_seen) VALUES(?, ?, ?, ?, ?, ?, ?)")
        .Bind(identity)
        .Bind(r.serial)
        .Bind(r.name)
        .Bind(r.model)
        .Bind(r.port)
        .Bind(r.time)
        .Bind(r.time)
        .Run();
    const std::int64_t id = m_db.LastInsertId();
    m_newIds[identity] = id;
    return id;
}

void CReadingStore::Begin()
{
    m_db.Execute("BEGIN IMMEDIATE");
    // Reading numbers are handed out from here for the whole transaction: no other
    // program writes until it ends.
    CSqliteStatement& next =
        m_db.Prepared(kNextId, "SELECT coalesce(max(id), 0) + 1 FROM readings");
    m_nextReadingId = next.Step() ? next.Int(0) : 1;
    next.Finish();
    // What another program may have changed since this object's last transaction.
    m_sharedSerials.clear();
    CSqliteStatement& shared =
        m_db.Prepared(kSharedSerials, "SELECT identity FROM printers WHERE identity "
                                      ">= 'shared:' AND identity < 'shared;'");
    while (shared.Step())
    {
        const std::string identity = shared.Text(0);
        m_sharedSerials.insert(identity.substr(identity.find('\n') + 1));
    }
    m_lastResets.clear();
    CSqliteStatement& resets =
        m_db.Prepared(kLastResets, "SELECT printer, max(time) FROM head_changes "
                                   "WHERE kind = 'reset' GROUP BY printer");
    while (resets.Step())
        m_lastResets[resets.Int(0)] = resets.Int(1);
}

void CReadingStore::Commit()
{
    m_db.Execute("COMMIT");
    m_ids.merge(m_newIds);
    m_newIds.clear();
}

void CReadingStore::Rollback()
{
    m_db.ExecuteQuietly("ROLLBACK");
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
    auto take = [](CSqliteStatement& s)
    {
        StoredReading r = ReadingOf(s);
        s.Finish();
        return r;
    };
    // Nearly always the printer's latest reading is the one before: one look suffices.
    CSqliteStatement& latest = m_db.Prepared(
        kLatestReading, (std::string(kReadingColumns) +
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
        CSqliteStatement& next = m_db.Prepared(
            kNextReading, (std::string(kReadingColumns) + "WHERE printer = ? AND first_seen > ? "
                                                          "ORDER BY first_seen, id LIMIT 1")
                              .c_str());
        if (next.Bind(printer).Bind(time).Step())
            *after = take(next);
    }
    CSqliteStatement& previous =
        m_db.Prepared(kPreviousReading,
                      (std::string(kReadingColumns) + "WHERE printer = ? AND first_seen <= ? "
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
    m_db.Prepared(kRetire, "UPDATE printers SET identity = ? WHERE id = ?")
        .Bind(RetiredIdentity(time, printer, identity))
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
    // (Views of the readings' own strings: a fill of a thousand printers allocates
    // nothing for this.)
    std::unordered_map<std::string_view, std::string_view> portOfSerial;
    portOfSerial.reserve(readings.size());
    std::unordered_set<std::string_view> sharedNow;
    for (const OdometerReading& r : readings)
    {
        if (r.serial.empty())
            continue;
        auto [it, added] = portOfSerial.emplace(r.serial, r.port);
        if (!added && it->second != r.port && sharedNow.insert(r.serial).second)
            result.sharedSerials.push_back(r.serial);
    }
    try
    {
        Begin();
        for (const OdometerReading& r : readings)
        {
            const std::string identity =
                IdentityOf(r, !sharedNow.empty() && sharedNow.count(r.serial));
            MergeNeighbours n;
            std::int64_t known = 0;
            if (r.head || r.total)
            {
                known = KnownPrinter(identity);
                if (known)
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
                RetirePrinter(known, identity, r.time);
                known = 0;
                n = MergeNeighbours{};
                ++result.otherPrinters;
            }
            // No printer holds the key (KnownPrinter said so above, or it was just given up).
            const std::int64_t printer = known ? known : NewPrinter(r, identity);

            // The latest sighting names the printer.
            if (!n.after && (!n.before || n.before->name != r.name || n.before->model != r.model ||
                             n.before->port != r.port))
                m_db.Prepared(kRename,
                              "UPDATE printers SET name = ?, model = ?, port = ? WHERE id = ?")
                    .Bind(r.name)
                    .Bind(r.model)
                    .Bind(r.port)
                    .Bind(printer)
                    .Run();
            if (decision == MergeDecision::sameAsBefore)
            {
                m_db.Prepared(kMergeReading,
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
                m_db.Prepared(kMergeEarlier, "UPDATE readings SET first_seen = ? WHERE id = ?")
                    .Bind(r.time)
                    .Bind(n.after->id)
                    .Run();
                ++result.merged;
                continue;
            }

            const std::int64_t readingId = m_nextReadingId++;
            m_db.Prepared(
                    kInsertReading,
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
                CSqliteStatement& pending = m_db.Prepared(
                    kPendingReset, "SELECT id FROM head_changes WHERE printer = ? AND "
                                   "kind = 'reset' AND reading IS NULL AND time >= ? AND "
                                   "time <= ? ORDER BY time DESC LIMIT 1");
                if (pending.Bind(printer).Bind(n.before->lastSeen).Bind(r.time).Step())
                {
                    const std::int64_t reset = pending.Int(0);
                    pending.Finish();
                    m_db.Prepared(kLinkReset, "UPDATE head_changes SET reading = ? WHERE id = ?")
                        .Bind(readingId)
                        .Bind(reset)
                        .Run();
                    continue;
                }
            }
            m_db.Prepared(kInsertChange, "INSERT INTO head_changes(printer, time, kind, reading, "
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
                    FirstPrinter(PrinterBy::nameAndPort, {who.name, who.port}, std::nullopt))
                printer = last->id;
        if (!printer)
            printer = PrinterFor(who, IdentityOf(who, false));
        m_db.Prepared(kResetSeen, "UPDATE printers SET last_seen = max(last_seen, ?) WHERE id = ?")
            .Bind(who.time)
            .Bind(printer)
            .Run();
        // What the old head had done: the printer's reading before the reset.
        const StoredReading before =
            ReadingBefore(printer, who.time, nullptr).value_or(StoredReading{});
        m_db.Prepared(kInsertChange, "INSERT INTO head_changes(printer, time, kind, reading, "
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
    CSqliteStatement s(m_db, (std::string(kPrinterColumns) + "ORDER BY seen DESC, p.id").c_str());
    while (s.Step())
        printers.push_back(PrinterRow(s));
    CountReadings(m_db, printers);
    return printers;
}

std::vector<StoredPrinter> CReadingStore::EarlierPrinters(std::int64_t printerId) const
{
    ExpectOpen();
    std::vector<StoredPrinter> earlier;
    CSqliteStatement& key =
        m_db.Prepared(kIdentityOf, "SELECT identity FROM printers WHERE id = ?");
    if (!key.Bind(printerId).Step())
        return earlier;
    const std::string identity = key.Text(0);
    key.Finish();
    if (RetiredKey(identity))
        return earlier;
    // Retired histories are few (one per printer that left a key to another), so they
    // are compared here rather than by a pattern that would have to escape the key.
    CSqliteStatement& s =
        m_db.Prepared(kRetired, (std::string(kPrinterColumns) +
                                 "WHERE p.identity >= 'retired:' AND p.identity < 'retired;' "
                                 "ORDER BY seen DESC, p.id")
                                    .c_str());
    while (s.Step())
        if (const auto retired = RetiredKey(s.Text(7)); retired && retired->first == identity)
            earlier.push_back(PrinterRow(s));
    CountReadings(m_db, earlier);
    return earlier;
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
        if (auto p =
                FirstPrinter(PrinterBy::identity, {"shared:" + port + "\n" + serial}, std::nullopt))
            return p;
        return FirstPrinter(PrinterBy::identity, {"serial:" + serial}, std::nullopt);
    }
    return FirstPrinter(PrinterBy::nameAndPort, {name, port}, std::nullopt);
}

PrinterHistory CReadingStore::History(std::int64_t printerId, std::optional<UtcMillis> since,
                                      std::optional<UtcMillis> until) const
{
    ExpectOpen();
    PrinterHistory history;
    const auto printer = FirstPrinter(PrinterBy::id, {}, printerId);
    if (!printer)
        return history;
    history.printer = *printer;

    const UtcMillis from = since.value_or(INT64_MIN);
    const UtcMillis to = until.value_or(INT64_MAX);
    CSqliteStatement& r =
        m_db.Prepared(kReadings, (std::string(kReadingColumns) +
                                  "WHERE printer = ? AND first_seen <= ? AND last_seen >= ? "
                                  "ORDER BY first_seen, id")
                                     .c_str());
    r.Bind(printerId).Bind(to).Bind(from);
    while (r.Step())
        history.readings.push_back(ReadingOf(r));
    CSqliteStatement& c =
        m_db.Prepared(kChanges, "SELECT time, kind, reading, head_before, unit_before FROM "
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
    history.earlier = EarlierPrinters(printerId);
    return history;
}

void CReadingStore::SetHeadLife(const std::string& model, std::optional<double> inches)
{
    ExpectOpen();
    if (inches && !IsHeadLife(*inches))
        throw CReadingStoreError("a head life is between 1 and 1000000000 inches or millimetres");
    if (inches)
    {
        CSqliteStatement s(m_db, "INSERT INTO head_life(model, inches) VALUES(?, ?) "
                                 "ON CONFLICT(model) DO UPDATE SET inches = excluded.inches");
        s.Bind(model).Bind(*inches).Run();
    }
    else
    {
        CSqliteStatement s(m_db, "DELETE FROM head_life WHERE model = ?");
        s.Bind(model).Run();
    }
}

std::optional<double> CReadingStore::HeadLife(const std::string& model) const
{
    ExpectOpen();
    CSqliteStatement s(m_db, "SELECT inches FROM head_life WHERE model = ?");
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
    CSqliteStatement s(m_db, "SELECT model, inches FROM head_life ORDER BY model");
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
    CSqliteStatement s(m_db, "PRAGMA journal_mode");
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
    CSqliteStatement s(m_db, "VACUUM INTO ?");
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
                    FirstPrinter(PrinterBy::nameAndPort, {who.name, who.port}, std::nullopt))
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
            m_db.Prepared(kRetire, "UPDATE printers SET identity = ? WHERE id = ?")
                .Bind(next)
                .Bind(printer)
                .Run();
            CSqliteStatement s(m_db, "UPDATE printers SET serial = ? WHERE id = ?");
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
