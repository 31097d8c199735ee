#pragma once
// Start at login on Linux desktops: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/kivo.desktop (~/.config/autostart when the
// variable is unset or not absolute). WriteStartAtLogin writes it: on, Exec
// is the executable's full path; off, the entry stays with Hidden=true. The
// file is replaced in one step.
#include <string>

#include "platform/StartAtLogin.h"

namespace kivo::platform {

std::string XdgAutostartPath();
// `path` as one quoted argument of an Exec key, escaped as a string value of
// a desktop entry.
std::string XdgExecValue(const std::string& path);
std::string XdgAutostartText(bool bOn, const std::string& exePath);

}  // namespace kivo::platform
