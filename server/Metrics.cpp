#include "Metrics.h"

#include <cstdio>
#include <exception>

namespace kivo::server {
namespace {

void Header(std::string& out, const char* name, const char* type, const char* help) {
    out += "# HELP ";
    out += name;
    out += ' ';
    out += help;
    out += "\n# TYPE ";
    out += name;
    out += ' ';
    out += type;
    out += '\n';
}

void Sample(std::string& out, const char* name, std::string_view labels, long double value) {
    char number[64];
    std::snprintf(number, sizeof number, "%.17Lg", value);
    out += name;
    if (!labels.empty()) {
        out += '{';
        out += labels;
        out += '}';
    }
    out += ' ';
    out += number;
    out += '\n';
}

// A label value with '\', '"' and newlines escaped.
std::string LabelValue(std::string_view text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

template <typename T>
bool Ask(const std::function<T()>& source, T& value) {
    if (!source) return false;
    try {
        value = source();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

Metrics::Route Metrics::RouteOf(std::string_view path) {
    if (path.starts_with("/sml/")) return kPages;
    if (path == "/kivoversion.php") return kVersion;
    if (path.starts_with("/update/")) return kUpdates;
    if (path == "/postmail.php") return kSubscribe;
    return kOther;
}

const char* Metrics::RouteName(Route route) {
    switch (route) {
        case kPages:
            return "/sml/";
        case kVersion:
            return "/kivoversion.php";
        case kUpdates:
            return "/update/";
        case kSubscribe:
            return "/postmail.php";
        default:
            return "other";
    }
}

void Metrics::Answered(const Exchange& exchange, unsigned status, std::uint64_t bodyBytes) {
    Count(RouteOf(exchange.Path()), status, bodyBytes);
}

void Metrics::Count(Route route, unsigned status, std::uint64_t bodyBytes) {
    static std::atomic<unsigned> threads{0};
    thread_local const unsigned mine = threads.fetch_add(1, std::memory_order_relaxed) % kShards;
    Shard& shard = shards_[mine];
    shard.requests[route][status < kStatusCount ? status : 0].fetch_add(1, std::memory_order_relaxed);
    shard.bytes[route].fetch_add(bodyBytes, std::memory_order_relaxed);
}

void Metrics::SetVersion(std::function<std::uint64_t()> version) {
    std::lock_guard<std::mutex> lock(mutex_);
    version_ = std::move(version);
}

void Metrics::SetSubscriptions(std::function<std::uint64_t()> count) {
    std::lock_guard<std::mutex> lock(mutex_);
    subscriptions_ = std::move(count);
}

void Metrics::SetDroppedLogLines(std::function<std::uint64_t()> count) {
    std::lock_guard<std::mutex> lock(mutex_);
    droppedLogLines_ = std::move(count);
}

void Metrics::SetListGauges(std::function<std::vector<ListGauge>()> lists) {
    std::lock_guard<std::mutex> lock(mutex_);
    lists_ = std::move(lists);
}

std::string Metrics::Render() const {
    std::string out;
    out.reserve(4096);
    Header(out, "kivo_http_requests_total", "counter", "Requests answered on the public port, by route and status.");
    for (int route = 0; route < kRouteCount; ++route) {
        for (unsigned status = 0; status < kStatusCount; ++status) {
            std::uint64_t n = 0;
            for (unsigned i = 0; i < kShards; ++i)
                n += shards_[i].requests[route][status].load(std::memory_order_relaxed);
            if (n == 0) continue;
            Sample(out, "kivo_http_requests_total",
                   std::string("route=\"") + RouteName(static_cast<Route>(route)) + "\",code=\"" +
                       (status ? std::to_string(status) : std::string("other")) + "\"",
                   static_cast<long double>(n));
        }
    }
    Header(out, "kivo_http_response_body_bytes_total", "counter", "Body bytes of the answers, by route.");
    for (int route = 0; route < kRouteCount; ++route) {
        std::uint64_t bytes = 0;
        for (unsigned i = 0; i < kShards; ++i) bytes += shards_[i].bytes[route].load(std::memory_order_relaxed);
        Sample(out, "kivo_http_response_body_bytes_total",
               std::string("route=\"") + RouteName(static_cast<Route>(route)) + "\"", static_cast<long double>(bytes));
    }
    Header(out, "kivo_http_connections_total", "counter", "Connections accepted on the public port.");
    Sample(out, "kivo_http_connections_total", "", static_cast<long double>(accepted_.load(std::memory_order_relaxed)));
    Header(out, "kivo_http_open_connections", "gauge", "Connections open on the public port.");
    Sample(out, "kivo_http_open_connections", "", static_cast<long double>(open_.load(std::memory_order_relaxed)));
    Header(out, "kivo_http_slow_clients_closed_total", "counter",
           "Connections closed because their request did not arrive in time.");
    Sample(out, "kivo_http_slow_clients_closed_total", "", static_cast<long double>(slowClosed_.load()));
    Header(out, "kivo_content_reloads_total", "counter", "Content reloads that were published.");
    Sample(out, "kivo_content_reloads_total", "", static_cast<long double>(reloads_.load()));
    Header(out, "kivo_content_reload_failures_total", "counter",
           "Content reloads refused because a file was bad (the previous content stays).");
    Sample(out, "kivo_content_reload_failures_total", "", static_cast<long double>(failedReloads_.load()));

    std::lock_guard<std::mutex> lock(mutex_);
    std::uint64_t value = 0;
    if (Ask(version_, value)) {
        Header(out, "kivo_content_version", "gauge", "The version number published to the Windows program.");
        Sample(out, "kivo_content_version", "", static_cast<long double>(value));
    }
    if (Ask(subscriptions_, value)) {
        Header(out, "kivo_subscriptions", "gauge", "E-mail addresses stored.");
        Sample(out, "kivo_subscriptions", "", static_cast<long double>(value));
    }
    if (Ask(droppedLogLines_, value)) {
        Header(out, "kivo_access_log_dropped_lines_total", "counter",
               "Access log lines lost to a failing disk or a full buffer.");
        Sample(out, "kivo_access_log_dropped_lines_total", "", static_cast<long double>(value));
    }
    std::vector<ListGauge> lists;
    if (Ask(lists_, lists) && !lists.empty()) {
        Header(out, "kivo_list_last_success_timestamp_seconds", "gauge",
               "When each imported list was last imported well (0: never).");
        for (const ListGauge& list : lists) {
            Sample(out, "kivo_list_last_success_timestamp_seconds", "page=\"" + LabelValue(list.page) + "\"",
                   static_cast<long double>(list.lastSuccessUnix));
        }
        Header(out, "kivo_list_consecutive_failures", "gauge", "Failed imports of each list since its last good one.");
        for (const ListGauge& list : lists) {
            Sample(out, "kivo_list_consecutive_failures", "page=\"" + LabelValue(list.page) + "\"",
                   static_cast<long double>(list.consecutiveFailures));
        }
    }
    return out;
}

MetricsServer::MetricsServer(const Metrics& metrics, const std::string& host, int port) {
    HttpServer::Settings settings;
    settings.host = host;
    settings.port = port;
    settings.eventThreads = 1;
    settings.maxConnections = 64;
    server_ = std::make_unique<HttpServer>(settings, [&metrics](Exchange& exchange) {
        if (exchange.Path() != "/metrics" || !exchange.IsGet()) return exchange.Text(404, "404 not found\n");
        const std::string text = metrics.Render();
        MHD_Response* response =
            MHD_create_response_from_buffer(text.size(), const_cast<char*>(text.data()), MHD_RESPMEM_MUST_COPY);
        MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/plain; version=0.0.4; charset=utf-8");
        const MHD_Result queued = exchange.Reply(200, response, text.size());
        MHD_destroy_response(response);
        return queued;
    });
}

}  // namespace kivo::server
