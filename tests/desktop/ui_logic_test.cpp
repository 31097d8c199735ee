// The popup's, tray's and dialogs' logic over fakes of the view interfaces.
// Transfers go to the project's content server.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Config.h"
#include "net/Catalogue.h"
#include "platform/System.h"
#include "platform/linux/Gbk.h"
#include "shells/gtk/TrayKind.h"
#include "platform/linux/XdgAutostart.h"
#include "tests/desktop/FakeViews.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/support/TempDir.h"
#include "ui/HotListDlg.h"
#include "ui/SettingsDlg.h"
#include "ui/Templates.h"
#include "ui/Texts.h"
#include "ui/WindowShape.h"

using kivo::platform::GbkToUtf8;
using kivo::test::FakeDialogView;
using kivo::test::FakeHotListView;
using kivo::test::FakeJobs;

namespace {

std::string Gbk(const std::string& utf8) { return *kivo::platform::Utf8ToGbk(utf8); }

class PopupLogic : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("KIVO_SERVER", "127.0.0.1:9", 1); }
    void TearDown() override { ::unsetenv("KIVO_SERVER"); }
    std::string Dir() const { return dir.Path() + "/"; }
    std::string Remote() const { return "http://127.0.0.1:9/sml/"; }

    kivo::test::TempDir dir;
    CConfig config{Dir()};
    FakeHotListView view;
    FakeJobs jobs;
    CHotListDlg dlg{config, view, jobs};
};

}  // namespace

