// Subscriptions in PostgreSQL through libpq: table subscriptions(id bigserial,
// address bytea PRIMARY KEY, first_seen timestamptz). Several kivo-server
// processes may share the database; the primary key and ON CONFLICT DO
// NOTHING keep each address once whatever the interleaving.
#include <libpq-fe.h>

#include <memory>
#include <mutex>
#include <stdexcept>

#include "MailStore.h"
#include "PgConnection.h"

namespace kivo::server {
namespace {

constexpr unsigned kByteaType = 17;  // the OID of bytea

class PgMailStore final : public MailStore {
public:
    explicit PgMailStore(const std::string& uri) : db_(uri) {
        std::lock_guard<std::mutex> lock(mutex_);
        // Concurrent CREATE TABLE IF NOT EXISTS can still collide in the
        // catalogue; one creator at a time.
        db_.Run("BEGIN");
        db_.Run("SELECT pg_advisory_xact_lock(7164100)");
        db_.Run(
            "CREATE TABLE IF NOT EXISTS subscriptions(id bigserial, address bytea PRIMARY KEY, "
            "first_seen timestamptz NOT NULL DEFAULT now())");
        db_.Run("COMMIT");
    }
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
        const auto result = db_.Exec([&](PGconn* connection) {
            return PQexecParams(connection,
                                "INSERT INTO subscriptions(address) VALUES($1) ON CONFLICT (address) DO NOTHING", 1,
                                types, values, lengths, binary, 0);
        });
        return std::string_view(PQcmdTuples(result.get())) == "1";
    }

    std::vector<std::string> All() override {
        std::lock_guard<std::mutex> lock(mutex_);
        const auto result = db_.Exec([](PGconn* connection) {
            return PQexecParams(connection, "SELECT address FROM subscriptions ORDER BY id", 0, nullptr, nullptr,
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
        db_.Run("DELETE FROM subscriptions");
    }

private:
    std::mutex mutex_;
    PgConnection db_;
};

}  // namespace

std::unique_ptr<MailStore> OpenSqliteMailStore(const std::string& file);

std::unique_ptr<MailStore> OpenMailStore(const std::string& where) {
    if (where.starts_with("postgresql://") || where.starts_with("postgres://"))
        return std::make_unique<PgMailStore>(where);
    return OpenSqliteMailStore(where);
}

}  // namespace kivo::server
