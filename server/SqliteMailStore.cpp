#include <sqlite3.h>

#include <mutex>

#include "MailStore.h"

#include <ctime>
#include <memory>
#include <stdexcept>

namespace kivo::server {
namespace {

struct StatementCloser {
    void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

[[noreturn]] void Fail(sqlite3* db, const std::string& what) {
    throw std::runtime_error("sqlite: " + what + ": " + (db ? sqlite3_errmsg(db) : "out of memory"));
}

Statement Prepare(sqlite3* db, const char* sql) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &raw, nullptr) != SQLITE_OK) Fail(db, sql);
    return Statement(raw);
}

// Table subscriptions(address BLOB PRIMARY KEY, first_seen INTEGER).
class SqliteMailStore final : public MailStore {
public:
    explicit SqliteMailStore(const std::string& file);
    ~SqliteMailStore() override { sqlite3_close(db_); }
    SqliteMailStore(const SqliteMailStore&) = delete;
    SqliteMailStore& operator=(const SqliteMailStore&) = delete;

    bool Add(std::string_view address) override;
    std::vector<std::string> All() override;
    void Clear() override;

private:
    void Exec(const char* sql) const;

    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

SqliteMailStore::SqliteMailStore(const std::string& file) {
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        throw std::runtime_error("cannot open database " + file + ": " + message);
    }
    try {
        // Other processes may write the same file: wait for their locks.
        sqlite3_busy_timeout(db_, 5000);
        Exec(
            "CREATE TABLE IF NOT EXISTS subscriptions("
            "address BLOB PRIMARY KEY, first_seen INTEGER)");
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

void SqliteMailStore::Exec(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown error";
        sqlite3_free(error);
        throw std::runtime_error(std::string("sqlite: ") + sql + ": " + message);
    }
}

bool SqliteMailStore::Add(std::string_view address) {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement stmt = Prepare(db_, "INSERT OR IGNORE INTO subscriptions(address, first_seen) VALUES(?1, ?2)");
    // A zero-length blob must not become NULL, so never pass a null pointer.
    static const char kEmpty = 0;
    const char* data = address.empty() ? &kEmpty : address.data();
    if (sqlite3_bind_blob64(stmt.get(), 1, data, address.size(), SQLITE_TRANSIENT) != SQLITE_OK ||
        sqlite3_bind_int64(stmt.get(), 2, static_cast<sqlite3_int64>(std::time(nullptr))) != SQLITE_OK) {
        Fail(db_, "bind");
    }
    if (sqlite3_step(stmt.get()) != SQLITE_DONE) Fail(db_, "insert");
    return sqlite3_changes(db_) > 0;
}

std::vector<std::string> SqliteMailStore::All() {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement stmt = Prepare(db_, "SELECT address FROM subscriptions ORDER BY rowid");
    std::vector<std::string> out;
    for (;;) {
        const int rc = sqlite3_step(stmt.get());
        if (rc == SQLITE_DONE) break;
        if (rc != SQLITE_ROW) Fail(db_, "select");
        const void* blob = sqlite3_column_blob(stmt.get(), 0);
        const int size = sqlite3_column_bytes(stmt.get(), 0);
        if (blob == nullptr || size <= 0) {
            out.emplace_back();
        } else {
            out.emplace_back(static_cast<const char*>(blob), static_cast<std::size_t>(size));
        }
    }
    return out;
}

void SqliteMailStore::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    Exec("DELETE FROM subscriptions");
}

}  // namespace

std::unique_ptr<MailStore> OpenSqliteMailStore(const std::string& file) {
    return std::make_unique<SqliteMailStore>(file);
}

}  // namespace kivo::server
