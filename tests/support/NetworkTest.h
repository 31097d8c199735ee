#pragma once
// Base of the tests against the test server, in both builds: one server for
// the suite, reset before every test, the program pointed at it and a record
// in a fresh folder whose transfers have short time-outs.
#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

#include "app/Core.h"
#include "platform/Http.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

// Results print as the traces say them.
namespace kivo::net {
inline void PrintTo(TransferResult result, std::ostream* out) { *out << Describe(result); }
inline void PrintTo(VersionCheck check, std::ostream* out) { *out << Describe(check); }
}  // namespace kivo::net

namespace kivo::test {

class NetworkTest : public ::testing::Test {
    TempDir m_dir;

protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Points the program at a loopback port on which nothing listens.
    static void UseClosedPort();
    // Serves `bytes` as the installer of this platform.
    void Publish(const std::string& bytes);

    static TestServer& Server() { return *s_server; }
    // The test's folder, with a separator at the end.
    std::string Dir() const { return m_dir.Path() + TempDir::kSeparator; }
    // Short time-outs keep the stall tests quick.
    static std::shared_ptr<platform::IHttpClient> Client() { return s_client; }

    // The program's core installed in Dir(), its transfers through Client().
    kivo::app::Core core{Dir()};
    CConfig& config = core.config;
    kivo::net::Transfers& transfers = core.transfers;
    kivo::net::PageCache& pages = core.pages;
    kivo::app::Updater& updater = core.updater;

private:
    static std::unique_ptr<TestServer> s_server;
    static std::shared_ptr<platform::IHttpClient> s_client;
};

}  // namespace kivo::test
