// One store over two databases: the statements are written once, in the SQL
// both SQLite and PostgreSQL understand ($N parameters, ON CONFLICT), and
// every value travels as text.
#include "SnapshotStore.h"

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <stdexcept>

#include "PgConnection.h"

namespace kivo::server {
namespace {

using Row = std::vector<std::string>;
using Params = std::vector<std::string>;

class Sql {
public:
    virtual ~Sql() = default;
    virtual std::vector<Row> Run(const std::string& sql, const Params& params = {}) = 0;
};

class SqliteSql final : public Sql {
public:
    explicit SqliteSql(const std::string& file) {
        const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
        if (sqlite3_open_v2(file.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
            const std::string message = db_ ? sqlite3_errmsg(db_) : "out of memory";
            sqlite3_close(db_);
            throw std::runtime_error("cannot open database " + file + ": " + message);
        }
        // The server and a cron import may write the same file.
        sqlite3_busy_timeout(db_, 10000);
    }
    ~SqliteSql() override { sqlite3_close(db_); }
    SqliteSql(const SqliteSql&) = delete;
    SqliteSql& operator=(const SqliteSql&) = delete;

    std::vector<Row> Run(const std::string& sql, const Params& params) override {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &raw, nullptr) != SQLITE_OK) Fail(sql);
        std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> stmt(raw, sqlite3_finalize);
        for (std::size_t i = 0; i < params.size(); ++i) {
            std::string name = "$";
            name += std::to_string(i + 1);
            const int index = sqlite3_bind_parameter_index(raw, name.c_str());
            if (index == 0) continue;
            if (sqlite3_bind_text64(raw, index, params[i].data(), params[i].size(), SQLITE_TRANSIENT, SQLITE_UTF8) !=
                SQLITE_OK)
                Fail(sql);
        }
        std::vector<Row> rows;
        for (;;) {
            const int rc = sqlite3_step(raw);
            if (rc == SQLITE_DONE) return rows;
            if (rc != SQLITE_ROW) Fail(sql);
            Row row;
            for (int column = 0; column < sqlite3_column_count(raw); ++column) {
                const auto* text = sqlite3_column_text(raw, column);
                row.emplace_back(text ? reinterpret_cast<const char*>(text) : "",
                                 static_cast<std::size_t>(sqlite3_column_bytes(raw, column)));
            }
            rows.push_back(std::move(row));
        }
    }

private:
    [[noreturn]] void Fail(const std::string& sql) const {
        throw std::runtime_error("sqlite: " + sql.substr(0, 60) + ": " + sqlite3_errmsg(db_));
    }
    sqlite3* db_ = nullptr;
};

class PgSql final : public Sql {
public:
    explicit PgSql(const std::string& uri) : db_(uri) {}

    std::vector<Row> Run(const std::string& sql, const Params& params) override {
        std::vector<const char*> values;
        for (const std::string& param : params) values.push_back(param.c_str());
        const auto result = db_.Exec([&](PGconn* connection) {
            return PQexecParams(connection, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(),
                                nullptr, nullptr, 0);
        });
        std::vector<Row> rows;
        for (int r = 0; r < PQntuples(result.get()); ++r) {
            Row row;
            for (int column = 0; column < PQnfields(result.get()); ++column)
                row.emplace_back(PQgetvalue(result.get(), r, column),
                                 static_cast<std::size_t>(PQgetlength(result.get(), r, column)));
            rows.push_back(std::move(row));
        }
        return rows;
    }

private:
    PgConnection db_;
};

std::int64_t Number(const std::string& text) {
    try {
        return text.empty() ? 0 : std::stoll(text);
    } catch (const std::exception&) {
        return 0;
    }
}

class SqlSnapshotStore final : public SnapshotStore {
public:
    SqlSnapshotStore(std::unique_ptr<Sql> sql, bool postgres) : sql_(std::move(sql)) {
        std::lock_guard<std::mutex> lock(mutex_);
        Transaction([&] {
            // Concurrent creators collide in PostgreSQL's catalogue: one at a time.
            if (postgres) sql_->Run("SELECT pg_advisory_xact_lock(7164101)");
            sql_->Run(
                "CREATE TABLE IF NOT EXISTS list_snapshots(taken BIGINT NOT NULL, page TEXT NOT NULL, "
                "rank INTEGER NOT NULL, name TEXT NOT NULL, heat BIGINT NOT NULL, link TEXT NOT NULL, "
                "source TEXT NOT NULL, PRIMARY KEY(page, taken, rank))");
            sql_->Run("CREATE INDEX IF NOT EXISTS list_snapshots_taken ON list_snapshots(taken)");
            sql_->Run("CREATE INDEX IF NOT EXISTS list_snapshots_name ON list_snapshots(name, taken)");
            sql_->Run(
                "CREATE TABLE IF NOT EXISTS list_states(page TEXT PRIMARY KEY, kind TEXT NOT NULL, "
                "source TEXT NOT NULL, entries INTEGER NOT NULL, last_success BIGINT NOT NULL, "
                "last_failure BIGINT NOT NULL, reason TEXT NOT NULL, failures INTEGER NOT NULL, "
                "every INTEGER NOT NULL)");
            sql_->Run(
                "CREATE TABLE IF NOT EXISTS feed_validators(url TEXT PRIMARY KEY, etag TEXT NOT NULL, "
                "last_modified TEXT NOT NULL)");
        });
    }

