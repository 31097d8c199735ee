#include "PublicService.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>

#include "Pattern.h"
#include "TextCodec.h"

namespace kivo::server {
namespace {

constexpr std::size_t kWriteChunk = 64 * 1024;
constexpr std::size_t kSlowSteps = 16;
const char* const kBinaryType = "application/octet-stream";

void NotFound(httplib::Response& res) {
    res.status = 404;
    res.set_content("404 not found\n", "text/plain");
}

bool WritePattern(httplib::DataSink& sink, std::size_t offset, std::size_t count) {
    const std::string bytes = PatternBytes(count, offset);
    return sink.write(bytes.data(), bytes.size());
}

// status with `size` pattern bytes; `cutAt` < size drops the connection after that many.
void PatternAnswer(httplib::Response& res, int status, std::size_t size, std::size_t cutAt) {
    res.status = status;
    if (size == 0) {
        res.set_content("", kBinaryType);
        return;
    }
    res.set_content_provider(size, kBinaryType,
                             [cutAt](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                 if (offset >= cutAt) return false;
                                 const std::size_t n = std::min({length, kWriteChunk, cutAt - offset});
                                 return WritePattern(sink, offset, n);
                             });
}

}  // namespace

void PublicService::Install(httplib::Server& server) {
    server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        try {
            Handle(req, res);
        } catch (const std::exception& e) {
            std::cerr << "kivo-server: " << req.method << " " << req.target << ": " << e.what()
                      << "\n";
            res = httplib::Response();
            res.status = 500;
            res.set_content("500 internal error\n", "text/plain");
        }
        return httplib::Server::HandlerResponse::Handled;
    });
}

void PublicService::Handle(const httplib::Request& req, httplib::Response& res) {
    log_.Add(req.target);
    const std::string_view target = req.target;
    const std::string_view path = target.substr(0, target.find('?'));

    if (req.method != "GET") {
        NotFound(res);
        return;
    }
    if (const auto fault = faults_.Find(std::string(path))) {
        if (ApplyFault(*fault, res)) return;
    }
    Route(path, req, res);
}

bool PublicService::ApplyFault(const Fault& fault, httplib::Response& res) {
    switch (fault.mode) {
        case FaultMode::Size:
            PatternAnswer(res, 200, fault.size, fault.size);
            return true;
        case FaultMode::Status:
            PatternAnswer(res, fault.code, fault.size, fault.size);
            return true;
        case FaultMode::Cut:
            PatternAnswer(res, 200, fault.size, fault.size / 2);
            return true;
        case FaultMode::Body:
            res.status = 200;
            res.set_content(fault.body, kBinaryType);
            return true;
        case FaultMode::Stall:
            if (stop_.WaitFor(std::chrono::milliseconds(fault.ms))) return false;
            res.status = 503;
            res.set_header("Connection", "close");
            res.set_content("503 shutting down\n", "text/plain");
            return true;
        case FaultMode::Slow: {
            res.status = 200;
            if (fault.size == 0) {
                res.set_content("", kBinaryType);
                return true;
            }
            struct Pace {
                std::size_t size;
                std::size_t steps;
                std::chrono::milliseconds total;
                std::chrono::steady_clock::time_point start{};
            };
            auto pace = std::make_shared<Pace>(Pace{fault.size, std::min(kSlowSteps, fault.size),
                                                    std::chrono::milliseconds(fault.ms)});
            StopSignal& stop = stop_;
            res.set_content_provider(
                fault.size, kBinaryType,
                [pace, &stop](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                    if (offset == 0) pace->start = std::chrono::steady_clock::now();
                    // Step k carries bytes [k*size/steps, (k+1)*size/steps) and
                    // goes out at (k+1)/steps of the total time.
                    std::size_t step = 0;
                    while ((step + 1) * pace->size / pace->steps <= offset) ++step;
                    const std::size_t end = std::min((step + 1) * pace->size / pace->steps, offset + length);
                    const auto due = pace->start + pace->total * static_cast<long>(step + 1) /
                                                       static_cast<long>(pace->steps);
                    if (!stop.WaitUntil(due)) return false;
                    return WritePattern(sink, offset, end - offset);
                });
            return true;
        }
    }
    return false;
}

void PublicService::Route(std::string_view path, const httplib::Request& req,
                          httplib::Response& res) {
    static constexpr std::string_view kUpdatePrefix = "/update/";
    static constexpr std::string_view kUpdateSuffix = "/update";
    static constexpr std::string_view kSignature = ".sig";
    // Each installer's signature stands beside it, at its address + ".sig".
    std::string_view installer = path;
    const bool signature = path.ends_with(kSignature);
    if (signature) installer.remove_suffix(kSignature.size());
    if (path == "/kivoversion.php") {
        res.status = 200;
        const std::string platform = req.get_param_value("platform");
        res.set_content("version:" + std::to_string(release_.VersionFor(platform)), "text/plain");
    } else if (installer == "/update/update.exe") {
        ServeUpdate("", signature, res);
    } else if (installer.size() > kUpdatePrefix.size() + kUpdateSuffix.size() && installer.starts_with(kUpdatePrefix) &&
               installer.ends_with(kUpdateSuffix)) {
        const std::string_view platform = installer.substr(
            kUpdatePrefix.size(), installer.size() - kUpdatePrefix.size() - kUpdateSuffix.size());
        if (platform.find('/') != std::string_view::npos) NotFound(res);
        else ServeUpdate(std::string(platform), signature, res);
    } else if (path == "/postmail.php") {
        ServeMail(req, res);
    } else if (const ContentItem* item = catalog_.Find(path)) {
        res.status = 200;
        res.set_content(item->body, item->contentType);
    } else {
        NotFound(res);
    }
}

void PublicService::ServeUpdate(const std::string& platform, bool signature, httplib::Response& res) {
    const std::string installer = release_.UpdateFile(platform);
    const std::string file = installer.empty() || !signature ? installer : installer + ".sig";
    if (file.empty()) {
        NotFound(res);
        return;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        NotFound(res);
        return;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        NotFound(res);
        return;
    }
    res.status = 200;
    res.set_content(bytes, kBinaryType);
}

std::string PublicService::AddressFromTarget(std::string_view target) {
    const std::size_t query = target.find('?');
    if (query == std::string_view::npos) return {};
    const std::string_view key = "email=";
    const std::size_t at = target.find(key, query + 1);
    if (at == std::string_view::npos) return {};
    return PercentDecode(target.substr(at + key.size()));
}

void PublicService::ServeMail(const httplib::Request& req, httplib::Response& res) {
    const std::string address = AddressFromTarget(req.target);
    if (address.empty()) {
        res.status = 400;
        res.set_content("400 missing email\n", "text/plain");
        return;
    }
    mail_.Add(address);
    res.status = 200;
    res.set_content("ok", "text/plain");
}

}  // namespace kivo::server
