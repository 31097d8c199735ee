#pragma once
// Helpers of the tests of kivo.exe under Wine: where the program and the
// sources are, and GBK texts. The shell's header comes first: the program's
// own headers before the Windows ones.
#include "shells/win32/WinApi.h"

#include <shlobj.h>

#include <algorithm>
#include <string>

#include "tests/shells/win32/support/Process.h"

namespace kivo::test {

// A path the build gives relative to this test program's folder, with '/'.
inline std::string BuildPath(std::string relative) {
    std::replace(relative.begin(), relative.end(), '/', '\\');
    return TestExeFolder() + relative;
}

inline std::string ShellExePath() { return BuildPath(KIVO_SHELL_EXE_RELATIVE); }
inline std::string InstallerPath() { return BuildPath(KIVO_INSTALLER_RELATIVE); }
inline std::string SourcePath(const std::string& relative) { return BuildPath(KIVO_SOURCE_RELATIVE "/" + relative); }
// build/windows/screenshots, made when missing.
inline std::string ScreenshotDir() {
    CreateDirectoryA(BuildPath(KIVO_SCREENSHOT_RELATIVE).c_str(), nullptr);
    return BuildPath(KIVO_SCREENSHOT_RELATIVE "/");
}

// A folder of the system's by its CSIDL; empty when unknown.
inline std::string KnownFolder(int csidl) {
    char path[MAX_PATH] = {};
    return SUCCEEDED(SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)) ? path : "";
}

inline bool KeyExists(const char* subKey) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// GBK texts and UTF-16, as the program converts them whatever the system's
// code page.
using win32::FromGbk;
using win32::ToGbk;

}  // namespace kivo::test
