// Windows: a later copy ends silently and tells nobody.
#include "platform/InstanceChannel.h"

namespace kivo::platform {

std::unique_ptr<IInstanceChannel> ListenToLaterCopies(const char*, std::function<void(const std::string&)>) {
    return nullptr;
}

bool SendToRunningCopy(const char*, const std::string&) { return false; }

}  // namespace kivo::platform
