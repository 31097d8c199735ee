// The resources of kivo.exe, read from the built program as data: dialog
// templates 100, 102, 131 and 132 item by item, their initialisation data,
// menu 167, string 101, icon 128 and the skin bitmaps. Texts are compared as
// GBK bytes (code page 936) with the program's own tables.
#include "tests/windows/shell_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/Catalogue.h"
#include "platform/win32/shell/DialogTemplate.h"
#include "tests/support/Files.h"
#include "ui/Resource.h"
#include "ui/Templates.h"
#include "ui/Texts.h"

using kivo::test::ReadBytes;
using kivo::test::ShellExePath;
using kivo::test::SourcePath;
using kivo::test::ToGbk;
using kivo::win32::DialogTemplateEx;
using kivo::win32::TemplateItem;

namespace {

constexpr WORD kRtBitmap = 2;
constexpr WORD kRtMenu = 4;
constexpr WORD kRtDialog = 5;
constexpr WORD kRtGroupIcon = 14;

class ResourceTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        s_module = LoadLibraryExA(ShellExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(s_module, nullptr) << "cannot load " << ShellExePath() << " as data";
    }
    static void TearDownTestSuite() {
        if (s_module != nullptr) FreeLibrary(s_module);
        s_module = nullptr;
    }
    void SetUp() override { ASSERT_NE(s_module, nullptr); }

    static std::string Resource(int nId, WORD type) {
        HRSRC hRes = FindResourceA(s_module, MAKEINTRESOURCEA(nId), MAKEINTRESOURCEA(type));
        if (hRes == nullptr) return {};
        HGLOBAL hData = LoadResource(s_module, hRes);
        const char* data = hData != nullptr ? static_cast<const char*>(LockResource(hData)) : nullptr;
        return data != nullptr ? std::string(data, SizeofResource(s_module, hRes)) : std::string();
    }

    static DialogTemplateEx Template(int nId) {
        const std::string bytes = Resource(nId, kRtDialog);
        auto dlg = DialogTemplateEx::Parse(bytes.data(), bytes.size());
        if (!dlg) {
            ADD_FAILURE() << "template " << nId << " missing or malformed";
            return {};
        }
        return *dlg;
    }

    static HMODULE s_module;
};

HMODULE ResourceTest::s_module = nullptr;

// What the item kinds of the program's tables are in a template: the
// dialog manager's class ordinal and the style.
struct KindForm {
    WORD classOrdinal;
    DWORD style;
};

KindForm FormOf(ItemKind kind) {
    switch (kind) {
        case ItemKind::ImageStatic: return {0x0082, 0x5000000E};
        case ItemKind::ImageButton: return {0x0082, 0x5000010E};
        case ItemKind::DropList: return {0x0085, 0x50210003};
        case ItemKind::Edit: return {0x0081, 0x50810080};
        case ItemKind::DefPushButton: return {0x0080, 0x50010001};
        case ItemKind::PushButton: return {0x0080, 0x50010000};
        case ItemKind::Text: return {0x0082, 0x50020000};
        case ItemKind::CheckBox: return {0x0080, 0x50010003};
        case ItemKind::Icon: return {0x0082, 0x50000003};
        case ItemKind::Browser: return {0, 0x50010000};
    }
    return {};
}

void ExpectFont(const DialogTemplateEx& dlg) {
    EXPECT_EQ(dlg.pointSize, 9);
    EXPECT_EQ(ToGbk(dlg.typeface), "\xCB\xCE\xCC\xE5");  // 宋体
    EXPECT_EQ(dlg.weight, 0);
    EXPECT_EQ(dlg.italic, 0);
    EXPECT_EQ(dlg.charset, 1);
}

// Every item against the program's table of the same template.
void ExpectItems(const DialogTemplateEx& dlg, int nId) {
    const DialogTemplate* table = FindTemplate(nId);
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(dlg.items.size(), static_cast<std::size_t>(table->nItems));
    for (int i = 0; i < table->nItems; ++i) {
        const DialogItem& want = table->pItems[i];
        const TemplateItem& got = dlg.items[static_cast<std::size_t>(i)];
        SCOPED_TRACE("template " + std::to_string(nId) + " item " + std::to_string(i + 1));
        EXPECT_EQ(got.id, want.nId);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.exStyle, 0u);
        const KindForm form = FormOf(want.kind);
        if (want.kind == ItemKind::Browser) {
            EXPECT_FALSE(got.windowClass.bOrdinal);
            EXPECT_EQ(ToGbk(got.windowClass.text), "{8856F961-340A-11D0-A96B-00C04FD705A2}");
            EXPECT_TRUE(got.IsOleControl());
        } else {
            EXPECT_TRUE(got.windowClass.bOrdinal);
            EXPECT_EQ(got.windowClass.nOrdinal, form.classOrdinal);
        }
        DWORD style = form.style;
        if (want.kind == ItemKind::Edit && nId == IDD_KIVO_DIALOG) style |= ES_WANTRETURN;
        if (want.szText == kszAboutVersion) style |= SS_NOPREFIX;  // ampersands shown as they are
        EXPECT_EQ(got.style, style) << std::hex << got.style;
        if (want.kind == ItemKind::ImageStatic || want.kind == ItemKind::ImageButton || want.kind == ItemKind::Icon) {
            EXPECT_TRUE(got.title.bOrdinal);
            EXPECT_EQ(got.title.nOrdinal, want.nBitmap);
        } else {
            EXPECT_FALSE(got.title.bOrdinal);
            EXPECT_EQ(ToGbk(got.title.text), want.szText != nullptr ? want.szText : "");
        }
        EXPECT_TRUE(got.extra.empty());
    }
}

