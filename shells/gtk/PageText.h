#pragma once
// The bytes of a page as text for the light view: the charset the page
// declares (a byte-order mark, or a <meta> charset in its first 1024 bytes),
// GBK when it declares none or one this system does not know, as the
// program's own code page.
#include <optional>
#include <string>
#include <string_view>

namespace kivo::gtk {

struct PageText {
    std::string utf8;     // the page as UTF-8, without NUL bytes
    std::string charset;  // what it was read as, e.g. "GBK", "UTF-8"
};

// Nothing when the bytes are no page at all but an image.
std::optional<PageText> DecodePage(std::string_view bytes);

// UTF-8 text (a link's address) back in a page's charset; bytes that
// charset cannot hold stay UTF-8.
std::string EncodeForPage(const std::string& utf8, const std::string& charset);

}  // namespace kivo::gtk
