#include "GbkEncoder.h"

#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <vector>

namespace kivo::server {

GbkEncoder::GbkEncoder() : cd_(iconv_open("GBK", "UTF-8")) {
    if (cd_ == reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1))) {
        throw std::runtime_error("iconv has no UTF-8 to GBK converter");
    }
}

GbkEncoder::~GbkEncoder() { iconv_close(cd_); }

std::string GbkEncoder::Encode(std::string_view utf8) {
    // Reset the conversion state left by a previous call.
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);

    std::vector<char> input(utf8.begin(), utf8.end());
    char* in = input.data();
    std::size_t inLeft = input.size();

    std::string out;
    std::vector<char> chunk(4096);
    while (inLeft > 0) {
        char* dst = chunk.data();
        std::size_t dstLeft = chunk.size();
        const std::size_t rc = iconv(cd_, &in, &inLeft, &dst, &dstLeft);
        out.append(chunk.data(), chunk.size() - dstLeft);
        if (rc == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            const auto offset = static_cast<std::size_t>(in - input.data());
            throw std::runtime_error(
                std::string(errno == EILSEQ ? "text has no GBK form" : "incomplete UTF-8 sequence") + " at byte " +
                std::to_string(offset));
        }
    }
    char* dst = chunk.data();
    std::size_t dstLeft = chunk.size();
    iconv(cd_, nullptr, nullptr, &dst, &dstLeft);
    out.append(chunk.data(), chunk.size() - dstLeft);
    return out;
}

}  // namespace kivo::server
