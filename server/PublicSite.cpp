#include "PublicSite.h"

#include <array>
#include <ctime>
#include <iostream>
#include <unordered_map>

#include "TextCodec.h"

namespace kivo::server {
namespace {

enum Step { kFresh = 0, kQueued, kStored };

constexpr std::string_view kNotFound = "404 not found\n";

std::string HttpDate(std::time_t time) {
    std::tm parts{};
    gmtime_r(&time, &parts);
    char text[64];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

std::time_t ParseHttpDate(std::string_view text) {
    std::tm parts{};
    const std::string copy(text);
    const char* end = strptime(copy.c_str(), "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return end != nullptr && *end == '\0' ? timegm(&parts) : -1;
}

// If-None-Match holds `etag` (weak comparison) or "*".
bool TagListed(std::string_view list, std::string_view etag) {
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        std::string_view tag = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        while (!tag.empty() && (tag.front() == ' ' || tag.front() == '\t')) tag.remove_prefix(1);
        while (!tag.empty() && (tag.back() == ' ' || tag.back() == '\t')) tag.remove_suffix(1);
        if (tag.starts_with("W/")) tag.remove_prefix(2);
        if (tag == "*" || tag == etag) return true;
    }
    return false;
}

void FreeContentReference(void* reference) { delete static_cast<std::shared_ptr<const Content>*>(reference); }

void AddCacheHeaders(MHD_Response* response, const PublicFile& file, bool gzip) {
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, file.cacheControl.c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_ETAG, (gzip ? file.gzipEtag : file.etag).c_str());
    MHD_add_response_header(response, MHD_HTTP_HEADER_LAST_MODIFIED, HttpDate(file.lastModified).c_str());
    if (file.HasGzip()) MHD_add_response_header(response, MHD_HTTP_HEADER_VARY, MHD_HTTP_HEADER_ACCEPT_ENCODING);
}

}  // namespace

// The answers of one file in one form (as it is, or its gzip form), made once
// per snapshot and queued as they are on every request for it.
struct PublicSite::Prepared {
    MHD_Response* full = nullptr;
    MHD_Response* notModified = nullptr;
};

struct PublicSite::Snapshot {
    explicit Snapshot(std::shared_ptr<const Content> from) : content(std::move(from)) {
        for (const auto& [name, file] : content->Files()) {
            prepared_[&file][0] = Prepare(file, false);
            if (file.HasGzip()) prepared_[&file][1] = Prepare(file, true);
        }
    }
    ~Snapshot() {
        for (auto& [file, forms] : prepared_) {
            for (Prepared& prepared : forms) {
                if (prepared.full == nullptr) continue;
                MHD_destroy_response(prepared.full);
                MHD_destroy_response(prepared.notModified);
            }
        }
    }
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    // The form of `file` to send: gzip when the file has one and it is wanted.
    const Prepared* Of(const PublicFile* file, bool gzip) const {
        const auto it = prepared_.find(file);
        if (it == prepared_.end()) return nullptr;
        return &it->second[gzip && file->HasGzip() ? 1 : 0];
    }

    std::shared_ptr<const Content> content;
    std::unordered_map<const PublicFile*, std::array<Prepared, 2>> prepared_;

private:
    Prepared Prepare(const PublicFile& file, bool gzip) {
        const std::string& body = gzip ? file.gzipBody : file.body;
        Prepared prepared;
        // The body stays in the snapshot's content, which each response
        // keeps alive for as long as a connection may still send it.
        prepared.full = MHD_create_response_from_buffer_with_free_callback_cls(
            body.size(), const_cast<char*>(body.data()), &FreeContentReference,
            new std::shared_ptr<const Content>(content));
        MHD_add_response_header(prepared.full, MHD_HTTP_HEADER_CONTENT_TYPE, file.contentType.c_str());
        if (gzip) MHD_add_response_header(prepared.full, MHD_HTTP_HEADER_CONTENT_ENCODING, "gzip");
        AddCacheHeaders(prepared.full, file, gzip);
        prepared.notModified = MHD_create_response_from_buffer(0, nullptr, MHD_RESPMEM_PERSISTENT);
        AddCacheHeaders(prepared.notModified, file, gzip);
        return prepared;
    }
};

PublicSite::PublicSite(std::shared_ptr<const Content> content, MailStore& mail)
    : snapshot_(std::make_shared<Snapshot>(std::move(content))),
      notFound_(HttpServer::TextResponse(kNotFound)),
      mail_(mail),
      mailWriter_([this] { WriteMail(); }) {}

PublicSite::~PublicSite() {
    Close();
    MHD_destroy_response(notFound_);
}

void PublicSite::Publish(std::shared_ptr<const Content> content) {
    auto next = std::make_shared<const Snapshot>(std::move(content));
    std::lock_guard<std::mutex> lock(mutex_);
    snapshot_.swap(next);
}

std::shared_ptr<const Content> PublicSite::Current() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return snapshot_->content;
}

