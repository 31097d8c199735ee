#include "PgConnection.h"

namespace kivo::server {

PgConnection::PgConnection(std::string uri) : uri_(std::move(uri)) { Connect(); }

PgConnection::~PgConnection() { PQfinish(connection_); }

std::string PgConnection::Message(const char* text) {
    std::string message = text ? text : "";
    while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
    return message;
}

void PgConnection::Connect() {
    if (connection_ != nullptr) PQfinish(connection_);
    connection_ = PQconnectdb(uri_.c_str());
    if (PQstatus(connection_) != CONNECTION_OK) {
        const std::string why = Message(PQerrorMessage(connection_));
        PQfinish(connection_);
        connection_ = nullptr;
        throw std::runtime_error("postgresql: cannot connect: " + why);
    }
    PQsetNoticeProcessor(
        connection_, [](void*, const char*) {}, nullptr);
}

}  // namespace kivo::server
