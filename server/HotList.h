// One ranked list read from a UTF-8 data file (format: data/README.md).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::server {

enum class Trend { Up, Down, Same };

struct HotListEntry {
    int rank = 0;
    std::string name;  // UTF-8
    std::int64_t heat = 0;
    Trend trend = Trend::Same;
    std::string link;  // the entry's own http(s) address; empty: the web search for its name
    int line = 0;      // line of the data file it came from
};

struct HotList {
    static constexpr std::size_t kMinEntries = 8;
    static constexpr std::size_t kMaxEntries = 10;

    std::string title;  // UTF-8
    int titleLine = 0;
    std::vector<HotListEntry> entries;

    // Both throw std::runtime_error with "<source>:<line>: <problem>" (a file
    // that cannot be read: "<source>: <problem>").
    static HotList Load(const std::filesystem::path& file);
    static HotList Parse(std::string_view text, const std::string& source);
};

}  // namespace kivo::server