    void Add(const Snapshot& snapshot) override {
        std::lock_guard<std::mutex> lock(mutex_);
        Transaction([&] {
            // Snapshots of a list are told apart by their time: never two at one.
            const auto latest = sql_->Run("SELECT MAX(taken) FROM list_snapshots WHERE page = $1", {snapshot.page});
            std::int64_t taken = snapshot.takenMs;
            if (!latest.empty() && !latest[0][0].empty()) taken = std::max(taken, Number(latest[0][0]) + 1);
            for (const SnapshotEntry& entry : snapshot.entries) {
                sql_->Run(
                    "INSERT INTO list_snapshots(taken, page, rank, name, heat, link, source) "
                    "VALUES($1, $2, $3, $4, $5, $6, $7)",
                    {std::to_string(taken), snapshot.page, std::to_string(entry.rank), entry.name,
                     std::to_string(entry.heat), entry.link, snapshot.source});
            }
            const std::int64_t oldest = taken - std::int64_t{kKeepDays} * 24 * 3600 * 1000;
            sql_->Run("DELETE FROM list_snapshots WHERE taken < $1", {std::to_string(oldest)});
        });
    }

    std::optional<Snapshot> Latest(const std::string& page, std::int64_t atOrBeforeMs) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto latest = sql_->Run("SELECT MAX(taken) FROM list_snapshots WHERE page = $1 AND taken <= $2",
                                      {page, std::to_string(atOrBeforeMs)});
        if (latest.empty() || latest[0][0].empty()) return std::nullopt;
        const auto rows = sql_->Run(
            "SELECT taken, page, rank, name, heat, link, source FROM list_snapshots "
            "WHERE page = $1 AND taken = $2 ORDER BY rank",
            {page, latest[0][0]});
        auto snapshots = Group(rows);
        if (snapshots.empty()) return std::nullopt;
        return snapshots.front();
    }

