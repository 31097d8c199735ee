// Runs the test server (kivo-server-double: kivo-server's pages and routes
// with a control port) on ephemeral ports for one test (or suite) and steers
// it through its control port (ServerControl).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/Process.h"
#include "tests/support/ServerControl.h"
#include "tests/support/TempDir.h"

namespace httplib {
class Client;
}

namespace kivo::test {

class TestServer final : public ServerControl {
public:
    // Starts kivo-server with --port 0 --control-port 0 --db <fresh dir>/mail.db
    // followed by `extraArgs` (e.g. {"--update-file", path}). Throws
    // std::runtime_error when the server does not report its ports within 10 s.
    explicit TestServer(std::vector<std::string> extraArgs = {});
    // Stops the server (SIGTERM, SIGKILL after 5 s); a server that does not
    // exit with status 0 is reported as a test failure.
    ~TestServer() override;

    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int Port() const { return port_; }
    int ControlPort() const { return controlPort_; }
    std::string HostPort() const;  // "127.0.0.1:<port>"
    std::string BaseUrl() const;   // "http://127.0.0.1:<port>"
    const std::string& DbPath() const { return dbPath_; }
    const TempDir& Dir() const { return dir_; }

    // A client for the public port; request paths are sent exactly as given.
    std::unique_ptr<httplib::Client> MakeClient(int readTimeoutMs = 5000) const;

    // GET on the control port; returns the body.
    std::string Control(const std::string& pathAndQuery) override;

    static TempDir MakeTempDir(std::string_view prefix = "kivo-test") { return TempDir(prefix); }

private:
    TempDir dir_;
    std::string dbPath_;
    std::unique_ptr<Process> process_;
    int port_ = 0;
    int controlPort_ = 0;
};

}  // namespace kivo::test
