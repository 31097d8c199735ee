// A stand-in for Internet Explorer in the shell tests, installed in the
// test prefix's system folder as iexplore.exe: it appends one line to the
// file KIVO_TEST_BROWSER_LOG names (else "<its own path>.log") for each
// start, "<show command> <command line>", the command line as the system
// code page has it, and opens nothing.
#include <windows.h>

#include <cstdio>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH * 2] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0 || n >= sizeof path) return 1;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    const int show = (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 ? startup.wShowWindow : -1;
    const std::string line = std::to_string(show) + " " + GetCommandLineA() + "\n";
    char logPath[MAX_PATH * 2] = {};
    const DWORD m = GetEnvironmentVariableA("KIVO_TEST_BROWSER_LOG", logPath, sizeof logPath);
    const std::string logFile = m > 0 && m < sizeof logPath ? std::string(logPath, m) : std::string(path) + ".log";
    std::FILE* log = std::fopen(logFile.c_str(), "ab");
    if (log == nullptr) return 1;
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
    return 0;
}
