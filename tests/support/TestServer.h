#pragma once
// The test server (tests/server_double: kivo-server's pages and routes with
// a control port) and the tests' hold on it through that port: answers and
// faults per path, the published version and installers, and what it
// received. On Linux each TestServer runs a server of its own on ephemeral
// ports; on Windows it is the one scripts/test-windows.sh runs on the Linux
// side (KIVO_TEST_SERVER host:port, KIVO_TEST_CONTROL_PORT).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/System.h"
#include "tests/support/TempDir.h"

namespace httplib {
class Client;
}

namespace kivo::test {

class Process;

#ifndef _WIN32
// A client of 127.0.0.1:`port`; request paths are sent exactly as given.
std::unique_ptr<httplib::Client> HttpClientFor(int port, int readTimeoutMs = 5000);
#endif

class TestServer {
public:
    // Throws std::runtime_error without a server: on Linux when it reports
    // no ports within 10 s, on Windows when the variables are not set.
    TestServer();
    // On Linux stops the server (SIGTERM); one that does not exit with
    // status 0 within 5 s is reported as a test failure.
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    std::string HostPort() const { return "127.0.0.1:" + std::to_string(m_port); }
    std::string BaseUrl() const { return "http://" + HostPort(); }
#ifdef _WIN32
    // The Linux path of the program the script signed for it to serve as
    // installer (KIVO_TEST_UPDATER).
    static std::string Updater();
#else
    // HttpClientFor the public port.
    std::unique_ptr<httplib::Client> MakeClient(int readTimeoutMs = 5000) const;
#endif

    // Faults taking over a path: n pattern bytes (server/Pattern.h) with 200
    // or `code`; n announced, n/2 sent, then the connection dropped; silence
    // for `ms`, then the normal answer; n bytes paced over `ms`; raw bytes.
    void SetSize(std::string_view path, std::size_t n) { SetFault(path, "size&size=" + std::to_string(n)); }
    void SetStatus(std::string_view path, int code, std::size_t n) {
        SetFault(path, "status&code=" + std::to_string(code) + "&size=" + std::to_string(n));
    }
    void SetCut(std::string_view path, std::size_t n) { SetFault(path, "cut&size=" + std::to_string(n)); }
    void SetStall(std::string_view path, int ms) { SetFault(path, "stall&ms=" + std::to_string(ms)); }
    void SetSlow(std::string_view path, std::size_t n, int ms) {
        SetFault(path, "slow&size=" + std::to_string(n) + "&ms=" + std::to_string(ms));
    }
    void SetBody(std::string_view path, std::string_view rawBytes);
    // n pattern bytes sent gzipped (Content-Encoding: gzip) whether asked or
    // not; a gzip body that does not decode.
    void SetGzip(std::string_view path, std::size_t n) { SetFault(path, "gzip&size=" + std::to_string(n)); }
    void SetGzipBody(std::string_view path, std::string_view rawBytes);
    void SetBadGzip(std::string_view path) { SetFault(path, "badgzip"); }
    // The first half of n pattern bytes gzipped: a whole body, a cut stream.
    void SetGzipCut(std::string_view path, std::size_t n) { SetFault(path, "gzipcut&size=" + std::to_string(n)); }
    // Pages answered plain and unconditionally, each connection closed after
    // its answer; off again at Reset.
    void SetCloseEach(bool on) { Control(std::string("/close-each?on=") + (on ? "1" : "0")); }
    // Connections the public port accepted since the last Reset or clear.
    int Connections() { return std::stoi(Control("/connections")); }
    void ClearConnections() { Control("/connections/clear"); }
    // Requests that carried If-None-Match or If-Modified-Since since Reset.
    int ConditionalRequests() { return std::stoi(Control("/conditional")); }
    void ClearFaults() { Control("/fault/clear"); }
    void SetVersion(std::uint64_t number) { Control("/version?number=" + std::to_string(number)); }
    // The installer offered to `platform` ("" is Windows), by default the
    // platform of the program under test: the server's own path of the file,
    // read at each request (empty: none).
    void SetUpdateFile(std::string_view path, std::string_view platform = platform::UpdatePlatform());
    std::vector<std::string> Requests();  // raw public targets, arrival order
    void ClearRequests() { Control("/requests/clear"); }
    std::vector<std::string> Emails();  // raw address bytes, insertion order
    void ClearEmails() { Control("/emails/clear"); }
    // Faults, version, installers, close-each, counters and request log; not
    // the addresses.
    void Reset() { Control("/reset"); }

private:
    // GET on the control port; the body. Throws std::runtime_error unless
    // answered 200.
    std::string Control(const std::string& pathAndQuery);
    void SetFault(std::string_view path, const std::string& mode);

    int m_port = 0;
    int m_controlPort = 0;
#ifndef _WIN32
    TempDir m_dir{"kivo-server"};
    std::unique_ptr<Process> m_process;
#endif
};

}  // namespace kivo::test
