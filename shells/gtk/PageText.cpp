#include "shells/gtk/PageText.h"

#include <glib.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "platform/linux/Gbk.h"

namespace kivo::gtk {

namespace {

constexpr std::size_t kPrescanBytes = 1024;
constexpr const char* kReplacement = "\xEF\xBF\xBD";

bool StartsWith(std::string_view bytes, std::string_view prefix) {
    return bytes.size() >= prefix.size() && bytes.substr(0, prefix.size()) == prefix;
}

bool IsImage(std::string_view bytes) {
    static constexpr std::array<std::string_view, 4> kSignatures{std::string_view("GIF87a"), std::string_view("GIF89a"),
                                                                 std::string_view("\x89PNG\r\n\x1A\n", 8),
                                                                 std::string_view("\xFF\xD8\xFF")};
    if (std::any_of(kSignatures.begin(), kSignatures.end(), [&](std::string_view s) { return StartsWith(bytes, s); }))
        return true;
    return bytes.size() >= 12 && StartsWith(bytes, "RIFF") && bytes.substr(8, 4) == "WEBP";
}

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// The charset a <meta> tag among the first bytes names, lower case; empty
// when none does.
std::string DeclaredCharset(std::string_view bytes) {
    const std::string head = Lower(bytes.substr(0, std::min(bytes.size(), kPrescanBytes)));
    for (std::size_t meta = head.find("<meta"); meta != std::string::npos; meta = head.find("<meta", meta + 5)) {
        const std::size_t end = std::min(head.find('>', meta), head.size());
        std::size_t at = head.find("charset", meta);
        if (at == std::string::npos || at >= end) continue;
        at += 7;
        while (at < end && std::isspace(static_cast<unsigned char>(head[at]))) ++at;
        if (at >= end || head[at] != '=') continue;
        ++at;
        while (at < end && (std::isspace(static_cast<unsigned char>(head[at])) || head[at] == '"' || head[at] == '\''))
            ++at;
        std::string name;
        while (at < end && (std::isalnum(static_cast<unsigned char>(head[at])) ||
                            std::string_view("-_.:").find(head[at]) != std::string_view::npos))
            name.push_back(head[at++]);
        if (!name.empty()) return name;
    }
    return "";
}

bool IsGbkFamily(const std::string& name) {
    static constexpr std::array<std::string_view, 10> kNames{
        "gbk", "gb2312", "gb_2312-80", "x-gbk", "cp936", "windows-936", "euc-cn", "csgb2312", "iso-ir-58", "chinese"};
    return std::find(kNames.begin(), kNames.end(), name) != kNames.end();
}

// Valid UTF-8 with every NUL byte and every invalid sequence replaced.
std::string ValidUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    while (!bytes.empty()) {
        const gchar* end = nullptr;
        g_utf8_validate_len(bytes.data(), bytes.size(), &end);
        const auto good = static_cast<std::size_t>(end - bytes.data());
        out.append(bytes.data(), good);
        bytes.remove_prefix(good);
        if (bytes.empty()) break;
        out += kReplacement;
        bytes.remove_prefix(1);
    }
    return out;
}

// Text in a charset iconv knows; nothing when it does not know the name or
// the bytes are not in that charset.
std::optional<std::string> Convert(std::string_view bytes, const char* to, const char* from) {
    gsize written = 0;
    gchar* out = g_convert(bytes.data(), static_cast<gssize>(bytes.size()), to, from, nullptr, &written, nullptr);
    if (out == nullptr) return std::nullopt;
    std::string text(out, written);
    g_free(out);
    return text;
}

}  // namespace

std::optional<PageText> DecodePage(std::string_view bytes) {
    if (IsImage(bytes)) return std::nullopt;
    PageText page;
    if (StartsWith(bytes, "\xEF\xBB\xBF")) {
        page.charset = "UTF-8";
        page.utf8 = bytes.substr(3);
    } else if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF")) {
        page.charset = bytes[0] == '\xFF' ? "UTF-16LE" : "UTF-16BE";
        page.utf8 = Convert(bytes.substr(2), "UTF-8", page.charset.c_str()).value_or("");
    } else {
        const std::string declared = DeclaredCharset(bytes);
        if (declared == "utf-8" || declared == "utf8") {
            page.charset = "UTF-8";
            page.utf8 = bytes;
        } else if (!declared.empty() && !IsGbkFamily(declared)) {
            if (auto text = Convert(bytes, "UTF-8", declared.c_str())) {
                page.charset = declared;
                page.utf8 = std::move(*text);
            }
        }
        if (page.charset.empty()) {
            page.charset = "GBK";
            page.utf8 = kivo::platform::GbkToUtf8(bytes);
        }
    }
    page.utf8 = ValidUtf8(page.utf8);
    return page;
}

std::string EncodeForPage(const std::string& utf8, const std::string& charset) {
    if (charset == "GBK") return kivo::platform::Utf8ToGbk(utf8).value_or(utf8);
    if (charset == "UTF-8") return utf8;
    return Convert(utf8, charset.c_str(), "UTF-8").value_or(utf8);
}

}  // namespace kivo::gtk
