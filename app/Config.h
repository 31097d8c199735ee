#pragma once
// The settings record, stored field by field in "Configuration.ini", and the
// folders the program's files are formed on. Start at login, which the record
// switches, is applied here too. Nothing here transfers anything.
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/DataFolders.h"

class CConfig {
public:
    // Size of the record in the settings file.
    static constexpr std::size_t kFileSize = 1016;
    static constexpr std::size_t kTextSize = 250;

    // A record with the defaults; its install directory is the running
    // executable's directory.
    CConfig();
    // A record whose install directory is `installDir`, which must end with
    // the path separator. Used to run the program logic in another folder.
    explicit CConfig(std::string installDir);
    virtual ~CConfig();

    CConfig(const CConfig&) = delete;
    CConfig& operator=(const CConfig&) = delete;

    // Both return 1 on success, 0 on failure. LoadConfig fills the record
    // from the bytes the file holds; SaveConfig replaces the file in one
    // step, so a failed save leaves the old one.
    int LoadConfig();
    // Why a save failed, as far as the system says: `kNotAllowed` when the
    // folder or file may not be written (read-only, no right), `kDiskFull`
    // when there was no room, `kOther` otherwise.
    enum class SaveFailure { kNone, kNotAllowed, kDiskFull, kOther };
    int SaveConfig(SaveFailure* pWhy = nullptr);
    std::string GetConfigPath() const;
    // Removes the sibling a save cut short by the end of the process left;
    // it never counts as the settings file.
    void RemoveSaveLeftover();

    // The folders every file of the program is formed on.
    const kivo::platform::DataFolders& Folders() const { return m_folders; }
    std::string GetInstallDir() const { return m_folders.InstallDir(); }

    // Start at login: the entry starts this executable when `bOn` is set and
    // stays, disabled, when not. Always returns 1.
    int SetAutoRun(int bOn);
    // For a record no settings file filled (a user's first start): start at
    // login as the system has it for this executable from then on, into
    // m_bAutoRun, so that the dialogs show the truth. On Linux the entry the
    // default promises is written here; on Windows the installer chose.
    void AdoptStartAtLogin();
    // Full path of the running executable.
    std::string GetExePath() const;

    // Field access from more than one thread goes through this lock; the
    // save takes it while it copies the record.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(m_mutex); }

    // Fields, in file order. Text is in the system code page (GBK).
    std::int32_t m_nCategory;
    char m_szEmail[kTextSize];
    std::int32_t m_bAutoRun;
    std::int32_t m_bCheckUpdate;
    std::int32_t m_bUpdatePending;
    char m_szReserved1[kTextSize];
    char m_szReserved2[kTextSize];
    char m_szReserved3[kTextSize];

private:
    kivo::platform::DataFolders m_folders;
    std::mutex m_mutex;
};
