#include "platform/win32/AutoStart.h"

#include <windows.h>

#include <cstring>

namespace kivo::platform {

bool WriteRunValue(bool bOn, const std::string& exePath) {
    char data[kRunValueBytes] = {};
    if (bOn) {
        if (exePath.size() >= sizeof data || exePath.find('\0') != std::string::npos) return false;
        std::memcpy(data, exePath.data(), exePath.size());
    }
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ | KEY_WRITE, &key) != ERROR_SUCCESS) return false;
    const LONG result = RegSetValueExA(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(data),
                                       static_cast<DWORD>(sizeof data));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

bool WriteStartAtLogin(bool bOn, const std::string& exePath) { return WriteRunValue(bOn, exePath); }

std::string ReadRunValue() {
    char data[1024] = {};
    DWORD size = sizeof data - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, kRunKey, kRunValueName, RRF_RT_REG_SZ, nullptr, data, &size) != ERROR_SUCCESS)
        return {};
    return std::string(data);
}

bool SetUpStartAtLoginOnFirstStart(bool, const std::string& exePath) {
    std::string value = ReadRunValue();
    // The path may stand in quotes.
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    // Windows paths are the same whatever the case of their letters.
    return !value.empty() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, value.c_str(), -1, exePath.c_str(), -1) == CSTR_EQUAL;
}

}  // namespace kivo::platform
