// make_rc OUTPUT.rc ICON.ico BITMAP.bmp...
//
// Writes the resource script of kivo.exe from the program's own tables: the
// dialog templates 102, 131, 132 and 100 (ui/Templates.cpp) with their texts
// (ui/Texts.cpp) and the list entries of their choosers (net/Catalogue.cpp),
// menu 167 and string 101, then icon 128 and one bitmap per file, its id
// being the file's name ("129.bmp" is bitmap 129).
//
// A build tool, compiled for the build machine with the GBK execution
// character set like the text sources: the script it writes is GBK, for
// windres --codepage=936.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "net/Catalogue.h"
#include "ui/Resource.h"
#include "ui/Templates.h"
#include "ui/Texts.h"

namespace {

constexpr char kszBrowserClass[] = "\"{8856F961-340A-11D0-A96B-00C04FD705A2}\"";

std::string g_error;

// A text between quotes. windres reads a backslash or a quote inside a
// string as an escape, also where it is the second byte of a GBK character,
// so a text holding either cannot be written.
std::string Quoted(const char* szText) {
    const std::string text = szText != nullptr ? szText : "";
    if (text.find_first_of("\"\\") != std::string::npos) g_error = "a text holds a quote or a backslash: " + text;
    return "\"" + text + "\"";
}

// The template font: 9 points, weight 0, not italic, character set 1.
const std::string kszFont = std::string("9, ") + Quoted(kszTemplateFont) + ", 0, 0, 0x1";

// The window class (predefined classes by their template ordinal) and the
// style of an item of each kind; windres adds WS_CHILD | WS_VISIBLE.
struct Form {
    const char* szClass;
    std::string style;
};

Form FormOf(const DialogItem& item) {
    switch (item.kind) {
        case ItemKind::ImageStatic:
            return {"0x82", "SS_BITMAP"};
        case ItemKind::ImageButton:
            return {"0x82", "SS_BITMAP | SS_NOTIFY"};
        case ItemKind::Browser:
            return {kszBrowserClass, "WS_TABSTOP"};
        case ItemKind::DropList:
            return {"0x85", "CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP"};
        case ItemKind::Edit:
            return {"0x81", std::string("WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL") +
                                ((item.options & kItemWantsReturn) != 0 ? " | ES_WANTRETURN" : "")};
        case ItemKind::DefPushButton:
            return {"0x80", "BS_DEFPUSHBUTTON | WS_TABSTOP"};
        case ItemKind::PushButton:
            return {"0x80", "BS_PUSHBUTTON | WS_TABSTOP"};
        case ItemKind::Text:
            return {"0x82",
                    std::string("SS_LEFT | WS_GROUP") + ((item.options & kItemNoPrefix) != 0 ? " | SS_NOPREFIX" : "")};
        case ItemKind::CheckBox:
            return {"0x80", "BS_AUTOCHECKBOX | WS_TABSTOP"};
        case ItemKind::Icon:
            return {"0x82", "SS_ICON"};
    }
    return {"0x82", "0"};
}

bool ShowsImage(ItemKind kind) {
    return kind == ItemKind::ImageStatic || kind == ItemKind::ImageButton || kind == ItemKind::Icon;
}

std::string Dialog(const DialogTemplate& dlg) {
    std::string rc =
        std::to_string(dlg.nId) + " DIALOGEX 0, 0, " + std::to_string(dlg.cx) + ", " + std::to_string(dlg.cy) + "\n";
    if (dlg.nId == IDD_KIVO_DIALOG) {
        // The popup: no caption, no frame; initialisation makes it a tool window.
        rc += "STYLE WS_POPUP | WS_VISIBLE | DS_SETFONT\nEXSTYLE WS_EX_APPWINDOW\n";
    } else {
        rc += "STYLE DS_MODALFRAME | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU\n";
        rc += "CAPTION " + Quoted(dlg.szCaption) + "\n";
    }
    rc += std::string("FONT ") + kszFont + "\nBEGIN\n";
    for (int i = 0; i < dlg.nItems; ++i) {
        const DialogItem& item = dlg.pItems[i];
        const Form form = FormOf(item);
        const std::string title = ShowsImage(item.kind) ? std::to_string(item.nBitmap) : Quoted(item.szText);
        rc += "    CONTROL " + title + ", " + std::to_string(item.nId) + ", " + form.szClass + ", " + form.style +
              ", " + std::to_string(item.x) + ", " + std::to_string(item.y) + ", " + std::to_string(item.cx) + ", " +
              std::to_string(item.cy) + "\n";
    }
    return rc + "END\n\n";
}

// The initialisation data (resource type 240): each chooser's fourteen
// entries in category order, each the control id, 0x0403 (add a text to a
// combo box), the text's length with its zero (32 bits), the text, its zero.
std::string DialogInit(const DialogTemplate& dlg) {
    std::string entries;
    for (int i = 0; i < dlg.nItems; ++i) {
        const DialogItem& item = dlg.pItems[i];
        if (item.list == ListData::None) continue;
        for (const CategoryInfo& category : g_categories) {
            const char* szText = item.list == ListData::PopupNames ? category.szPopupText : category.szSettingsText;
            const std::string quoted = Quoted(szText);
            entries += "    " + std::to_string(item.nId) + ", 0x0403, " + std::to_string(std::strlen(szText) + 1) +
                       "L, " + quoted.substr(0, quoted.size() - 1) + "\\0\",\n";
        }
    }
    if (entries.empty()) return {};
    return std::to_string(dlg.nId) + " 240\nBEGIN\n" + entries + "    0\nEND\n\n";
}

std::string TrayMenu() {
    std::string rc = std::to_string(IDR_MENU_TRAY) + " MENU\nBEGIN\n    POPUP \"_pop_\"\n    BEGIN\n";
    for (int i = 0; i < g_nTrayMenuItems; ++i) {
        const MenuItem& item = g_trayMenu[i];
        rc += item.nId == 0 ? std::string("        MENUITEM SEPARATOR\n")
                            : "        MENUITEM " + Quoted(item.szText) + ", " + std::to_string(item.nId) + "\n";
    }
    return rc + "    END\nEND\n\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_rc OUTPUT.rc ICON.ico BITMAP.bmp...\n");
        return 2;
    }
    std::string rc =
        "// Resources of kivo.exe, written by res/win32/make_rc.cpp from the program's\n"
        "// tables. GBK text: compile with windres --codepage=936.\n"
        "#include <windows.h>\n\n";
    for (int nId : {IDD_KIVO_DIALOG, IDD_SETTINGS, IDD_SYSSETTINGS, IDD_ABOUTBOX}) {
        const DialogTemplate* dlg = FindTemplate(nId);
        if (dlg == nullptr) {
            std::fprintf(stderr, "make_rc: no template %d\n", nId);
            return 1;
        }
        rc += Dialog(*dlg) + DialogInit(*dlg);
    }
    rc += TrayMenu();
    rc += "STRINGTABLE\nBEGIN\n    " + std::to_string(IDS_ABOUTBOX) + " " + Quoted(kszAboutMenuItem) + "\nEND\n\n";
    rc += std::to_string(IDR_MAINFRAME) + " ICON " + Quoted(argv[2]) + "\n";
    for (int i = 3; i < argc; ++i) {
        const std::string stem = std::filesystem::path(argv[i]).stem().string();
        if (stem.empty() || stem.find_first_not_of("0123456789") != std::string::npos) {
            std::fprintf(stderr, "make_rc: %s is not named by a bitmap id\n", argv[i]);
            return 1;
        }
        rc += stem + " BITMAP " + Quoted(argv[i]) + "\n";
    }
    if (!g_error.empty()) {
        std::fprintf(stderr, "make_rc: %s\n", g_error.c_str());
        return 1;
    }
    std::FILE* out = std::fopen(argv[1], "wb");
    bool bWritten = out != nullptr && std::fwrite(rc.data(), 1, rc.size(), out) == rc.size();
    if (out != nullptr && std::fclose(out) != 0) bWritten = false;
    if (!bWritten) std::fprintf(stderr, "make_rc: cannot write %s\n", argv[1]);
    return bWritten ? 0 : 1;
}