TEST_F(PopupLogic, InitialisationRunsInOrderAndShowsTheDefaultList) {
    config.m_nCategory = 3;
    ASSERT_TRUE(dlg.OnInitDialog());
    const std::vector<std::string> expected = {
        "AppendSystemMenuItem 16 " + Gbk("关于 kivo(&A)..."),
        "SetToolWindowStyle",
        "SetIcons 128",
        "SetTimer 1 5000",
        "SetHeaderBitmap 153",
        "SetChooserSelection 2",
        "SetWindowShape",
        "AddTrayIcon 128 1029 128 Kivo",
        "Navigate " + Remote() + "hot.html",
        "SetTimer 2 100",
        "SetTimer 3 300000",
    };
    EXPECT_EQ(view.log, expected);
    struct stat st {};
    EXPECT_EQ(::stat((Dir() + "prg").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(config.m_nCategory, 3);
}

TEST_F(PopupLogic, DefaultOutsideTheCatalogueShowsNoBannerNoSelectionAndTheBareBase) {
    // As a settings file may hold them: the popup and the settings dialog
    // open on any int without undefined behaviour.
    for (int category : {0, 15, -3, INT_MIN, INT_MAX}) {
        std::string file = std::string(reinterpret_cast<const char*>(&category), 4) + std::string(1012, '\0');
        kivo::test::WriteBytes(config.GetConfigPath(), file);
        ASSERT_EQ(config.LoadConfig(), 1);
        ASSERT_EQ(config.m_nCategory, category);
        FakeHotListView fresh;
        CHotListDlg other(config, fresh, jobs);
        ASSERT_TRUE(other.OnInitDialog());
        EXPECT_TRUE(fresh.Logged("SetHeaderBitmap 0")) << category;
        EXPECT_EQ(fresh.selection, -1);
        EXPECT_TRUE(fresh.Logged("Navigate " + Remote())) << category;
        kivo::test::FakeDialogRunner runner;
        runner.scripts[131] = {};
        CSettingsDlg settings(config);
        settings.DoModal(runner);
        EXPECT_EQ(runner.lastInit[131].selections.at(IDC_SET_CATEGORY), -1) << category;
    }
}

TEST_F(PopupLogic, DefaultFourteenSelectsTheLastEntry) {
    config.m_nCategory = 14;
    ASSERT_TRUE(dlg.OnInitDialog());
    EXPECT_TRUE(view.Logged("SetHeaderBitmap 164"));
    EXPECT_EQ(view.selection, 13);
}

TEST_F(PopupLogic, ListSwitchSetsBannerThenHideButtonThenNavigatesWithoutChangingTheDefault) {
    config.m_nCategory = 2;
    ASSERT_TRUE(dlg.OnInitDialog());
    view.log.clear();
    view.selection = 12;
    dlg.OnCommand(IDC_CATEGORY, CBN_SELCHANGE);
    EXPECT_EQ(view.log, (std::vector<std::string>{"SetHeaderBitmap 163", "SetCloseBitmap 151",
                                                   "Navigate " + Remote() + "newmusic.html"}));
    view.log.clear();
    ::mkdir((Dir() + "prg").c_str(), 0700);
    kivo::test::WriteBytes(Dir() + "prg/today.html", "");
    view.selection = 0;
    dlg.OnSelchangeCategory();
    EXPECT_EQ(view.log, (std::vector<std::string>{"SetHeaderBitmap 129", "SetCloseBitmap 151",
                                                   "Navigate file://" + Dir() + "prg/today.html"}));
    EXPECT_EQ(config.m_nCategory, 2);
    EXPECT_FALSE(kivo::test::Exists(Dir() + "Configuration.ini"));
}

TEST_F(PopupLogic, SearchAddressIsThePrefixAndTheTextUnchanged) {
    const std::string prefix = "http://www.baidu.com/s?tn=kivo_pg&ct=&lm=-1&kw=&word=";
    EXPECT_EQ(CHotListDlg::SearchAddress(""), prefix);
    EXPECT_EQ(CHotListDlg::SearchAddress("a&b #c"), prefix + "a&b #c");
    const std::string chinese = Gbk("电影 流行");
    EXPECT_EQ(CHotListDlg::SearchAddress(chinese), prefix + chinese);

    view.searchText = "a&b";
    dlg.OnCommand(IDC_SEARCH, BN_CLICKED);
    EXPECT_EQ(view.opened, (std::vector<std::string>{prefix + "a&b"}));
    view.searchText = "x";
    view.searchRepresentable = false;  // a character GBK cannot hold
    dlg.OnSearch();
    EXPECT_EQ(view.opened.size(), 1u);
}

TEST_F(PopupLogic, SiteButtonAndTrayCommandOpenTheSiteRoot) {
    EXPECT_EQ(CHotListDlg::SiteAddress(), "http://www.kivo.cn");
    dlg.OnCommand(IDC_VISIT, BN_CLICKED);
    dlg.OnCommand(ID_VISIT_SITE, BN_CLICKED);
    EXPECT_EQ(view.opened, (std::vector<std::string>{"http://www.kivo.cn", "http://www.kivo.cn"}));
    // The About dialog names the same site.
    EXPECT_EQ(GbkToUtf8(kszAboutSite), "网站：http://www.kivo.cn");
}

TEST_F(PopupLogic, TrayCallbackDecisions) {
    view.cursorX = 900;
    view.cursorY = 700;
    dlg.OnTrayNotify(127, WM_LBUTTONDBLCLK);
    dlg.OnTrayNotify(128, WM_LBUTTONDOWN);
    dlg.OnTrayNotify(128, WM_LBUTTONUP);
    dlg.OnTrayNotify(128, WM_RBUTTONUP);
    EXPECT_TRUE(view.log.empty());
    dlg.OnTrayNotify(128, WM_LBUTTONDBLCLK);
    EXPECT_EQ(view.log, (std::vector<std::string>{"ShowWindow show", "SetForegroundWindow"}));
    view.log.clear();
    dlg.OnTrayNotify(128, WM_RBUTTONDOWN);
    EXPECT_EQ(view.log, (std::vector<std::string>{"TrackPopupMenu 900 700"}));
    ASSERT_EQ(view.menu.size(), 5u);
}

TEST_F(PopupLogic, SettingsCloseAppliesTheTimerOneRuleOkOrCancel) {
    config.m_bCheckUpdate = 1;
    dlg.OnCommand(ID_SETTINGS, BN_CLICKED);  // closed with Cancel
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{131}));
    EXPECT_EQ(view.log, (std::vector<std::string>{"RunModal 131", "KillTimer 1", "SetTimer 1 300000"}));

    // System settings switch checks off, then the settings dialog is cancelled.
    view.log.clear();
    view.dialogs.scripts[131] = [](CDialogBase& d, FakeDialogView&) { d.OnCommand(IDC_ADVANCED, BN_CLICKED); };
    view.dialogs.scripts[132] = [](CDialogBase& d, FakeDialogView& v) {
        v.checks[IDC_CHECKUPDATE] = 0;
        d.OnOK();
    };
    dlg.OnSettings();
    EXPECT_EQ(config.m_bCheckUpdate, 0);
    EXPECT_EQ(view.log, (std::vector<std::string>{"RunModal 131", "RunModal 132", "KillTimer 1"}));
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{131, 131, 132}));
}

