#include "platform/linux/CurlLibrary.h"

#include "platform/linux/SharedLibrary.h"

namespace kivo::platform {
namespace {

const CurlLibrary* Load() {
    // The soname the headers were made for.
    void* library = OpenLibrary("libcurl.so.4");
    void* zlib = OpenLibrary("libz.so.1");
    if (library == nullptr || zlib == nullptr) return nullptr;
    static CurlLibrary curl;
    decltype(&curl_global_init) global_init = nullptr;
    const bool bound =
        Bind(library, "curl_global_init", global_init) && Bind(library, "curl_easy_init", curl.easy_init) &&
        Bind(library, "curl_easy_setopt", curl.easy_setopt) && Bind(library, "curl_easy_getinfo", curl.easy_getinfo) &&
        Bind(library, "curl_easy_pause", curl.easy_pause) && Bind(library, "curl_easy_cleanup", curl.easy_cleanup) &&
        Bind(library, "curl_multi_init", curl.multi_init) &&
        Bind(library, "curl_multi_add_handle", curl.multi_add_handle) &&
        Bind(library, "curl_multi_remove_handle", curl.multi_remove_handle) &&
        Bind(library, "curl_multi_perform", curl.multi_perform) &&
        Bind(library, "curl_multi_info_read", curl.multi_info_read) &&
        Bind(library, "curl_multi_poll", curl.multi_poll) && Bind(library, "curl_multi_cleanup", curl.multi_cleanup) &&
        Bind(library, "curl_slist_append", curl.slist_append) &&
        Bind(library, "curl_slist_free_all", curl.slist_free_all) && Bind(zlib, "inflateInit2_", curl.zlib.init2) &&
        Bind(zlib, "inflate", curl.zlib.inflate) && Bind(zlib, "inflateReset", curl.zlib.reset) &&
        Bind(zlib, "inflateEnd", curl.zlib.end);
    if (!bound || global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) return nullptr;
    return &curl;
}

}  // namespace

const CurlLibrary* Curl() {
    static const CurlLibrary* const library = Load();
    return library;
}

}  // namespace kivo::platform
