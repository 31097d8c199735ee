#pragma once
// Where the program is registered to start when the user logs in: an XDG
// autostart entry on Linux, the current user's Run value on Windows.
#include <string>

namespace kivo::platform {

// On: the entry starts `exePath`. Off: the entry stays, disabled. False when
// it could not be written.
bool WriteStartAtLogin(bool bOn, const std::string& exePath);

// The first start of a user who has no settings yet, whose record says
// `bDefault`: whether start at login is on for `exePath` from then on. Linux
// writes the entry as the default says (false when it could not be written);
// on Windows the installer has chosen, and the answer is whether the Run
// value names `exePath`.
bool SetUpStartAtLoginOnFirstStart(bool bDefault, const std::string& exePath);

}  // namespace kivo::platform
