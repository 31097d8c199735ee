// Feeds turned into list entries: RSS 2.0 and 1.0, Atom, JSON Feed and the
// aggregators' JSON answers, each read with a well-kept parser (libxml2,
// nlohmann::json) and never trusted: no network, no external entities, no
// DTD, limited nesting, at most kMaxItems items.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "Sources.h"

namespace kivo::server {

// Why a body is not a usable feed; the text goes to the list's status.
class FeedError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct FeedItem {
    std::string title;  // as the feed gives it (UTF-8, may hold markup and entities)
    std::int64_t heat = 0;
    std::string link;
};

struct ListItem {
    std::string name;  // normalised UTF-8 with a GBK form, 1 to kMaxNameChars characters
    std::int64_t heat = 0;
    std::string link;  // http(s) address, or empty: the web search for the name
};

constexpr std::size_t kMaxItems = 200;
constexpr std::size_t kMaxNameChars = 40;
constexpr int kMaxJsonDepth = 32;

// The items of `body` in feed order (at most kMaxItems). Throws FeedError
// when the body is not of `format` (Auto: told from the content), cannot be
// parsed, or holds no items.
std::vector<FeedItem> ParseFeed(std::string_view body, const FeedFormat& format);

// Markup stripped, entities decoded (twice, for titles escaped twice),
// TAB/CR/LF as spaces, spaces collapsed and trimmed, characters without a GBK
// form dropped, at most kMaxNameChars characters. Empty when nothing is left.
std::string NormaliseName(std::string_view title);

// "12345", "12,345", "123\u4e07", "1.2\u4ebf" (10^4, 10^8); 0 for anything else.
std::int64_t ParseHeat(std::string_view text);

// The entries a list shows: items normalised, empty and repeated names
// skipped, in feed order.
std::vector<ListItem> MakeListItems(const std::vector<FeedItem>& items);

}  // namespace kivo::server