TEST_F(ResourceTest, PopupTemplateIsTheItemTable) {
    const DialogTemplateEx dlg = Template(IDD_KIVO_DIALOG);
    EXPECT_EQ(dlg.style, 0x90000040u);    // WS_POPUP | WS_VISIBLE | DS_SETFONT
    EXPECT_EQ(dlg.exStyle, 0x00040000u);  // WS_EX_APPWINDOW
    EXPECT_EQ(dlg.x, 0);
    EXPECT_EQ(dlg.y, 0);
    EXPECT_EQ(dlg.cx, 119);
    EXPECT_EQ(dlg.cy, 147);
    EXPECT_TRUE(dlg.menu.Empty());
    EXPECT_TRUE(dlg.windowClass.Empty());
    EXPECT_TRUE(dlg.title.empty());
    ExpectFont(dlg);
    ExpectItems(dlg, IDD_KIVO_DIALOG);

    // The eighteen items as the popup's item table lists them: id and style.
    const struct {
        int nId;
        DWORD style;
    } kTable[18] = {
        {-1, 0x5000000E},   {-1, 0x5000000E},   {-1, 0x5000000E},   {1013, 0x5000000E}, {1001, 0x50010000},
        {1002, 0x50210003}, {1003, 0x50811080}, {-1, 0x5000000E},   {-1, 0x5000000E},   {1011, 0x5000010E},
        {-1, 0x5000000E},   {-1, 0x5000000E},   {-1, 0x5000000E},   {-1, 0x5000000E},   {1012, 0x5000010E},
        {-1, 0x5000000E},   {1014, 0x5000010E}, {-1, 0x5000000E},
    };
    ASSERT_EQ(dlg.items.size(), 18u);
    for (std::size_t i = 0; i < 18; ++i) {
        EXPECT_EQ(dlg.items[i].id, kTable[i].nId) << "item " << i + 1;
        EXPECT_EQ(dlg.items[i].style, kTable[i].style) << "item " << i + 1;
    }
}

