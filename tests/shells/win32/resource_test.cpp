// The resources of kivo.exe, read from the built program as data: the
// templates with their list entries, the menu and the string the build wrote
// from the program's tables, each kind of item with its window class and
// style, the texts in code page 936; the icon and the skin bitmaps.
#include "tests/shells/win32/shell_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "net/Catalogue.h"
#include "shells/win32/DialogTemplate.h"
#include "tests/support/Files.h"
#include "ui/Texts.h"

using namespace kivo::test;
using kivo::win32::DialogTemplateEx;

namespace {

HMODULE Module() {
    static const HMODULE s_module = LoadLibraryExA(ShellExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    return s_module;
}

std::string Resource(int nId, int type) {
    HRSRC hRes = FindResourceA(Module(), MAKEINTRESOURCEA(nId), MAKEINTRESOURCEA(type));
    HGLOBAL hData = hRes != nullptr ? LoadResource(Module(), hRes) : nullptr;
    const char* data = hData != nullptr ? static_cast<const char*>(LockResource(hData)) : nullptr;
    return data != nullptr ? std::string(data, SizeofResource(Module(), hRes)) : std::string();
}

// A name in a template: "#<number>" for an ordinal, else its text as GBK.
std::string Name(const kivo::win32::TemplateName& name) {
    return name.bOrdinal ? "#" + std::to_string(name.nOrdinal) : ToGbk(name.text);
}

// An item of each kind in a template: the window class (the predefined
// ones by their ordinal, the browser control by its CLSID) and the style.
std::pair<std::string, DWORD> FormOf(const DialogItem& item) {
    switch (item.kind) {
        case ItemKind::ImageStatic:
            return {"#130", 0x5000000E};
        case ItemKind::ImageButton:
            return {"#130", 0x5000010E};
        case ItemKind::Browser:
            return {"{8856F961-340A-11D0-A96B-00C04FD705A2}", 0x50010000};
        case ItemKind::DropList:
            return {"#133", 0x50210003};
        case ItemKind::Edit:
            return {"#129", item.options & kItemWantsReturn ? 0x50811080u : 0x50810080u};
        case ItemKind::DefPushButton:
            return {"#128", 0x50010001};
        case ItemKind::PushButton:
            return {"#128", 0x50010000};
        case ItemKind::Text:
            return {"#130", item.options & kItemNoPrefix ? 0x50020080u : 0x50020000u};
        case ItemKind::CheckBox:
            return {"#128", 0x50010003};
        case ItemKind::Icon:
            return {"#130", 0x50000003};
    }
    return {};
}

TEST(ResourceTest, TemplatesAreTheProgramsTables) {
    ASSERT_NE(Module(), nullptr) << "cannot load " << ShellExePath() << " as data";
    for (int nId : {IDD_KIVO_DIALOG, IDD_SETTINGS, IDD_SYSSETTINGS, IDD_ABOUTBOX}) {
        SCOPED_TRACE("template " + std::to_string(nId));
        const DialogTemplate* table = FindTemplate(nId);
        const std::string bytes = Resource(nId, 5);
        const auto dlg = DialogTemplateEx::Parse(bytes.data(), bytes.size());
        ASSERT_TRUE(table != nullptr && dlg.has_value());
        // The popup: WS_POPUP | WS_VISIBLE | DS_SETFONT, WS_EX_APPWINDOW.
        // The dialogs: popup, caption, system menu, modal frame, the font.
        const DWORD dialog = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT;
        EXPECT_EQ(
            (std::vector<DWORD>{dlg->style, dlg->exStyle}),
            (nId == IDD_KIVO_DIALOG ? std::vector<DWORD>{0x90000040, 0x00040000} : std::vector<DWORD>{dialog, 0}));
        EXPECT_EQ((std::vector<int>{dlg->x, dlg->y, dlg->cx, dlg->cy}), (std::vector<int>{0, 0, table->cx, table->cy}));
        EXPECT_TRUE(dlg->menu.Empty() && dlg->windowClass.Empty());
        EXPECT_EQ(ToGbk(dlg->title), table->szCaption);
        // 9-point 宋体, weight 0, not italic, character set 1.
        EXPECT_EQ((std::vector<int>{dlg->pointSize, dlg->weight, dlg->italic, dlg->charset}),
                  (std::vector<int>{9, 0, 0, 1}));
        EXPECT_EQ(ToGbk(dlg->typeface), "\xCB\xCE\xCC\xE5");
        ASSERT_EQ(dlg->items.size(), static_cast<std::size_t>(table->nItems));
        for (int i = 0; i < table->nItems; ++i) {
            const DialogItem& want = table->pItems[i];
            const auto& got = dlg->items[static_cast<std::size_t>(i)];
            SCOPED_TRACE("item " + std::to_string(i + 1));
            EXPECT_EQ((std::vector<int>{got.id, got.x, got.y, got.cx, got.cy, static_cast<int>(got.exStyle)}),
                      (std::vector<int>{want.nId, want.x, want.y, want.cx, want.cy, 0}));
            EXPECT_EQ(std::pair(Name(got.windowClass), static_cast<DWORD>(got.style)), FormOf(want));
            // Image items name their bitmap or icon; the others hold their text.
            EXPECT_EQ(Name(got.title), want.nBitmap != 0 ? "#" + std::to_string(want.nBitmap)
                                                         : std::string(want.szText != nullptr ? want.szText : ""));
        }
        // The initialisation data: each chooser gets the list names in
        // category order (message 0x0403 adds a text, with its zero, to a
        // combo box); templates without a chooser have none.
        std::vector<std::tuple<int, int, std::string>> wanted, found;
        for (int i = 0; i < table->nItems; ++i)
            for (const CategoryInfo& category : g_categories)
                if (const ListData list = table->pItems[i].list; list != ListData::None) {
                    const char* name = list == ListData::PopupNames ? category.szPopupText : category.szSettingsText;
                    wanted.emplace_back(table->pItems[i].nId, 0x0403, std::string(name, std::strlen(name) + 1));
                }
        const std::string init = Resource(nId, kivo::win32::kResourceTypeDlgInit);
        if (const auto entries = kivo::win32::ParseDialogInit(init.data(), init.size()))
            for (const auto& entry : *entries) found.emplace_back(entry.nId, entry.nMessage, entry.data);
        EXPECT_EQ(found, wanted);
    }
}

TEST(ResourceTest, TrayMenuAndAboutItemInCodePage936) {
    // Read as the program reads them, through the "A" functions.
    ASSERT_EQ(GetACP(), 936u);
    HMENU hMenu = LoadMenuA(Module(), MAKEINTRESOURCEA(IDR_MENU_TRAY));
    ASSERT_NE(hMenu, nullptr);
    ASSERT_EQ(GetMenuItemCount(hMenu), 1);  // the one popup
    HMENU hPopup = GetSubMenu(hMenu, 0);
    char text[64] = {};
    ASSERT_EQ(GetMenuItemCount(hPopup), g_nTrayMenuItems);
    for (int i = 0; i < g_nTrayMenuItems; ++i) {
        const MenuItem& want = g_trayMenu[i];
        EXPECT_EQ(GetMenuItemID(hPopup, i), want.nId);
        const UINT state = GetMenuState(hPopup, static_cast<UINT>(i), MF_BYPOSITION);  // not checked, greyed, default
        EXPECT_EQ(want.nId == 0 ? state & MF_SEPARATOR : state, want.nId == 0 ? MF_SEPARATOR : 0u) << i;
        text[0] = '\0';
        GetMenuStringA(hPopup, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        EXPECT_STREQ(text, want.szText != nullptr ? want.szText : "") << i;
    }
    DestroyMenu(hMenu);
    // String 101.
    ASSERT_GT(LoadStringA(Module(), IDS_ABOUTBOX, text, sizeof text), 0);
    EXPECT_STREQ(text, kszAboutMenuItem);
}

TEST(ResourceTest, IconAndSkinBitmapsAreTheArtwork) {
    const std::string group = Resource(IDR_MAINFRAME, 14);  // RT_GROUP_ICON: 16, 32 and 48 pixels
    ASSERT_EQ(group.size(), 48u);
    EXPECT_EQ((std::vector<int>{group[6], group[20], group[34]}), (std::vector<int>{16, 32, 48}));
    // Each bitmap is the file of the skin without its 14-byte file header.
    for (int nId : {128, 129, 137, 139, 140, 142, 143, 144, 145, 146, 147, 150, 151, 152, 153,
                    154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164, 168, 169, 170}) {
        const auto file = ReadBytes(SourcePath("res\\bitmaps\\" + std::to_string(nId) + ".bmp"));
        ASSERT_TRUE(file.has_value() && file->size() > 14u) << nId;
        EXPECT_EQ(Resource(nId, 2), file->substr(14)) << "bitmap " << nId;
    }
}

}  // namespace

TEST(ResourceTest, ManifestAsksForNoRightsAndTheVersionIs17) {
    const std::string manifest = Resource(1, 24);  // RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID
    EXPECT_NE(manifest.find("level=\"asInvoker\""), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("{35138b9a-5d96-4fbd-8e2d-a2440225f93a}"), std::string::npos);  // Windows 7
    EXPECT_NE(manifest.find("{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"), std::string::npos);  // 10 and 11
    EXPECT_NE(manifest.find(">false</dpiAware>"), std::string::npos);
    const std::string version = Resource(1, 16);  // RT_VERSION
    ASSERT_GE(version.size(), 92u);
    VS_FIXEDFILEINFO info{};
    const std::size_t at = version.find("\xBD\x04\xEF\xFE");  // the fixed part's signature
    ASSERT_NE(at, std::string::npos);
    std::memcpy(&info, version.data() + at, sizeof info);
    EXPECT_EQ(info.dwFileVersionMS, 0x00010007u);
    EXPECT_EQ(info.dwProductVersionMS, 0x00010007u);
}
