#include "net/Transfers.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>

#include "net/ServerAddress.h"
#include "net/VersionAnswer.h"
#include "platform/Http.h"
#include "platform/System.h"

namespace kivo::net {
namespace {

using kivo::platform::HttpRequestOptions;
using kivo::platform::IHttpRequest;
using kivo::platform::IHttpSession;

constexpr std::size_t kUrlBuffer = 500;  // a URL holds at most 499 bytes
constexpr std::size_t kDownloadBuffer = 51200;
constexpr std::size_t kAnswerBuffer = 10240;
constexpr long long kMinimumPageSize = 3072;
// A validators file is two short lines; anything longer is damaged.
constexpr std::size_t kValidatorsMax = 2048;
constexpr const char* kETagField = "ETag: ";
constexpr const char* kLastModifiedField = "Last-Modified: ";

// An open transfer; the request is closed before a session of its own.
struct Transfer {
    std::unique_ptr<IHttpSession> own;
    std::unique_ptr<IHttpRequest> request;
};

bool FitsUrlBuffer(const std::string& url) { return url.size() < kUrlBuffer && url.find('\0') == std::string::npos; }

// Opens `url` through `shared`, or a session of its own when none is given;
// false, with nothing left open, when there is no answer.
bool Open(kivo::platform::IHttpClient& client, const std::string& url, Transfer& transfer,
          const HttpRequestOptions& options = {}, IHttpSession* shared = nullptr) {
    if (!FitsUrlBuffer(url)) return false;
    if (shared == nullptr) {
        transfer.own = client.Open(kUserAgent);
        shared = transfer.own.get();
    }
    if (shared == nullptr) return false;
    transfer.request = shared->OpenUrl(url.c_str(), options);
    if (!transfer.request) {
        transfer.own.reset();
        return false;
    }
    return true;
}

// A validator as it may be stored and sent: printable, on one line.
bool IsValidatorText(const std::string& value) {
    return value.size() < 512 && std::none_of(value.begin(), value.end(),
                                              [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// The validators kept for a copy: "ETag: ..." and "Last-Modified: ..."
// lines, at least one. Missing, unreadable or anything else: none, and the
// request goes without condition.
std::optional<HttpRequestOptions> ReadValidators(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::nullopt;
    std::string text(kValidatorsMax + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file));
    std::fclose(file);
    if (text.size() > kValidatorsMax || text.empty() || text.back() != '\n') return std::nullopt;
    HttpRequestOptions validators;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find('\n', start);
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        std::string* field = nullptr;
        std::string value;
        if (line.rfind(kETagField, 0) == 0) {
            field = &validators.ifNoneMatch;
            value = line.substr(std::strlen(kETagField));
        } else if (line.rfind(kLastModifiedField, 0) == 0) {
            field = &validators.ifModifiedSince;
            value = line.substr(std::strlen(kLastModifiedField));
        }
        if (field == nullptr || !field->empty() || value.empty() || !IsValidatorText(value)) return std::nullopt;
        *field = value;
    }
    return validators;
}

// Keeps the validators of the answer just stored at `path`, written whole
// or not at all. An answer without any (or with unusable ones) keeps none.
void WriteValidators(const std::string& path, const IHttpRequest& request) {
    const std::string target = Transfers::ValidatorsPath(path);
    std::string text;
    const std::string etag = request.ETag(), lastModified = request.LastModified();
    if (!etag.empty() && IsValidatorText(etag)) text += kETagField + etag + "\n";
    if (!lastModified.empty() && IsValidatorText(lastModified)) text += kLastModifiedField + lastModified + "\n";
    if (text.empty()) return;
    const std::string part = target + ".part";
    std::FILE* file = std::fopen(part.c_str(), "wb");
    if (file == nullptr) return;
    bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    written = std::fclose(file) == 0 && written;
    if (!written || !kivo::platform::RenameOver(part, target)) kivo::platform::RemoveFile(part);
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
        case TransferResult::kReplaced:
            return "replaced";
        case TransferResult::kUnchanged:
            return "unchanged, kept";
        case TransferResult::kTooShort:
            return "too short, removed";
        case TransferResult::kCutOff:
            return "cut off, kept";
        case TransferResult::kNotReached:
            return "not reached, kept";
        case TransferResult::kNotWritten:
            return "not written, kept";
        case TransferResult::kNotAProgram:
            return "not a program, removed";
        case TransferResult::kUnsigned:
            return "no good signature, removed";
    }
    return "?";
}

const char* Describe(VersionCheck check) {
    switch (check) {
        case VersionCheck::kNewer:
            return "newer version";
        case VersionCheck::kNotNewer:
            return "no newer version";
        case VersionCheck::kNotReached:
            return "not reached";
        case VersionCheck::kCutOff:
            return "cut off";
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

std::unique_ptr<IHttpSession> Transfers::OpenSession() { return HttpClient()->Open(kUserAgent); }

std::string Transfers::ValidatorsPath(const std::string& path) { return path + ".validators"; }

TransferResult Transfers::DownloadFile(const std::string& url, const std::string& path, IHttpSession* session) {
    // Validators go only with a copy to keep: a page removed by hand is
    // fetched whole whatever was kept beside it.
    HttpRequestOptions options;
    bool conditional = false;
    if (kivo::platform::IsReadableFile(path)) {
        if (auto validators = ReadValidators(ValidatorsPath(path))) {
            options = std::move(*validators);
            conditional = true;
        }
    }
    options.acceptGzip = true;
    Transfer transfer;
    if (!Open(*HttpClient(), url, transfer, options, session)) return TransferResult::kNotReached;
    if (conditional && transfer.request->Status() == 304) return TransferResult::kUnchanged;
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
        kivo::platform::RemoveFile(ValidatorsPath(path));
        return TransferResult::kTooShort;
    }
    // The old validators go before the copy changes: validators that outlive
    // their copy would have the server confirm a page this one is not.
    kivo::platform::RemoveFile(ValidatorsPath(path));
    if (!kivo::platform::RenameOver(part, path)) {
        kivo::platform::RemoveFile(part);
        return TransferResult::kNotWritten;
    }
    WriteValidators(path, *transfer.request);
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
    HttpRequestOptions options;
    options.acceptGzip = true;
    Transfer transfer;
    if (!Open(*HttpClient(), server + VersionPath(), transfer, options)) return VersionCheck::kNotReached;
    char answer[kAnswerBuffer] = {};
    std::size_t got = 0;
    if (!transfer.request->Read(answer, kAnswerBuffer - 1, got)) return VersionCheck::kCutOff;
    // An answer that ended early is judged only once its end is known to be
    // the body's end, not a break: a cut "version:1001" must not count as 10.
    char rest[1];
    std::size_t more = 0;
    if (got < kAnswerBuffer - 1 && !transfer.request->Read(rest, sizeof rest, more)) return VersionCheck::kCutOff;
    return AnnouncesNewerVersion(answer, got, nCurrentVersion) ? VersionCheck::kNewer : VersionCheck::kNotNewer;
}

bool Transfers::PostMail(const std::string& email) {
    // The address is appended exactly as typed; a request that would not fit
    // the URL buffer is not sent rather than sent cut.
    const std::string url = ServerAddress() + "/postmail.php?email=" + email;
    Transfer transfer;
    return Open(*HttpClient(), url, transfer);
}

}  // namespace kivo::net
