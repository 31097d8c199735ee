#include "net/Transfers.h"

#include <cstdio>
#include <cstring>

#include "net/ServerAddress.h"
#include "net/VersionAnswer.h"
#include "platform/Http.h"
#include "platform/System.h"

namespace kivo::net {
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
bool Open(kivo::platform::IHttpClient& client, const std::string& url, Transfer& transfer) {
    if (!FitsUrlBuffer(url)) return false;
    transfer.session = client.Open(kUserAgent);
    if (!transfer.session) return false;
    transfer.request = transfer.session->OpenUrl(url.c_str());
    if (!transfer.request) {
        transfer.session.reset();
        return false;
    }
    return true;
}

// Reads the body in chunks of at most 51199 bytes into `path` and closes it:
// Replaced, CutOff or NotWritten, and the file's length.
TransferResult CopyBody(IHttpRequest& request, const std::string& path, long long* length = nullptr) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return TransferResult::kNotWritten;
    bool broken = false, writeFailed = false;
    char buffer[kDownloadBuffer];
    std::size_t got = 1;
    while (got > 0) {
        if (!request.Read(buffer, kDownloadBuffer - 1, got)) {
            broken = true;
            got = 0;
        }
        if (got > 0 && std::fwrite(buffer, 1, got, file) != got) writeFailed = true;
    }
    if (std::fflush(file) != 0) writeFailed = true;
    if (length != nullptr) *length = kivo::platform::FileLength(file);
    if (std::fclose(file) != 0) writeFailed = true;
    if (broken) return TransferResult::kCutOff;
    return writeFailed ? TransferResult::kNotWritten : TransferResult::kReplaced;
}

}  // namespace

const char* Describe(TransferResult result) {
    switch (result) {
        case TransferResult::kReplaced: return "replaced";
        case TransferResult::kTooShort: return "too short, removed";
        case TransferResult::kCutOff: return "cut off, kept";
        case TransferResult::kNotReached: return "not reached, kept";
        case TransferResult::kNotWritten: return "not written, kept";
        case TransferResult::kNotAProgram: return "not a program, removed";
        case TransferResult::kUnsigned: return "no good signature, removed";
    }
    return "?";
}

const char* Describe(VersionCheck check) {
    switch (check) {
        case VersionCheck::kNewer: return "newer version";
        case VersionCheck::kNotNewer: return "no newer version";
        case VersionCheck::kNotReached: return "not reached";
        case VersionCheck::kCutOff: return "cut off";
    }
    return "?";
}

Transfers::Transfers(std::shared_ptr<kivo::platform::IHttpClient> client) : http_(std::move(client)) {}

Transfers::~Transfers() = default;

void Transfers::SetHttpClient(std::shared_ptr<kivo::platform::IHttpClient> client) {
    std::lock_guard<std::mutex> lock(mutex_);
    http_ = std::move(client);
}

std::shared_ptr<kivo::platform::IHttpClient> Transfers::HttpClient() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!http_) http_ = kivo::platform::CreateHttpClient();
    return http_;
}

TransferResult Transfers::DownloadFile(const std::string& url, const std::string& path) {
    Transfer transfer;
    if (!Open(*HttpClient(), url, transfer)) return TransferResult::kNotReached;
    // The download goes to a sibling file, which replaces the copy only once
    // it is complete: a reader of `path` sees the old copy or the new one.
    const std::string part = path + ".part";
    long long length = -1;
    const TransferResult copied = CopyBody(*transfer.request, part, &length);
    if (copied != TransferResult::kReplaced) {
        // A transfer that broke off, or a page the disk refused: what arrived
        // is dropped and the previous copy kept, never replaced by a part.
        kivo::platform::RemoveFile(part);
        return copied;
    }
    if (length < kMinimumPageSize) {
        // Too short to be a page: no copy at all, so the server page is shown.
        kivo::platform::RemoveFile(part);
        kivo::platform::RemoveFile(path);
        return TransferResult::kTooShort;
    }
    if (!kivo::platform::RenameOver(part, path)) {
        kivo::platform::RemoveFile(part);
        return TransferResult::kNotWritten;
    }
    return TransferResult::kReplaced;
}

TransferResult Transfers::DownloadWhole(const std::string& url, const std::string& path) {
    Transfer transfer;
    if (!Open(*HttpClient(), url, transfer)) return TransferResult::kNotReached;
    kivo::platform::RemoveFile(path);
    const TransferResult copied = CopyBody(*transfer.request, path);
    if (copied != TransferResult::kReplaced) kivo::platform::RemoveFile(path);
    return copied;
}

VersionCheck Transfers::CheckVersion(int nCurrentVersion, std::string& url) {
    const std::string server = ServerAddress();
    url = server + InstallerPath();
    Transfer transfer;
    if (!Open(*HttpClient(), server + VersionPath(), transfer)) return VersionCheck::kNotReached;
    char answer[kAnswerBuffer] = {};
    std::size_t got = 0;
    if (!transfer.request->Read(answer, kAnswerBuffer - 1, got)) return VersionCheck::kCutOff;
    // An answer that ended early is judged only once its end is known to be
    // the body's end, not a break: a cut "version:1001" must not count as 10.
    char rest[1];
    std::size_t more = 0;
    if (got < kAnswerBuffer - 1 && !transfer.request->Read(rest, sizeof rest, more)) return VersionCheck::kCutOff;
    return AnnouncesNewerVersion(answer, got, nCurrentVersion) ? VersionCheck::kNewer
                                                                            : VersionCheck::kNotNewer;
}

bool Transfers::PostMail(const std::string& email) {
    // The address is appended exactly as typed; a request that would not fit
    // the URL buffer is not sent rather than sent cut.
    const std::string url = ServerAddress() + "/postmail.php?email=" + email;
    Transfer transfer;
    return Open(*HttpClient(), url, transfer);
}

}  // namespace kivo::net
