#pragma once
// The online update: the installer's download and its checks (a program of
// this system and, with an update key, signed by it), the update job's work
// (probe, download, notice, hand-over) and the start-up hand-over of an
// installer an earlier run downloaded. The pending mark lives in the
// settings record, which is saved at every change of it.
#include <atomic>
#include <optional>
#include <string>

#include "net/Transfers.h"

class CConfig;
class IUiHost;

// Version of the running program as the update check compares it.
extern const int g_nCurrentVersion;  // 1000
// Set while an update job runs or shows its notice; a second job then
// returns at once.
extern std::atomic<int> g_bUpdating;

namespace kivo::app {

// What one run of the update job came to.
struct [[nodiscard]] UpdateReport {
    bool busy = false;                            // another job was under way: nothing done
    std::optional<net::VersionCheck> version;     // the probe's answer
    std::optional<net::TransferResult> download;  // the installer's download, after a newer version
    bool started = false;                         // the installer was started and the window asked to quit

    // "no newer version", "newer version, installer not reached, kept", ...
    std::string Summary() const;
};

class Updater {
public:
    // Both outlive the updater. The key is this build's (net/UpdateKey.h).
    Updater(CConfig& config, net::Transfers& transfers);

    // Data folder + "update.exe"; its signature beside it + ".sig".
    std::string GetUpdatePath() const;
    // The key installers must be signed with; empty means none, and
    // installers are trusted as they arrive.
    void SetUpdateKey(std::string publicKeyPem);
    // True when no key is set, or when the installer and its signature on
    // disk verify under it.
    bool IsTrustedInstaller() const;

    // Downloads the installer at `url` (and with a key its signature from
    // `url` + ".sig") into the update path. Kept only when whole, a program
    // this system can start and, with a key, signed; otherwise nothing is
    // left but, when the server was not reached, the previous file.
    [[nodiscard]] net::TransferResult DownloadUpdate(const std::string& url);

    // The update job's work on its worker thread: probe; download; mark the
    // installer pending and save; show the notice through `host` and wait;
    // clear the mark, start the installer and ask `host` to quit. Without a
    // host the installer stays pending for the next start.
    [[nodiscard]] UpdateReport RunUpdateJob(IUiHost* host);

    // The step of the main window's initialisation that starts an installer
    // an earlier run downloaded. False when it did so and asked `host` to
    // quit: initialisation then ends there.
    [[nodiscard]] bool RunStartupHandover(IUiHost& host);

private:
    void SetUpdatePending(int value);
    bool LaunchUpdater() const;

    CConfig& config_;
    net::Transfers& transfers_;
    std::string updateKey_;
};

}  // namespace kivo::app
