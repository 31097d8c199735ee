#include "ControlService.h"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

#include "TextCodec.h"

namespace kivo::server {
namespace {

constexpr std::uint64_t kMaxBodySize = 1ull << 30;  // 1 GiB of pattern bytes
constexpr std::uint64_t kMaxWaitMs = 10ull * 60 * 1000;

void Ok(httplib::Response& res, const std::string& body = "ok") {
    res.status = 200;
    res.set_content(body, "text/plain");
}

void BadRequest(httplib::Response& res, const std::string& why) {
    res.status = 400;
    res.set_content("400 " + why + "\n", "text/plain");
}

std::optional<std::uint64_t> UnsignedParam(const httplib::Request& req, const char* name,
                                           std::uint64_t max) {
    if (!req.has_param(name)) return std::nullopt;
    const std::string text = req.get_param_value(name);
    std::uint64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() || value > max) {
        return std::nullopt;
    }
    return value;
}

std::string Lines(const std::vector<std::string>& items) {
    std::string out;
    for (const std::string& item : items) {
        out += item;
        out += '\n';
    }
    return out;
}

}  // namespace

void ControlService::Install(httplib::Server& server) {
    server.Get("/fault", [this](const httplib::Request& req, httplib::Response& res) {
        SetFault(req, res);
    });
    server.Get("/fault/clear", [this](const httplib::Request& req, httplib::Response& res) {
        if (req.has_param("path")) {
            faults_.Clear(req.get_param_value("path"));
        } else {
            faults_.ClearAll();
        }
        Ok(res);
    });
    server.Get("/version", [this](const httplib::Request& req, httplib::Response& res) {
        const auto number = UnsignedParam(req, "number", UINT64_MAX);
        if (!number) return BadRequest(res, "number must be a non-negative integer");
        release_.SetVersion(*number);
        Ok(res);
    });
    server.Get("/update", [this](const httplib::Request& req, httplib::Response& res) {
        if (!req.has_param("path")) return BadRequest(res, "path is required (empty for none)");
        release_.SetUpdateFile(req.get_param_value("platform"), req.get_param_value("path"));
        Ok(res);
    });
    server.Get("/requests", [this](const httplib::Request&, httplib::Response& res) {
        Ok(res, Lines(log_.Snapshot()));
    });
    server.Get("/requests/clear", [this](const httplib::Request&, httplib::Response& res) {
        log_.Clear();
        Ok(res);
    });
    server.Get("/emails", [this](const httplib::Request&, httplib::Response& res) {
        std::vector<std::string> hex;
        for (const std::string& address : mail_.All()) hex.push_back(HexEncode(address));
        Ok(res, Lines(hex));
    });
    server.Get("/emails/clear", [this](const httplib::Request&, httplib::Response& res) {
        mail_.Clear();
        Ok(res);
    });
    server.Get("/reset", [this](const httplib::Request&, httplib::Response& res) {
        faults_.ClearAll();
        log_.Clear();
        release_.Reset();
        Ok(res);
    });
    server.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr ep) {
            std::string what = "unknown error";
            try {
                if (ep) std::rethrow_exception(ep);
            } catch (const std::exception& e) {
                what = e.what();
            } catch (...) {
            }
            res.status = 500;
            res.set_content("500 " + what + "\n", "text/plain");
        });
}

void ControlService::SetFault(const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.get_param_value("path");
    if (path.empty() || path.front() != '/') return BadRequest(res, "path must start with '/'");
    const std::string mode = req.get_param_value("mode");

    Fault fault;
    const auto size = [&] { return UnsignedParam(req, "size", kMaxBodySize); };
    const auto ms = [&] { return UnsignedParam(req, "ms", kMaxWaitMs); };
    if (mode == "size" || mode == "cut") {
        const auto n = size();
        if (!n) return BadRequest(res, "size must be 0.." + std::to_string(kMaxBodySize));
        fault.mode = mode == "size" ? FaultMode::Size : FaultMode::Cut;
        fault.size = static_cast<std::size_t>(*n);
    } else if (mode == "status") {
        const auto code = UnsignedParam(req, "code", 599);
        if (!code || *code < 200) return BadRequest(res, "code must be 200..599");
        const auto n = req.has_param("size") ? size() : std::optional<std::uint64_t>(0);
        if (!n) return BadRequest(res, "size must be 0.." + std::to_string(kMaxBodySize));
        fault.mode = FaultMode::Status;
        fault.code = static_cast<int>(*code);
        fault.size = static_cast<std::size_t>(*n);
    } else if (mode == "stall") {
        const auto t = ms();
        if (!t) return BadRequest(res, "ms must be 0.." + std::to_string(kMaxWaitMs));
        fault.mode = FaultMode::Stall;
        fault.ms = static_cast<std::uint32_t>(*t);
    } else if (mode == "slow") {
        const auto n = size();
        const auto t = ms();
        if (!n || !t) return BadRequest(res, "slow needs size and ms");
        fault.mode = FaultMode::Slow;
        fault.size = static_cast<std::size_t>(*n);
        fault.ms = static_cast<std::uint32_t>(*t);
    } else if (mode == "body") {
        if (!req.has_param("hex")) return BadRequest(res, "body needs hex");
        auto bytes = HexDecode(req.get_param_value("hex"));
        if (!bytes) return BadRequest(res, "hex must be an even number of hex digits");
        fault.mode = FaultMode::Body;
        fault.body = std::move(*bytes);
    } else {
        return BadRequest(res, "mode must be size, status, cut, stall, slow or body");
    }
    faults_.Set(path, std::move(fault));
    Ok(res);
}

}  // namespace kivo::server
