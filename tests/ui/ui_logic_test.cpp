// The popup's and the dialogs' logic over fakes of the view interfaces, on
// both builds (under Wine too). Transfers go to the project's content server.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "app/Core.h"
#include "net/PageCache.h"
#include "platform/System.h"
#include "tests/support/Files.h"
#include "tests/support/NetworkTest.h"
#include "tests/support/TempDir.h"
#include "tests/ui/FakeViews.h"
#include "ui/HotListDlg.h"
#include "ui/SettingsDlg.h"
#include "ui/Texts.h"

using kivo::test::FakeDialogView;
using kivo::test::FakeHotListView;
using kivo::test::FakeJobs;

namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

class PopupLogic : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("KIVO_SERVER", "127.0.0.1:9", 1); }
    void TearDown() override { ::unsetenv("KIVO_SERVER"); }
    std::string Dir() const { return dir.Path() + kivo::test::TempDir::kSeparator; }
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
        EXPECT_EQ(fresh.images, std::vector<std::string>{"header 0"}) << category;
        EXPECT_EQ(fresh.selection, -1);
        EXPECT_EQ(fresh.page, Remote()) << category;
        kivo::test::FakeDialogRunner runner;
        runner.scripts[IDD_SETTINGS] = {};
        CSettingsDlg settings(config, core.transfers);
        settings.DoModal(runner);
        EXPECT_EQ(runner.lastInit[IDD_SETTINGS].selections.at(IDC_SET_CATEGORY), -1) << category;
    }
}

TEST_F(PopupLogic, ListChosenShowsItsBannerUnderTheHideButtonAndItsPage) {
    config.m_nCategory = 2;
    ASSERT_TRUE(dlg.OnInitDialog());
    view.images.clear();
    view.selection = 12;
    dlg.OnSelchangeCategory();
    EXPECT_EQ(view.images, (std::vector<std::string>{"header 163", "close 151"}));
    EXPECT_EQ(view.page, Remote() + "newmusic.html");
}

TEST_F(PopupLogic, ListChosenPrefersTheCachedPageAndLeavesTheDefault) {
    config.m_nCategory = 2;
    ASSERT_TRUE(dlg.OnInitDialog());
    kivo::test::WriteBytes(Dir() + "prg" + kivo::test::TempDir::kSeparator + "today.html", "");
    view.selection = 0;
    dlg.OnSelchangeCategory();
    EXPECT_EQ(view.page.rfind("file://", 0), 0u) << view.page;
    EXPECT_TRUE(EndsWith(view.page, "today.html")) << view.page;
    EXPECT_EQ(config.m_nCategory, 2);
    EXPECT_FALSE(kivo::test::Exists(config.GetConfigPath()));
}

TEST_F(PopupLogic, ARefreshThatStoredTheListOnShowShowsItAgainOnTheUserInterfaceThread) {
    using kivo::net::TransferResult;
    const auto refreshed = [&](int category, TransferResult result) {
        kivo::net::RefreshReport report;
        report.items[static_cast<std::size_t>(category)] = result;
        std::thread([&] { dlg.OnRefreshed(report); }).join();  // from the refresh's worker
    };
    config.m_nCategory = 2;  // week.html
    ASSERT_TRUE(dlg.OnInitDialog());
    // Another list, or this one unchanged or cut off: nothing.
    refreshed(1, TransferResult::kReplaced);
    refreshed(2, TransferResult::kUnchanged);
    refreshed(2, TransferResult::kCutOff);
    view.RunIntents();
    EXPECT_EQ(view.navigations, 1);
    // Its new copy: shown once the intent runs on the popup's thread, in
    // place of the page that could not be had.
    dlg.OnPageFailed(view.page, "no answer");
    kivo::test::WriteBytes(Dir() + "prg" + kivo::test::TempDir::kSeparator + "week.html", "<p>new</p>");
    refreshed(2, TransferResult::kReplaced);
    EXPECT_EQ(view.navigations, 1);
    view.RunIntents();
    EXPECT_EQ(view.navigations, 2);
    EXPECT_EQ(view.page.rfind("file://", 0), 0u) << view.page;
    EXPECT_TRUE(view.ownPage.empty());
    EXPECT_EQ(view.trace.back(), "page refreshed " + view.page);
    // The list chosen since counts, not the default.
    view.selection = 0;
    dlg.OnSelchangeCategory();
    refreshed(2, TransferResult::kReplaced);
    refreshed(1, TransferResult::kReplaced);
    view.RunIntents();
    EXPECT_EQ(view.navigations, 4);
    EXPECT_EQ(view.page, core.GetPageUrl(1));
}

