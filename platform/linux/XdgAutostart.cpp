#include "platform/linux/XdgAutostart.h"

#include <cstdio>

#include "platform/System.h"
#include "platform/linux/Folders.h"

namespace kivo::platform {

std::string XdgAutostartPath() {
    const std::string config = XdgConfigHome();
    if (config.empty()) return {};
    return config + "/autostart/kivo.desktop";
}

std::string XdgExecValue(const std::string& path) {
    // Inside the quotes ", `, $ and \ take a backslash; % is doubled as a
    // field code would be read otherwise.
    std::string quoted = "\"";
    for (char c : path) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    // Then the string-value escapes of the file format.
    std::string value;
    for (char c : quoted) {
        switch (c) {
            case '\\':
                value += "\\\\";
                break;
            case '\n':
                value += "\\n";
                break;
            case '\t':
                value += "\\t";
                break;
            case '\r':
                value += "\\r";
                break;
            default:
                value += c;
                break;
        }
    }
    return value;
}

std::string XdgAutostartText(bool bOn, const std::string& exePath) {
    std::string text = "[Desktop Entry]\nType=Application\nName=Kivo\nIcon=kivo\n";
    text += "Exec=" + XdgExecValue(exePath) + "\n";
    text += bOn ? "Hidden=false\n" : "Hidden=true\n";
    text += bOn ? "X-GNOME-Autostart-enabled=true\n" : "X-GNOME-Autostart-enabled=false\n";
    return text;
}

bool WriteStartAtLogin(bool bOn, const std::string& exePath) {
    const std::string path = XdgAutostartPath();
    if (path.empty() || !MakeFolders(path.substr(0, path.rfind('/')))) return false;
    const std::string text = XdgAutostartText(bOn, exePath);
    const std::string temp = path + ".tmp";
    std::FILE* file = std::fopen(temp.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    ok = std::fclose(file) == 0 && ok;
    ok = ok && RenameOver(temp, path);
    if (!ok) RemoveFile(temp);
    return ok;
}

bool SetUpStartAtLoginOnFirstStart(bool bDefault, const std::string& exePath) {
    return WriteStartAtLogin(bDefault, exePath) && bDefault;
}

}  // namespace kivo::platform
