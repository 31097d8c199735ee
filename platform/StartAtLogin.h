#pragma once
// Where the program is registered to start when the user logs in: an XDG
// autostart entry on Linux, the current user's Run value on Windows.
#include <string>

namespace kivo::platform {

// On: the entry starts `exePath`. Off: the entry stays, disabled. False when
// it could not be written.
bool WriteStartAtLogin(bool bOn, const std::string& exePath);

}  // namespace kivo::platform
