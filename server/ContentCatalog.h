// Everything served under /sml/: the list pages rendered from the data folder
// and their background image.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::server {

struct ContentItem {
    std::string body;
    std::string contentType;
    std::filesystem::path source;  // the data file it was rendered from; empty for the image
};

class ContentCatalog {
public:
    static constexpr std::size_t kMinItemBytes = 3072;
    static constexpr std::string_view kPrefix = "/sml/";
    static constexpr std::string_view kBackgroundName = "main_back.gif";

    // The list pages in display order; page "x.html" comes from "<dataDir>/x.txt".
    static const std::vector<std::string>& PageNames();

    // Checks every data file before it renders anything. Throws
    // std::runtime_error with "<file>:<line>: <problem>" for the first bad
    // one (a missing or unreadable file, a malformed line, text without a
    // GBK form), or when any item is shorter than kMinItemBytes.
    static ContentCatalog Build(const std::filesystem::path& dataDir);

    // Exact match of a raw request path such as "/sml/today.html"; nullptr otherwise.
    const ContentItem* Find(std::string_view path) const;

    // By request path.
    const std::map<std::string, ContentItem, std::less<>>& Items() const { return items_; }

private:
    std::map<std::string, ContentItem, std::less<>> items_;
};

}  // namespace kivo::server
