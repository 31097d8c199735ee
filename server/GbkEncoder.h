// UTF-8 to GBK conversion through glibc iconv.
#pragma once

#include <iconv.h>

#include <string>
#include <string_view>

namespace kivo::server {

class GbkEncoder {
public:
    // Throws std::runtime_error when iconv has no UTF-8 -> GBK converter.
    GbkEncoder();
    ~GbkEncoder();

    GbkEncoder(const GbkEncoder&) = delete;
    GbkEncoder& operator=(const GbkEncoder&) = delete;

    // Converts the whole text; throws std::runtime_error naming the byte offset
    // of the first sequence that is invalid UTF-8 or has no GBK equivalent.
    std::string Encode(std::string_view utf8);

private:
    iconv_t cd_;
};

}  // namespace kivo::server
