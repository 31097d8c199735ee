#include <string>

#include "app/Config.h"
#include "app/Jobs.h"
#include "app/UiHost.h"
#include "net/UpdateNotice.h"
#include "platform/System.h"

const int g_nCurrentVersion = 1000;
std::atomic<int> g_bUpdating{0};

namespace {

void SetUpdatePending(CConfig& config, int value) {
    {
        auto lock = config.Lock();
        config.m_bUpdatePending = value;
    }
    config.SaveConfig();
}

// The installer is started by its bare path, with no arguments and no shell.
void LaunchUpdater(const std::string& path) {
    kivo::platform::MakeExecutable(path);
    kivo::platform::StartProgram(path);
}

}  // namespace

std::string CConfig::GetUpdatePath() const {
    return GetDataDir(kivo::platform::UserFolder::Cache) + "update.exe";
}

unsigned UpdateThreadProc(void* pParam) {
    auto& context = *static_cast<JobContext*>(pParam);
    CConfig& config = context.config;
    if (g_bUpdating.exchange(1) != 0) return 0;
    std::string url;
    if (config.CheckVersion(g_nCurrentVersion, url) == 0 || config.DownloadUpdate(url) == 0) {
        g_bUpdating = 0;
        return 0;
    }
    SetUpdatePending(config, 1);
    IUiHost* host = context.pHost;
    if (host == nullptr) {
        // No window to hand over from: the next start runs the installer.
        g_bUpdating = 0;
        return 0;
    }
    host->ShowNotice(kszUpdateNotice, kszUpdateCaption);
    g_bUpdating = 0;
    const std::string path = config.GetUpdatePath();
    SetUpdatePending(config, 0);
    LaunchUpdater(path);
    host->PostQuit();
    return 0;
}

bool RunStartupHandover(CConfig& config, IUiHost& host) {
    if (config.m_bUpdatePending == 0) return true;
    // Cleared before anything else, so that a broken installer can never
    // cause a loop of hand-overs.
    SetUpdatePending(config, 0);
    const std::string path = config.GetUpdatePath();
    if (!CConfig::FileExists(path)) return true;
    LaunchUpdater(path);
    host.PostQuit();
    return false;
}
