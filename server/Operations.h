// What an operator's machine asks of the serving process beside the pages:
// the access log, the metrics listener, the exported tree that follows each
// content change, and telling systemd when it is ready, reloading and
// stopping (sd_notify; nothing happens without NOTIFY_SOCKET).
#pragma once

#include <memory>
#include <vector>

#include "AccessLog.h"
#include "Content.h"
#include "ExportTree.h"
#include "MailStore.h"
#include "Metrics.h"
#include "PublicSite.h"
#include "ServerOptions.h"

namespace kivo::server {

class Operations {
public:
    // Opens the access log, starts the metrics listener and writes the
    // first exported tree, as the options ask; throws std::runtime_error
    // when one cannot be done.
    Operations(const ServerOptions& options, const PublicSite& site, MailStore& mail);

    // For HttpServer::Settings::observers.
    std::vector<RequestObserver*> Observers();
    Metrics& Counters() { return metrics_; }
    // The metrics listener's port; 0 without one.
    int MetricsPort() const { return metricsServer_ ? metricsServer_->Port() : 0; }

    // A reload published `content` (false: it was refused). Exports it.
    void Reloaded(const Content* content);
    void ReopenLog();

    void Ready();
    void Reloading();
    void Stopping();

private:
    Metrics metrics_;
    std::unique_ptr<AccessLog> log_;
    std::unique_ptr<MetricsServer> metricsServer_;
    std::unique_ptr<ExportTree> export_;
};

// "version:N" -> N; 0 when the answer holds no number.
std::uint64_t PublishedVersion(const Content& content);

}  // namespace kivo::server
