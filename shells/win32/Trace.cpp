#include "shells/win32/WinApi.h"

#include "shells/win32/Trace.h"

#include <chrono>
#include <cstring>
#include <mutex>

namespace kivo::win32 {

namespace {

std::string Variable(const char* name) {
    char value[MAX_PATH * 2] = {};
    const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
    return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

bool TraceEnabled() {
    static const bool enabled = Variable("KIVO_TRACE") == "1";
    return enabled;
}

}  // namespace

void Trace(const std::string& event) {
    if (!TraceEnabled()) return;
    static std::mutex mutex;
    static const std::string file = Variable("KIVO_TRACE_FILE");
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    const std::string line = "[" + std::to_string(ms) + "] " + event + "\n";
    std::lock_guard<std::mutex> lock(mutex);
    HANDLE out = INVALID_HANDLE_VALUE;
    bool close = false;
    if (!file.empty()) {
        // Opened for each line, so that a reader sees every line at once and
        // the file is never held.
        out = CreateFileA(file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        close = out != INVALID_HANDLE_VALUE;
    } else {
        out = GetStdHandle(STD_ERROR_HANDLE);
    }
    if (out == INVALID_HANDLE_VALUE || out == nullptr) return;
    DWORD written = 0;
    WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (close) CloseHandle(out);
}

}  // namespace kivo::win32
