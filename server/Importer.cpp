#include "Importer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "Feed.h"

namespace kivo::server {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::int64_t kMinute = 60 * 1000;

std::int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Host of an http(s) address, without user, port or path.
std::string HostOf(const std::string& url) {
    std::size_t start = url.find("://");
    start = start == std::string::npos ? 0 : start + 3;
    std::size_t end = url.find_first_of("/?#", start);
    std::string authority = url.substr(start, end == std::string::npos ? end : end - start);
    if (const std::size_t at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
    if (authority.starts_with("[")) return authority.substr(0, authority.find(']') + 1);
    return authority.substr(0, authority.find(':'));
}

// Where the baseline of a snapshot taken at `takenMs` must be at the latest.
std::int64_t BaselineLimit(std::int64_t takenMs, int windowMinutes) {
    return takenMs - std::max<std::int64_t>(1, std::int64_t{windowMinutes} * kMinute);
}

Trend TrendAgainst(const std::map<std::string, int>& baseline, bool haveBaseline, const std::string& name, int rank) {
    if (!haveBaseline) return Trend::Same;
    const auto it = baseline.find(name);
    if (it == baseline.end() || it->second > rank) return Trend::Up;
    return it->second < rank ? Trend::Down : Trend::Same;
}

std::map<std::string, int> Ranks(const std::vector<SnapshotEntry>& entries) {
    std::map<std::string, int> ranks;
    for (const SnapshotEntry& entry : entries) ranks.emplace(entry.name, entry.rank);
    return ranks;
}

const char* TrendWord(Trend trend) { return trend == Trend::Up ? "up" : trend == Trend::Down ? "down" : "same"; }

std::string Shorten(std::string text, std::size_t max = 300) {
    if (text.size() > max) text = text.substr(0, max) + "...";
    return text;
}

}  // namespace

Importer::Importer(fs::path dataDir, SnapshotStore& store, Settings settings)
    : dataDir_(std::move(dataDir)), store_(store), settings_(settings) {}

Importer::~Importer() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool Importer::Overdue(const ListState& state, std::int64_t nowMs) {
    if (state.kind != "imported" || state.failures == 0) return false;
    if (state.failures > 3) return true;
    return state.lastSuccessMs > 0 && nowMs - state.lastSuccessMs > 3 * std::int64_t{state.everyMinutes} * kMinute;
}

void Importer::WaitForHost(const std::string& url) {
    const std::string host = HostOf(url);
    Clock::time_point slot;
    {
        std::lock_guard<std::mutex> lock(hostsMutex_);
        auto& next = nextRequest_[host];
        slot = std::max(Clock::now(), next);
        next = slot + settings_.hostSpacing;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_until(lock, slot, [this] { return stop_.load(); });
}

Importer::Attempt Importer::Import(const SourceLine& line, std::int64_t nowMs) {
    ListState state = store_.State(line.page).value_or(ListState{});
    state.page = line.page;
    state.kind = "imported";
    state.everyMinutes = line.everyMinutes;
    Attempt attempt;
    std::vector<std::string> reasons;
    for (const std::string& url : line.urls) {
        if (stop_) return attempt;
        // Validators belong to a list and its source: two lists may share a feed.
        const std::string validatorKey = line.page + " " + url;
        const Validators validators = store_.ValidatorsOf(validatorKey);
        WaitForHost(url);
        const FetchResult answer =
            Fetch(FetchRequest{url, validators.etag, validators.lastModified, &stop_}, settings_.limits);
        if (answer.retryAfterSeconds >= 0 && url == line.urls.front())
            attempt.retryAfterSeconds = answer.retryAfterSeconds;
        if (answer.outcome == FetchResult::Outcome::NotModified) {
            attempt.outcome = Outcome::Unchanged;
        } else if (answer.outcome == FetchResult::Outcome::Failed) {
            reasons.push_back(url + ": " + answer.error);
            continue;
        } else {
            std::vector<ListItem> items;
            try {
                items = MakeListItems(ParseFeed(answer.body, line.format));
                if (items.size() < HotList::kMinEntries)
                    throw FeedError("only " + std::to_string(items.size()) + " usable entries, at least 8 needed");
            } catch (const FeedError& e) {
                reasons.push_back(url + ": " + e.what());
                continue;
            }
            if (items.size() > line.keep) items.resize(line.keep);

            Snapshot snapshot{nowMs, line.page, url, {}};
            for (const ListItem& item : items)
                snapshot.entries.push_back(
                    SnapshotEntry{static_cast<int>(snapshot.entries.size()) + 1, item.name, item.heat, item.link});
            const auto baseline = store_.Latest(line.page, BaselineLimit(nowMs, line.windowMinutes));
            const auto before = baseline ? Ranks(baseline->entries) : std::map<std::string, int>{};
            std::vector<Trend> trends;
            for (const SnapshotEntry& entry : snapshot.entries)
                trends.push_back(TrendAgainst(before, baseline.has_value(), entry.name, entry.rank));
            store_.Add(snapshot);
            std::string error;
            if (!WriteList(line.page, snapshot.entries, trends, error)) {
                reasons.push_back(error);
                break;
            }
            // Only an answer that reached its list file may be answered 304 later.
            store_.PutValidators(validatorKey, Validators{answer.etag, answer.lastModified});
            attempt.outcome = Outcome::Accepted;
            state.entries = static_cast<int>(snapshot.entries.size());
        }
        state.source = url;
        state.lastSuccessMs = nowMs;
        state.failures = 0;
        store_.PutState(state);
        return attempt;
    }
    if (stop_) return attempt;
    std::string reason;
    for (const std::string& r : reasons) reason += (reason.empty() ? "" : "; ") + r;
    state.reason = Shorten(reason);
    state.lastFailureMs = nowMs;
    ++state.failures;
    store_.PutState(state);
    return attempt;
}

std::map<std::string, Importer::Attempt> Importer::ImportEach(const std::vector<SourceLine>& lines,
                                                              std::int64_t nowMs) {
    std::map<std::string, Attempt> results;
    std::mutex resultsMutex;
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next++) < lines.size();) {
            Attempt attempt;
            try {
                attempt = Import(lines[i], nowMs);
            } catch (const std::exception& e) {  // the store failed: the list stays as it is
                ListState state{lines[i].page,        "imported", "", 0, 0, nowMs, Shorten(e.what()), 1,
                                lines[i].everyMinutes};
                try {
                    if (auto old = store_.State(lines[i].page)) {
                        state = *old;
                        state.lastFailureMs = nowMs;
                        state.reason = Shorten(e.what());
                        ++state.failures;
                    }
                    store_.PutState(state);
                } catch (const std::exception&) {
                }
            }
            std::lock_guard<std::mutex> lock(resultsMutex);
            results[lines[i].page] = attempt;
        }
    };
    const std::size_t count =
        std::min<std::size_t>(lines.size(), static_cast<std::size_t>(std::max(1, settings_.workers)));
    std::vector<std::thread> workers;
    for (std::size_t i = 1; i < count; ++i) workers.emplace_back(work);
    work();
    for (std::thread& worker : workers) worker.join();
    return results;
}

