#include "app/Updater.h"

#include <cstdio>

#include "app/Config.h"
#include "app/UiHost.h"
#include "net/UpdateKey.h"
#include "net/UpdateNotice.h"
#include "platform/DataFolders.h"
#include "platform/Signature.h"
#include "platform/System.h"

const int g_nCurrentVersion = 1000;
std::atomic<int> g_bUpdating{0};

namespace kivo::app {

using net::TransferResult;
using net::VersionCheck;

std::string UpdateReport::Summary() const {
    if (busy) return "another update job runs";
    if (!version) return "not probed";
    std::string summary = net::Describe(*version);
    if (download) summary += std::string(", installer ") + net::Describe(*download);
    if (started) summary += ", installer started";
    return summary;
}

Updater::Updater(CConfig& config, net::Transfers& transfers)
    : config_(config), transfers_(transfers), updateKey_(kszUpdateKeyPem) {}

std::string Updater::GetUpdatePath() const {
    return config_.Folders().DataDir(kivo::platform::UserFolder::Cache) + "update.exe";
}

void Updater::SetUpdateKey(std::string publicKeyPem) { updateKey_ = std::move(publicKeyPem); }

bool Updater::IsTrustedInstaller() const {
    if (updateKey_.empty()) return true;
    const std::string path = GetUpdatePath();
    std::string signature(1024, '\0');
    std::FILE* file = std::fopen((path + ".sig").c_str(), "rb");
    if (file == nullptr) return false;
    signature.resize(std::fread(signature.data(), 1, signature.size(), file));
    std::fclose(file);
    return kivo::platform::VerifyFileSignature(path, signature, updateKey_);
}

TransferResult Updater::DownloadUpdate(const std::string& url) {
    const std::string path = GetUpdatePath();
    TransferResult result = transfers_.DownloadWhole(url, path);
    if (result == TransferResult::kNotReached) return result;  // the previous installer stays
    // A cut-off installer, or anything but a program this system can start
    // (an error page, an empty body, another platform's installer), is never
    // announced or started.
    if (result == TransferResult::kReplaced && !kivo::platform::IsStartableProgram(path))
        result = TransferResult::kNotAProgram;
    // The signature is published beside the installer; fetched whole, by the
    // same rules, and kept beside the downloaded file.
    if (result == TransferResult::kReplaced && !updateKey_.empty() &&
        (transfers_.DownloadWhole(url + ".sig", path + ".sig") != TransferResult::kReplaced || !IsTrustedInstaller()))
        result = TransferResult::kUnsigned;
    if (result != TransferResult::kReplaced) {
        kivo::platform::RemoveFile(path);
        kivo::platform::RemoveFile(path + ".sig");
    }
    return result;
}

void Updater::SetUpdatePending(int value) {
    {
        auto lock = config_.Lock();
        config_.m_bUpdatePending = value;
    }
    config_.SaveConfig();
}

// The installer is started by its bare path, with no arguments and no shell,
// once it has proved itself again: it may have been replaced on the disk
// since it was downloaded. One that does not is removed. False when nothing
// was started.
bool Updater::LaunchUpdater() const {
    const std::string path = GetUpdatePath();
    if (!IsTrustedInstaller()) {
        kivo::platform::RemoveFile(path);
        kivo::platform::RemoveFile(path + ".sig");
        return false;
    }
    kivo::platform::MakeExecutable(path);
    return kivo::platform::StartProgram(path);
}

UpdateReport Updater::RunUpdateJob(IUiHost* host) {
    UpdateReport report;
    if (g_bUpdating.exchange(1) != 0) {
        report.busy = true;
        return report;
    }
    std::string url;
    report.version = transfers_.CheckVersion(g_nCurrentVersion, url);
    if (report.version == VersionCheck::kNewer) report.download = DownloadUpdate(url);
    if (report.download != TransferResult::kReplaced) {
        g_bUpdating = 0;
        return report;
    }
    SetUpdatePending(1);
    if (host == nullptr) {
        // No window to hand over from: the next start runs the installer.
        g_bUpdating = 0;
        return report;
    }
    host->ShowNotice(kszUpdateNotice, kszUpdateCaption);
    g_bUpdating = 0;
    SetUpdatePending(0);
    // An installer replaced on the disk while the notice was up is not
    // started, and the program goes on.
    report.started = LaunchUpdater();
    if (report.started) host->PostQuit();
    return report;
}

bool Updater::RunStartupHandover(IUiHost& host) {
    {
        auto lock = config_.Lock();
        if (config_.m_bUpdatePending == 0) return true;
    }
    // Cleared before anything else, so that a broken installer can never
    // cause a loop of hand-overs.
    SetUpdatePending(0);
    if (!kivo::platform::IsReadableFile(GetUpdatePath()) || !LaunchUpdater()) return true;
    host.PostQuit();
    return false;
}

}  // namespace kivo::app
