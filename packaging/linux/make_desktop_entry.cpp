// kivo-make-desktop-entry FILE: writes the app menu's desktop entry for Kivo,
// its Chinese names and actions taken from the program's own texts. Built
// for the build machine, where those texts compile to UTF-8 as a desktop
// entry needs them.
#include <cstdio>
#include <string>

#include "ui/Texts.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kivo-make-desktop-entry FILE\n");
        return 2;
    }
    std::string entry =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=Kivo\n"
        "Name[zh_CN]=" +
        std::string(kszAppMenuName) +
        "\n"
        "GenericName=Hot lists\n"
        "Comment=What is popular on the Chinese web right now, from the notification area\n"
        "Comment[zh_CN]=" +
        std::string(kszAppMenuComment) +
        "\n"
        "Exec=kivo\n"
        "Icon=kivo\n"
        "Terminal=false\n"
        "Categories=Network;News;\n"
        "StartupNotify=false\n"
        "Actions=settings;about;exit;\n";
    const struct {
        const char* id;
        const char* name;
    } actions[] = {{"settings", kszMenuSettings}, {"about", kszMenuAbout}, {"exit", kszMenuExit}};
    for (const auto& action : actions)
        entry += std::string("\n[Desktop Action ") + action.id + "]\nName=" + action.name + "\nExec=kivo --" +
                 action.id + "\n";
    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) return 1;
    const bool ok = std::fwrite(entry.data(), 1, entry.size(), file) == entry.size();
    return std::fclose(file) == 0 && ok ? 0 : 1;
}