TEST_F(PopupLogic, SearchTextGbkCannotHoldOpensNothing) {
    view.searchText = "x";
    view.searchRepresentable = false;
    dlg.OnCommand(IDC_SEARCH);
    EXPECT_TRUE(view.opened.empty());
}

TEST_F(PopupLogic, EnterSearchesOnlyFromTheSearchBoxAndEscapeNeverReachesAControl) {
    view.searchText = "abc";
    EXPECT_TRUE(dlg.OnKey(Key::Enter, IDC_CATEGORY));
    EXPECT_TRUE(dlg.OnKey(Key::Escape, IDC_SEARCH_TEXT));
    EXPECT_FALSE(dlg.OnKey(Key::Other, IDC_SEARCH_TEXT));
    EXPECT_TRUE(view.opened.empty());
    EXPECT_EQ(view.result, 0) << "Escape does not end the popup";
    EXPECT_TRUE(dlg.OnKey(Key::Enter, IDC_SEARCH_TEXT));
    EXPECT_EQ(view.opened, std::vector<std::string>{CHotListDlg::SearchAddress("abc")});
}

TEST_F(PopupLogic, SettingsCloseAppliesTheTimerOneRuleOkOrCancel) {
    config.m_bCheckUpdate = 1;
    dlg.OnCommand(ID_SETTINGS);  // closed with Cancel
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{IDD_SETTINGS}));
    EXPECT_EQ(view.timers[kTimerUpdate], 300000u);

    // System settings switch checks off, then the settings dialog is cancelled.
    view.dialogs.scripts[IDD_SETTINGS] = [](CDialogBase& d, FakeDialogView&) { d.OnClicked(IDC_ADVANCED); };
    view.dialogs.scripts[IDD_SYSSETTINGS] = [](CDialogBase& d, FakeDialogView& v) {
        v.checks[IDC_CHECKUPDATE] = 0;
        d.OnClicked(IDC_OK);
    };
    dlg.OnCommand(ID_SETTINGS);
    EXPECT_EQ(config.m_bCheckUpdate, 0);
    EXPECT_EQ(view.timers.count(kTimerUpdate), 0u);
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{IDD_SETTINGS, IDD_SETTINGS, IDD_SYSSETTINGS}));
}

TEST_F(PopupLogic, LaterCopiesShowThePopupOrRunAMenuCommand) {
    for (const char* ignored : {"", "SHOW", "show ", "quit", "settings\n"}) dlg.OnLaterCopy(ignored);
    EXPECT_FALSE(view.shown);
    EXPECT_TRUE(view.dialogs.opened.empty());
    dlg.OnLaterCopy("show");
    EXPECT_TRUE(view.shown);
    EXPECT_TRUE(view.foreground);
    dlg.OnLaterCopy("about");
    dlg.OnLaterCopy("settings");
    EXPECT_EQ(view.dialogs.opened, (std::vector<int>{IDD_ABOUTBOX, IDD_SETTINGS}));
    dlg.OnLaterCopy("exit");
    EXPECT_EQ(view.result, IDC_OK);
}

// --- the page that stands in for one that cannot be had -------------------

namespace {

class StandIn : public PopupLogic {
protected:
    void SetUp() override {
        PopupLogic::SetUp();
        ::unsetenv("KIVO_PAGE_RETRY_SECONDS");
        config.m_nCategory = 1;
        ASSERT_TRUE(dlg.OnInitDialog());
        page = view.page;
    }
    bool Traced(const std::string& line) const {
        for (const std::string& entry : view.trace)
            if (entry == line) return true;
        return false;
    }
    std::string page;  // the page asked for at start
};

}  // namespace

