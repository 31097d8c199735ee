#pragma once
// Runs a program as a child process for the tests that look at programs from
// outside: the project's own and the desktop around them (X server, tray).
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kivo::test {

struct ProcessOptions {
    // Standard output and error go to this file; empty: standard output is
    // captured (Output()), standard error is this process's.
    std::string log;
    // The child leads a process group of its own, which is signalled whole.
    bool group = false;
    // A descriptor the child keeps open (e.g. Xvfb's -displayfd); -1: none.
    int keepFd = -1;
};

class Process {
public:
    // Starts `path` (searched in PATH when it has no '/') with `args`; `env`
    // entries ("NAME=value") replace or add to this process's environment.
    Process(const std::string& path, const std::vector<std::string>& args, const std::vector<std::string>& env = {},
            const ProcessOptions& options = {});
    // Ends the child if it still runs: SIGTERM, SIGKILL after two seconds.
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Waits for the end; the exit status, or -1 (and the child killed) when
    // it did not end in time, or 128 + signal when a signal ended it.
    int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    // Waits until the output holds `text`; false when the child ended or the
    // time ran out first.
    bool WaitForOutput(const std::string& text, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    void Kill(int signal);
    const std::string& Output();
    pid_t Pid() const { return m_pid; }

private:
    void Drain(int timeoutMs);
    pid_t m_pid = -1;
    bool m_group = false;
    int m_out = -1;
    bool m_ended = false;
    int m_status = 0;
    std::string m_output;
};

// Copies the program at `from` into `dir` as `dir`/`name`, executable; the
// copy's path.
std::string InstallProgram(const std::string& from, const std::string& dir, const std::string& name);
// Copies the headless program into `dir`, so that `dir` is its install folder.
std::string InstallHeadless(const std::string& dir);

}  // namespace kivo::test
