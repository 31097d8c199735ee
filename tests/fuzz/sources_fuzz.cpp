// Any sources.txt: either lines an importer can act on (a known page, http
// or https addresses, values in their ranges), or an error naming a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "server/Sources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const auto sources = kivo::server::Sources::Parse(text, "sources.txt");
        for (const auto& line : sources.lines) {
            if (kivo::server::ListTitle(line.page).empty()) std::abort();
            if (line.keep < 8 || line.keep > 10) std::abort();
            if (line.everyMinutes < 5 || line.everyMinutes > 1440 || line.windowMinutes < 0) std::abort();
            const bool imported = line.kind == kivo::server::SourceLine::Kind::Imported;
            if (imported == line.urls.empty()) std::abort();
            for (const auto& url : line.urls)
                if (!url.starts_with("http://") && !url.starts_with("https://")) std::abort();
        }
    } catch (const std::runtime_error& e) {
        if (!std::string_view(e.what()).starts_with("sources.txt:")) std::abort();
    }
    return 0;
}