TEST_F(PopupLogic, LaterCopiesShowThePopupOrRunAMenuCommand) {
    for (const char* ignored : {"", "SHOW", "show ", "quit", "settings\n"}) dlg.OnLaterCopy(ignored);
    EXPECT_TRUE(view.log.empty());
    dlg.OnLaterCopy("show");
    EXPECT_EQ(view.log, (std::vector<std::string>{"ShowWindow show", "SetForegroundWindow"}));
    dlg.OnLaterCopy("about");
    dlg.OnLaterCopy("settings");
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{100, 131}));
    dlg.OnLaterCopy("exit");
    EXPECT_EQ(view.log.back(), "EndModal 1");
}

TEST_F(PopupLogic, AboutFromTheTrayAndFromSystemCommandsSixteenToThirtyOne) {
    dlg.OnCommand(ID_ABOUT, BN_CLICKED);
    dlg.OnSysCommand(16);
    dlg.OnSysCommand(31);
    dlg.OnSysCommand(32);
    dlg.OnSysCommand(0xF060);
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{100, 100, 100}));
}

TEST(WindowShape, OnlyTheTopLeftCornerIsRoundedAndTheRightFifteenPixelsGo) {
    const CRegion shape = MakePopupShape(179, 221);
    EXPECT_FALSE(shape.Contains(0, 0));
    EXPECT_FALSE(shape.Contains(3, 3));
    EXPECT_TRUE(shape.Contains(18, 0));
    EXPECT_TRUE(shape.Contains(0, 18));
    EXPECT_TRUE(shape.Contains(6, 6));   // inside the 18-pixel radius
    EXPECT_TRUE(shape.Contains(163, 0));  // top-right: square
    EXPECT_TRUE(shape.Contains(0, 220));  // bottom corners: square
    EXPECT_TRUE(shape.Contains(163, 220));
    for (int y = 0; y < 221; ++y) {
        EXPECT_FALSE(shape.Contains(164, y));
        EXPECT_FALSE(shape.Contains(178, y));
    }
    EXPECT_FALSE(shape.Contains(10, 221));
    // The rectangles cover exactly the region, rows with equal spans merged.
    int area = 0;
    for (const ShapeRect& r : shape.Rects()) area += r.width * r.height;
    int count = 0;
    for (int y = 0; y < 221; ++y)
        for (int x = 0; x < 179; ++x) count += shape.Contains(x, y) ? 1 : 0;
    EXPECT_EQ(area, count);
    EXPECT_LT(shape.Rects().size(), 25u);
    const ShapeRect last = shape.Rects().back();  // below the corner: whole rows
    EXPECT_LE(last.y, 18);
    EXPECT_EQ(last.x, 0);
    EXPECT_EQ(last.width, 164);
    EXPECT_EQ(last.y + last.height, 221);
}

