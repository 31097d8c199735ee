#pragma once
// What the light view reads: pages and images from "file://" paths and from
// http:// addresses through the program's HTTP client, with its user agent
// and time-outs. Blocking: called on worker threads only.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstddef>
#include <string>

namespace kivo::platform {
class IHttpClient;
}

namespace kivo::gtk {

struct Fetched {
    bool ok = false;
    std::string bytes;  // at most the limit asked for; the rest is never read
    std::string error;  // why not, when not ok
};

// Reads `uri` (file:// of a regular file, or http://).
Fetched FetchUri(platform::IHttpClient* http, const std::string& uri, std::size_t limit);

// `bytes` as a picture (the first frame of an animation); null when they
// are no picture or one too large to show. New reference.
GdkPixbuf* DecodeImage(const std::string& bytes);

}  // namespace kivo::gtk
