#include "ContentWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace kivo::server {
namespace {

constexpr int kQuietMs = 150;
constexpr std::uint32_t kEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_ATTRIB;

}  // namespace

ContentWatch::ContentWatch(std::function<void()> changed)
    : changed_(std::move(changed)),
      inotify_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
      stop_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (inotify_ < 0 || stop_ < 0) {
        if (inotify_ >= 0) ::close(inotify_);
        if (stop_ >= 0) ::close(stop_);
        throw std::runtime_error("cannot watch the data folder (inotify)");
    }
    thread_ = std::thread([this] { Run(); });
}

ContentWatch::~ContentWatch() {
    const std::uint64_t one = 1;
    if (::write(stop_, &one, sizeof one) < 0) {
    }
    thread_.join();
    ::close(inotify_);
    ::close(stop_);
}

void ContentWatch::Follow(const Content& content) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& folder : content.Sources()) inotify_add_watch(inotify_, folder.c_str(), kEvents);
    for (const std::string& name : content.InstallerNames()) {
        names_.insert(name);
        names_.insert(name + ".sig");
    }
}

bool ContentWatch::Relevant(const std::string& name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return name.ends_with(".txt") || names_.count(name) > 0;
}

void ContentWatch::Run() {
    bool pending = false;
    for (;;) {
        pollfd fds[2] = {{inotify_, POLLIN, 0}, {stop_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, pending ? kQuietMs : -1);
        if (ready < 0) continue;
        if (fds[1].revents != 0) return;
        if (ready == 0) {  // quiet again after a change
            pending = false;
            changed_();
            continue;
        }
        alignas(inotify_event) char buffer[8192];
        for (ssize_t n; (n = ::read(inotify_, buffer, sizeof buffer)) > 0;) {
            for (char* at = buffer; at < buffer + n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                if (event->len > 0 && Relevant(event->name)) pending = true;
                at += sizeof(inotify_event) + event->len;
            }
        }
    }
}

}  // namespace kivo::server
