#include "tests/support/NetworkTest.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdlib>
#include <stdexcept>

#include "tests/support/Files.h"
#include "tests/support/Socket.h"

namespace kivo::test {
namespace {

// The path by which the server, on Linux, reads a file of the test: on
// Windows the name Wine gives it there.
std::string ServerPath(const std::string& path) {
#ifdef _WIN32
    using ToUnix = char*(CDECL*)(const wchar_t*);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* name = toUnix != nullptr ? toUnix(std::wstring(path.begin(), path.end()).c_str()) : nullptr;
    if (name == nullptr) throw std::runtime_error("no Linux name for " + path + ": the suite runs under Wine");
    const std::string unixPath = name;
    HeapFree(GetProcessHeap(), 0, name);
    return unixPath;
#else
    return path;
#endif
}

}  // namespace

std::unique_ptr<TestServer> NetworkTest::s_server;
std::shared_ptr<platform::IHttpClient> NetworkTest::s_client;

void NetworkTest::SetUpTestSuite() {
    s_server = std::make_unique<TestServer>();
    platform::HttpTimeouts timeouts;
    timeouts.connectMs = 2000;
    timeouts.stallMs = 1000;
    s_client = platform::CreateHttpClient(timeouts);
}

void NetworkTest::TearDownTestSuite() {
    s_client.reset();
    s_server.reset();
}

void NetworkTest::SetUp() {
    s_server->Reset();
    s_server->ClearEmails();
    transfers.SetHttpClient(s_client);
    ::setenv("KIVO_SERVER", s_server->HostPort().c_str(), 1);
}

void NetworkTest::TearDown() { ::unsetenv("KIVO_SERVER"); }

void NetworkTest::UseClosedPort() { ::setenv("KIVO_SERVER", ("127.0.0.1:" + std::to_string(FreePort())).c_str(), 1); }

void NetworkTest::Publish(const std::string& bytes) {
    WriteBytes(Dir() + "served", bytes);
    s_server->SetUpdateFile(ServerPath(Dir() + "served"));
}

}  // namespace kivo::test
