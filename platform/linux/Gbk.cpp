#include "platform/linux/Gbk.h"

#include <iconv.h>

#include <cerrno>

namespace kivo::platform {

namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in`; on an invalid or unconvertible sequence calls
    // `onBad(out)` and skips one byte, or stops when it returns false.
    template <typename OnBad>
    bool Run(std::string_view in, std::string& out, OnBad onBad) {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) return false;
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        char chunk[1024];
        while (srcLeft > 0) {
            char* dst = chunk;
            std::size_t dstLeft = sizeof chunk;
            const std::size_t rc = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            out.append(chunk, static_cast<std::size_t>(dst - chunk));
            if (rc != static_cast<std::size_t>(-1)) continue;
            if (errno == E2BIG) continue;
            if (!onBad(out)) return false;
            ++src;
            --srcLeft;
            iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        }
        return true;
    }

private:
    iconv_t m_cd;
};

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
    Converter converter("UTF-8", "GBK");
    std::string out;
    converter.Run(gbk, out, [](std::string& o) {
        o += "\xEF\xBF\xBD";
        return true;
    });
    return out;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    Converter converter("GBK", "UTF-8");
    std::string out;
    if (!converter.Run(utf8, out, [](std::string&) { return false; })) return std::nullopt;
    return out;
}

}  // namespace kivo::platform
