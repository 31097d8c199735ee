#pragma once
// The program's transfers, through one HTTP client. Each opens its own session
// and request (or uses the session it is given, whose connection is kept
// alive between transfers), blocks the calling thread until it is done and
// closes everything it opened before it returns, on every path. Pages and
// the version answer are asked for gzip and stored decoded; a page with a
// copy is asked for only when it changed. Every result says what happened
// and cannot be dropped unread.
#include <memory>
#include <mutex>
#include <string>

namespace kivo::platform {
class IHttpClient;
class IHttpSession;
}  // namespace kivo::platform

namespace kivo::net {

// What a download did to the file it was given.
enum class [[nodiscard]] TransferResult{
    kReplaced,     // the whole answer is the file now
    kUnchanged,    // the server still has the copy's version: the file is untouched
    kTooShort,     // shorter than a page: no copy is left, so the server's page is shown
    kCutOff,       // the transfer broke off: the file is as it was
    kNotReached,   // no answer (unreachable, refused, time-out, bad URL): the file is as it was
    kNotWritten,   // the disk refused it: the file is as it was (an installer: gone)
    kNotAProgram,  // an installer that is no program this system can start: gone
    kUnsigned,     // an installer without a good signature by the update key: gone
};

// A short phrase for traces: "replaced", "too short, removed", ...
const char* Describe(TransferResult result);

// What the version probe learnt.
enum class [[nodiscard]] VersionCheck{
    kNewer,       // the server announces a greater number
    kNotNewer,    // an answer without a greater number, or no valid answer
    kNotReached,  // no answer
    kCutOff,      // the answer broke off
};

const char* Describe(VersionCheck check);

class Transfers {
public:
    // Transfers through `client`; none: the operating system's backend with
    // its default time-outs, made at the first transfer.
    explicit Transfers(std::shared_ptr<kivo::platform::IHttpClient> client = nullptr);
    ~Transfers();
    Transfers(const Transfers&) = delete;
    Transfers& operator=(const Transfers&) = delete;

    void SetHttpClient(std::shared_ptr<kivo::platform::IHttpClient> client);
    std::shared_ptr<kivo::platform::IHttpClient> HttpClient();

    // A session for several transfers, which then share its connection; null
    // when none can be opened.
    std::unique_ptr<kivo::platform::IHttpSession> OpenSession();

    // A page into `path`: through a ".part" sibling that replaces the copy only
    // once it is whole and at least 3072 bytes long (decoded); a shorter
    // answer removes the copy. Anything else leaves the copy as it was. The
    // ETag and Last-Modified of the answer stored are kept beside the copy
    // (ValidatorsPath) and sent with the next request while the copy is
    // there: the server's 304 leaves the copy untouched (Unchanged). Through
    // `session` when given, else through a session of its own.
    [[nodiscard]] TransferResult DownloadFile(const std::string& url, const std::string& path,
                                              kivo::platform::IHttpSession* session = nullptr);
    // Where the validators of the copy at `path` are kept: `path` +
    // ".validators", written whole through a ".part" sibling of its own.
    static std::string ValidatorsPath(const std::string& path);
    // The whole body into `path`, written in place and of any length; a
    // transfer that broke off or could not be written leaves no file. Only
    // NotReached leaves the file at `path` as it was.
    [[nodiscard]] TransferResult DownloadWhole(const std::string& url, const std::string& path);
    // Asks the server's version answer whether a version greater than
    // `nCurrentVersion` is published. `url` is set to this build's installer
    // address first, on every path.
    [[nodiscard]] VersionCheck CheckVersion(int nCurrentVersion, std::string& url);
    // Returns whether the request was sent; the answer is never read.
    [[nodiscard]] bool PostMail(const std::string& email);

private:
    std::mutex mutex_;
    std::shared_ptr<kivo::platform::IHttpClient> http_;  // under mutex_
};

}  // namespace kivo::net
