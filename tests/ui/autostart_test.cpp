// The system settings dialog and the start-at-login entry of the Linux build.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/Config.h"
#include "platform/linux/XdgAutostart.h"
#include "tests/support/Files.h"
#include "tests/support/TempDir.h"
#include "tests/ui/FakeViews.h"
#include "ui/SettingsDlg.h"

using kivo::test::FakeDialogView;

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
    EXPECT_EQ(kivo::platform::XdgAutostartText(false, "/k").find("Exec=\"/k\"\nHidden=true\n") != std::string::npos,
              true);
}

TEST(XdgAutostart, ARelativeConfigurationFolderCountsAsNoneSet) {
    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    EXPECT_EQ(kivo::platform::XdgAutostartPath(), kivo::test::Env("HOME") + "/.config/autostart/kivo.desktop");
    ::unsetenv("XDG_CONFIG_HOME");
}

TEST(SystemSettings, AFirstStartWritesTheEntryTheDefaultPromisesAndTheDialogShowsWhatWasWritten) {
    kivo::test::TempDir home, dir;
    const std::string config = home.Path() + "/config";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    CConfig fresh{dir.Path() + "/"};
    ASSERT_EQ(fresh.LoadConfig(), 0);
    fresh.AdoptStartAtLogin();
    EXPECT_EQ(fresh.m_bAutoRun, 1);
    EXPECT_EQ(kivo::test::ReadBytes(config + "/autostart/kivo.desktop").value_or(""),
              kivo::platform::XdgAutostartText(true, fresh.GetExePath()));
    kivo::test::FakeDialogRunner runner;
    int shown = -1;
    runner.scripts[132] = [&](CDialogBase& d, FakeDialogView& v) {
        shown = v.checks[IDC_AUTORUN];
        d.OnCancel();
    };
    CSystemSettingsDlg dlg(fresh);
    dlg.DoModal(runner);
    EXPECT_EQ(shown, 1);

    // Where no entry can be written the record says off: nothing starts at login.
    ::unlink((config + "/autostart/kivo.desktop").c_str());
    ::rmdir((config + "/autostart").c_str());
    kivo::test::WriteBytes(config + "/autostart", "");  // a file where the folder should be
    CConfig blocked{dir.Path() + "/"};
    blocked.AdoptStartAtLogin();
    EXPECT_EQ(blocked.m_bAutoRun, 0);
    ::unsetenv("XDG_CONFIG_HOME");
}
