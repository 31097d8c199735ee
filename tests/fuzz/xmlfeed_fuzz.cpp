// Any bytes given to the XML feed reader (RSS 2.0 and 1.0, Atom, told from
// the content or named): either items whose names come out clean, or a
// FeedError; never a crash, a hang or a fetch.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "server/Feed.h"

namespace {

void Check(std::string_view body, kivo::server::FeedFormat::Kind kind) {
    kivo::server::FeedFormat format;
    format.kind = kind;
    try {
        const auto items = kivo::server::ParseFeed(body, format);
        if (items.empty() || items.size() > kivo::server::kMaxItems) std::abort();
        for (const auto& item : kivo::server::MakeListItems(items)) {
            if (item.name.empty() || item.name.find_first_of("\t\r\n") != std::string::npos) std::abort();
            if (!item.link.empty() && item.link.find_first_of(" \t\r\n") != std::string::npos) std::abort();
        }
    } catch (const kivo::server::FeedError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    Check(body, kivo::server::FeedFormat::Kind::Auto);
    Check(body, kivo::server::FeedFormat::Kind::Atom);
    return 0;
}
