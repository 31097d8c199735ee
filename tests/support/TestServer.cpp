#include "tests/support/TestServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef KIVO_SERVER_EXE
#error "KIVO_SERVER_EXE must name the kivo-server binary"
#endif

namespace kivo::test {
namespace {

constexpr std::chrono::seconds kStartTimeout{10};
constexpr std::chrono::seconds kStopTimeout{5};

std::string DescribeStatus(int status) {
    if (WIFEXITED(status)) return "exit status " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status)) return "signal " + std::to_string(WTERMSIG(status));
    return "status " + std::to_string(status);
}

}  // namespace

TestServer::TestServer(std::vector<std::string> extraArgs)
    : dir_("kivo-server"), dbPath_(dir_.File("mail.db")) {
    Start(extraArgs);
}

TestServer::~TestServer() { Stop(); }

void TestServer::Start(const std::vector<std::string>& extraArgs) {
    std::vector<std::string> args = {KIVO_SERVER_EXE, "--port", "0", "--control-port", "0",
                                     "--db", dbPath_};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2 failed: ") + std::strerror(errno));
    }
    const pid_t pid = fork();
    if (pid < 0) {
        const int err = errno;
        close(fds[0]);
        close(fds[1]);
        throw std::runtime_error(std::string("fork failed: ") + std::strerror(err));
    }
    if (pid == 0) {
        // Child: only async-signal-safe calls until execv.
        dup2(fds[1], STDOUT_FILENO);
        signal(SIGTERM, SIG_DFL);
        signal(SIGINT, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv.data());
        static const char kMessage[] = "TestServer: execv of kivo-server failed\n";
        const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
        (void)ignored;
        _exit(127);
    }
    close(fds[1]);
    pid_ = pid;
    stdoutFd_ = fds[0];

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + kStartTimeout;
    std::string failure;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            failure = "no 'listening' line within " + std::to_string(kStartTimeout.count()) + " s";
            break;
        }
        pollfd pfd{stdoutFd_, POLLIN, 0};
        const int rc = poll(&pfd, 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc <= 0) continue;
        char buf[256];
        const ssize_t n = read(stdoutFd_, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int status = 0;
            waitpid(pid_, &status, 0);
            pid_ = -1;
            failure = "kivo-server ended (" + DescribeStatus(status) +
                      ") before reporting its ports; see its stderr above";
            break;
        }
        line.append(buf, static_cast<std::size_t>(n));
    }
    if (failure.empty()) {
        std::istringstream in(line.substr(0, line.find('\n')));
        std::string word;
        if (!(in >> word >> port_ >> controlPort_) || word != "listening" || port_ <= 0 ||
            controlPort_ <= 0) {
            failure = "unexpected first line from kivo-server: '" + line + "'";
        }
    }
    if (!failure.empty()) {
        Stop();
        throw std::runtime_error("TestServer: " + failure + " (" + KIVO_SERVER_EXE + ")");
    }
}

void TestServer::Stop() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        bool exited = false;
        const auto deadline = std::chrono::steady_clock::now() + kStopTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            const pid_t rc = waitpid(pid_, &status, WNOHANG);
            if (rc == pid_ || (rc < 0 && errno != EINTR)) {
                exited = rc == pid_;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        if (!exited) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            ADD_FAILURE() << "kivo-server did not stop within " << kStopTimeout.count()
                          << " s of SIGTERM; killed";
        } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            ADD_FAILURE() << "kivo-server ended with " << DescribeStatus(status)
                          << " (see its stderr above)";
        }
        pid_ = -1;
    }
    if (stdoutFd_ >= 0) {
        close(stdoutFd_);
        stdoutFd_ = -1;
    }
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
