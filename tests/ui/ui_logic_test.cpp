// What the popup's and the dialogs' logic decides that the desktop tests
// cannot see from outside, over fakes of the view interfaces. Transfers go to
// the project's content server.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/Core.h"
#include "platform/linux/Gbk.h"
#include "platform/linux/XdgAutostart.h"
#include "tests/ui/FakeViews.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/support/TempDir.h"
#include "ui/HotListDlg.h"
#include "ui/SettingsDlg.h"
#include "ui/Texts.h"

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
    kivo::app::Core core{Dir()};
    CConfig& config = core.config;
    FakeHotListView view;
    FakeJobs jobs;
    CHotListDlg dlg{core, view, jobs};
};

}  // namespace

TEST_F(PopupLogic, DefaultOutsideTheCatalogueShowsNoBannerNoSelectionAndTheBareBase) {
    // As a settings file may hold them: the popup and the settings dialog
    // open on any int without undefined behaviour.
    for (int category : {0, 15, -3, INT_MIN, INT_MAX}) {
        std::string file = std::string(reinterpret_cast<const char*>(&category), 4) + std::string(1012, '\0');
        kivo::test::WriteBytes(config.GetConfigPath(), file);
        ASSERT_EQ(config.LoadConfig(), 1);
        ASSERT_EQ(config.m_nCategory, category);
        FakeHotListView fresh;
        CHotListDlg other(core, fresh, jobs);
        ASSERT_TRUE(other.OnInitDialog());
        EXPECT_TRUE(fresh.Logged("SetHeaderBitmap 0")) << category;
        EXPECT_EQ(fresh.selection, -1);
        EXPECT_TRUE(fresh.Logged("Navigate " + Remote())) << category;
        kivo::test::FakeDialogRunner runner;
        runner.scripts[131] = {};
        CSettingsDlg settings(config, core.transfers);
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

TEST_F(PopupLogic, SearchTextGbkCannotHoldOpensNothing) {
    view.searchText = "x";
    view.searchRepresentable = false;
    dlg.OnCommand(IDC_SEARCH, BN_CLICKED);
    EXPECT_TRUE(view.opened.empty());
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

TEST(Mbcs, TheTrailByteOfADoubleByteCharacterIsNeverAnAt) {
    EXPECT_TRUE(MbcsContains("a@b", '@'));
    EXPECT_TRUE(MbcsContains("@", '@'));
    EXPECT_FALSE(MbcsContains("abc", '@'));
    EXPECT_FALSE(MbcsContains("\x81\x40", '@'));  // one character whose second byte is 0x40
    EXPECT_TRUE(MbcsContains("\x81\x40@", '@'));
    EXPECT_FALSE(MbcsContains(Gbk("丂丂"), '@'));
}

// --- the dialogs, with the real content server -------------------------

namespace {

class SettingsLogic : public kivo::test::NetworkTest {
protected:
    // Opens the settings dialog, lets `script` act, returns the view's end state.
    FakeDialogView Run(const kivo::test::FakeDialogRunner::Script& script) {
        runner.scripts[131] = script;
        CSettingsDlg dlg(config, transfers);
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

// --- system settings and the autostart entry ----------------------------

TEST(SystemSettings, FolderThatCannotBeWrittenChangesOnlyMemory) {
    kivo::test::TempDir home, dir;
    ::setenv("XDG_CONFIG_HOME", (home.Path() + "/config").c_str(), 1);
    kivo::test::WriteBytes(home.Path() + "/config", "");  // a file where the folder should be
    CConfig config{dir.Path() + "/"};
    config.m_bAutoRun = 0;
    kivo::test::FakeDialogRunner runner;
    runner.scripts[132] = [](CDialogBase& d, FakeDialogView& v) {
        v.checks[IDC_AUTORUN] = v.checks[IDC_CHECKUPDATE] = 1;
        d.OnOK();
    };
    CSystemSettingsDlg dlg(config);
    dlg.DoModal(runner);
    EXPECT_EQ(config.m_bAutoRun, 1);
    EXPECT_FALSE(kivo::platform::WriteStartAtLogin(true, "/x"));
    EXPECT_EQ(config.SetAutoRun(1), 1);
    ::unsetenv("XDG_CONFIG_HOME");
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

TEST(XdgAutostart, ARelativeConfigurationFolderCountsAsNoneSet) {
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    EXPECT_EQ(kivo::platform::XdgAutostartPath(), kivo::test::Env("HOME") + "/.config/autostart/kivo.desktop");
    ::unsetenv("XDG_CONFIG_HOME");
}
