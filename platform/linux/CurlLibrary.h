#pragma once
// libcurl, loaded with the first transfer instead of with the program. The
// library brings a score of others (TLS, Kerberos, LDAP, SSH, IDN...) that
// the dynamic linker would otherwise map and relocate before the desktop
// program's window could appear: about a tenth of its start-up.
#include <curl/curl.h>

#include "platform/GzipDecoder.h"

namespace kivo::platform {

struct CurlLibrary {
    decltype(&curl_easy_init) easy_init;
    decltype(&curl_easy_setopt) easy_setopt;
    decltype(&curl_easy_getinfo) easy_getinfo;
    decltype(&curl_easy_pause) easy_pause;
    decltype(&curl_easy_cleanup) easy_cleanup;
    decltype(&curl_multi_init) multi_init;
    decltype(&curl_multi_add_handle) multi_add_handle;
    decltype(&curl_multi_remove_handle) multi_remove_handle;
    decltype(&curl_multi_perform) multi_perform;
    decltype(&curl_multi_info_read) multi_info_read;
    decltype(&curl_multi_poll) multi_poll;
    decltype(&curl_multi_cleanup) multi_cleanup;
    decltype(&curl_slist_append) slist_append;
    decltype(&curl_slist_free_all) slist_free_all;
    // zlib, which libcurl brings along: gzip bodies are decoded by the
    // transfers themselves, so that a stream that ends before its end is
    // told (libcurl takes a gzip stream cut short for a whole one).
    ZlibCalls zlib;
};

// The library, loaded and initialised once by whichever thread asks first;
// null when it cannot be had, and then every transfer fails.
const CurlLibrary* Curl();

}  // namespace kivo::platform
