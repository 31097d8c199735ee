#include "Operations.h"

#include <systemd/sd-daemon.h>

#include <charconv>
#include <iostream>

namespace kivo::server {

std::uint64_t PublishedVersion(const Content& content) {
    const std::string& body = content.VersionFor("").body;
    const std::size_t colon = body.find(':');
    std::uint64_t version = 0;
    if (colon != std::string::npos) std::from_chars(body.data() + colon + 1, body.data() + body.size(), version);
    return version;
}

Operations::Operations(const ServerOptions& options, const PublicSite& site, MailStore& mail) {
    metrics_.SetVersion([&site] { return PublishedVersion(*site.Current()); });
    metrics_.SetSubscriptions([&mail] { return static_cast<std::uint64_t>(mail.All().size()); });
    if (!options.accessLog.empty()) {
        log_ = std::make_unique<AccessLog>(options.accessLog);
        metrics_.SetDroppedLogLines([log = log_.get()] { return log->Dropped(); });
    }
    if (!options.exportTo.empty()) {
        export_ = std::make_unique<ExportTree>(options.exportTo);
        export_->Publish(*site.Current());
    }
    if (!options.metricsHost.empty()) {
        metricsServer_ = std::make_unique<MetricsServer>(metrics_, options.metricsHost, options.metricsPort);
    }
}

std::vector<RequestObserver*> Operations::Observers() {
    std::vector<RequestObserver*> observers{&metrics_};
    if (log_) observers.push_back(log_.get());
    return observers;
}

void Operations::Reloaded(const Content* content) {
    metrics_.Reloaded(content != nullptr);
    if (content == nullptr || !export_) return;
    try {
        export_->Publish(*content);
    } catch (const std::exception& e) {
        std::cerr << "kivo-server: export: " << e.what() << "; the exported tree stays as it was\n";
    }
}

void Operations::ReopenLog() {
    if (log_) log_->Reopen();
}

void Operations::Ready() { sd_notify(0, "READY=1\nSTATUS=serving"); }

void Operations::Reloading() { sd_notify(0, "RELOADING=1"); }

void Operations::Stopping() {
    sd_notify(0, "STOPPING=1");
    if (metricsServer_) metricsServer_->Stop();
    if (log_) log_->Flush();
}

}  // namespace kivo::server
