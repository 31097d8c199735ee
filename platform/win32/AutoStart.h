#pragma once
// Start at login on Windows: the value "kivo" of the current user's Run key.
#include <cstddef>
#include <string>

#include "platform/StartAtLogin.h"

namespace kivo::platform {

inline constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kRunValueName = "kivo";
// The value's data always has this size: the text, then zeros.
inline constexpr std::size_t kRunValueBytes = 260;

// Writes the value "kivo" (REG_SZ, 260 bytes) under HKEY_CURRENT_USER\kRunKey:
// `exePath` unquoted and without arguments, then zeros, when `bOn` is set;
// 260 zeros (an empty string) when not, so the value stays. The key is opened,
// never created. False, with nothing written, when the key cannot be opened
// or written, or when `exePath` with its terminating zero does not fit the
// 260 bytes (a cut path would start nothing).
bool WriteRunValue(bool bOn, const std::string& exePath);

// The value "kivo" as text (up to its first zero); empty when there is none.
std::string ReadRunValue();

}  // namespace kivo::platform