MHD_Result PublicSite::Handle(Exchange& exchange) {
    const std::string_view path = exchange.Path();
    if (path == "/postmail.php" && exchange.Method() == "GET") return Subscribe(exchange);
    if (!exchange.IsGet()) return exchange.Reply(404, notFound_, kNotFound.size());

    std::shared_ptr<const Snapshot> snapshot;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        snapshot = snapshot_;
    }
    const PublicFile* file = path == Content::kVersionPath ? &snapshot->content->VersionFor(exchange.Query("platform"))
                                                           : snapshot->content->Find(path);
    const bool gzip =
        file != nullptr && file->HasGzip() && AcceptsGzip(exchange.Header(MHD_HTTP_HEADER_ACCEPT_ENCODING));
    const Prepared* prepared = snapshot->Of(file, gzip);
    if (prepared == nullptr) return exchange.Reply(404, notFound_, kNotFound.size());

    const std::string_view tags = exchange.Header(MHD_HTTP_HEADER_IF_NONE_MATCH);
    const std::string_view since = exchange.Header(MHD_HTTP_HEADER_IF_MODIFIED_SINCE);
    const bool unchanged = !tags.empty() ? TagListed(tags, gzip ? file->gzipEtag : file->etag)
                                         : !since.empty() && file->lastModified <= ParseHttpDate(since);
    return unchanged ? exchange.Reply(304, prepared->notModified)
                     : exchange.Reply(200, prepared->full, (gzip ? file->gzipBody : file->body).size());
}

std::string PublicSite::AddressFromTarget(std::string_view target) {
    const std::size_t query = target.find('?');
    if (query == std::string_view::npos) return {};
    const std::string_view key = "email=";
    const std::size_t at = target.find(key, query + 1);
    if (at == std::string_view::npos) return {};
    return PercentDecode(target.substr(at + key.size()));
}

MHD_Result PublicSite::Subscribe(Exchange& exchange) {
    if (exchange.step == kStored) {
        return exchange.value > 0 ? exchange.Text(200, "ok") : exchange.Text(500, "500 cannot store the address\n");
    }
    std::string address = AddressFromTarget(exchange.Target());
    if (address.empty()) return exchange.Text(400, "400 missing email\n");
    exchange.scratch = std::move(address);
    if (!exchange.CanSuspend()) {  // a thread of its own: write here
        Store(exchange);
        return Subscribe(exchange);
    }
    std::lock_guard<std::mutex> lock(mailMutex_);
    if (closed_) return exchange.Text(503, "503 shutting down\n", true);
    exchange.step = kQueued;
    MHD_suspend_connection(exchange.Connection());
    mailQueue_.push_back(&exchange);
    mailReady_.notify_one();
    return MHD_YES;
}

void PublicSite::Store(Exchange& exchange) {
    try {
        mail_.Add(exchange.scratch);
        exchange.value = 1;
    } catch (const std::exception& e) {
        std::cerr << "kivo-server: postmail: " << e.what() << "\n";
        exchange.value = -1;
    }
    exchange.step = kStored;
}

void PublicSite::WriteMail() {
    std::unique_lock<std::mutex> lock(mailMutex_);
    for (;;) {
        mailReady_.wait(lock, [this] { return closed_ || !mailQueue_.empty(); });
        if (mailQueue_.empty()) return;
        Exchange* exchange = mailQueue_.front();
        mailQueue_.pop_front();
        lock.unlock();
        Store(*exchange);
        MHD_resume_connection(exchange->Connection());
        lock.lock();
    }
}

void PublicSite::Close() {
    {
        std::lock_guard<std::mutex> lock(mailMutex_);
        closed_ = true;
    }
    mailReady_.notify_all();
    if (mailWriter_.joinable()) mailWriter_.join();
}

}  // namespace kivo::server
