#include "LiveLists.h"

#include <chrono>
#include <cstdio>
#include <ostream>

namespace kivo::server {
namespace {

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string Age(std::int64_t thenMs, std::int64_t nowMs) {
    if (thenMs <= 0) return "never";
    const std::int64_t seconds = std::max<std::int64_t>(0, (nowMs - thenMs) / 1000);
    if (seconds < 120) return std::to_string(seconds) + "s";
    if (seconds < 2 * 3600) return std::to_string(seconds / 60) + "m";
    if (seconds < 2 * 86400) return std::to_string(seconds / 3600) + "h";
    return std::to_string(seconds / 86400) + "d";
}

// What of a configuration the importer acts on, to tell a real change.
std::string Describe(const Sources& sources) {
    std::string text;
    for (const SourceLine& line : sources.lines) {
        text += line.page + " " + std::to_string(static_cast<int>(line.kind)) + " " +
                std::to_string(line.everyMinutes) + " " + std::to_string(line.keep) + " " +
                std::to_string(line.windowMinutes) + " " + std::to_string(static_cast<int>(line.format.kind)) + " " +
                line.format.items + ":" + line.format.title + ":" + line.format.heat + ":" + line.format.link;
        for (const std::string& url : line.urls) text += " " + url;
        text += "\n";
    }
    return text;
}

}  // namespace

int RunImportCommand(const std::filesystem::path& dataDir, const std::string& db, std::ostream& out,
                     std::ostream& err) {
    try {
        const Sources sources = Sources::Load(dataDir);
        const auto store = OpenSnapshotStore(db);
        Importer importer(dataDir, *store);
        int status = 0;
        for (const auto& [page, outcome] : importer.RunAll(sources)) {
            const char* word = outcome == Importer::Outcome::Accepted    ? "accepted"
                               : outcome == Importer::Outcome::Unchanged ? "unchanged"
                                                                         : "rejected";
            out << page << " " << word;
            if (outcome == Importer::Outcome::Rejected) {
                status = 1;
                if (const auto state = store->State(page)) out << ": " << state->reason;
            }
            out << "\n";
        }
        return status;
    } catch (const std::exception& e) {
        err << "kivo-server: " << e.what() << "\n";
        return 1;
    }
}

int RunStatusCommand(const std::filesystem::path& dataDir, const std::string& db, std::ostream& out,
                     std::ostream& err) {
    try {
        const Sources sources = Sources::Load(dataDir);
        const auto store = OpenSnapshotStore(db);
        const std::int64_t now = NowMs();
        int status = 0;
        for (const std::string& page : ListPages()) {
            const SourceLine* line = sources.Find(page);
            char head[64];
            if (line == nullptr) {
                std::snprintf(head, sizeof head, "%-9s %s", page.c_str(), "manual");
                out << head << "\n";
                continue;
            }
            const bool derived = line->kind != SourceLine::Kind::Imported;
            std::snprintf(head, sizeof head, "%-9s %-8s", page.c_str(), derived ? "derived" : "imported");
            ListState state = store->State(page).value_or(ListState{});
            state.kind = derived ? "derived" : "imported";
            state.everyMinutes = line->everyMinutes;
            out << head << " source=" << (state.source.empty() ? "-" : state.source) << " entries=" << state.entries
                << " success=" << Age(state.lastSuccessMs, now) << " failure=" << Age(state.lastFailureMs, now)
                << " failures=" << state.failures;
            if (state.lastFailureMs > 0 && !state.reason.empty()) out << " reason=" << state.reason;
            if (Importer::Overdue(state, now)) {
                out << " OVERDUE";
                status = 1;
            }
            out << "\n";
        }
        return status;
    } catch (const std::exception& e) {
        err << "kivo-server: " << e.what() << "\n";
        return 1;
    }
}

LiveLists::LiveLists(const std::filesystem::path& dataDir, const std::string& db)
    : dataDir_(dataDir), store_(OpenSnapshotStore(db)) {
    const Sources sources = Sources::Load(dataDir_);
    last_ = Describe(sources);
    sources_ = sources;
    importer_ = std::make_unique<Importer>(dataDir_, *store_);
    importer_->Start(sources);
}

void LiveLists::Reload(std::ostream& err) {
    std::lock_guard<std::mutex> lock(mutex_);
    try {
        const Sources sources = Sources::Load(dataDir_);
        const std::string text = Describe(sources);
        if (text == last_) return;  // the lists changed, not the sources
        last_ = text;
        sources_ = sources;
        importer_->Update(sources);
        err << "kivo-server: sources reloaded\n";
    } catch (const std::exception& e) {
        err << "kivo-server: " << e.what() << "; still importing as before\n";
    }
}

std::vector<ListState> LiveLists::ImportedStates() {
    Sources sources;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sources = sources_;
    }
    std::vector<ListState> states;
    for (const SourceLine& line : sources.lines) {
        if (line.kind != SourceLine::Kind::Imported) continue;
        ListState state = store_->State(line.page).value_or(ListState{});
        state.page = line.page;
        states.push_back(state);
    }
    return states;
}

}  // namespace kivo::server
