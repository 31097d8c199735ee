// GbkToUtf8 of the Linux build, over code page 936 of Windows, for the tests
// that compare GBK texts with UTF-8 literals.
#include "platform/linux/Gbk.h"

#include <windows.h>

namespace kivo::platform {

std::string GbkToUtf8(std::string_view gbk) {
    if (gbk.empty()) return {};
    const int size = static_cast<int>(gbk.size());
    const int wideSize = MultiByteToWideChar(936, 0, gbk.data(), size, nullptr, 0);
    if (wideSize <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wideSize), L'\0');
    MultiByteToWideChar(936, 0, gbk.data(), size, wide.data(), wideSize);
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), wideSize, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

}  // namespace kivo::platform
