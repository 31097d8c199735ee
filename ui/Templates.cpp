#include "ui/Templates.h"

#include "ui/Resource.h"
#include "ui/Texts.h"

namespace {

using K = ItemKind;
constexpr ListData kNoList = ListData::None;

const DialogItem kPopupItems[] = {
    {IDC_STATIC, K::ImageStatic, 3, 102, 103, 2, IDB_STRIP_TOP, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 3, 104, 40, 11, IDB_CAPTION_CHOOSE, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 106, 16, 4, 131, IDB_RIGHT_EDGE, nullptr, kNoList},
    {IDC_HEADER, K::ImageStatic, 0, 0, 110, 16, IDB_HEADER, nullptr, kNoList},
    {IDC_BROWSER, K::Browser, 3, 14, 104, 90, 0, nullptr, kNoList},
    {IDC_CATEGORY, K::DropList, 41, 104, 63, 306, 0, nullptr, ListData::PopupNames},
    {IDC_SEARCH_TEXT, K::Edit, 29, 120, 63, 12, 0, nullptr, kNoList, kItemWantsReturn},
    {IDC_STATIC, K::ImageStatic, 0, 16, 4, 131, IDB_LEFT_EDGE, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 4, 134, 102, 13, IDB_BOTTOM_BAR, nullptr, kNoList},
    {IDC_VISIT, K::ImageButton, 63, 134, 43, 13, IDB_VISIT, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 4, 131, 102, 3, IDB_STRIP_BOTTOM, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 4, 118, 102, 3, IDB_STRIP_SEARCH, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 4, 121, 25, 11, IDB_CAPTION_SEARCH, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 3, 115, 102, 3, IDB_STRIP_CHOOSER, nullptr, kNoList},
    {IDC_CLOSE, K::ImageButton, 94, 3, 11, 11, IDB_CLOSE, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 92, 121, 3, 11, IDB_FILLER_SEARCH, nullptr, kNoList},
    {IDC_SEARCH, K::ImageButton, 95, 121, 11, 11, IDB_SEARCH, nullptr, kNoList},
    {IDC_STATIC, K::ImageStatic, 103, 104, 3, 11, IDB_FILLER_CHOOSER, nullptr, kNoList},
};

const DialogItem kSettingsItems[] = {
    {IDC_OK, K::DefPushButton, 49, 188, 55, 17, 0, kszOk, kNoList},
    {IDC_CANCEL, K::PushButton, 109, 188, 60, 17, 0, kszCancel, kNoList},
    {IDC_STATIC, K::Text, 7, 7, 162, 17, 0, kszWelcome1, kNoList},
    {IDC_STATIC, K::Text, 7, 32, 162, 20, 0, kszWelcome2, kNoList},
    {IDC_STATIC, K::Text, 7, 63, 155, 20, 0, kszWelcome3, kNoList},
    {IDC_STATIC, K::Text, 7, 93, 143, 11, 0, kszChooseDefault, kNoList},
    {IDC_SET_CATEGORY, K::DropList, 7, 108, 162, 139, 0, nullptr, ListData::SettingsNames},
    {IDC_STATIC, K::Text, 7, 130, 143, 11, 0, kszNotifyByEmail, kNoList},
    {IDC_EMAIL, K::Edit, 7, 143, 162, 15, 0, nullptr, kNoList},
    {IDC_ADVANCED, K::PushButton, 107, 164, 62, 17, 0, kszAdvanced, kNoList},
};

const DialogItem kSystemSettingsItems[] = {
    {IDC_OK, K::DefPushButton, 67, 171, 50, 14, 0, kszOk, kNoList},
    {IDC_CANCEL, K::PushButton, 130, 171, 50, 14, 0, kszCancel, kNoList},
    {IDC_STATIC, K::Text, 7, 7, 162, 17, 0, kszWelcome1, kNoList},
    {IDC_STATIC, K::Text, 7, 32, 162, 20, 0, kszWelcome2, kNoList},
    {IDC_STATIC, K::Text, 7, 63, 155, 20, 0, kszWelcome3, kNoList},
    {IDC_STATIC, K::Text, 7, 87, 60, 12, 0, kszStartAtLoginGroup, kNoList},
    {IDC_AUTORUN, K::CheckBox, 35, 101, 137, 13, 0, kszStartAtLogin, kNoList},
    {IDC_STATIC, K::Text, 7, 130, 53, 14, 0, kszUpgradeGroup, kNoList},
    {IDC_CHECKUPDATE, K::CheckBox, 33, 144, 124, 12, 0, kszCheckUpdate, kNoList},
};

const DialogItem kAboutItems[] = {
    {IDC_STATIC, K::Icon, 11, 17, 21, 21, IDR_MAINFRAME, nullptr, kNoList},
    {IDC_STATIC, K::Text, 40, 10, 119, 8, 0, kszAboutVersion, kNoList, kItemNoPrefix},
    {IDC_STATIC, K::Text, 40, 25, 119, 8, 0, kszAboutSite, kNoList},
    {IDC_OK, K::DefPushButton, 178, 7, 50, 14, 0, kszOk, kNoList},
    {IDC_STATIC, K::Text, 40, 57, 119, 8, 0, kszAboutCopyright, kNoList},
    {IDC_STATIC, K::Text, 40, 41, 147, 8, 0, kszAboutContact, kNoList},
};

template <int N>
constexpr int Count(const DialogItem (&)[N]) {
    return N;
}

const DialogTemplate kTemplates[] = {
    {IDD_KIVO_DIALOG, 119, 147, "", kPopupItems, Count(kPopupItems)},
    {IDD_SETTINGS, 176, 212, kszCaptionSettings, kSettingsItems, Count(kSettingsItems)},
    {IDD_SYSSETTINGS, 187, 192, kszCaptionSystemSettings, kSystemSettingsItems, Count(kSystemSettingsItems)},
    {IDD_ABOUTBOX, 235, 82, kszCaptionAbout, kAboutItems, Count(kAboutItems)},
};

}  // namespace

const DialogTemplate* FindTemplate(int nId) {
    for (const DialogTemplate& t : kTemplates)
        if (t.nId == nId) return &t;
    return nullptr;
}

int DluToPixels(int dlu) { return dlu * 3 / 2; }

PixelRect ItemPixels(const DialogItem& item) {
    const int left = DluToPixels(item.x);
    const int top = DluToPixels(item.y);
    return {left, top, DluToPixels(item.x + item.cx) - left, DluToPixels(item.y + item.cy) - top};
}

void WindowPixels(const DialogTemplate& dlg, int& width, int& height) {
    width = (dlg.cx * 3 + 1) / 2;
    height = (dlg.cy * 3 + 1) / 2;
}

const MenuItem g_trayMenu[] = {
    {ID_VISIT_SITE, kszMenuVisitSite},
    {ID_SETTINGS, kszMenuSettings},
    {ID_ABOUT, kszMenuAbout},
    {0, nullptr},
    {ID_EXIT, kszMenuExit},
};
const int g_nTrayMenuItems = sizeof g_trayMenu / sizeof g_trayMenu[0];