TEST(Mbcs, TheTrailByteOfADoubleByteCharacterIsNeverAnAt) {
    EXPECT_TRUE(MbcsContains("a@b", '@'));
    EXPECT_TRUE(MbcsContains("@", '@'));
    EXPECT_FALSE(MbcsContains("abc", '@'));
    EXPECT_FALSE(MbcsContains("\x81\x40", '@'));  // one character whose second byte is 0x40
    EXPECT_TRUE(MbcsContains("\x81\x40@", '@'));
    EXPECT_FALSE(MbcsContains(Gbk("丂丂"), '@'));
}

TEST(AppName, IsTheExecutablesNameWithoutExtension) {
    std::string exe = kivo::platform::ExecutablePath();
    EXPECT_EQ(AppName(), exe.substr(exe.rfind('/') + 1));
    CConfig config;
    EXPECT_EQ(config.GetExePath(), exe);
}

// --- the dialogs, with the real content server -------------------------

namespace {

class SettingsLogic : public kivo::test::NetworkTest {
protected:
    // Opens the settings dialog, lets `script` act, returns the view's end state.
    FakeDialogView Run(const kivo::test::FakeDialogRunner::Script& script) {
        runner.scripts[131] = script;
        CSettingsDlg dlg(config);
        dlg.DoModal(runner);
        return runner.last[131];
    }
    std::string Saved() { return kivo::test::ReadBytes(Dir() + "Configuration.ini").value_or(""); }

    kivo::test::FakeDialogRunner runner;
};

const std::string kInvalid = "ui_logic_test|无效的EMail!";

std::string Utf8Messages(const FakeDialogView& view) {
    std::string all;
    for (const auto& m : view.messages) all += GbkToUtf8(m);
    return all;
}

}  // namespace

TEST_F(SettingsLogic, OpensWithTheDefaultListAndThePlaceholder) {
    config.m_nCategory = 4;
    Run({});
    const FakeDialogView& init = runner.lastInit[131];
    EXPECT_EQ(init.selections.at(IDC_SET_CATEGORY), 3);
    EXPECT_EQ(GbkToUtf8(init.texts.at(IDC_EMAIL)), "<请输入EMail>");
    EXPECT_EQ(init.texts.at(IDC_EMAIL).size(), 13u);
}

TEST_F(SettingsLogic, FocusClearsOnlyThePlaceholder) {
    auto view = Run([](CDialogBase& d, FakeDialogView&) { d.OnCommand(IDC_EMAIL, EN_SETFOCUS); });
    EXPECT_EQ(view.texts[IDC_EMAIL], "");
    strcpy(config.m_szEmail, "me@kivo.cn");
    view = Run([](CDialogBase& d, FakeDialogView&) { d.OnCommand(IDC_EMAIL, EN_SETFOCUS); });
    EXPECT_EQ(view.texts[IDC_EMAIL], "me@kivo.cn");
    view = Run([](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = "x";
        d.OnCommand(IDC_EMAIL, EN_SETFOCUS);
    });
    EXPECT_EQ(view.texts[IDC_EMAIL], "x");
}

TEST_F(SettingsLogic, PlaceholderOrTextWithoutAtIsRefusedAndNothingIsStored) {
    config.m_nCategory = 2;
    for (const std::string& text : {std::string(kszEmailPlaceholder), std::string("abc"), std::string("\x81\x40")}) {
        auto view = Run([&](CDialogBase& d, FakeDialogView& v) {
            v.texts[IDC_EMAIL] = text;
            v.selections[IDC_SET_CATEGORY] = 9;
            d.OnOK();
        });
        EXPECT_FALSE(view.ended);
        EXPECT_EQ(Utf8Messages(view), kInvalid);
    }
    EXPECT_EQ(config.m_nCategory, 2);
    EXPECT_FALSE(kivo::test::Exists(Dir() + "Configuration.ini"));
    EXPECT_TRUE(Server().Emails().empty());
}

