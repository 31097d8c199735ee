// Everything served under /sml/: the list pages and their background image,
// built once at start-up.
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
};

class ContentCatalog {
public:
    static constexpr std::size_t kMinItemBytes = 3072;
    static constexpr std::string_view kPrefix = "/sml/";
    static constexpr std::string_view kBackgroundName = "main_back.gif";

    // The list pages in display order; page "x.html" comes from "<dataDir>/x.txt".
    static const std::vector<std::string>& PageNames();

    // Throws std::runtime_error when a data file is missing, malformed or not
    // convertible to GBK, or when any item is shorter than kMinItemBytes.
    static ContentCatalog Build(const std::filesystem::path& dataDir);

    // Exact match of a raw request path such as "/sml/today.html"; nullptr otherwise.
    const ContentItem* Find(std::string_view path) const;

    std::size_t Size() const { return items_.size(); }

private:
    std::map<std::string, ContentItem, std::less<>> items_;
};

}  // namespace kivo::server
