// Tells when a file the content is made from changes: the list files and
// release.txt in the data folder, and the installers with their signatures
// wherever they are. A burst of changes (an editor's save, a copy of several
// files) is reported once, after the folder has been quiet for a moment.
#pragma once

#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "Content.h"

namespace kivo::server {

class ContentWatch {
public:
    // `changed` runs on the watch's own thread.
    explicit ContentWatch(std::function<void()> changed);
    ~ContentWatch();
    ContentWatch(const ContentWatch&) = delete;
    ContentWatch& operator=(const ContentWatch&) = delete;

    // Watches the sources of `content` (in addition to those already watched).
    void Follow(const Content& content);

private:
    bool Relevant(const std::string& name);
    void Run();

    std::function<void()> changed_;
    int inotify_ = -1;
    int stop_ = -1;
    std::mutex mutex_;
    std::set<std::string> names_;  // installers and their signatures
    std::thread thread_;
};

}  // namespace kivo::server
