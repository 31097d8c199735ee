#pragma once
// The kivo-server that scripts/test-windows.sh runs on the Linux side for the
// Windows tests, reached on loopback:
//   KIVO_TEST_SERVER        host:port of its public port
//   KIVO_TEST_CONTROL_PORT  its control port
//   KIVO_TEST_UPDATER       Linux path of the file it may serve as installer
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/TempDir.h"

namespace kivo::test {

// GET over a plain socket, independent of the client under test; the body.
// Throws std::runtime_error when there is no complete answer.
std::string RawGet(const std::string& hostPort, const std::string& target, int* status = nullptr);

class Server {
public:
    static std::string HostPort();
    static std::string BaseUrl() { return "http://" + HostPort(); }
    // The control port's answer to a GET; throws unless answered 200.
    static std::string Control(const std::string& pathAndQuery);

    static void SetSize(std::string_view path, std::size_t n);
    static void SetStatus(std::string_view path, int code, std::size_t n);
    static void SetCut(std::string_view path, std::size_t n);
    static void SetStall(std::string_view path, int ms);
    static void SetSlow(std::string_view path, std::size_t n, int ms);
    static void SetVersion(std::uint64_t number);
    static void SetUpdateFile(std::string_view linuxPath);
    static std::vector<std::string> Requests();  // raw targets, arrival order
    static std::vector<std::string> Emails();    // raw address bytes
    static void Reset();  // faults, request log and addresses cleared
};

// Base of the tests against the server: short time-outs for the suite, the
// program pointed at the server and a fresh folder for each test.
class ServerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Points the program at a loopback port on which nothing listens.
    static void UseClosedPort();
    // The folder with a trailing backslash.
    std::string Dir() const { return m_dir.Path() + "\\"; }

private:
    TempDir m_dir{"kivo-win"};
};

}  // namespace kivo::test
