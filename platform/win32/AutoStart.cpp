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

}  // namespace kivo::platform
