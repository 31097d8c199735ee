#include "tests/support/TestServer.h"

#include <signal.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <sstream>
#include <stdexcept>

#ifndef KIVO_SERVER_EXE
#error "KIVO_SERVER_EXE must name the test server"
#endif

namespace kivo::test {

TestServer::TestServer(std::vector<std::string> extraArgs)
    : dir_("kivo-server"), dbPath_(dir_.File("mail.db")) {
    std::vector<std::string> args = {"--port", "0", "--control-port", "0", "--db", dbPath_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    process_ = std::make_unique<Process>(KIVO_SERVER_EXE, args);
    // The first line: "listening <port> <control port>".
    std::string word;
    if (process_->WaitForOutput("\n", std::chrono::seconds(10))) {
        std::istringstream(process_->Output()) >> word >> port_ >> controlPort_;
    }
    if (word != "listening" || port_ <= 0 || controlPort_ <= 0) {
        const std::string said = process_->Output();
        process_.reset();
        throw std::runtime_error("TestServer: no ports reported by " KIVO_SERVER_EXE ": '" + said + "'");
    }
}

TestServer::~TestServer() {
    process_->Kill(SIGTERM);
    const int status = process_->Wait(std::chrono::seconds(5));
    if (status != 0) ADD_FAILURE() << "the test server ended with " << status << " (-1: killed after 5 s)";
}

std::string TestServer::HostPort() const { return "127.0.0.1:" + std::to_string(port_); }

std::string TestServer::BaseUrl() const { return "http://" + HostPort(); }

std::unique_ptr<httplib::Client> TestServer::MakeClient(int readTimeoutMs) const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client->set_url_encode(false);
    client->set_connection_timeout(5, 0);
    client->set_read_timeout(readTimeoutMs / 1000, (readTimeoutMs % 1000) * 1000);
    return client;
}

std::string TestServer::Control(const std::string& pathAndQuery) {
    httplib::Client client("127.0.0.1", controlPort_);
    client.set_url_encode(false);
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(10, 0);
    const auto res = client.Get(pathAndQuery);
    if (!res) {
        throw std::runtime_error("control GET " + pathAndQuery + " failed: " +
                                 httplib::to_string(res.error()));
    }
    if (res->status != 200) {
        throw std::runtime_error("control GET " + pathAndQuery + " answered " +
                                 std::to_string(res->status) + ": " + res->body);
    }
    return res->body;
}

}  // namespace kivo::test
