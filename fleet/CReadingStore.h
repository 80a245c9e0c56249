#pragma once
// Every odometer reading our programs obtain, kept in one SQLite file per user
// ($XDG_DATA_HOME/Odomira/odometers.sqlite), with the head changes and the head life
// of each model.
//
// A printer is known by the serial number it reported, or, when it reported none, by
// its port; a serial number that two printers of one fill report is told apart by port
// from then on. What a reading means for the history (ReadingMerge.h) is decided in one
// pure function: equal readings only move "last seen", so a printer that stands idle
// for a month costs one entry; a lower head value is a head change, unless a reset
// through one of our programs (RecordHeadReset) came in between and accounts for it; a
// falling total odometer is another printer, whose history starts afresh under the
// key while the earlier one is kept under none.
//
// Several programs may write at once (the window and a cron job running
// `odomira-cli list`): the file is in WAL mode, every write waits up to
// BUSY_TIMEOUT_MS for the others, and one fill is one transaction that takes the
// write lock before it reads the last readings it compares with, so no reading is
// lost and none is compared with a stale neighbour.
//
// Every failure (a damaged file, a folder we may not write, a file of another
// program, a lock held too long) is thrown as CReadingStoreError, whose text names
// the file and the cause in words a user can act on. The callers show it once and go
// on without history.
//
// Threading: one object per thread; SQLite serialises the programs among themselves.
#include "OdometerReading.h"
#include "SqliteDatabase.h"

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

// What every store failure is thrown as: the text names the file and the cause.
using CReadingStoreError = CSqliteError;

class CReadingStore
{
public:
    // How long a write waits for another program's write to end. Fills of a thousand
    // printers take milliseconds, so only a hung program reaches it.
    static constexpr int BUSY_TIMEOUT_MS = 5000;
    static constexpr const char* FILE_NAME = "odometers.sqlite";

    // $VARKO_SETTINGS_ROOT/data/Odomira when that variable is set (tests and the demo
    // move every file of ours with it), else $XDG_DATA_HOME/Odomira, else
    // ~/.local/share/Odomira, with the home folder from the password database when
    // HOME is not set; empty when there is none.
    static std::string DefaultFolder();
    static std::string DefaultPath();

    explicit CReadingStore(std::string path = DefaultPath());
    ~CReadingStore();
    CReadingStore(const CReadingStore&) = delete;
    CReadingStore& operator=(const CReadingStore&) = delete;

    enum class OpenMode
    {
        // Creates the folder and the file when they are missing.
        readWrite,
        // Only reads; a file that does not exist yet reads as an empty store.
        readOnly
    };
    void Open(OpenMode mode = OpenMode::readWrite);
    bool IsOpen() const { return m_db.IsOpen(); }
    const std::string& Path() const { return m_path; }

    struct FillResult
    {
        int added = 0;         // new entries
        int merged = 0;        // equal to the last reading: only "last seen" moved
        int headChanges = 0;   // lower head values that no reset accounts for
        int skipped = 0;       // readings without any odometer value, or clamped
        int otherPrinters = 0; // a falling total odometer: a new history under the key
        // Names of printers whose reading held a value the library had to clamp.
        std::vector<std::string> clamped;
        // Serial numbers that printers on different ports of the fill both reported.
        std::vector<std::string> sharedSerials;
    };
    // One fill's readings, in one transaction: all of them or, on failure, none.
    FillResult RecordFill(const std::vector<OdometerReading>& readings);
    // Reset Head Odometer, confirmed through one of our programs at `who.time`, on the
    // printer `who` describes (its odometers are not used). Without a serial number the
    // reset goes to the printer last seen on that port.
    void RecordHeadReset(const OdometerReading& who);

    // Set Serial Number changed the printer `who` names (its port, the new serial
    // number) from `oldSerial` at `who.time`: its history goes on under the new key. A
    // history already under the new key was another printer's and is kept under none.
    // False when no history was kept under the old key.
    bool RecordSerialChange(const OdometerReading& who, const std::string& oldSerial);

