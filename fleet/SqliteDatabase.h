#pragma once
// One SQLite connection as the odometer store uses it: opened with extended result codes
// and a busy timeout, its statements prepared once and reused, and every failure thrown
// as a CSqliteError whose text names the file and says, in words a user can act on,
// what went wrong. Nothing here knows what the tables hold.
//
// Threading: one object per thread (the connection is opened without SQLite's mutex).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class CSqliteError : public std::runtime_error
{
public:
    enum class Kind
    {
        other,
        // Another program held the file for longer than a write waits.
        busy,
        // The file or what SQLite keeps beside it may not be written or made.
        readOnly
    };
    explicit CSqliteError(const std::string& message, Kind kind = Kind::other)
        : std::runtime_error(message), m_kind(kind)
    {
    }
    bool IsBusy() const { return m_kind == Kind::busy; }
    bool IsReadOnly() const { return m_kind == Kind::readOnly; }

private:
    Kind m_kind;
};

class CSqliteDatabase;

// A prepared statement, bound from the first parameter on and stepped through.
class CSqliteStatement
{
public:
    CSqliteStatement(const CSqliteDatabase& db, const char* sql);
    ~CSqliteStatement();
    CSqliteStatement(const CSqliteStatement&) = delete;
    CSqliteStatement& operator=(const CSqliteStatement&) = delete;

    // Back to the first row and the first parameter, with every binding cleared.
    CSqliteStatement& Start();
    CSqliteStatement& Bind(std::int64_t value);
    CSqliteStatement& Bind(const std::string& text);
    CSqliteStatement& Bind(const char* text) { return Bind(std::string(text)); }
    // NULL when empty.
    CSqliteStatement& Bind(const std::optional<long long>& value);
    CSqliteStatement& Bind(double value);

    // True while there is a row to read; at the end the statement lets go of its read
    // lock at once.
    bool Step();
    // Steps through every row (for statements that change things).
    void Run();
    // Lets go of the statement's lock before its last row was read.
    void Finish();

    std::int64_t Int(int column) const;
    double Real(int column) const;
    std::optional<long long> OptionalInt(int column) const;
    std::string Text(int column) const;

private:
    const CSqliteDatabase& m_db;
    sqlite3_stmt* m_stmt = nullptr;
    int m_next = 1;
};

class CSqliteDatabase
{
public:
    // `label` begins every error's text ("Odometer history /home/a/odometers.sqlite");
    // a write waits up to `busyTimeoutMs` for another program's write to end.
    CSqliteDatabase(std::string label, int busyTimeoutMs);
    ~CSqliteDatabase();
    CSqliteDatabase(const CSqliteDatabase&) = delete;
    CSqliteDatabase& operator=(const CSqliteDatabase&) = delete;

    enum class Access
    {
        // The file is made when it is missing.
        readWriteCreate,
        readWrite,
        readOnly
    };
    // `path` is a file name, ":memory:", or a file: URI (UriOf).
    void Open(const std::string& path, Access access);
    void Close() noexcept;
    bool IsOpen() const { return m_db != nullptr; }
    // The connection cannot write (opened read-only, or the file may not be written).
    bool IsReadOnly() const;
    const std::string& Label() const { return m_label; }
    int BusyTimeoutMs() const { return m_busyTimeoutMs; }

    // Runs one or more statements that return nothing of interest.
    void Execute(const char* sql);
    void Execute(const std::string& sql) { Execute(sql.c_str()); }
    // For a rollback on the way out of a failure: never throws, the failure at hand is
    // the one to report.
    void ExecuteQuietly(const char* sql) noexcept;
    // The first column of the first row (PRAGMA application_id and the like); 0 when
    // there is no row.
    std::int64_t QueryInt(const char* sql) const;
    std::int64_t LastInsertId() const;

    // The statement kept in `slot`, prepared on first use and started afresh on each:
    // a fill of a thousand printers runs a handful of statements thousands of times.
    CSqliteStatement& Prepared(std::size_t slot, const char* sql) const;

    // Runs `work` again while SQLite answers "busy" at once instead of waiting (it does
    // while another program turns a new file into WAL mode), for as long as a write
    // would wait.
    void RetryWhileBusy(const std::function<void()>& work) const;

    // The connection's last error as a CSqliteError; `what` names the step that failed.
    [[noreturn]] void Fail(const std::string& what) const;

    // A file: URI of a path, with what a URI cannot hold as it is written in %XX, and
    // `query` ("mode=ro", "immutable=1") after it.
    static std::string UriOf(const std::string& path, const char* query);
    // An SQLite result code and message in words a user can act on.
    static std::string Describe(int code, const char* message, int busyTimeoutMs);
    static CSqliteError::Kind KindOf(int code);

private:
    friend class CSqliteStatement;

    std::string m_label;
    int m_busyTimeoutMs;
    sqlite3* m_db = nullptr;
    mutable std::vector<std::unique_ptr<CSqliteStatement>> m_statements;
};
