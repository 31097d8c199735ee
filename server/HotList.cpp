#include "HotList.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kivo::server {
namespace {

std::vector<std::string_view> SplitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = line.find('\t', start);
        if (tab == std::string_view::npos) {
            fields.push_back(line.substr(start));
            return fields;
        }
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
}

template <typename Int>
bool ParseInt(std::string_view text, Int& value) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

HotList HotList::Load(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error(file.string() + ": cannot open list data");
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str(), file.string());
}

HotList HotList::Parse(std::string_view text, const std::string& source) {
    HotList list;
    bool haveTitle = false;
    int lineNo = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (lineNo == 1 && line.substr(0, 3) == "\xEF\xBB\xBF") line.remove_prefix(3);
        if (line.empty() || line.front() == '#') continue;

        const auto fail = [&](const std::string& problem) {
            throw std::runtime_error(source + ":" + std::to_string(lineNo) + ": " + problem);
        };

        if (!haveTitle) {
            list.title = std::string(line);
            list.titleLine = lineNo;
            haveTitle = true;
            continue;
        }

        const auto fields = SplitTabs(line);
        if (fields.size() != 4 && fields.size() != 5) fail("expected rank<TAB>name<TAB>heat<TAB>trend[<TAB>link]");
        HotListEntry entry;
        entry.line = lineNo;
        if (!ParseInt(fields[0], entry.rank)) fail("rank is not a number");
        if (entry.rank != static_cast<int>(list.entries.size()) + 1) fail("ranks must count up from 1");
        if (fields[1].empty()) fail("empty name");
        entry.name = std::string(fields[1]);
        if (!ParseInt(fields[2], entry.heat) || entry.heat < 0) fail("heat is not a non-negative number");
        if (fields[3] == "up") {
            entry.trend = Trend::Up;
        } else if (fields[3] == "down") {
            entry.trend = Trend::Down;
        } else if (fields[3] == "same") {
            entry.trend = Trend::Same;
        } else {
            fail("trend must be up, down or same");
        }
        if (fields.size() == 5) {
            const std::string_view link = fields[4];
            const bool http = link.starts_with("http://") || link.starts_with("https://");
            if (!http || std::any_of(link.begin(), link.end(), [](char c) {
                    const auto byte = static_cast<unsigned char>(c);
                    return byte <= 0x20 || byte >= 0x7F;
                }))
                fail("link must be an http:// or https:// address of printable ASCII");
            entry.link = std::string(link);
        }
        list.entries.push_back(std::move(entry));
    }
    const std::string last = source + ":" + std::to_string(std::max(lineNo, 1)) + ": ";
    if (!haveTitle) throw std::runtime_error(last + "no title line");
    if (list.entries.size() < kMinEntries || list.entries.size() > kMaxEntries) {
        throw std::runtime_error(last + std::to_string(list.entries.size()) + " entries, expected " +
                                 std::to_string(kMinEntries) + " to " + std::to_string(kMaxEntries));
    }
    return list;
}

}  // namespace kivo::server
