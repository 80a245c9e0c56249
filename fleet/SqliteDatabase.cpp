#include "SqliteDatabase.h"

#include <sqlite3.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

CSqliteStatement::CSqliteStatement(const CSqliteDatabase& db, const char* sql) : m_db(db)
{
    if (sqlite3_prepare_v2(db.m_db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
        db.Fail("cannot prepare a query");
}

CSqliteStatement::~CSqliteStatement()
{
    sqlite3_finalize(m_stmt);
}

CSqliteStatement& CSqliteStatement::Start()
{
    sqlite3_reset(m_stmt);
    sqlite3_clear_bindings(m_stmt);
    m_next = 1;
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(std::int64_t value)
{
    sqlite3_bind_int64(m_stmt, m_next++, value);
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(const std::string& text)
{
    sqlite3_bind_text(m_stmt, m_next++, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(const std::optional<long long>& value)
{
    if (value)
        sqlite3_bind_int64(m_stmt, m_next++, *value);
    else
        sqlite3_bind_null(m_stmt, m_next++);
    return *this;
}

CSqliteStatement& CSqliteStatement::Bind(double value)
{
    sqlite3_bind_double(m_stmt, m_next++, value);
    return *this;
}

bool CSqliteStatement::Step()
{
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW)
        return true;
    sqlite3_reset(m_stmt);
    if (rc != SQLITE_DONE)
        m_db.Fail("cannot read or write the readings");
    return false;
}

void CSqliteStatement::Run()
{
    while (Step())
    {
    }
}

void CSqliteStatement::Finish()
{
    sqlite3_reset(m_stmt);
}

std::int64_t CSqliteStatement::Int(int column) const
{
    return sqlite3_column_int64(m_stmt, column);
}

double CSqliteStatement::Real(int column) const
{
    return sqlite3_column_double(m_stmt, column);
}

std::optional<long long> CSqliteStatement::OptionalInt(int column) const
{
    if (sqlite3_column_type(m_stmt, column) == SQLITE_NULL)
        return std::nullopt;
    return sqlite3_column_int64(m_stmt, column);
}

std::string CSqliteStatement::Text(int column) const
{
    const auto* text = sqlite3_column_text(m_stmt, column);
    return text ? std::string(reinterpret_cast<const char*>(text),
                              std::size_t(sqlite3_column_bytes(m_stmt, column)))
                : std::string();
}

CSqliteDatabase::CSqliteDatabase(std::string label, int busyTimeoutMs)
    : m_label(std::move(label)), m_busyTimeoutMs(busyTimeoutMs)
{
}

CSqliteDatabase::~CSqliteDatabase()
{
    Close();
}

void CSqliteDatabase::Close() noexcept
{
    // Statements first: a connection with statements left is closed only when they go.
    m_statements.clear();
    if (m_db)
        sqlite3_close_v2(m_db);
    m_db = nullptr;
}

void CSqliteDatabase::Open(const std::string& path, Access access)
{
    Close();
    int flags = SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX;
    switch (access)
    {
    case Access::readWriteCreate:
        flags |= SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
        break;
    case Access::readWrite:
        flags |= SQLITE_OPEN_READWRITE;
        break;
    case Access::readOnly:
        flags |= SQLITE_OPEN_READONLY;
        break;
    }
    if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK)
    {
        const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
        const std::string message =
            m_label + ": " +
            Describe(code, m_db ? sqlite3_errmsg(m_db) : "out of memory", m_busyTimeoutMs);
        Close();
        throw CSqliteError(message, KindOf(code));
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_busy_timeout(m_db, m_busyTimeoutMs);
}

bool CSqliteDatabase::IsReadOnly() const
{
    return !m_db || sqlite3_db_readonly(m_db, "main") != 0;
}

void CSqliteDatabase::Fail(const std::string& what) const
{
    const int code = m_db ? sqlite3_extended_errcode(m_db) : SQLITE_CANTOPEN;
    const char* message = m_db ? sqlite3_errmsg(m_db) : "not open";
    throw CSqliteError(m_label + ": " + Describe(code, message, m_busyTimeoutMs) +
                           (what.empty() ? "" : " (" + what + ")"),
                       KindOf(code));
}

void CSqliteDatabase::Execute(const char* sql)
{
    if (!m_db)
        Fail("");
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        Fail("");
}

void CSqliteDatabase::ExecuteQuietly(const char* sql) noexcept
{
    if (m_db)
        sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr);
}

std::int64_t CSqliteDatabase::QueryInt(const char* sql) const
{
    CSqliteStatement s(*this, sql);
    const std::int64_t value = s.Step() ? s.Int(0) : 0;
    s.Finish();
    return value;
}

std::int64_t CSqliteDatabase::LastInsertId() const
{
    return m_db ? sqlite3_last_insert_rowid(m_db) : 0;
}

CSqliteStatement& CSqliteDatabase::Prepared(std::size_t slot, const char* sql) const
{
    if (m_statements.size() <= slot)
        m_statements.resize(slot + 1);
    auto& statement = m_statements[slot];
    if (!statement)
        statement = std::make_unique<CSqliteStatement>(*this, sql);
    return statement->Start();
}

void CSqliteDatabase::RetryWhileBusy(const std::function<void()>& work) const
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(m_busyTimeoutMs);
    for (;;)
    {
        try
        {
            work();
            return;
        }
        catch (const CSqliteError& e)
        {
            if (!e.IsBusy() || std::chrono::steady_clock::now() > deadline)
                throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
}

std::string CSqliteDatabase::UriOf(const std::string& path, const char* query)
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

CSqliteError::Kind CSqliteDatabase::KindOf(int code)
{
    switch (code & 0xff)
    {
    case SQLITE_BUSY:
        return CSqliteError::Kind::busy;
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
        return CSqliteError::Kind::readOnly;
    default:
        return CSqliteError::Kind::other;
    }
}

std::string CSqliteDatabase::Describe(int code, const char* message, int busyTimeoutMs)
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
               std::to_string(busyTimeoutMs / 1000) + " seconds";
    case SQLITE_FULL:
        return "the disk is full";
    case SQLITE_IOERR:
        return std::string("the disk reported an error (") + message + ")";
    default:
        return message;
    }
}
