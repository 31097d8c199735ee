#include "tests/support/TestServer.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "tests/support/Socket.h"

#ifndef _WIN32
#include <signal.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include "tests/support/Process.h"

#ifndef KIVO_SERVER_EXE
#error "KIVO_SERVER_EXE must name the test server"
#endif
#endif

namespace kivo::test {
namespace {

// Each byte as two hex digits, after `prefix`.
std::string Hex(std::string_view bytes, const char* prefix = "") {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        out.append(prefix).append(1, kDigits[b >> 4]).append(1, kDigits[b & 15]);
    }
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

#ifdef _WIN32
std::string Required(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0')
        throw std::runtime_error(std::string(name) + " is not set: run the suite with scripts/test-windows.sh");
    return value;
}
#endif

}  // namespace

#ifdef _WIN32

TestServer::TestServer() {
    const std::string server = Required("KIVO_TEST_SERVER");
    m_port = std::atoi(server.c_str() + server.rfind(':') + 1);
    m_controlPort = std::atoi(Required("KIVO_TEST_CONTROL_PORT").c_str());
}

TestServer::~TestServer() = default;

std::string TestServer::Updater() { return Required("KIVO_TEST_UPDATER"); }

#else

TestServer::TestServer() {
    m_process = std::make_unique<Process>(
        KIVO_SERVER_EXE, std::vector<std::string>{"--port", "0", "--control-port", "0", "--db", m_dir.File("mail.db")});
    // The first line: "listening <port> <control port>".
    std::string word;
    if (m_process->WaitForOutput("\n", std::chrono::seconds(10)))
        std::istringstream(m_process->Output()) >> word >> m_port >> m_controlPort;
    if (word != "listening" || m_port <= 0 || m_controlPort <= 0)
        throw std::runtime_error("no ports reported by " KIVO_SERVER_EXE ": '" + m_process->Output() + "'");
}

TestServer::~TestServer() {
    m_process->Kill(SIGTERM);
    const int status = m_process->Wait(std::chrono::seconds(5));
    if (status != 0) ADD_FAILURE() << "the test server ended with " << status << " (-1: killed after 5 s)";
}

std::unique_ptr<httplib::Client> HttpClientFor(int port, int readTimeoutMs) {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port);
    client->set_url_encode(false);
    client->set_connection_timeout(5, 0);
    client->set_read_timeout(readTimeoutMs / 1000, (readTimeoutMs % 1000) * 1000);
    return client;
}

std::unique_ptr<httplib::Client> TestServer::MakeClient(int readTimeoutMs) const {
    return HttpClientFor(m_port, readTimeoutMs);
}

#endif

std::string TestServer::Control(const std::string& pathAndQuery) {
    int status = 0;
    std::string body = RawGet(m_controlPort, pathAndQuery, &status);
    if (status != 200)
        throw std::runtime_error("control GET " + pathAndQuery + " answered " + std::to_string(status) + ": " + body);
    return body;
}

void TestServer::SetFault(std::string_view path, const std::string& mode) {
    Control("/fault?path=" + Hex(path, "%") + "&mode=" + mode);
}

void TestServer::SetBody(std::string_view path, std::string_view rawBytes) {
    SetFault(path, "body&hex=" + Hex(rawBytes));
}

void TestServer::SetGzipBody(std::string_view path, std::string_view rawBytes) {
    SetFault(path, "gzip&hex=" + Hex(rawBytes));
}

void TestServer::SetUpdateFile(std::string_view path, std::string_view platform) {
    Control("/update?path=" + Hex(path, "%") + "&platform=" + std::string(platform));
}

std::vector<std::string> TestServer::Requests() { return Lines(Control("/requests")); }

std::vector<std::string> TestServer::Emails() {
    std::vector<std::string> emails;
    for (const std::string& hex : Lines(Control("/emails"))) {
        std::string& email = emails.emplace_back();
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
            email.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return emails;
}

}  // namespace kivo::test