    // Every printer with at least one reading or reset, most recently seen first.
    std::vector<StoredPrinter> Printers() const;
    // Exactly the printer with that key: the serial number (on that port, when two
    // printers reported it); without one, the printer last read under that name on that
    // port. Never a near match.
    std::optional<StoredPrinter> FindPrinter(const std::string& serial, const std::string& name,
                                             const std::string& port) const;
    // The histories that held the printer's key before it (none for a history that is
    // itself an earlier one), most recently seen first.
    std::vector<StoredPrinter> EarlierPrinters(std::int64_t printerId) const;
    // Readings seen within [since, until] (both ends included) and the head changes in
    // that time, oldest first, and the histories that held its key before.
    PrinterHistory History(std::int64_t printerId, std::optional<UtcMillis> since = std::nullopt,
                           std::optional<UtcMillis> until = std::nullopt) const;

    // The schema's number in the file's user_version: the low 16 bits are the schema's
    // version, the next 16 the oldest version that can still read it (0: none older).
    // A program reads a newer file only when that says it can, and never writes one.
    struct SchemaVersion
    {
        std::int64_t version = 0;
        std::int64_t readableFrom = 0;
    };
    static constexpr std::int64_t SCHEMA_VERSION = 1;
    static SchemaVersion SchemaVersionOf(std::int64_t userVersion);
    static bool CanRead(const SchemaVersion& schema, std::int64_t known);
    // NFS, CIFS and other file systems shared between machines (statfs's f_type).
    static bool IsNetworkFileSystemType(long type);
    static bool IsNetworkFileSystem(const std::string& folder);
    // Replaces IsNetworkFileSystem for this object (tests: no NFS mount needed).
    void SetFileSystemProbe(std::function<bool(const std::string&)> probe)
    {
        m_probe = std::move(probe);
    }
    // The journal the open file uses: "wal", or "delete" on a network file system.
    std::string JournalMode() const;

    // A consistent copy of the whole store in `target`, which must not exist yet (a
    // copy never replaces a file). Works on a store opened read-only, while other
    // programs write: the copy is one read transaction's view.
    void BackupTo(const std::string& target) const;

    // Head lives are kept in inches; one entered in millimetres is at least 1 mm.
    static constexpr double MAX_HEAD_LIFE = 1e9;
    static bool IsHeadLife(double inches);

    // Head life of a model (exactly as the printer list shows the model), in inches;
    // nothing clears it.
    void SetHeadLife(const std::string& model, std::optional<double> inches);
    std::optional<double> HeadLife(const std::string& model) const;
    std::vector<std::pair<std::string, double>> HeadLives() const;

private:
    // Opens the database at `path` (a file name or a file: URI) and checks or makes its
    // schema.
    void OpenFile(const std::string& path, CSqliteDatabase::Access access);
    void RepairLeftOvers() const;
    void CreateSchema();
    std::string IdentityOf(const OdometerReading& reading, bool shared) const;
    // The printer holding the identity; 0 when none does.
    std::int64_t KnownPrinter(const std::string& identity);
    // The printer holding the identity, made when none does.
    std::int64_t PrinterFor(const OdometerReading& reading, const std::string& identity);
    // A printer made for an identity that none holds.
    std::int64_t NewPrinter(const OdometerReading& reading, const std::string& identity);
    // Gives up the identity: the printer's history stays, under no key.
    void RetirePrinter(std::int64_t printer, const std::string& identity, UtcMillis time);
    // The printer's reading that `time` follows, and (when asked) the one after it.
    std::optional<StoredReading> ReadingBefore(std::int64_t printer, UtcMillis time,
                                               std::optional<StoredReading>* after);
    // BEGIN IMMEDIATE; also takes the next free reading number.
    void Begin();
    void Commit();
    void Rollback();
    enum class PrinterBy
    {
        id,
        identity,
        // The name and port it was last read under, of those that hold their key.
        nameAndPort
    };
    std::optional<StoredPrinter> FirstPrinter(PrinterBy by, const std::vector<std::string>& values,
                                              std::optional<std::int64_t> id) const;
    void ExpectOpen() const;

    std::string m_path;
    CSqliteDatabase m_db;
    bool m_empty = false; // read-only view of a file that does not exist yet
    // On NFS or CIFS: a rollback journal, since WAL's shared memory works on one machine.
    bool m_networkFolder = false;
    std::function<bool(const std::string&)> m_probe;
    // Printer numbers by identity: committed ones, and those of the open transaction.
    std::unordered_map<std::string, std::int64_t> m_ids;
    std::unordered_map<std::string, std::int64_t> m_newIds;
    std::int64_t m_nextReadingId = 1;
    // Read at the start of each write transaction.
    std::unordered_set<std::string> m_sharedSerials;
    std::unordered_map<std::int64_t, UtcMillis> m_lastResets;
};
