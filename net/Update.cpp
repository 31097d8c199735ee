#include <cstdio>
#include <string>

#include "app/Config.h"
#include "app/Jobs.h"
#include "app/UiHost.h"
#include "net/UpdateNotice.h"
#include "platform/Signature.h"
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

// The installer is started by its bare path, with no arguments and no shell,
// once it has proved itself again: it may have been replaced on the disk
// since it was downloaded. One that does not is removed. False when nothing
// was started.
bool LaunchUpdater(const CConfig& config) {
    const std::string path = config.GetUpdatePath();
    if (!config.IsTrustedInstaller()) {
        kivo::platform::RemoveFile(path);
        kivo::platform::RemoveFile(path + ".sig");
        return false;
    }
    kivo::platform::MakeExecutable(path);
    return kivo::platform::StartProgram(path);
}

}  // namespace

std::string CConfig::GetUpdatePath() const {
    return GetDataDir(kivo::platform::UserFolder::Cache) + "update.exe";
}

void CConfig::SetUpdateKey(std::string publicKeyPem) { m_strUpdateKey = std::move(publicKeyPem); }

bool CConfig::IsTrustedInstaller() const {
    if (m_strUpdateKey.empty()) return true;
    const std::string path = GetUpdatePath();
    std::string signature(1024, '\0');
    std::FILE* file = std::fopen((path + ".sig").c_str(), "rb");
    if (file == nullptr) return false;
    signature.resize(std::fread(signature.data(), 1, signature.size(), file));
    std::fclose(file);
    return kivo::platform::VerifyFileSignature(path, signature, m_strUpdateKey);
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
    SetUpdatePending(config, 0);
    // An installer replaced on the disk while the notice was up is not
    // started, and the program goes on.
    if (LaunchUpdater(config)) host->PostQuit();
    return 0;
}

bool RunStartupHandover(CConfig& config, IUiHost& host) {
    if (config.m_bUpdatePending == 0) return true;
    // Cleared before anything else, so that a broken installer can never
    // cause a loop of hand-overs.
    SetUpdatePending(config, 0);
    if (!CConfig::FileExists(config.GetUpdatePath()) || !LaunchUpdater(config)) return true;
    host.PostQuit();
    return false;
}
