// Any bytes given to the JSON feed readers (JSON Feed, the aggregators'
// shapes, a mapping with dotted paths): either items whose names come out
// clean and whose heat is not negative, or a FeedError.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/Feed.h"

namespace {

void Check(std::string_view body, std::string_view formatText) {
    kivo::server::FeedFormat format;
    if (!kivo::server::FeedFormat::Parse(formatText, format)) std::abort();
    try {
        const auto items = kivo::server::ParseFeed(body, format);
        if (items.empty() || items.size() > kivo::server::kMaxItems) std::abort();
        for (const auto& item : kivo::server::MakeListItems(items)) {
            if (item.name.empty() || item.heat < 0 || item.name.find_first_of("\t\r\n") != std::string::npos)
                std::abort();
        }
    } catch (const kivo::server::FeedError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    Check(body, "auto");
    Check(body, "jsonfeed");
    Check(body, "json:result.list:word:num:link");
    Check(body, "json:.:title:hot.value:url");
    if (kivo::server::ParseHeat(body) < 0) std::abort();
    return 0;
}
