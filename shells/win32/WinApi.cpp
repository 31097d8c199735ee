#include "shells/win32/WinApi.h"

namespace kivo::win32 {

HINSTANCE ResourceModule() { return GetModuleHandleW(nullptr); }

std::string ToGbk(const std::wstring& text, bool* lossless) {
    if (lossless != nullptr) *lossless = true;
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    BOOL usedDefault = FALSE;
    const int n = WideCharToMultiByte(kGbkCodePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) {
        if (lossless != nullptr) *lossless = false;
        return {};
    }
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(kGbkCodePage, 0, text.data(), size, out.data(), n, nullptr, &usedDefault);
    if (lossless != nullptr) *lossless = usedDefault == FALSE;
    return out;
}

std::wstring FromGbk(const std::string& text) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(kGbkCodePage, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(kGbkCodePage, 0, text.data(), size, out.data(), n);
    return out;
}

}  // namespace kivo::win32
