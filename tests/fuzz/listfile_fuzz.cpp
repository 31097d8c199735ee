// A list file as an operator (or an import) may leave it: either a list
// whose entries hold what the format promises, or an error naming a line.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string_view>

#include "server/HotList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const kivo::server::HotList list = kivo::server::HotList::Parse(text, "list.txt");
        if (list.entries.size() < kivo::server::HotList::kMinEntries ||
            list.entries.size() > kivo::server::HotList::kMaxEntries)
            std::abort();
        for (std::size_t i = 0; i < list.entries.size(); ++i) {
            const auto& entry = list.entries[i];
            if (entry.rank != static_cast<int>(i) + 1 || entry.name.empty() || entry.heat < 0) std::abort();
            if (entry.name.find('\t') != std::string::npos || entry.name.find('\n') != std::string::npos) std::abort();
        }
    } catch (const std::runtime_error& e) {
        if (std::string_view(e.what()).substr(0, 9) != "list.txt:") std::abort();
    }
    return 0;
}