std::map<std::string, Importer::Outcome> Importer::RunAll(const Sources& sources) {
    std::vector<SourceLine> imported;
    for (const SourceLine& line : sources.lines)
        if (line.kind == SourceLine::Kind::Imported) imported.push_back(line);
    const std::int64_t now = NowMs();
    std::map<std::string, Outcome> outcomes;
    for (const auto& [page, attempt] : ImportEach(imported, now)) outcomes[page] = attempt.outcome;
    Derive(sources, now);
    return outcomes;
}

void Importer::Derive(const Sources& sources, std::int64_t nowMs) {
    std::set<std::string> pages;
    for (const SourceLine& line : sources.lines)
        if (line.kind == SourceLine::Kind::Imported) pages.insert(line.page);
    for (const SourceLine& line : sources.lines) {
        if (line.kind == SourceLine::Kind::Imported) continue;
        ListState state = store_.State(line.page).value_or(ListState{});
        state.page = line.page;
        state.kind = "derived";
        state.source = line.kind == SourceLine::Kind::Rising ? "derived:rising" : "derived:week";
        std::vector<SnapshotEntry> entries;
        std::vector<Trend> trends;
        try {
            if (line.kind == SourceLine::Kind::Rising) {
                // Each imported list's latest snapshot against its baseline.
                struct Rise {
                    int gain, rank;
                    SnapshotEntry entry;
                };
                std::vector<Rise> rises;
                for (const SourceLine& source : sources.lines) {
                    if (source.kind != SourceLine::Kind::Imported) continue;
                    const auto current = store_.Latest(source.page, nowMs);
                    if (!current) continue;
                    const auto baseline =
                        store_.Latest(source.page, BaselineLimit(current->takenMs, source.windowMinutes));
                    if (!baseline) continue;
                    const auto before = Ranks(baseline->entries);
                    for (const SnapshotEntry& entry : current->entries) {
                        const auto it = before.find(entry.name);
                        const int gain = it == before.end()
                                             ? static_cast<int>(baseline->entries.size()) + 1 - entry.rank
                                             : it->second - entry.rank;
                        rises.push_back(Rise{gain, entry.rank, entry});
                    }
                }
                std::stable_sort(rises.begin(), rises.end(), [](const Rise& a, const Rise& b) {
                    return a.gain != b.gain ? a.gain > b.gain : a.rank < b.rank;
                });
                std::set<std::string> seen;
                for (const Rise& rise : rises) {
                    if (entries.size() == Sources::kDerivedEntries) break;
                    if (!seen.insert(rise.entry.name).second) continue;
                    SnapshotEntry entry = rise.entry;
                    entry.rank = static_cast<int>(entries.size()) + 1;
                    entries.push_back(entry);
                    trends.push_back(rise.gain > 0 ? Trend::Up : rise.gain < 0 ? Trend::Down : Trend::Same);
                }
            } else {
                // Against the same ranking as it stood 30 minutes earlier.
                const std::vector<std::string> imported(pages.begin(), pages.end());
                const std::int64_t week = 7 * 24 * 60 * kMinute, earlier = nowMs - 30 * kMinute;
                entries = store_.TopScores(imported, nowMs - week, nowMs, Sources::kDerivedEntries);
                const auto before =
                    Ranks(store_.TopScores(imported, earlier - week, earlier, Sources::kDerivedEntries));
                for (const SnapshotEntry& entry : entries)
                    trends.push_back(TrendAgainst(before, !before.empty(), entry.name, entry.rank));
            }
            if (entries.size() < HotList::kMinEntries) {
                state.reason = "only " + std::to_string(entries.size()) + " entries to rank yet";
                state.lastFailureMs = nowMs;
                ++state.failures;
            } else {
                std::string error;
                if (WriteList(line.page, entries, trends, error)) {
                    state.entries = static_cast<int>(entries.size());
                    state.lastSuccessMs = nowMs;
                    state.failures = 0;
                } else {
                    state.reason = error;
                    state.lastFailureMs = nowMs;
                    ++state.failures;
                }
            }
            store_.PutState(state);
        } catch (const std::exception&) {
            // The store is unreachable: the derived list stays as it is.
        }
    }
}

