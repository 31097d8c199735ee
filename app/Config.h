#pragma once
// The settings record, stored field by field in "Configuration.ini" beside
// the executable, and the class that carries the program's path, page-address,
// transfer and start-at-login operations.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/System.h"

namespace kivo::platform {
class IHttpClient;
}

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

    // Settings file (Config.cpp). Both return 1 on success, 0 on failure.
    // LoadConfig fills the record from the bytes the file holds; SaveConfig
    // replaces the file in one step, so a failed save leaves the old one.
    int LoadConfig();
    int SaveConfig();
    std::string GetConfigPath() const;
    std::string GetInstallDir() const;
    // The folder every file of the program is formed on: the install
    // directory whenever a file can be created there (portable use), the
    // user's own folder of that kind otherwise (and the install directory
    // again when there is none). Decided at the first use.
    std::string GetDataDir(kivo::platform::UserFolder kind) const;

    // Page addresses (net/PageAddress.cpp).
    std::string GetPageBase(bool bLocal) const;
    std::string GetPageUrl(int nCategory) const;
    static bool FileExists(const std::string& path);

    // Transfers (net/Transfer.cpp), through this record's HTTP client: the
    // operating system's backend with its default time-outs unless another
    // one (for example with shorter time-outs) was set.
    void SetHttpClient(std::shared_ptr<kivo::platform::IHttpClient> client);
    std::shared_ptr<kivo::platform::IHttpClient> HttpClient();
    int DownloadFile(const std::string& url, const std::string& path);
    // An installer is kept only when it is whole, a program this system can
    // start and, with an update key, signed (its signature fetched from
    // `url` + ".sig").
    int DownloadUpdate(const std::string& url);
    int CheckVersion(int nCurrentVersion, std::string& url);
    // Returns whether the request was sent; the answer is never read.
    bool PostMail(const std::string& email);

    // Cache refresh (net/Refresh.cpp): the background image when missing,
    // then the fourteen pages. Always returns 1.
    int RefreshPages();
    // Removes what an ended process may have left half-written: the settings
    // file's ".tmp" sibling and the cache's ".part" files. None of them ever
    // counts as a copy; the program clears them at start.
    void RemoveLeftovers();
    // Online update (net/Update.cpp): data folder + "update.exe", and its
    // signature beside it + ".sig".
    std::string GetUpdatePath() const;
    // The key installers must be signed with: this build's, unless another
    // was set; empty means none, and installers are trusted as they arrive.
    void SetUpdateKey(std::string publicKeyPem);
    // True when no key is set, or when the installer and its signature on
    // disk verify under it.
    bool IsTrustedInstaller() const;
    // Start at login: the entry starts this executable when `bOn` is set and
    // stays, disabled, when not. Always returns 1.
    int SetAutoRun(int bOn);
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
    bool DownloadSignature(const std::string& url);

    std::string m_strInstallDir;  // empty: the executable's directory
    mutable std::once_flag m_dataDirDecided;
    mutable bool m_bPortable = true;
    std::mutex m_mutex;
    std::shared_ptr<kivo::platform::IHttpClient> m_pHttp;  // under m_mutex
    std::string m_strUpdateKey;
};
