// One libpq connection of the content server's stores. A statement that
// finds the connection lost gets one new connection and one more try; a
// statement that fails throws "postgresql: <why>".
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <stdexcept>
#include <string>

namespace kivo::server {

class PgConnection {
public:
    using Result = std::unique_ptr<PGresult, void (*)(PGresult*)>;

    // Throws "postgresql: cannot connect: <why>".
    explicit PgConnection(std::string uri);
    ~PgConnection();
    PgConnection(const PgConnection&) = delete;
    PgConnection& operator=(const PgConnection&) = delete;

    // Runs `query`, a callable taking the PGconn* and returning its PGresult*.
    template <typename Query>
    Result Exec(const Query& query) {
        Result result(query(connection_), PQclear);
        if (PQstatus(connection_) == CONNECTION_BAD) {
            Connect();
            result.reset(query(connection_));
        }
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            throw std::runtime_error("postgresql: " + Message(PQresultErrorMessage(result.get())));
        return result;
    }
    // A statement without parameters.
    Result Run(const char* sql) {
        return Exec([sql](PGconn* connection) { return PQexec(connection, sql); });
    }

private:
    static std::string Message(const char* text);
    void Connect();

    std::string uri_;
    PGconn* connection_ = nullptr;
};

}  // namespace kivo::server
