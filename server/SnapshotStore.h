// The importer's memory: every accepted snapshot of an imported list (pruned
// after kKeepDays), each list's state for the operator, and the validators of
// each source's last answer. In the same database as the subscriptions: a
// SQLite file by default, PostgreSQL for a postgresql:// URI. Safe to use
// from several threads; several processes may share one database.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kivo::server {

struct SnapshotEntry {
    int rank = 0;
    std::string name;  // UTF-8
    std::int64_t heat = 0;
    std::string link;
};

struct Snapshot {
    std::int64_t takenMs = 0;  // Unix time in milliseconds
    std::string page;
    std::string source;  // the URL it came from
    std::vector<SnapshotEntry> entries;
};

// A list's state as the operator sees it.
struct ListState {
    std::string page;
    std::string kind;    // "imported", "derived"
    std::string source;  // the URL last used
    int entries = 0;
    std::int64_t lastSuccessMs = 0;  // 0: never
    std::int64_t lastFailureMs = 0;  // 0: never
    std::string reason;              // of the last failure
    int failures = 0;                // consecutive
    int everyMinutes = 0;
};

struct Validators {
    std::string etag, lastModified;
};

class SnapshotStore {
public:
    static constexpr int kKeepDays = 30;

    virtual ~SnapshotStore() = default;

    // Stores an accepted snapshot and drops those older than kKeepDays.
    virtual void Add(const Snapshot& snapshot) = 0;
    // The latest snapshot of `page` taken at or before `atOrBeforeMs`.
    virtual std::optional<Snapshot> Latest(const std::string& page, std::int64_t atOrBeforeMs) = 0;
    // The names of `pages` ranked by the sum of (11 - rank) over every
    // snapshot taken from `sinceMs` to `untilMs`, best first (ties by the
    // best rank a name had, then by name), with the heat and link of its
    // latest entry; at most `limit`.
    virtual std::vector<SnapshotEntry> TopScores(const std::vector<std::string>& pages, std::int64_t sinceMs,
                                                 std::int64_t untilMs, std::size_t limit) = 0;

    virtual void PutState(const ListState& state) = 0;
    virtual std::optional<ListState> State(const std::string& page) = 0;
    virtual std::vector<ListState> States() = 0;

    // By a key of the caller's (a list and its source's address).
    virtual Validators ValidatorsOf(const std::string& key) = 0;
    virtual void PutValidators(const std::string& key, const Validators& validators) = 0;
};

// As OpenMailStore: "postgresql://..." or "postgres://..." is PostgreSQL,
// anything else a SQLite file. Creates the tables when missing; throws
// std::runtime_error when the store cannot be opened.
std::unique_ptr<SnapshotStore> OpenSnapshotStore(const std::string& where);

}  // namespace kivo::server
