// What the server has done, in the Prometheus text format at /metrics of a
// listener of its own (meant for loopback): requests by route and status,
// body bytes sent, connections accepted and open, slow clients closed, reloads and failed
// reloads, the published version, stored subscriptions, and for each
// imported list the time of its last good import and the failures since.
// Counting is a relaxed atomic add on the event loops, each in counters of
// its own; everything else is
// gathered when /metrics is asked.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "HttpServer.h"

namespace kivo::server {

struct ListGauge {
    std::string page;              // the page file name, e.g. "today.html"
    std::int64_t lastSuccessUnix;  // 0: never
    int consecutiveFailures;
};

class Metrics final : public RequestObserver {
public:
    // The routes requests are counted under.
    enum Route { kPages, kVersion, kUpdates, kSubscribe, kOther, kRouteCount };
    static Route RouteOf(std::string_view path);
    static const char* RouteName(Route route);

    void Answered(const Exchange& exchange, unsigned status, std::uint64_t bodyBytes) override;
    void ConnectionOpened() override {
        open_.fetch_add(1, std::memory_order_relaxed);
        accepted_.fetch_add(1, std::memory_order_relaxed);
    }
    void ConnectionClosed() override { open_.fetch_sub(1, std::memory_order_relaxed); }
    void SlowClientClosed() override { slowClosed_.fetch_add(1, std::memory_order_relaxed); }

    void Count(Route route, unsigned status, std::uint64_t bodyBytes);
    void Reloaded(bool ok) { (ok ? reloads_ : failedReloads_).fetch_add(1, std::memory_order_relaxed); }

    // Asked at each scrape; each may throw, which leaves its lines out.
    void SetVersion(std::function<std::uint64_t()> version);
    void SetSubscriptions(std::function<std::uint64_t()> count);
    void SetDroppedLogLines(std::function<std::uint64_t()> count);
    void SetListGauges(std::function<std::vector<ListGauge>()> lists);

    // The whole exposition.
    std::string Render() const;

private:
    static constexpr unsigned kStatusCount = 600;  // 100..599; others count as 0
    // Each thread counts in one of several copies, so that the event loops
    // do not fight over the same cache lines; a scrape adds them up.
    static constexpr unsigned kShards = 8;
    struct alignas(64) Shard {
        std::array<std::array<std::atomic<std::uint64_t>, kStatusCount>, kRouteCount> requests{};
        std::array<std::atomic<std::uint64_t>, kRouteCount> bytes{};
    };
    std::unique_ptr<Shard[]> shards_ = std::make_unique<Shard[]>(kShards);
    std::atomic<std::int64_t> open_{0};
    std::atomic<std::uint64_t> accepted_{0};
    std::atomic<std::uint64_t> slowClosed_{0};
    std::atomic<std::uint64_t> reloads_{0};
    std::atomic<std::uint64_t> failedReloads_{0};

    mutable std::mutex mutex_;  // guards the sources below
    std::function<std::uint64_t()> version_;
    std::function<std::uint64_t()> subscriptions_;
    std::function<std::uint64_t()> droppedLogLines_;
    std::function<std::vector<ListGauge>()> lists_;
};

// The listener of the metrics: GET /metrics, 404 for anything else.
class MetricsServer {
public:
    // Throws std::runtime_error when it cannot listen on host:port.
    MetricsServer(const Metrics& metrics, const std::string& host, int port);
    int Port() const { return server_->Port(); }
    void Stop() { server_->Stop(); }

private:
    std::unique_ptr<HttpServer> server_;
};

}  // namespace kivo::server
