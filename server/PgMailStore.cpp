// Subscriptions in PostgreSQL through libpq: table subscriptions(id bigserial,
// address bytea PRIMARY KEY, first_seen timestamptz). Several kivo-server
// processes may share the database; the primary key and ON CONFLICT DO
// NOTHING keep each address once whatever the interleaving.
#include <libpq-fe.h>

#include <memory>
#include <mutex>
#include <stdexcept>

#include "MailStore.h"

namespace kivo::server {
namespace {

constexpr unsigned kByteaType = 17;  // the OID of bytea

struct ResultFree {
    void operator()(PGresult* result) const { PQclear(result); }
};
using Result = std::unique_ptr<PGresult, ResultFree>;

std::string Trimmed(const char* message) {
    std::string text = message ? message : "";
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

class PgMailStore final : public MailStore {
public:
    explicit PgMailStore(const std::string& uri) : uri_(uri) {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            Connect();
            // Concurrent CREATE TABLE IF NOT EXISTS can still collide in the
            // catalogue; one creator at a time.
            Run("BEGIN");
            Run("SELECT pg_advisory_xact_lock(7164100)");
            Run("CREATE TABLE IF NOT EXISTS subscriptions(id bigserial, address bytea PRIMARY KEY, "
                "first_seen timestamptz NOT NULL DEFAULT now())");
            Run("COMMIT");
        } catch (...) {
            PQfinish(connection_);
            throw;
        }
    }
    ~PgMailStore() override { PQfinish(connection_); }
    PgMailStore(const PgMailStore&) = delete;
    PgMailStore& operator=(const PgMailStore&) = delete;

    bool Add(std::string_view address) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const char* values[] = {address.data()};
        const int lengths[] = {static_cast<int>(address.size())};
        const int binary[] = {1};
        const unsigned types[] = {kByteaType};
        static const char kEmpty = 0;
        if (address.empty()) values[0] = &kEmpty;
        Result result = Exec([&] {
            return PQexecParams(connection_,
                                "INSERT INTO subscriptions(address) VALUES($1) ON CONFLICT (address) DO NOTHING", 1,
                                types, values, lengths, binary, 0);
        });
        return std::string_view(PQcmdTuples(result.get())) == "1";
    }

    std::vector<std::string> All() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Result result = Exec([&] {
            return PQexecParams(connection_, "SELECT address FROM subscriptions ORDER BY id", 0, nullptr, nullptr,
                                nullptr, nullptr, 1);
        });
        std::vector<std::string> out;
        for (int row = 0; row < PQntuples(result.get()); ++row) {
            out.emplace_back(PQgetvalue(result.get(), row, 0),
                             static_cast<std::size_t>(PQgetlength(result.get(), row, 0)));
        }
        return out;
    }

    void Clear() override {
        std::lock_guard<std::mutex> lock(mutex_);
        Run("DELETE FROM subscriptions");
    }

private:
    void Connect() {
        if (connection_ != nullptr) PQfinish(connection_);
        connection_ = PQconnectdb(uri_.c_str());
        if (PQstatus(connection_) != CONNECTION_OK) {
            const std::string why = Trimmed(PQerrorMessage(connection_));
            PQfinish(connection_);
            connection_ = nullptr;
            throw std::runtime_error("postgresql: cannot connect: " + why);
        }
        PQsetNoticeProcessor(connection_, [](void*, const char*) {}, nullptr);
    }

    // Runs `query` (a callable returning a PGresult); one new connection and
    // one more try when the old one was lost.
    template <typename Query>
    Result Exec(const Query& query) {
        Result result(query());
        if (PQstatus(connection_) == CONNECTION_BAD) {
            Connect();
            result.reset(query());
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error("postgresql: " + Trimmed(PQresultErrorMessage(result.get())));
        return result;
    }

    void Run(const char* sql) {
        Exec([&] { return PQexec(connection_, sql); });
    }

    std::string uri_;
    std::mutex mutex_;
    PGconn* connection_ = nullptr;
};

}  // namespace

std::unique_ptr<MailStore> OpenSqliteMailStore(const std::string& file);

std::unique_ptr<MailStore> OpenMailStore(const std::string& where) {
    if (where.starts_with("postgresql://") || where.starts_with("postgres://"))
        return std::make_unique<PgMailStore>(where);
    return OpenSqliteMailStore(where);
}

}  // namespace kivo::server
