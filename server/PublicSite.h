// What the public port answers: the files of the current Content (pages,
// image, version answers, installers and signatures) with Cache-Control,
// ETag and Last-Modified, 304 to a matching conditional request, and
// /postmail.php, whose store writes run on a worker thread while the
// connection waits suspended, so that a slow database never holds an event
// loop.
#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "Content.h"
#include "HttpServer.h"
#include "MailStore.h"

namespace kivo::server {

class PublicSite {
public:
    PublicSite(std::shared_ptr<const Content> content, MailStore& mail);
    ~PublicSite();
    PublicSite(const PublicSite&) = delete;
    PublicSite& operator=(const PublicSite&) = delete;

    // From the next request on, everything is answered from `content`; a
    // request already answered keeps the snapshot it started with.
    void Publish(std::shared_ptr<const Content> content);
    std::shared_ptr<const Content> Current() const;

    MHD_Result Handle(Exchange& exchange);

    // Finishes the subscriptions under way; later ones are answered 503.
    // Call before the HTTP server stops.
    void Close();

    // The address carried by a raw /postmail.php target: everything after
    // the first "email=" of the query, %XX-decoded ('+' stays). Empty when
    // there is none.
    static std::string AddressFromTarget(std::string_view target);

private:
    struct Prepared;
    struct Snapshot;

    MHD_Result Subscribe(Exchange& exchange);
    void Store(Exchange& exchange);
    void WriteMail();

    mutable std::mutex mutex_;
    std::shared_ptr<const Snapshot> snapshot_;
    MHD_Response* notFound_;

    MailStore& mail_;
    std::mutex mailMutex_;
    std::condition_variable mailReady_;
    std::deque<Exchange*> mailQueue_;
    bool closed_ = false;
    std::thread mailWriter_;
};

}  // namespace kivo::server
