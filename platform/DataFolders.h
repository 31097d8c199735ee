#pragma once
// Where the program's files live: the folder of the running executable (or
// one given instead), used for every file as long as a file can be created
// there (portable use); otherwise the user's own folders of each kind.
#include <mutex>
#include <string>

#include "platform/System.h"

namespace kivo::platform {

class DataFolders {
public:
    // `installDir` empty: the running executable's directory; otherwise it
    // must end with the path separator.
    explicit DataFolders(std::string installDir = {}) : installDir_(std::move(installDir)) {}
    DataFolders(const DataFolders&) = delete;
    DataFolders& operator=(const DataFolders&) = delete;

    // The install directory with its separator; the whole path however long
    // it is, since a cut one would name another directory.
    std::string InstallDir() const;
    // The folder files of `kind` are formed on: the install directory
    // whenever a file can be created there, the user's own folder of that
    // kind otherwise (and the install directory again when there is none).
    // Decided at the first call, from any thread.
    std::string DataDir(UserFolder kind) const;

private:
    const std::string installDir_;
    mutable std::once_flag decided_;
    mutable bool portable_ = true;
};

}  // namespace kivo::platform
