// E-mail subscriptions: the raw address bytes, stored once per address. Two
// stores with the same meaning: a SQLite file (the default, embedded) and a
// PostgreSQL database for servers that share one. Each is safe to use from
// several threads, and several processes may share one database: the
// address is a unique key and a second insert of it is ignored.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::server {

class MailStore {
public:
    virtual ~MailStore() = default;

    // Stores the raw address bytes once; true when the address is new.
    // Throws std::runtime_error when the store cannot be reached.
    virtual bool Add(std::string_view address) = 0;
    // Every stored address, oldest first.
    virtual std::vector<std::string> All() = 0;
    virtual void Clear() = 0;
};

// "postgresql://..." or "postgres://..." (a libpq connection URI): PostgreSQL;
// anything else names a SQLite file. Creates the table when it is missing;
// throws std::runtime_error when the store cannot be opened.
std::unique_ptr<MailStore> OpenMailStore(const std::string& where);

}  // namespace kivo::server