    std::vector<SnapshotEntry> TopScores(const std::vector<std::string>& pages, std::int64_t sinceMs,
                                         std::int64_t untilMs, std::size_t limit) override {
        if (pages.empty() || limit == 0) return {};
        std::lock_guard<std::mutex> lock(mutex_);
        Params params = {std::to_string(sinceMs), std::to_string(untilMs)};
        std::string in;
        for (const std::string& page : pages) {
            params.push_back(page);
            in += in.empty() ? "$" : ", $";
            in += std::to_string(params.size());
        }
        const auto top = sql_->Run(
            "SELECT name, SUM(11 - rank) AS score, MIN(rank) AS best FROM list_snapshots "
            "WHERE taken >= $1 AND taken <= $2 AND page IN (" +
                in +
                ") GROUP BY name "
                "ORDER BY score DESC, best ASC, name ASC LIMIT " +
                std::to_string(limit),
            params);
        std::vector<SnapshotEntry> entries;
        for (const Row& row : top) {
            SnapshotEntry entry{static_cast<int>(entries.size()) + 1, row[0], 0, {}};
            const auto latest = sql_->Run(
                "SELECT heat, link FROM list_snapshots WHERE name = $1 AND taken <= $2 "
                "ORDER BY taken DESC LIMIT 1",
                {row[0], std::to_string(untilMs)});
            if (!latest.empty()) {
                entry.heat = Number(latest[0][0]);
                entry.link = latest[0][1];
            }
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    void PutState(const ListState& s) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sql_->Run(
            "INSERT INTO list_states(page, kind, source, entries, last_success, last_failure, reason, "
            "failures, every) VALUES($1, $2, $3, $4, $5, $6, $7, $8, $9) ON CONFLICT(page) DO UPDATE SET "
            "kind = excluded.kind, source = excluded.source, entries = excluded.entries, "
            "last_success = excluded.last_success, last_failure = excluded.last_failure, "
            "reason = excluded.reason, failures = excluded.failures, every = excluded.every",
            {s.page, s.kind, s.source, std::to_string(s.entries), std::to_string(s.lastSuccessMs),
             std::to_string(s.lastFailureMs), s.reason, std::to_string(s.failures), std::to_string(s.everyMinutes)});
    }

    std::optional<ListState> State(const std::string& page) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto states = ReadStates("WHERE page = $1", {page});
        if (states.empty()) return std::nullopt;
        return states.front();
    }

    std::vector<ListState> States() override {
        std::lock_guard<std::mutex> lock(mutex_);
        return ReadStates("", {});
    }

    Validators ValidatorsOf(const std::string& url) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto rows = sql_->Run("SELECT etag, last_modified FROM feed_validators WHERE url = $1", {url});
        if (rows.empty()) return {};
        return Validators{rows[0][0], rows[0][1]};
    }

    void PutValidators(const std::string& url, const Validators& v) override {
        std::lock_guard<std::mutex> lock(mutex_);
        sql_->Run(
            "INSERT INTO feed_validators(url, etag, last_modified) VALUES($1, $2, $3) "
            "ON CONFLICT(url) DO UPDATE SET etag = excluded.etag, last_modified = excluded.last_modified",
            {url, v.etag, v.lastModified});
    }

private:
    template <typename Work>
    void Transaction(const Work& work) {
        sql_->Run("BEGIN");
        try {
            work();
            sql_->Run("COMMIT");
        } catch (...) {
            try {
                sql_->Run("ROLLBACK");
            } catch (const std::exception&) {
            }
            throw;
        }
    }

    std::vector<ListState> ReadStates(const std::string& where, const Params& params) {
        std::vector<ListState> states;
        for (const Row& r : sql_->Run("SELECT page, kind, source, entries, last_success, last_failure, reason, "
                                      "failures, every FROM list_states " +
                                          where + " ORDER BY page",
                                      params)) {
            states.push_back(ListState{r[0], r[1], r[2], static_cast<int>(Number(r[3])), Number(r[4]), Number(r[5]),
                                       r[6], static_cast<int>(Number(r[7])), static_cast<int>(Number(r[8]))});
        }
        return states;
    }

    static std::vector<Snapshot> Group(const std::vector<Row>& rows) {
        std::vector<Snapshot> snapshots;
        for (const Row& r : rows) {
            const std::int64_t taken = Number(r[0]);
            if (snapshots.empty() || snapshots.back().takenMs != taken || snapshots.back().page != r[1])
                snapshots.push_back(Snapshot{taken, r[1], r[6], {}});
            snapshots.back().entries.push_back(SnapshotEntry{static_cast<int>(Number(r[2])), r[3], Number(r[4]), r[5]});
        }
        return snapshots;
    }

    std::mutex mutex_;
    std::unique_ptr<Sql> sql_;
};

}  // namespace

std::unique_ptr<SnapshotStore> OpenSnapshotStore(const std::string& where) {
    if (where.starts_with("postgresql://") || where.starts_with("postgres://"))
        return std::make_unique<SqlSnapshotStore>(std::make_unique<PgSql>(where), true);
    return std::make_unique<SqlSnapshotStore>(std::make_unique<SqliteSql>(where), false);
}

}  // namespace kivo::server
