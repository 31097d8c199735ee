// E-mail subscriptions kept in SQLite: table subscriptions(address BLOB PRIMARY KEY, first_seen INTEGER).
#pragma once

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;

namespace kivo::server {

class MailStore {
public:
    // Opens (creating if needed) the database file; throws std::runtime_error.
    explicit MailStore(const std::string& file);
    ~MailStore();

    MailStore(const MailStore&) = delete;
    MailStore& operator=(const MailStore&) = delete;

    // Stores the raw address bytes once; returns true when the address is new.
    bool Add(std::string_view address);

    // Every stored address, oldest first.
    std::vector<std::string> All() const;

    void Clear();

private:
    void Exec(const char* sql) const;

    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace kivo::server
