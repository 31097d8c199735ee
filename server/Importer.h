// Fills the lists named in sources.txt: fetches each list's feed (its
// fallbacks in order when it fails), accepts or rejects the answer whole,
// stores accepted snapshots, works out trends against an older snapshot and
// the derived lists, and writes PAGE.txt in the data folder whole (temporary
// file, fsync, rename) only when its text changes. The live reload then
// serves it; a list whose sources all fail keeps its last good file.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Fetch.h"
#include "HotList.h"
#include "SnapshotStore.h"
#include "Sources.h"

namespace kivo::server {

class Importer {
public:
    struct Settings {
        FetchLimits limits;
        std::chrono::milliseconds hostSpacing{500};  // between two requests to one host
        int workers = 4;                             // lists fetched at once
        std::chrono::minutes maxBackoff{60};
    };

    enum class Outcome { Accepted, Unchanged, Rejected };

    Importer(std::filesystem::path dataDir, SnapshotStore& store, Settings settings);
    Importer(std::filesystem::path dataDir, SnapshotStore& store) : Importer(std::move(dataDir), store, Settings{}) {}
    ~Importer();  // stops the thread of Start(), cancelling transfers under way
    Importer(const Importer&) = delete;
    Importer& operator=(const Importer&) = delete;

    // One cycle of every imported list at once, then the derived lists;
    // the outcome of each imported list by page.
    std::map<std::string, Outcome> RunAll(const Sources& sources);

    // Imports each list whenever it is due (every= with +-10 % jitter; after
    // failures later, doubling up to maxBackoff, or as Retry-After asks) on
    // a thread of its own, until destroyed. Update() takes a new sources.txt.
    void Start(const Sources& sources);
    void Update(const Sources& sources);

    // An imported list "has failed for more than three of its periods".
    static bool Overdue(const ListState& state, std::int64_t nowMs);

private:
    struct Attempt {
        Outcome outcome = Outcome::Rejected;
        long retryAfterSeconds = -1;
    };
    struct Schedule {
        std::int64_t dueMs = 0;
        int failures = 0;
    };

    Attempt Import(const SourceLine& line, std::int64_t nowMs);
    std::map<std::string, Attempt> ImportEach(const std::vector<SourceLine>& lines, std::int64_t nowMs);
    void Derive(const Sources& sources, std::int64_t nowMs);
    void WaitForHost(const std::string& url);
    bool WriteList(const std::string& page, const std::vector<SnapshotEntry>& entries, const std::vector<Trend>& trends,
                   std::string& error);
    void Run();

    std::filesystem::path dataDir_;
    SnapshotStore& store_;
    Settings settings_;

    std::mutex hostsMutex_;
    std::map<std::string, std::chrono::steady_clock::time_point> nextRequest_;

    std::mutex mutex_;
    std::condition_variable wake_;
    Sources sources_;
    std::map<std::string, Schedule> schedule_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace kivo::server
