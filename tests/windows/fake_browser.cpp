// A stand-in for Internet Explorer in the shell tests: copied beside
// kivo.exe as IEXPLORE.EXE, it appends one line to "<its own path>.log" for
// each start, "<show command> <command line>", the command line as the
// system code page has it, and opens nothing.
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
    std::FILE* log = std::fopen((std::string(path) + ".log").c_str(), "ab");
    if (log == nullptr) return 1;
    std::fwrite(line.data(), 1, line.size(), log);
    std::fclose(log);
    return 0;
}
