// The channel between copies: a Unix socket beside the guard's lock. Only
// the user can reach it (mode 0600, and each peer's credentials are checked),
// and a peer that sends nothing useful is dropped after a short wait.
#include "platform/InstanceChannel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "platform/linux/Folders.h"

namespace kivo::platform {

namespace {

constexpr std::size_t kLongestMessage = 63;
constexpr int kPeerWaitMs = 200;

bool SocketAddress(const std::string& path, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// One line of printable ASCII from a peer of this user; empty otherwise.
std::string ReadMessage(int peer) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(peer, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 || credentials.uid != ::getuid())
        return {};
    std::string message;
    char buffer[kLongestMessage + 2];
    for (;;) {
        pollfd wait{peer, POLLIN, 0};
        if (::poll(&wait, 1, kPeerWaitMs) <= 0) return {};
        const ssize_t got = ::read(peer, buffer, sizeof buffer);
        if (got <= 0) break;
        message.append(buffer, static_cast<std::size_t>(got));
        if (message.size() > kLongestMessage + 1) return {};
        if (message.find('\n') != std::string::npos) break;
    }
    if (!message.empty() && message.back() == '\n') message.pop_back();
    if (message.empty() || message.size() > kLongestMessage) return {};
    for (char c : message)
        if (c < 0x21 || c > 0x7E) return {};
    return message;
}

class CSocketChannel final : public IInstanceChannel {
public:
    CSocketChannel(int listening, std::string path, std::function<void(const std::string&)> receive)
        : m_listening(listening), m_path(std::move(path)), m_receive(std::move(receive)) {
        if (::pipe2(m_wake, O_CLOEXEC) != 0) m_wake[0] = m_wake[1] = -1;
        m_thread = std::thread([this] { Run(); });
    }
    ~CSocketChannel() override {
        if (m_wake[1] >= 0) (void)!::write(m_wake[1], "x", 1);
        m_thread.join();
        ::close(m_listening);
        for (int fd : m_wake)
            if (fd >= 0) ::close(fd);
        ::unlink(m_path.c_str());
    }

private:
    void Run() {
        for (;;) {
            pollfd fds[2] = {{m_listening, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
            if (::poll(fds, m_wake[0] >= 0 ? 2 : 1, -1) < 0) continue;
            if ((fds[1].revents & POLLIN) != 0) return;
            if ((fds[0].revents & POLLIN) == 0) continue;
            const int peer = ::accept4(m_listening, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0) continue;
            const std::string message = ReadMessage(peer);
            ::close(peer);
            if (!message.empty()) m_receive(message);
        }
    }

    int m_listening;
    std::string m_path;
    std::function<void(const std::string&)> m_receive;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};

}  // namespace

std::unique_ptr<IInstanceChannel> ListenToLaterCopies(const char* name,
                                                      std::function<void(const std::string&)> receive) {
    const std::string path = RuntimeFile(name, ".sock");
    sockaddr_un address;
    if (!SocketAddress(path, address)) return nullptr;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    // The copy that holds the guard owns the name: a socket left by one that
    // ended is replaced.
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::make_unique<CSocketChannel>(fd, path, std::move(receive));
}

bool SendToRunningCopy(const char* name, const std::string& message) {
    sockaddr_un address;
    if (message.empty() || message.size() > kLongestMessage || !SocketAddress(RuntimeFile(name, ".sock"), address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const std::string line = message + "\n";
    const bool sent = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                      ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    ::close(fd);
    return sent;
}

}  // namespace kivo::platform
