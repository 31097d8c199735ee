#include "tests/support/ServerControl.h"

#include <stdexcept>

namespace kivo::test {
namespace {

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string Hex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

std::string Unhex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw std::runtime_error("odd-length hex from control port: " + hex);
    std::string out;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = HexDigit(hex[i]);
        const int lo = HexDigit(hex[i + 1]);
        if (hi < 0 || lo < 0) throw std::runtime_error("bad hex from control port: " + hex);
        out.push_back(static_cast<char>(hi * 16 + lo));
    }
    return out;
}

}  // namespace

std::string ServerControl::UrlEncode(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            out.push_back(c);
        } else {
            out.push_back('%');
            out.push_back(kDigits[b >> 4]);
            out.push_back(kDigits[b & 0x0F]);
        }
    }
    return out;
}

void ServerControl::SetFault(std::string_view path, std::string_view queryTail) {
    Control("/fault?path=" + UrlEncode(path) + "&" + std::string(queryTail));
}

void ServerControl::SetSize(std::string_view path, std::size_t n) { SetFault(path, "mode=size&size=" + std::to_string(n)); }

void ServerControl::SetStatus(std::string_view path, int code, std::size_t n) {
    SetFault(path, "mode=status&code=" + std::to_string(code) + "&size=" + std::to_string(n));
}

void ServerControl::SetCut(std::string_view path, std::size_t n) { SetFault(path, "mode=cut&size=" + std::to_string(n)); }

void ServerControl::SetStall(std::string_view path, int ms) { SetFault(path, "mode=stall&ms=" + std::to_string(ms)); }

void ServerControl::SetSlow(std::string_view path, std::size_t n, int ms) {
    SetFault(path, "mode=slow&size=" + std::to_string(n) + "&ms=" + std::to_string(ms));
}

void ServerControl::SetBody(std::string_view path, std::string_view rawBytes) {
    SetFault(path, "mode=body&hex=" + Hex(rawBytes));
}

void ServerControl::ClearFault(std::string_view path) { Control("/fault/clear?path=" + UrlEncode(path)); }

void ServerControl::ClearFaults() { Control("/fault/clear"); }

void ServerControl::SetVersion(std::uint64_t number) { Control("/version?number=" + std::to_string(number)); }

void ServerControl::SetUpdateFile(std::string_view path, std::string_view platform) {
    Control("/update?path=" + UrlEncode(path) + "&platform=" + std::string(platform));
}

std::vector<std::string> ServerControl::Requests() { return SplitLines(Control("/requests")); }

void ServerControl::ClearRequests() { Control("/requests/clear"); }

std::vector<std::string> ServerControl::Emails() {
    std::vector<std::string> out;
    for (const std::string& hex : SplitLines(Control("/emails"))) out.push_back(Unhex(hex));
    return out;
}

void ServerControl::ClearEmails() { Control("/emails/clear"); }

void ServerControl::Reset() { Control("/reset"); }

}  // namespace kivo::test
