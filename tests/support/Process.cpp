#include "tests/support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <stdexcept>

extern char** environ;

namespace kivo::test {

Process::Process(const std::string& path, const std::vector<std::string>& args, const std::vector<std::string>& env,
                 const ProcessOptions& options)
    : m_group(options.group) {
    std::vector<std::string> environment;
    for (char** e = environ; *e != nullptr; ++e) environment.emplace_back(*e);
    for (const auto& entry : env) {
        const std::string name = entry.substr(0, entry.find('=') + 1);
        std::erase_if(environment, [&](const std::string& e) { return e.rfind(name, 0) == 0; });
        environment.push_back(entry);
    }
    std::vector<char*> argv{const_cast<char*>(path.c_str())};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (auto& e : environment) envp.push_back(e.data());
    envp.push_back(nullptr);

    int pipeFds[2] = {-1, -1};
    if (options.log.empty() && ::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    m_pid = ::fork();
    if (m_pid < 0) throw std::runtime_error("fork");
    if (m_pid == 0) {
        if (options.group) ::setpgid(0, 0);
        if (options.log.empty()) {
            ::dup2(pipeFds[1], 1);
        } else if (const int log = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644); log >= 0) {
            ::dup2(log, 1);
            ::dup2(log, 2);
        }
        if (options.keepFd >= 0) ::fcntl(options.keepFd, F_SETFD, 0);
        ::execvpe(path.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }
    if (options.group) ::setpgid(m_pid, m_pid);
    if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    m_out = pipeFds[0];
}

Process::~Process() {
    if (!m_ended) {
        Kill(SIGTERM);
        Wait(std::chrono::seconds(2));
    }
    if (m_out >= 0) ::close(m_out);
}

void Process::Drain(int timeoutMs) {
    if (m_out < 0) {
        ::usleep(static_cast<useconds_t>(timeoutMs) * 1000);
        return;
    }
    pollfd pfd{m_out, POLLIN, 0};
    if (::poll(&pfd, 1, timeoutMs) <= 0) return;
    char buffer[4096];
    const ssize_t n = ::read(m_out, buffer, sizeof buffer);
    if (n > 0) {
        m_output.append(buffer, static_cast<std::size_t>(n));
    } else {
        ::close(m_out);
        m_out = -1;
    }
}

int Process::Wait(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!m_ended) {
        int status = 0;
        const pid_t r = ::waitpid(m_pid, &status, WNOHANG);
        if (r == m_pid) {
            m_ended = true;
            m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (std::chrono::steady_clock::now() > end) {
            Kill(SIGKILL);
            ::waitpid(m_pid, &status, 0);
            m_ended = true;
            m_status = -1;
            break;
        }
        Drain(20);
    }
    while (m_out >= 0) Drain(200);
    return m_status;
}

bool Process::WaitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (m_output.find(text) == std::string::npos) {
        if (m_out < 0 || std::chrono::steady_clock::now() > end) return false;
        Drain(50);
    }
    return true;
}

void Process::Kill(int signal) {
    if (!m_ended && m_pid > 0) ::kill(m_group ? -m_pid : m_pid, signal);
}

const std::string& Process::Output() {
    if (m_out >= 0) Drain(0);
    return m_output;
}

std::string InstallProgram(const std::string& from, const std::string& dir, const std::string& name) {
    const std::string target = dir + "/" + name;
    std::ifstream in(from, std::ios::binary);
    std::ofstream out(target, std::ios::binary);
    out << in.rdbuf();
    out.close();
    if (!in || !out) throw std::runtime_error("cannot install " + from);
    ::chmod(target.c_str(), 0755);
    return target;
}

std::string InstallHeadless(const std::string& dir) { return InstallProgram(KIVO_HEADLESS_EXE, dir, "kivo-headless"); }

}  // namespace kivo::test