TEST_F(StandIn, UnreachableServerShowsTheProgramsOwnPageInTheSkinsColours) {
    dlg.OnPageFailed(page, "could not connect");
    EXPECT_TRUE(Contains(view.ownPage, kszNoServer));
    EXPECT_TRUE(Contains(view.ownPage, kszNoPageHelp));
    EXPECT_FALSE(Contains(view.ownPage, kszNoPage));
    EXPECT_TRUE(Contains(view.ownPage, "charset=\"gbk\""));
    EXPECT_TRUE(Contains(view.ownPage, "#111418"));
    EXPECT_TRUE(Traced("page failed " + page + " could not connect"));
    EXPECT_TRUE(Traced("page stand-in for " + page));
}

TEST_F(StandIn, ACachedPageThatCannotBeShownGetsThePagesHeading) {
    dlg.OnPageFailed("file:///kivo/prg/today.html", "not a page");
    EXPECT_TRUE(Contains(view.ownPage, kszNoPage));
    EXPECT_FALSE(Contains(view.ownPage, kszNoServer));
}

TEST_F(StandIn, ThePageIsAskedForAgainEveryMinute) {
    dlg.OnPageFailed(page, "timed out");
    EXPECT_EQ(view.timers[kTimerPageRetry], 60000u);
    const int before = view.navigations;
    dlg.OnTimer(kTimerPageRetry);
    EXPECT_EQ(view.navigations, before + 1);
    EXPECT_EQ(view.page, page);
    EXPECT_TRUE(Traced("page retry " + page));
    dlg.OnPageFailed(page, "timed out");
    dlg.OnTimer(kTimerPageRetry);
    EXPECT_EQ(view.navigations, before + 2);
}

TEST_F(StandIn, ShowingThePopupAsksAtOnceAndTheNextTryIsAMinuteAway) {
    dlg.OnTrayActivated();
    const int before = view.navigations;
    EXPECT_EQ(view.navigations, before) << "nothing to ask for again";
    dlg.OnPageFailed(page, "timed out");
    view.timers.clear();
    dlg.OnCommand(IDC_CLOSE);
    dlg.OnLaterCopy("show");
    EXPECT_EQ(view.navigations, before + 1);
    EXPECT_EQ(view.page, page);
    EXPECT_EQ(view.timers[kTimerPageRetry], 60000u);
}

TEST_F(StandIn, ARealPageEndsTheTriesAndTheOwnPageDoesNot) {
    dlg.OnPageFailed(page, "timed out");
    dlg.OnPageLoaded(kszOwnPageUri);
    EXPECT_EQ(view.timers.count(kTimerPageRetry), 1u);
    dlg.OnTimer(kTimerPageRetry);
    dlg.OnPageLoaded(page);
    EXPECT_TRUE(Traced("page loaded " + page));
    EXPECT_EQ(view.timers.count(kTimerPageRetry), 0u);
    const int before = view.navigations;
    dlg.OnTrayActivated();
    dlg.OnTimer(kTimerPageRetry);  // a firing already queued
    EXPECT_EQ(view.navigations, before);
}

TEST_F(StandIn, AnotherListChosenEndsTheTries) {
    dlg.OnPageFailed(page, "timed out");
    view.selection = 2;
    dlg.OnSelchangeCategory();
    EXPECT_EQ(view.timers.count(kTimerPageRetry), 0u);
    EXPECT_TRUE(view.ownPage.empty());
    const std::string other = view.page;
    dlg.OnTimer(kTimerPageRetry);
    EXPECT_EQ(view.page, other);
}

TEST_F(StandIn, TheOwnPageFailingIsOnlyTraced) {
    dlg.OnPageFailed(kszOwnPageUri, "no engine");
    EXPECT_TRUE(view.ownPage.empty());
    EXPECT_EQ(view.timers.count(kTimerPageRetry), 0u);
    EXPECT_TRUE(Traced(std::string("page failed ") + kszOwnPageUri + " no engine"));
}

TEST_F(StandIn, TheRetryPeriodComesFromTheEnvironmentWithinOneToSixtySeconds) {
    for (const auto& [value, ms] : std::vector<std::pair<std::string, unsigned>>{
             {"2", 2000}, {"60", 60000}, {"0", 60000}, {"61", 60000}, {"2x", 60000}, {"-1", 60000}, {"", 60000}}) {
        ::setenv("KIVO_PAGE_RETRY_SECONDS", value.c_str(), 1);
        dlg.OnPageFailed(page, "timed out");
        EXPECT_EQ(view.timers[kTimerPageRetry], ms) << value;
    }
    ::unsetenv("KIVO_PAGE_RETRY_SECONDS");
}

