#pragma once
// Base of the tests that talk to the content server: one server for the
// suite, reset before every test, and the program pointed at it.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"

namespace kivo::test {

class NetworkTest : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    void TearDown() override;

    // Points the program at a port on which nothing listens.
    static void UseClosedPort();

    static TestServer& Server() { return *s_server; }
    std::string Dir() const { return m_dir.Path() + "/"; }

private:
    static std::unique_ptr<TestServer> s_server;
    TempDir m_dir;
};

}  // namespace kivo::test
