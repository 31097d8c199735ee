// The install directory on Windows paths.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "app/Config.h"

namespace {

std::string ModulePath() {
    char path[MAX_PATH + 1] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, n);
}

}  // namespace

TEST(WindowsPaths, InstallDirectoryIsTheExecutablesFolderWithItsBackslash) {
    CConfig config;
    const std::string dir = config.GetInstallDir();
    const std::string exe = ModulePath();
    ASSERT_GE(dir.size(), 3u);
    EXPECT_EQ(dir.substr(1, 2), ":\\");  // a drive, as Windows (and Wine) give it
    EXPECT_EQ(dir.back(), '\\');
    EXPECT_EQ(exe.rfind(dir, 0), 0u) << exe;
    EXPECT_EQ(exe.find('\\', dir.size()), std::string::npos) << exe;
    EXPECT_EQ(config.GetConfigPath(), dir + "Configuration.ini");
}