bool Importer::WriteList(const std::string& page, const std::vector<SnapshotEntry>& entries,
                         const std::vector<Trend>& trends, std::string& error) {
    std::string text = "# Written by kivo-server from sources.txt: edit sources.txt, not this file.\n";
    text += ListTitle(page) + "\n";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const SnapshotEntry& e = entries[i];
        text += std::to_string(e.rank) + "\t" + e.name + "\t" + std::to_string(e.heat) + "\t" + TrendWord(trends[i]);
        if (!e.link.empty()) text += "\t" + e.link;
        text += "\n";
    }
    const fs::path target = dataDir_ / (page + ".txt");
    {
        std::ifstream in(target, std::ios::binary);
        std::ostringstream old;
        old << in.rdbuf();
        if (in && old.str() == text) return true;
    }
    // Whole or not at all: a temporary file (no ".txt", so the folder's
    // watch ignores it), flushed to disk, renamed over the list.
    const fs::path temporary = dataDir_ / ("." + page + ".txt.new");
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    bool ok = fd >= 0;
    for (std::size_t done = 0; ok && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        ok = n > 0;
        if (ok) done += static_cast<std::size_t>(n);
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    if (fd >= 0) ::close(fd);
    if (ok && ::rename(temporary.c_str(), target.c_str()) == 0) return true;
    error = "cannot write " + target.string() + ": " + std::strerror(ok ? errno : saved);
    ::unlink(temporary.c_str());
    return false;
}

void Importer::Start(const Sources& sources) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sources_ = sources;
    }
    thread_ = std::thread([this] { Run(); });
}

void Importer::Update(const Sources& sources) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        sources_ = sources;
        schedule_.clear();  // a changed line is tried at once
    }
    wake_.notify_all();
}

void Importer::Run() {
    std::mt19937_64 random(std::random_device{}());
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        const std::int64_t now = NowMs();
        const Sources sources = sources_;
        std::vector<SourceLine> due;
        std::int64_t nextDue = now + kMinute;
        for (const SourceLine& line : sources.lines) {
            if (line.kind != SourceLine::Kind::Imported) continue;
            const Schedule& when = schedule_[line.page];
            if (when.dueMs <= now)
                due.push_back(line);
            else
                nextDue = std::min(nextDue, when.dueMs);
        }
        if (due.empty()) {
            wake_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(10, nextDue - now)));
            continue;
        }
        lock.unlock();
        const auto attempts = ImportEach(due, now);
        Derive(sources, now);
        lock.lock();
        for (const SourceLine& line : due) {
            const auto it = attempts.find(line.page);
            if (it == attempts.end()) continue;
            Schedule& when = schedule_[line.page];
            const std::int64_t every = std::int64_t{line.everyMinutes} * kMinute;
            std::int64_t delay = every;
            if (it->second.outcome == Outcome::Rejected) {
                ++when.failures;
                const std::int64_t cap =
                    std::chrono::duration_cast<std::chrono::milliseconds>(settings_.maxBackoff).count();
                std::int64_t backoff = every;
                for (int i = 0; i < when.failures && backoff < cap; ++i) backoff *= 2;
                delay = std::max(every, std::min(backoff, cap));
            } else {
                when.failures = 0;
            }
            if (it->second.retryAfterSeconds >= 0)
                delay = std::max(delay, std::min<std::int64_t>(it->second.retryAfterSeconds, 24 * 3600) * 1000);
            std::uniform_real_distribution<double> jitter(0.9, 1.1);
            when.dueMs = NowMs() + static_cast<std::int64_t>(static_cast<double>(delay) * jitter(random));
        }
    }
}

}  // namespace kivo::server
