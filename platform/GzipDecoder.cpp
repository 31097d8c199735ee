#include "platform/GzipDecoder.h"

namespace kivo::platform {

GzipDecoder::~GzipDecoder() {
    if (m_started) m_zlib.end(&m_stream);
}

bool GzipDecoder::Decode(std::string_view in, std::string& out) {
    out.clear();
    if (!m_started) {
        // 15 + 16: the largest window, gzip framing only.
        if (m_zlib.init2(&m_stream, 15 + 16, ZLIB_VERSION, static_cast<int>(sizeof m_stream)) != Z_OK) return false;
        m_started = true;
    }
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    m_stream.avail_in = static_cast<uInt>(in.size());
    char chunk[16384];
    for (;;) {
        if (m_memberEnded) {
            if (m_stream.avail_in == 0) return true;
            // Another member follows the one that ended.
            if (m_zlib.reset(&m_stream) != Z_OK) return false;
            m_memberEnded = false;
        }
        m_stream.next_out = reinterpret_cast<Bytef*>(chunk);
        m_stream.avail_out = sizeof chunk;
        const int result = m_zlib.inflate(&m_stream, Z_NO_FLUSH);
        out.append(chunk, sizeof chunk - m_stream.avail_out);
        if (result == Z_STREAM_END) {
            m_memberEnded = true;
        } else if (result == Z_OK || result == Z_BUF_ERROR) {
            // Done with this piece once its input is used and no output waits.
            if (m_stream.avail_in == 0 && m_stream.avail_out > 0) return true;
            if (result == Z_BUF_ERROR) return false;
        } else {
            return false;
        }
    }
}

}  // namespace kivo::platform
