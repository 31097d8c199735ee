// The kivo-server package as an operator gets it: lintian on both packages,
// installed with apt, its unit checked by systemd-analyze, its ExecStart run
// as the unit's user would run it (no systemd here: a stand-in NOTIFY_SOCKET
// receives the readiness), an upgrade that keeps the operator's data and
// options, then a purge that leaves nothing behind. Needs root and the
// packages scripts/package.sh builds (KIVO_TEST_DEB, KIVO_TEST_SERVER_DEB);
// skipped without them.
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Socket.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestServer.h"
#include "tests/support/Wait.h"

namespace {

using namespace std::chrono_literals;
using kivo::test::Env;
using kivo::test::Exists;
using kivo::test::Process;
using kivo::test::ReadBytes;
using kivo::test::TempDir;
using kivo::test::WriteBytes;

const char* const kUnit = "/lib/systemd/system/kivo-server.service";
const char* const kOptions = "/etc/default/kivo-server";

int Command(const std::vector<std::string>& command, std::string* output = nullptr) {
    std::vector<std::string> args{"-c", "exec \"$0\" \"$@\" 2>&1"};
    args.insert(args.end(), command.begin(), command.end());
    Process process("sh", args);
    const int status = process.Wait(std::chrono::minutes(5));
    if (output != nullptr) *output = process.Output();
    return status;
}

int Apt(std::vector<std::string> args, std::string* output = nullptr) {
    args.insert(args.begin(), {"apt-get", "-y", "-q", "-o", "DPkg::Lock::Timeout=300"});
    return Command(args, output);
}

// The value of `key=` in a unit or environment file (the last one wins).
std::string Setting(const std::string& text, const std::string& key) {
    std::string value;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(key + "=", 0) == 0) value = line.substr(key.size() + 1);
    }
    return value;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;) words.push_back(word);
    return words;
}

