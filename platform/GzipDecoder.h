#pragma once
// A gzip body decoded as its pieces arrive, for the HTTP backends, which
// decode themselves so that a stream cut short inside a whole HTTP body is
// told apart from a whole one.
#include <zlib.h>

#include <string>
#include <string_view>

namespace kivo::platform {

// The zlib functions the decoder calls: linked in (Windows) or found in the
// zlib that libcurl brings along (Linux).
struct ZlibCalls {
    decltype(&inflateInit2_) init2;
    decltype(&::inflate) inflate;
    decltype(&inflateReset) reset;
    decltype(&inflateEnd) end;
};

class GzipDecoder {
public:
    explicit GzipDecoder(const ZlibCalls& zlib) : m_zlib(zlib) {}
    ~GzipDecoder();
    GzipDecoder(const GzipDecoder&) = delete;
    GzipDecoder& operator=(const GzipDecoder&) = delete;

    // Decodes the next piece `in` into `out` (replacing what it held); false
    // when it is no gzip data. Members may follow one another.
    bool Decode(std::string_view in, std::string& out);
    // True when data came and its last member has not ended: a body that
    // ends now was cut short.
    bool Unfinished() const { return m_started && !m_memberEnded; }

private:
    const ZlibCalls& m_zlib;
    z_stream m_stream{};
    bool m_started = false;
    bool m_memberEnded = false;
};

}  // namespace kivo::platform
