// The subscription address from a raw /postmail.php target, stored and read
// back: the same bytes come back, once, whatever they are.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "server/MailStore.h"
#include "server/PublicSite.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::unique_ptr<kivo::server::MailStore> store = kivo::server::OpenMailStore(":memory:");
    const std::string target = "/postmail.php?" + std::string(reinterpret_cast<const char*>(data), size);
    const std::string address = kivo::server::PublicSite::AddressFromTarget(target);
    if (address.size() > size) std::abort();  // decoding never grows
    if (address.empty()) return 0;
    store->Clear();
    if (!store->Add(address) || store->Add(address)) std::abort();
    const auto all = store->All();
    if (all.size() != 1 || all.front() != address) std::abort();
    return 0;
}
