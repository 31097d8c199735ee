// sources.txt in the data folder: which lists are imported from feeds and
// which are derived from the others. A list without a line stays as its
// hand-written PAGE.txt. Format (one list a line, '#' comments):
//
//   PAGE URL [format=F] [every=MIN] [keep=N] [window=MIN] [fallback=URL]...
//   PAGE derived:rising
//   PAGE derived:week
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::server {

struct FeedFormat {
    enum class Kind { Auto, Rss, Atom, JsonFeed, DailyHot, NewsNow, Json };
    Kind kind = Kind::Auto;
    // Kind::Json: dotted path to the item array and the item's fields; an
    // empty heat or link field stands for "-" (none).
    std::string items, title, heat, link;

    // "auto", "rss", ..., "json:ITEMS:TITLE:HEAT:LINK"; false when unknown.
    static bool Parse(std::string_view text, FeedFormat& format);
};

struct SourceLine {
    enum class Kind { Imported, Rising, Week };
    std::string page;  // "today", "week", ... (no ".html")
    Kind kind = Kind::Imported;
    std::vector<std::string> urls;  // the source, then its fallbacks in order
    FeedFormat format;
    int everyMinutes = 10;
    std::size_t keep = 10;   // entries written (8 to 10)
    int windowMinutes = 30;  // age of the trend baseline; 0: the previous snapshot
    int line = 0;
};

struct Sources {
    static constexpr const char* kFileName = "sources.txt";
    static constexpr int kMinEvery = 5, kMaxEvery = 1440;
    static constexpr std::size_t kDerivedEntries = 8;

    std::vector<SourceLine> lines;

    const SourceLine* Find(std::string_view page) const;

    // Throws std::runtime_error "<source>:<line>: <problem>" for the first
    // bad line; a missing file is an empty configuration.
    static Sources Parse(std::string_view text, const std::string& source);
    static Sources Load(const std::filesystem::path& dataDir);
};

// The fourteen page names ("today" ... "hotmusic") in catalogue order, and
// each list's title as its data file carries it (UTF-8).
const std::vector<std::string>& ListPages();
std::string ListTitle(std::string_view page);

}  // namespace kivo::server
