#pragma once
// The kivo-server that scripts/test-windows.sh runs on the Linux side for the
// Windows tests, reached on loopback:
//   KIVO_TEST_SERVER        host:port of its public port
//   KIVO_TEST_CONTROL_PORT  its control port
//   KIVO_TEST_UPDATER       Linux path of the file it may serve as installer
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "app/Config.h"
#include "platform/Http.h"
#include "tests/support/ServerControl.h"
#include "tests/support/TempDir.h"

namespace kivo::test {

// GET over a plain socket, independent of the client under test; the body.
// Throws std::runtime_error when there is no complete answer.
std::string RawGet(const std::string& hostPort, const std::string& target, int* status = nullptr);

class ScriptServer final : public ServerControl {
public:
    std::string Control(const std::string& pathAndQuery) override;
    static std::string HostPort();
    static std::string BaseUrl() { return "http://" + HostPort(); }
    // The Linux path of the program it may serve as installer.
    static std::string Updater();
};

ScriptServer& Server();

// Base of the tests against the server: the server reset, the program pointed
// at it and a record in a fresh folder whose transfers have short time-outs.
class ServerTest : public ::testing::Test {
    TempDir m_dir{"kivo-win"};

protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite() { s_client.reset(); }
    void SetUp() override;
    void TearDown() override;

    // Points the program at a loopback port on which nothing listens (1).
    static void UseClosedPort();
    // The folder with a trailing backslash.
    std::string Dir() const { return m_dir.Path() + "\\"; }

    CConfig config{Dir()};
    static std::shared_ptr<platform::IHttpClient> s_client;
};

}  // namespace kivo::test