// A unix datagram socket standing in for systemd's notification socket.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path_(path) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
            throw std::runtime_error("cannot bind " + path);
        ::chmod(path.c_str(), 0777);  // the service's user sends to it
        const timeval wait{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~NotifySocket() {
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    // The next message holding `text`; empty when none comes in time.
    std::string Await(const std::string& text, std::chrono::seconds timeout = 20s) {
        for (const auto end = std::chrono::steady_clock::now() + timeout; std::chrono::steady_clock::now() < end;) {
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
            if (n <= 0) continue;
            const std::string message(buffer, static_cast<std::size_t>(n));
            if (message.find(text) != std::string::npos) return message;
        }
        return "";
    }

private:
    std::string path_;
    int fd_ = -1;
};

class ServerPackage : public ::testing::Test {
protected:
    void SetUp() override {
        if (::getuid() != 0 || Env("KIVO_TEST_DEB").empty() || Env("KIVO_TEST_SERVER_DEB").empty())
            GTEST_SKIP() << "needs root and the packages (KIVO_TEST_DEB, KIVO_TEST_SERVER_DEB)";
    }
    void TearDown() override {
        if (installed_) Apt({"purge", "kivo-server"});
        if (::getpwnam("kivo-server") != nullptr) Command({"userdel", "kivo-server"});
    }
    bool installed_ = false;
};

TEST_F(ServerPackage, LintianCleanInstallsRunsConfinedAsItsUserKeepsDataOnUpgradeAndPurgesClean) {
    std::string output;
    EXPECT_EQ(
        Command({"lintian", "--fail-on", "error,warning", Env("KIVO_TEST_DEB"), Env("KIVO_TEST_SERVER_DEB")}, &output),
        0)
        << output;

    ASSERT_EQ(Apt({"install", "--no-install-recommends", Env("KIVO_TEST_SERVER_DEB")}, &output), 0) << output;
    installed_ = true;
    std::string listing;
    ASSERT_EQ(Command({"dpkg-query", "-L", "kivo-server"}, &listing), 0);
    for (const std::string file : {"/usr/bin/kivo-server", kUnit, kOptions, "/etc/logrotate.d/kivo-server",
                                   "/usr/share/man/man1/kivo-server.1.gz", "/usr/share/doc/kivo-server/copyright",
                                   "/usr/share/doc/kivo-server/changelog.Debian.gz"}) {
        EXPECT_NE(listing.find(file + "\n"), std::string::npos) << file;
    }
    const passwd* user = ::getpwnam("kivo-server");
    ASSERT_NE(user, nullptr);
    struct stat data {};
    ASSERT_EQ(::stat("/var/lib/kivo-server/data/today.txt", &data), 0) << "the sample lists are not in place";
    EXPECT_EQ(data.st_uid, user->pw_uid);

    // The unit as systemd reads it, and its confinement.
    EXPECT_EQ(Command({"systemd-analyze", "verify", kUnit}, &output), 0) << output;
    EXPECT_EQ(Command({"systemd-analyze", "security", "--offline=true", kUnit}, &output), 0) << output;
    std::smatch exposure;
    ASSERT_TRUE(std::regex_search(output, exposure,
                                  std::regex("Overall exposure level for kivo-server.service: ([0-9.]+) (\\w+)")))
        << output;
    EXPECT_LE(std::stod(exposure[1]), 2.0) << output;
    EXPECT_EQ(exposure[2], "OK");

    // The operator's edit point: loopback ports for the test.
    const int port = kivo::test::FreePort(), metricsPort = kivo::test::FreePort();
    std::string options = ReadBytes(kOptions).value_or("");
    for (const auto& [from, to] : std::vector<std::pair<std::string, std::string>>{
             {"--host 0.0.0.0", "--host 127.0.0.1"},
             {"--port 80", "--port " + std::to_string(port)},
             {"--metrics 127.0.0.1:9180", "--metrics 127.0.0.1:" + std::to_string(metricsPort)}}) {
        ASSERT_NE(options.find(from), std::string::npos) << options;
        options.replace(options.find(from), from.size(), to);
    }
    WriteBytes(kOptions, options);

    // ExecStart as the unit's user runs it, $KIVO_SERVER_OPTS split at blanks.
    const std::string unit = ReadBytes(kUnit).value_or("");
    ASSERT_EQ(Setting(unit, "Type"), "notify");
    ASSERT_EQ(Setting(unit, "ExecReload"), "/bin/kill -HUP $MAINPID");
    std::vector<std::string> command{"--reuid=" + Setting(unit, "User"), "--regid=" + Setting(unit, "Group"),
                                     "--init-groups", "--no-new-privs"};
    for (const std::string& word : Words(Setting(unit, "ExecStart"))) {
        if (word != "$KIVO_SERVER_OPTS") {
            command.push_back(word);
            continue;
        }
        std::string value = Setting(options, "KIVO_SERVER_OPTS");
        if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
        for (const std::string& option : Words(value)) command.push_back(option);
    }
    TempDir dir("kivo-package");
    ::chmod(dir.Path().c_str(), 0755);
    NotifySocket notify(dir.File("notify"));
    auto server =
        std::make_unique<Process>("setpriv", command, std::vector<std::string>{"NOTIFY_SOCKET=" + dir.File("notify")},
                                  kivo::test::ProcessOptions{dir.File("server.log")});
    const auto log = [&] { return ReadBytes(dir.File("server.log")).value_or(""); };
    ASSERT_NE(notify.Await("READY=1"), "") << log();
    auto client = kivo::test::HttpClientFor(port);
    const auto page = client->Get("/sml/today.html");
    ASSERT_TRUE(page && page->status == 200) << log();
    const auto metrics = kivo::test::HttpClientFor(metricsPort)->Get("/metrics");
    ASSERT_TRUE(metrics && metrics->status == 200);
    EXPECT_NE(metrics->body.find("kivo_http_requests_total{route=\"/sml/\",code=\"200\"} 1"), std::string::npos)
        << metrics->body;
    EXPECT_TRUE(kivo::test::WaitUntil(
        [] {
            return ReadBytes("/var/log/kivo-server/access.log").value_or("").find("GET /sml/today.html") !=
                   std::string::npos;
        },
        5s));
    server->Kill(SIGHUP);  // ExecReload
    EXPECT_NE(notify.Await("RELOADING=1"), "") << log();
    EXPECT_NE(notify.Await("READY=1"), "") << log();
    server->Kill(SIGTERM);
    EXPECT_NE(notify.Await("STOPPING=1"), "") << log();
    EXPECT_EQ(server->Wait(10s), 0) << log();

    // An upgrade (the same package again) keeps the lists and the options.
    WriteBytes("/var/lib/kivo-server/data/today.txt", "# the operator's own\n");
    ASSERT_EQ(
        Apt({"install", "--reinstall", "-o", "Dpkg::Options::=--force-confold", Env("KIVO_TEST_SERVER_DEB")}, &output),
        0)
        << output;
    EXPECT_EQ(ReadBytes("/var/lib/kivo-server/data/today.txt"), "# the operator's own\n");
    EXPECT_EQ(ReadBytes(kOptions), options);

    ASSERT_EQ(Apt({"purge", "kivo-server"}, &output), 0) << output;
    installed_ = false;
    std::istringstream files(listing);
    for (std::string path; std::getline(files, path);) {
        struct stat entry {};
        if (path != "/." && ::stat(path.c_str(), &entry) == 0) {
            EXPECT_TRUE(S_ISDIR(entry.st_mode)) << path << " remains";
        }
    }
    for (const std::string path : {"/var/lib/kivo-server", "/var/log/kivo-server", "/usr/share/kivo-server",
                                   "/etc/systemd/system/multi-user.target.wants/kivo-server.service"}) {
        struct stat entry {};
        EXPECT_NE(::lstat(path.c_str(), &entry), 0) << path << " remains";
    }
}

}  // namespace