TEST(Mbcs, TheTrailByteOfADoubleByteCharacterIsNeverAnAt) {
    EXPECT_TRUE(MbcsContains("a@b", '@'));
    EXPECT_TRUE(MbcsContains("@", '@'));
    EXPECT_FALSE(MbcsContains("abc", '@'));
    EXPECT_FALSE(MbcsContains("\x81\x40", '@'));  // one character whose second byte is 0x40
    EXPECT_TRUE(MbcsContains("\x81\x40@", '@'));
    EXPECT_FALSE(MbcsContains("\x81\x40\x81\x40", '@'));
}

// --- the dialogs, with the real content server -------------------------

namespace {

class SettingsLogic : public kivo::test::NetworkTest {
protected:
    // Opens the settings dialog, lets `script` act, returns the view's end state.
    FakeDialogView Run(const kivo::test::FakeDialogRunner::Script& script) {
        runner.scripts[IDD_SETTINGS] = script;
        CSettingsDlg dlg(config, transfers);
        dlg.DoModal(runner);
        return runner.last[IDD_SETTINGS];
    }
    std::string Saved() { return kivo::test::ReadBytes(Dir() + "Configuration.ini").value_or(""); }

    kivo::test::FakeDialogRunner runner;
};

const std::string kInvalid = std::string("ui_logic_test|") + kszInvalidEmail;

std::string Messages(const FakeDialogView& view) {
    std::string all;
    for (const auto& m : view.messages) all += m;
    return all;
}

}  // namespace

TEST_F(SettingsLogic, FocusClearsOnlyThePlaceholder) {
    auto view = Run([](CDialogBase& d, FakeDialogView&) { d.OnFocused(IDC_EMAIL); });
    EXPECT_EQ(view.texts[IDC_EMAIL], "");
    strcpy(config.m_szEmail, "me@kivo.cn");
    view = Run([](CDialogBase& d, FakeDialogView&) { d.OnFocused(IDC_EMAIL); });
    EXPECT_EQ(view.texts[IDC_EMAIL], "me@kivo.cn");
    view = Run([](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = "x";
        d.OnFocused(IDC_EMAIL);
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
        EXPECT_EQ(Messages(view), kInvalid);
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
    EXPECT_EQ(Messages(view), kInvalid);
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
    EXPECT_EQ(runner.lastInit[IDD_SETTINGS].selections.at(IDC_SET_CATEGORY), -1);
    EXPECT_EQ(config.m_nCategory, 0);
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{"@"});
}

TEST_F(SettingsLogic, ASaveThatFailsSaysWhyAndKeepsTheDialogOpenAndTheRecordAsTheFileHasIt) {
    strcpy(config.m_szEmail, "old@kivo.cn");
    ASSERT_EQ(config.SaveConfig(), 1);
    const std::string before = Saved(), temp = config.GetConfigPath() + ".tmp";
    // The save's sibling cannot be made (a folder in its way), then (where
    // there is /dev/full) is a full disk; once the way is clear, OK again
    // saves what the dialog still holds.
    std::vector<std::string> messages;
    auto view = Run([&](CDialogBase& d, FakeDialogView& v) {
        v.texts[IDC_EMAIL] = "new@kivo.cn";
        ASSERT_TRUE(kivo::platform::MakeDir(temp));
        d.OnOK();
        std::filesystem::remove(temp);
#ifndef _WIN32
        ASSERT_EQ(::symlink("/dev/full", temp.c_str()), 0);
        d.OnOK();
#endif
        EXPECT_FALSE(v.ended);
        EXPECT_STREQ(config.m_szEmail, "old@kivo.cn");
        EXPECT_EQ(Saved(), before);
        EXPECT_TRUE(Server().Emails().empty());
        messages = v.messages;
        d.OnOK();
    });
    ASSERT_FALSE(messages.empty());
#ifndef _WIN32
    EXPECT_EQ(messages, (std::vector<std::string>{std::string("ui_logic_test|") + kszSaveFailed,
                                                  std::string("ui_logic_test|") + kszSaveDiskFull}));
#endif
    EXPECT_TRUE(view.ended);
    EXPECT_STREQ(config.m_szEmail, "new@kivo.cn");
    EXPECT_EQ(Server().Emails(), std::vector<std::string>{"new@kivo.cn"});
}
