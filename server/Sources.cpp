#include "Sources.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

namespace kivo::server {
namespace {

struct CatalogueEntry {
    const char* page;
    const char* title;
};

// The titles of the hand-written data files (UTF-8).
const CatalogueEntry kCatalogue[] = {
    {"today",
     "\xE4\xB8\x8A\xE5\x8D\x87\xE6\x9C\x80\xE5\xBF\xAB"
     "Top8"},
    {"week",
     "\xE4\xB8\x80\xE5\x91\xA8\xE7\x83\xAD\xE7\x82\xB9"
     "Top8"},
    {"hot",
     "\xE7\x83\xAD\xE9\x97\xA8\xE6\x90\x9C\xE7\xB4\xA2"
     "Top8"},
    {"movie", "\xE7\x94\xB5\xE5\xBD\xB1\xE6\xB5\x81\xE8\xA1\x8C\xE6\xA6\x9C"},
    {"teleplay", "\xE7\x94\xB5\xE8\xA7\x86\xE5\x89\xA7\xE6\xB5\x81\xE8\xA1\x8C\xE6\xA6\x9C"},
    {"game", "\xE6\xB8\xB8\xE6\x88\x8F\xE6\xB5\x81\xE8\xA1\x8C\xE6\xA6\x9C"},
    {"novel", "\xE5\xB0\x8F\xE8\xAF\xB4\xE6\xB5\x81\xE8\xA1\x8C\xE6\xA6\x9C"},
    {"mm", "\xE5\x8D\x81\xE5\xA4\xA7\xE7\xBE\x8E\xE5\xA5\xB3"},
    {"gg", "\xE5\x8D\x81\xE5\xA4\xA7\xE5\xB8\x85\xE5\x93\xA5"},
    {"mmstar", "\xE6\x9C\x80\xE7\x81\xAB\xE5\xA5\xB3\xE6\xAD\x8C\xE6\x89\x8B\xE6\xA6\x9C"},
    {"ggstar", "\xE6\x9C\x80\xE7\x81\xAB\xE7\x94\xB7\xE6\xAD\x8C\xE6\x89\x8B\xE6\xA6\x9C"},
    {"scenic", "\xE5\x8D\x81\xE4\xBD\xB3\xE6\x97\x85\xE6\xB8\xB8\xE6\x99\xAF\xE7\x82\xB9"},
    {"newmusic", "\xE6\x96\xB0\xE6\xAD\x8C\xE6\xB5\x81\xE8\xA1\x8C\xE6\xA6\x9C"},
    {"hotmusic", "\xE4\xB8\xAD\xE6\x96\x87\xE9\x87\x91\xE6\x9B\xB2\xE6\xA6\x9C"},
};

bool ParseInt(std::string_view text, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && ec == std::errc() && end == text.data() + text.size();
}

bool HttpUrl(std::string_view url) {
    const std::size_t scheme = url.starts_with("http://") ? 7 : url.starts_with("https://") ? 8 : 0;
    if (scheme == 0 || url.size() == scheme) return false;
    return std::none_of(url.begin(), url.end(),
                        [](char c) { return static_cast<unsigned char>(c) <= ' ' || c == 0x7f; });
}

}  // namespace

const std::vector<std::string>& ListPages() {
    static const std::vector<std::string> kPages = [] {
        std::vector<std::string> pages;
        for (const CatalogueEntry& entry : kCatalogue) pages.emplace_back(entry.page);
        return pages;
    }();
    return kPages;
}

std::string ListTitle(std::string_view page) {
    for (const CatalogueEntry& entry : kCatalogue)
        if (page == entry.page) return entry.title;
    return {};
}

bool FeedFormat::Parse(std::string_view text, FeedFormat& format) {
    using K = Kind;
    static const std::pair<const char*, K> kNamed[] = {{"auto", K::Auto},         {"rss", K::Rss},
                                                       {"atom", K::Atom},         {"jsonfeed", K::JsonFeed},
                                                       {"dailyhot", K::DailyHot}, {"newsnow", K::NewsNow}};
    for (const auto& [name, kind] : kNamed) {
        if (text == name) {
            format = FeedFormat{};
            format.kind = kind;
            return true;
        }
    }
    if (!text.starts_with("json:")) return false;
    std::vector<std::string> parts;
    std::size_t start = 5;
    for (;;) {
        const std::size_t colon = text.find(':', start);
        parts.emplace_back(text.substr(start, colon == std::string_view::npos ? colon : colon - start));
        if (colon == std::string_view::npos) break;
        start = colon + 1;
    }
    if (parts.size() != 4 || parts[0].empty() || parts[1].empty() || parts[1] == "-" || parts[2].empty() ||
        parts[3].empty())
        return false;
    format = FeedFormat{K::Json, parts[0], parts[1], parts[2] == "-" ? "" : parts[2], parts[3] == "-" ? "" : parts[3]};
    return true;
}

const SourceLine* Sources::Find(std::string_view page) const {
    for (const SourceLine& line : lines)
        if (line.page == page) return &line;
    return nullptr;
}

Sources Sources::Parse(std::string_view text, const std::string& source) {
    Sources sources;
    std::istringstream in{std::string(text)};
    std::string raw;
    for (int number = 1; std::getline(in, raw); ++number) {
        const auto fail = [&](const std::string& problem) {
            throw std::runtime_error(source + ":" + std::to_string(number) + ": " + problem);
        };
        std::istringstream words(raw);
        std::vector<std::string> fields;
        for (std::string word; words >> word;) fields.push_back(word);
        if (fields.empty() || fields[0].front() == '#') continue;

        SourceLine line;
        line.line = number;
        line.page = fields[0];
        const std::string title = ListTitle(line.page);
        if (title.empty()) fail("unknown list \"" + line.page + "\" (today, week, hot, movie, ...)");
        if (sources.Find(line.page)) fail("a second line for " + line.page);
        if (fields.size() < 2) fail("expected \"PAGE URL [option=value]...\" or \"PAGE derived:rising|week\"");
        line.keep = title.find("Top8") != std::string::npos ? 8 : 10;

        const std::string& what = fields[1];
        if (what == "derived:rising" || what == "derived:week") {
            line.kind = what == "derived:rising" ? SourceLine::Kind::Rising : SourceLine::Kind::Week;
            line.keep = kDerivedEntries;
        } else if (what.starts_with("derived:")) {
            fail("unknown derived list \"" + what + "\" (derived:rising or derived:week)");
        } else if (HttpUrl(what)) {
            line.urls.push_back(what);
        } else {
            fail("\"" + what + "\" is not an http:// or https:// address");
        }

        std::set<std::string> seen;
        for (std::size_t i = 2; i < fields.size(); ++i) {
            const std::string& option = fields[i];
            const std::size_t equals = option.find('=');
            if (equals == std::string::npos) fail("expected option=value, got \"" + option + "\"");
            const std::string key = option.substr(0, equals);
            const std::string value = option.substr(equals + 1);
            if (key != "fallback" && !seen.insert(key).second) fail(key + "= given twice");
            if (line.kind != SourceLine::Kind::Imported) fail("a derived list takes no options");
            int amount = 0;
            if (key == "format") {
                if (!FeedFormat::Parse(value, line.format))
                    fail("unknown format \"" + value +
                         "\" (auto, rss, atom, jsonfeed, dailyhot, newsnow, json:ITEMS:TITLE:HEAT:LINK)");
            } else if (key == "every") {
                if (!ParseInt(value, amount) || amount < kMinEvery || amount > kMaxEvery)
                    fail("every= expects minutes from 5 to 1440");
                line.everyMinutes = amount;
            } else if (key == "keep") {
                if (!ParseInt(value, amount) || amount < 8 || amount > 10) fail("keep= expects 8 to 10 entries");
                line.keep = static_cast<std::size_t>(amount);
            } else if (key == "window") {
                if (!ParseInt(value, amount) || amount < 0 || amount > 7 * 1440)
                    fail("window= expects minutes from 0 to 10080");
                line.windowMinutes = amount;
            } else if (key == "fallback") {
                if (!HttpUrl(value)) fail("\"" + value + "\" is not an http:// or https:// address");
                line.urls.push_back(value);
            } else {
                fail("unknown option \"" + key + "\" (format, every, keep, window, fallback)");
            }
        }
        sources.lines.push_back(std::move(line));
    }
    return sources;
}

Sources Sources::Load(const std::filesystem::path& dataDir) {
    const std::filesystem::path file = dataDir / kFileName;
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (!std::filesystem::exists(file)) return {};
        throw std::runtime_error(file.string() + ": cannot open");
    }
    std::ostringstream text;
    text << in.rdbuf();
    return Parse(text.str(), file.string());
}

}  // namespace kivo::server