TEST_F(SettingsLogic, OverLongAddressIsRefusedNeverCut) {
    const std::string fits = std::string(244, 'a') + "@k.cn";  // 249 bytes
    const std::string tooLong = std::string(245, 'a') + "@k.cn";
    auto view = Run([&](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = tooLong;
        d.OnOK();
    });
    EXPECT_FALSE(view.ended);
    EXPECT_EQ(Utf8Messages(view), kInvalid);
    view = Run([&](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = fits;
        d.OnOK();
    });
    EXPECT_TRUE(view.ended);
    EXPECT_EQ(std::string(config.m_szEmail), fits);
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{fits});
    // A server address long enough that the request would not fit a URL.
    ::setenv("KIVO_SERVER", (std::string(220, 'h') + ".example").c_str(), 1);
    EXPECT_FALSE(CSettingsDlg::IsAcceptableEmail(fits));
    EXPECT_TRUE(CSettingsDlg::IsAcceptableEmail("a@b"));
}

TEST_F(SettingsLogic, OkStoresSavesThenSendsTheAddressAsTyped) {
    const std::string email = Gbk("张三@例子.cn");
    auto view = Run([&](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = email;
        v.selections[IDC_SET_CATEGORY] = 12;
        d.OnOK();
    });
    EXPECT_TRUE(view.ended);
    EXPECT_EQ(view.result, IDOK);
    EXPECT_EQ(config.m_nCategory, 13);
    EXPECT_EQ(std::string(config.m_szEmail), email);
    const std::string saved = Saved();
    ASSERT_EQ(saved.size(), 1016u);
    EXPECT_EQ(saved[0], 13);
    EXPECT_EQ(saved.substr(4, email.size()), email);
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{email});
}

TEST_F(SettingsLogic, EmptyBoxClearsTheAddressAndSendsNothing) {
    strcpy(config.m_szEmail, "old@kivo.cn");
    auto view = Run([](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = "";
        d.OnOK();
    });
    EXPECT_TRUE(view.ended);
    EXPECT_EQ(config.m_szEmail[0], '\0');
    EXPECT_EQ(Saved().size(), 1016u);
    EXPECT_TRUE(Server().Emails().empty());
    EXPECT_TRUE(Server().Requests().empty());
}

TEST_F(SettingsLogic, StoredDefaultFifteenOpensWithoutSelectionAndOkStoresZero) {
    config.m_nCategory = 15;
    Run([](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = "@";
        d.OnOK();
    });
    EXPECT_EQ(runner.lastInit[131].selections.at(IDC_SET_CATEGORY), -1);
    EXPECT_EQ(config.m_nCategory, 0);
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{"@"});
}

TEST_F(SettingsLogic, CancelStoresNothing) {
    auto view = Run([](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = "a@b";
        v.selections[IDC_SET_CATEGORY] = 5;
        d.OnCancel();
    });
    EXPECT_EQ(view.result, IDCANCEL);
    EXPECT_EQ(config.m_nCategory, 1);
    EXPECT_FALSE(kivo::test::Exists(Dir() + "Configuration.ini"));
}

// --- system settings and the autostart entry ----------------------------

namespace {

class SystemSettings : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("XDG_CONFIG_HOME", (home.Path() + "/config").c_str(), 1);
    }
    void TearDown() override { ::unsetenv("XDG_CONFIG_HOME"); }
    void RunOk(int autoRun, int checkUpdate) {
        runner.scripts[132] = [=](CDialogBase& d, FakeDialogView& v) {
            v.checks[IDC_AUTORUN] = autoRun;
            v.checks[IDC_CHECKUPDATE] = checkUpdate;
            d.OnOK();
        };
        CSystemSettingsDlg dlg(config);
        dlg.DoModal(runner);
    }
    std::string Entry() { return kivo::test::ReadBytes(kivo::platform::XdgAutostartPath()).value_or(""); }

    kivo::test::TempDir home;
    kivo::test::TempDir dir;
    CConfig config{dir.Path() + "/"};
    kivo::test::FakeDialogRunner runner;
};

}  // namespace

