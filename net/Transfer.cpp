// The four transfers of the program. Each opens its own session and request,
// blocks the calling thread until it is done and closes everything it opened
// before it returns, on every path.
#include <cstdio>
#include <cstring>
#include <memory>

#include "app/Config.h"
#include "net/ServerAddress.h"
#include "net/VersionAnswer.h"
#include "platform/Http.h"
#include "platform/System.h"

namespace {

using kivo::platform::IHttpRequest;
using kivo::platform::IHttpSession;

constexpr std::size_t kUrlBuffer = 500;  // a URL holds at most 499 bytes
constexpr std::size_t kDownloadBuffer = 51200;
constexpr std::size_t kAnswerBuffer = 10240;
constexpr long long kMinimumPageSize = 3072;

// An open transfer; the request is closed before the session.
struct Transfer {
    std::unique_ptr<IHttpSession> session;
    std::unique_ptr<IHttpRequest> request;
};

bool FitsUrlBuffer(const std::string& url) {
    return url.size() < kUrlBuffer && url.find('\0') == std::string::npos;
}

// Opens `url`; false, with nothing left open, when there is no answer.
bool Open(CConfig& config, const std::string& url, Transfer& transfer) {
    if (!FitsUrlBuffer(url)) return false;
    transfer.session = config.HttpClient()->Open(kivo::net::kUserAgent);
    if (!transfer.session) return false;
    transfer.request = transfer.session->OpenUrl(url.c_str());
    if (!transfer.request) {
        transfer.session.reset();
        return false;
    }
    return true;
}

struct BodyCopy {
    bool broken = false;        // the transfer broke off
    bool writeFailed = false;   // not every byte reached the file
};

// Reads the body in chunks of at most 51199 bytes and writes each to `file`.
BodyCopy CopyBody(IHttpRequest& request, std::FILE* file) {
    BodyCopy result;
    char buffer[kDownloadBuffer];
    std::size_t got = 1;
    while (got > 0) {
        if (!request.Read(buffer, kDownloadBuffer - 1, got)) {
            result.broken = true;
            got = 0;
        }
        if (got > 0 && std::fwrite(buffer, 1, got, file) != got) result.writeFailed = true;
    }
    if (std::fflush(file) != 0) result.writeFailed = true;
    return result;
}

}  // namespace

int CConfig::DownloadFile(const std::string& url, const std::string& path) {
    Transfer transfer;
    if (!Open(*this, url, transfer)) return 0;
    // The download goes to a sibling file, which replaces the copy only once
    // it is complete: a reader of `path` sees the old copy or the new one.
    const std::string part = path + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) return 0;
    const BodyCopy copy = CopyBody(*transfer.request, file);
    const long long length = kivo::platform::FileLength(file);
    const bool closed = std::fclose(file) == 0;
    if (copy.broken || copy.writeFailed || !closed) {
        // A transfer that broke off, or a page the disk refused: what arrived
        // is dropped and the previous copy kept, never replaced by a part.
        kivo::platform::RemoveFile(part);
        return 0;
    }
    if (length >= kMinimumPageSize) {
        if (!kivo::platform::RenameOver(part, path)) kivo::platform::RemoveFile(part);
    } else {
        // Too short to be a page: no copy at all, so the server page is shown.
        kivo::platform::RemoveFile(part);
        kivo::platform::RemoveFile(path);
    }
    return 1;
}

int CConfig::DownloadUpdate(const std::string& url) {
    Transfer transfer;
    if (!Open(*this, url, transfer)) return 0;
    const std::string path = GetUpdatePath();
    kivo::platform::RemoveFile(path);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return 0;
    const BodyCopy copy = CopyBody(*transfer.request, file);
    const bool closed = std::fclose(file) == 0;
    // A cut-off installer, or anything but a program this system can start
    // (an error page, an empty body, another platform's installer), is never
    // announced or started.
    if (copy.broken || copy.writeFailed || !closed || !kivo::platform::IsStartableProgram(path) ||
        !DownloadSignature(url)) {
        kivo::platform::RemoveFile(path);
        kivo::platform::RemoveFile(path + ".sig");
        return 0;
    }
    return 1;
}

bool CConfig::DownloadSignature(const std::string& url) {
    if (m_strUpdateKey.empty()) return true;
    // The signature is published beside the installer; fetched whole, by the
    // same rules, and kept beside the downloaded file.
    const std::string path = GetUpdatePath() + ".sig";
    kivo::platform::RemoveFile(path);
    Transfer transfer;
    if (!Open(*this, url + ".sig", transfer)) return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const BodyCopy copy = CopyBody(*transfer.request, file);
    const bool closed = std::fclose(file) == 0;
    return !copy.broken && !copy.writeFailed && closed && IsTrustedInstaller();
}

int CConfig::CheckVersion(int nCurrentVersion, std::string& url) {
    const std::string server = kivo::net::ServerAddress();
    url = server + kivo::net::InstallerPath();
    Transfer transfer;
    if (!Open(*this, server + kivo::net::VersionPath(), transfer)) return 0;
    char answer[kAnswerBuffer] = {};
    std::size_t got = 0;
    if (!transfer.request->Read(answer, kAnswerBuffer - 1, got)) return 0;
    return kivo::net::AnnouncesNewerVersion(answer, got, nCurrentVersion) ? 1 : 0;
}

bool CConfig::PostMail(const std::string& email) {
    // The address is appended exactly as typed; a request that would not fit
    // the URL buffer is not sent rather than sent cut.
    const std::string url = kivo::net::ServerAddress() + "/postmail.php?email=" + email;
    Transfer transfer;
    return Open(*this, url, transfer);
}
