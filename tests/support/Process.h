#pragma once
// Runs a program of the project as a child process, with its standard
// output captured, for the tests that look at the program from outside.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace kivo::test {

class Process {
public:
    // Starts `path` with `args`; `env` entries ("NAME=value") are added to
    // this process's environment.
    Process(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& env = {});
    ~Process();  // kills the child if it still runs
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

private:
    void Drain(int timeoutMs);
    pid_t m_pid = -1;
    int m_out = -1;
    bool m_ended = false;
    int m_status = 0;
    std::string m_output;
};

// Copies the headless program into `dir`, so that `dir` is its install folder.
std::string InstallHeadless(const std::string& dir);

}  // namespace kivo::test
