#include "platform/DataFolders.h"

namespace kivo::platform {

std::string DataFolders::InstallDir() const {
    if (!installDir_.empty()) return installDir_;
    std::string path = ExecutablePath();
    const std::size_t slash = path.rfind(PathSeparator());
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    return path;
}

std::string DataFolders::DataDir(UserFolder kind) const {
    const std::string install = InstallDir();
    std::call_once(decided_, [&] { portable_ = CanCreateFileIn(install); });
    if (portable_) return install;
    const std::string user = UserFolderPath(kind);
    return user.empty() ? install : user;
}

}  // namespace kivo::platform
