#pragma once
// A program the Windows tests start as a process of its own.
#include <windows.h>

#include <string>

#include "platform/System.h"
#include "tests/support/Wait.h"

namespace kivo::test {

// Started with the test's environment, in the test's folder unless `dir` is
// given. Ended when the object goes, if it still runs.
class Process {
public:
    Process(const std::string& exe, const std::string& args = {}, const std::string& dir = {}) {
        std::string commandLine = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            dir.empty() ? nullptr : dir.c_str(), &startup, &m_process))
            m_process = PROCESS_INFORMATION{};
    }
    ~Process() {
        if (!Started()) return;
        Kill();
        CloseHandle(m_process.hThread);
        CloseHandle(m_process.hProcess);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    bool Started() const { return m_process.hProcess != nullptr; }
    DWORD Pid() const { return m_process.dwProcessId; }
    // The exit code once the process has ended within `ms`; -1 while it runs.
    long ExitCodeWithin(DWORD ms) {
        DWORD code = 0;
        if (!Started() || WaitForSingleObject(m_process.hProcess, ms) != WAIT_OBJECT_0) return -1;
        GetExitCodeProcess(m_process.hProcess, &code);
        return static_cast<long>(code);
    }
    // Ends it the way a crash would: nothing of it runs any more.
    void Kill() {
        if (!Started() || ExitCodeWithin(0) != -1) return;
        TerminateProcess(m_process.hProcess, 9);
        WaitForSingleObject(m_process.hProcess, 10000);
    }

private:
    PROCESS_INFORMATION m_process{};
};

// The folder of this test program, with its backslash.
inline std::string TestExeFolder() {
    const std::string exe = platform::ExecutablePath();
    return exe.substr(0, exe.rfind('\\') + 1);
}

}  // namespace kivo::test
