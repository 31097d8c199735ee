#pragma once
// Messages from a later copy of the program to the one that runs, over a
// channel only this user can reach (Linux: a socket of mode 0600 beside the
// guard's lock, whose peers are checked to be this user; Windows: a local
// named pipe of the session that only its owner may write to).
#include <functional>
#include <memory>
#include <string>

namespace kivo::platform {

class IInstanceChannel {
public:
    virtual ~IInstanceChannel() = default;  // stops listening
};

// Listens for messages to the copy named `name`; `receive` runs on the
// channel's own thread for each message of at most 63 printable ASCII bytes.
// Null when the channel cannot be set up.
std::unique_ptr<IInstanceChannel> ListenToLaterCopies(const char* name,
                                                      std::function<void(const std::string&)> receive);

// Sends `message` to the running copy named `name`; false when none listens.
bool SendToRunningCopy(const char* name, const std::string& message);

}  // namespace kivo::platform
