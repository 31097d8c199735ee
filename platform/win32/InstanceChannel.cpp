// The channel between copies on Windows: a named pipe of this session,
// "\\.\pipe\<name>-<session>", inbound only and local only. The pipe's default
// security lets only its owner (and the system and administrators) write to
// it; the first instance flag keeps a squatter's pipe from being joined. A
// peer that sends nothing useful is dropped after a short wait.
#include "platform/InstanceChannel.h"

#include <windows.h>

#include <thread>

namespace kivo::platform {

namespace {

constexpr std::size_t kLongestMessage = 63;
constexpr DWORD kPeerWaitMs = 200;
constexpr DWORD kBusyWaitMs = 2000;

std::wstring PipeName(const char* name) {
    DWORD session = 0;
    ProcessIdToSessionId(GetCurrentProcessId(), &session);
    std::wstring pipe = L"\\\\.\\pipe\\";
    for (const char* p = name; *p != '\0'; ++p) pipe += static_cast<wchar_t>(static_cast<unsigned char>(*p));
    return pipe + L"-" + std::to_wstring(session);
}

bool IsMessage(const std::string& message) {
    if (message.empty() || message.size() > kLongestMessage) return false;
    for (const char c : message)
        if (c < 0x21 || c > 0x7E) return false;
    return true;
}

// Waits for an overlapped operation on `pipe`, or for `stop`; false when it
// failed, timed out or the channel stops (the operation is then cancelled).
bool Finish(HANDLE pipe, OVERLAPPED& overlapped, HANDLE stop, DWORD timeoutMs, DWORD& transferred) {
    const HANDLE events[2] = {overlapped.hEvent, stop};
    const DWORD woke = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
    if (woke != WAIT_OBJECT_0) {
        CancelIo(pipe);
        GetOverlappedResult(pipe, &overlapped, &transferred, TRUE);
        return false;
    }
    return GetOverlappedResult(pipe, &overlapped, &transferred, FALSE) != 0;
}

class CPipeChannel final : public IInstanceChannel {
public:
    CPipeChannel(HANDLE pipe, std::function<void(const std::string&)> receive)
        : m_pipe(pipe),
          m_event(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_stop(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          m_receive(std::move(receive)),
          m_thread([this] { Run(); }) {}
    ~CPipeChannel() override {
        SetEvent(m_stop);
        m_thread.join();
        CloseHandle(m_pipe);
        CloseHandle(m_event);
        CloseHandle(m_stop);
    }

private:
    void Run() {
        while (WaitForSingleObject(m_stop, 0) == WAIT_TIMEOUT) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = m_event;
            ResetEvent(m_event);
            DWORD transferred = 0;
            bool connected = ConnectNamedPipe(m_pipe, &overlapped) != 0;
            if (!connected) {
                const DWORD error = GetLastError();
                // A peer that came, wrote and went before this call: what it
                // wrote is still there to read.
                if (error == ERROR_PIPE_CONNECTED || error == ERROR_NO_DATA) {
                    connected = true;
                } else if (error == ERROR_IO_PENDING) {
                    connected = Finish(m_pipe, overlapped, m_stop, INFINITE, transferred);
                }
            }
            if (connected) {
                const std::string message = ReadMessage();
                if (IsMessage(message)) m_receive(message);
            } else if (WaitForSingleObject(m_stop, 50) != WAIT_TIMEOUT) {
                break;
            }
            DisconnectNamedPipe(m_pipe);
        }
    }

    // One line from the peer, within a short wait; empty otherwise.
    std::string ReadMessage() {
        std::string message;
        char buffer[kLongestMessage + 2];
        while (message.size() <= kLongestMessage + 1) {
            OVERLAPPED overlapped{};
            overlapped.hEvent = m_event;
            ResetEvent(m_event);
            DWORD got = 0;
            if (!ReadFile(m_pipe, buffer, sizeof buffer, &got, &overlapped)) {
                if (GetLastError() != ERROR_IO_PENDING || !Finish(m_pipe, overlapped, m_stop, kPeerWaitMs, got)) break;
            } else if (!GetOverlappedResult(m_pipe, &overlapped, &got, FALSE)) {
                break;
            }
            if (got == 0) break;
            message.append(buffer, got);
            const std::size_t end = message.find('\n');
            if (end != std::string::npos) return message.substr(0, end);
        }
        return {};
    }

    HANDLE m_pipe;
    HANDLE m_event;
    HANDLE m_stop;
    std::function<void(const std::string&)> m_receive;
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<IInstanceChannel> ListenToLaterCopies(const char* name,
                                                      std::function<void(const std::string&)> receive) {
    const HANDLE pipe = CreateNamedPipeW(PipeName(name).c_str(),
                                         PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                         PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                         1, 0, static_cast<DWORD>(kLongestMessage + 1), 0, nullptr);
    if (pipe == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<CPipeChannel>(pipe, std::move(receive));
}

bool SendToRunningCopy(const char* name, const std::string& message) {
    if (!IsMessage(message)) return false;
    const std::wstring pipeName = PipeName(name);
    HANDLE pipe = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 2 && pipe == INVALID_HANDLE_VALUE; ++attempt) {
        pipe = CreateFileW(pipeName.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        // Another later copy is being heard: wait for the pipe to be free.
        if (pipe == INVALID_HANDLE_VALUE &&
            (GetLastError() != ERROR_PIPE_BUSY || !WaitNamedPipeW(pipeName.c_str(), kBusyWaitMs)))
            return false;
    }
    if (pipe == INVALID_HANDLE_VALUE) return false;
    const std::string line = message + "\n";
    DWORD written = 0;
    const bool sent =
        WriteFile(pipe, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) && written == line.size();
    CloseHandle(pipe);
    return sent;
}

}  // namespace kivo::platform