TEST_F(SystemSettings, OpensWithTheRecordsFlags) {
    config.m_bAutoRun = 0;
    config.m_bCheckUpdate = 1;
    runner.scripts[132] = {};
    CSystemSettingsDlg dlg(config);
    dlg.DoModal(runner);
    EXPECT_EQ(runner.lastInit[132].checks.at(IDC_AUTORUN), 0);
    EXPECT_EQ(runner.lastInit[132].checks.at(IDC_CHECKUPDATE), 1);
}

TEST_F(SystemSettings, OkStoresBothFlagsAndWritesTheEntryButNotTheSettingsFile) {
    RunOk(1, 0);
    EXPECT_EQ(config.m_bAutoRun, 1);
    EXPECT_EQ(config.m_bCheckUpdate, 0);
    EXPECT_EQ(kivo::platform::XdgAutostartPath(), home.Path() + "/config/autostart/kivo.desktop");
    const std::string on = Entry();
    EXPECT_NE(on.find("[Desktop Entry]\n"), std::string::npos);
    EXPECT_NE(on.find("Exec=\"" + kivo::platform::ExecutablePath() + "\"\n"), std::string::npos) << on;
    EXPECT_NE(on.find("Hidden=false\n"), std::string::npos);
    RunOk(0, 1);
    const std::string off = Entry();
    EXPECT_NE(off.find("Hidden=true\n"), std::string::npos) << off;
    EXPECT_EQ(config.m_bAutoRun, 0);
    EXPECT_FALSE(kivo::test::Exists(dir.Path() + "/Configuration.ini"));
}

TEST_F(SystemSettings, FolderThatCannotBeWrittenChangesOnlyMemory) {
    // A file where the configuration folder should be.
    kivo::test::WriteBytes(home.Path() + "/config", "");
    config.m_bAutoRun = 0;
    RunOk(1, 1);
    EXPECT_EQ(config.m_bAutoRun, 1);
    EXPECT_FALSE(kivo::platform::WriteStartAtLogin(true, "/x"));
    EXPECT_EQ(config.SetAutoRun(1), 1);
}

TEST(XdgAutostart, ExecIsOneQuotedArgumentEscapedForTheFileFormat) {
    using kivo::platform::XdgExecValue;
    EXPECT_EQ(XdgExecValue("/opt/kivo/kivo"), "\"/opt/kivo/kivo\"");
    EXPECT_EQ(XdgExecValue("/my apps/100%/kivo"), "\"/my apps/100%%/kivo\"");
    // Quote, backquote, dollar and backslash take a backslash inside the
    // quotes, and each backslash is then doubled by the string escapes.
    EXPECT_EQ(XdgExecValue("/a\"b`c$d\\e"), "\"/a\\\\\"b\\\\`c\\\\$d\\\\\\\\e\"");
    EXPECT_EQ(kivo::platform::XdgAutostartText(false, "/k").find("Exec=\"/k\"\nHidden=true\n") != std::string::npos, true);
}

TEST(XdgAutostart, DefaultFolderIsDotConfigUnderHome) {
    const char* saved = std::getenv("XDG_CONFIG_HOME");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    const char* home = std::getenv("HOME");
    if (home != nullptr) {
        EXPECT_EQ(kivo::platform::XdgAutostartPath(), std::string(home) + "/.config/autostart/kivo.desktop");
    }
    if (saved != nullptr) ::setenv("XDG_CONFIG_HOME", keep.c_str(), 1);
    else ::unsetenv("XDG_CONFIG_HOME");
}

TEST(TrayKind, IndicatorOnlyWithAWatcherAndNoXEmbedTray) {
    using kivo::gtk::ChooseTrayKind;
    using kivo::gtk::TrayKind;
    EXPECT_EQ(ChooseTrayKind(true, true), TrayKind::StatusIcon);
    EXPECT_EQ(ChooseTrayKind(true, false), TrayKind::StatusIcon);
    EXPECT_EQ(ChooseTrayKind(false, true), TrayKind::Indicator);
    // Nothing at all: the XEmbed icon, which shows once a tray starts.
    EXPECT_EQ(ChooseTrayKind(false, false), TrayKind::StatusIcon);
}
