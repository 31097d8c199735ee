#pragma once
// Start at login on Linux desktops: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/kivo.desktop (~/.config/autostart when the
// variable is unset or not absolute).
#include <string>

#include "ui/StartAtLogin.h"

namespace kivo::gtk {

class CXdgAutostart : public kivo::ui::IStartAtLogin {
public:
    // On: Exec is the executable's full path. Off: the entry stays, with
    // Hidden=true. The file is replaced in one step; false when the folder
    // cannot be made or written.
    bool Write(bool bOn, const std::string& exePath) override;

    static std::string EntryPath();
    // `path` as one quoted argument of an Exec key, escaped as a string
    // value of a desktop entry.
    static std::string ExecValue(const std::string& path);
    static std::string EntryText(bool bOn, const std::string& exePath);
};

}  // namespace kivo::gtk
