// release.txt as an operator may write it: a release whose platforms can
// name files and whose installers exist, or an error naming the line.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "server/Content.h"

namespace {

// A folder with one installer the file may name ("setup.exe").
const std::filesystem::path& Folder() {
    static const std::filesystem::path folder = [] {
        char pattern[] = "/tmp/kivo-release-fuzz.XXXXXX";
        const std::filesystem::path made = ::mkdtemp(pattern);
        std::ofstream(made / "setup.exe") << "MZ";
        return made;
    }();
    return folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path file = Folder() / "release.txt";
    {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    try {
        const kivo::server::Release release = kivo::server::Release::Load(file);
        for (const auto& [platform, installer] : release.installers) {
            if (!platform.empty() && !kivo::server::Release::ValidPlatform(platform)) std::abort();
            if (::access(installer.c_str(), R_OK) != 0) std::abort();
        }
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()).rfind(file.string() + ":", 0) != 0) std::abort();
    }
    return 0;
}
