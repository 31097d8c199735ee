// Turns a HotList into the GBK-encoded HTML page shown in the 156 x 135 view.
#pragma once

#include <cstddef>
#include <string>

#include "GbkEncoder.h"
#include "HotList.h"

namespace kivo::server {

class PageRenderer {
public:
    // Clients discard downloads shorter than this, so every page is padded up to it.
    static constexpr std::size_t kMinPageBytes = 3072;

    explicit PageRenderer(GbkEncoder& gbk) : gbk_(gbk) {}

    // GBK bytes of the finished page; throws std::runtime_error when the text
    // cannot be converted or the page would still be too short.
    std::string Render(const HotList& list) const;

    // The same page before conversion (UTF-8), without padding.
    static std::string RenderUtf8(const HotList& list);

private:
    GbkEncoder& gbk_;
};

}  // namespace kivo::server