TEST_F(ResourceTest, SettingsDialogsAndAboutAreTheirTables) {
    const struct {
        int nId;
        int cx, cy;
        const char* szCaption;
    } kDialogs[] = {
        {IDD_SETTINGS, 176, 212, kszCaptionSettings},
        {IDD_SYSSETTINGS, 187, 192, kszCaptionSystemSettings},
        {IDD_ABOUTBOX, 235, 82, kszCaptionAbout},
    };
    for (const auto& want : kDialogs) {
        SCOPED_TRACE("template " + std::to_string(want.nId));
        const DialogTemplateEx dlg = Template(want.nId);
        // Popup, caption, system menu, modal frame, the template font.
        EXPECT_EQ(dlg.style, static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
        EXPECT_EQ(dlg.exStyle, 0u);
        EXPECT_EQ(dlg.cx, want.cx);
        EXPECT_EQ(dlg.cy, want.cy);
        EXPECT_EQ(ToGbk(dlg.title), want.szCaption);
        ExpectFont(dlg);
        ExpectItems(dlg, want.nId);
    }
}

TEST_F(ResourceTest, ChoosersAreFilledFromTheInitialisationData) {
    const struct {
        int nTemplate;
        int nControl;
        bool bPopup;
    } kLists[] = {{IDD_KIVO_DIALOG, IDC_CATEGORY, true}, {IDD_SETTINGS, IDC_SET_CATEGORY, false}};
    for (const auto& list : kLists) {
        SCOPED_TRACE("template " + std::to_string(list.nTemplate));
        const std::string bytes = Resource(list.nTemplate, kivo::win32::kResourceTypeDlgInit);
        const auto entries = kivo::win32::ParseDialogInit(bytes.data(), bytes.size());
        ASSERT_TRUE(entries.has_value());
        ASSERT_EQ(entries->size(), static_cast<std::size_t>(kCategoryCount));
        for (int i = 0; i < kCategoryCount; ++i) {
            const auto& entry = (*entries)[static_cast<std::size_t>(i)];
            const char* want = list.bPopup ? g_categories[i].szPopupText : g_categories[i].szSettingsText;
            EXPECT_EQ(entry.nId, list.nControl);
            EXPECT_EQ(entry.nMessage, kivo::win32::kDlgInitComboAddString);
            EXPECT_EQ(entry.data, std::string(want, std::strlen(want) + 1)) << "entry " << i;
        }
    }
    // The other two templates have none.
    EXPECT_TRUE(Resource(IDD_ABOUTBOX, kivo::win32::kResourceTypeDlgInit).empty());
    EXPECT_TRUE(Resource(IDD_SYSSETTINGS, kivo::win32::kResourceTypeDlgInit).empty());
}

TEST_F(ResourceTest, TrayMenuIsMenu167) {
    const std::string bytes = Resource(IDR_MENU_TRAY, kRtMenu);
    ASSERT_GE(bytes.size(), 4u);
    std::size_t at = 0;
    auto word = [&]() -> unsigned {
        if (at + 2 > bytes.size()) return 0xFFFFFFFF;
        const unsigned value = static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8;
        at += 2;
        return value;
    };
    auto text = [&]() {
        std::wstring s;
        for (unsigned c; (c = word()) != 0 && c != 0xFFFFFFFF;) s.push_back(static_cast<wchar_t>(c));
        return ToGbk(s);
    };
    at = 0;
    EXPECT_EQ(word(), 0u);  // version
    EXPECT_EQ(word(), 0u);  // header size
    const unsigned popupFlags = word();
    EXPECT_EQ(popupFlags, static_cast<unsigned>(MF_POPUP | MF_END));  // the one top-level entry
    EXPECT_EQ(text(), "_pop_");
    for (int i = 0; i < g_nTrayMenuItems; ++i) {
        SCOPED_TRACE("item " + std::to_string(i));
        const unsigned flags = word();
        EXPECT_EQ(flags & ~static_cast<unsigned>(MF_END), 0u);  // no check, no grey, no default
        EXPECT_EQ((flags & MF_END) != 0, i == g_nTrayMenuItems - 1);
        EXPECT_EQ(word(), g_trayMenu[i].nId);
        EXPECT_EQ(text(), g_trayMenu[i].szText != nullptr ? g_trayMenu[i].szText : "");
    }
    EXPECT_EQ(at, bytes.size());
}

TEST_F(ResourceTest, String101IsTheAboutItem) {
    wchar_t text[64] = {};
    const int n = LoadStringW(s_module, IDS_ABOUTBOX, text, 64);
    ASSERT_GT(n, 0);
    EXPECT_EQ(ToGbk(std::wstring(text, static_cast<std::size_t>(n))), kszAboutMenuItem);
    // In the Chinese code page the program reads the same bytes.
    if (GetACP() == 936) {
        char ansi[64] = {};
        ASSERT_GT(LoadStringA(s_module, IDS_ABOUTBOX, ansi, sizeof ansi), 0);
        EXPECT_STREQ(ansi, "\xB9\xD8\xD3\xDA kivo(&A)...");
    }
}

TEST_F(ResourceTest, IconAndSkinBitmapsAreTheArtwork) {
    const std::string group = Resource(IDR_MAINFRAME, kRtGroupIcon);
    ASSERT_GE(group.size(), 6u);
    const int count = static_cast<unsigned char>(group[4]);
    ASSERT_EQ(group.size(), 6u + 14u * static_cast<std::size_t>(count));
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) sizes.push_back(static_cast<unsigned char>(group[6 + 14 * static_cast<std::size_t>(i)]));
    EXPECT_EQ(sizes, (std::vector<int>{16, 32, 48}));

    // Each bitmap is the file of the skin without its 14-byte file header.
    const int kBitmaps[] = {128, 129, 137, 139, 140, 142, 143, 144, 145, 146, 147, 150, 151, 152, 153,
                            154, 155, 156, 157, 158, 159, 160, 161, 162, 163, 164, 168, 169, 170};
    for (int nId : kBitmaps) {
        const auto file = ReadBytes(SourcePath("res\\bitmaps\\" + std::to_string(nId) + ".bmp"));
        ASSERT_TRUE(file.has_value()) << nId;
        ASSERT_GT(file->size(), 14u);
        EXPECT_EQ(Resource(nId, kRtBitmap), file->substr(14)) << "bitmap " << nId;
    }
}

}  // namespace
