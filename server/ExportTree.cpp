#include "ExportTree.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <vector>

namespace kivo::server {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUnique = "XXXXXX";

}  // namespace

ExportTree::ExportTree(fs::path link) {
    link = fs::absolute(link).lexically_normal();
    if (!link.has_filename()) link = link.parent_path();  // a trailing '/'
    link_ = link;
    // Built from the name, not from a literal: GCC 12 misreads the latter in Release.
    std::string prefix = link_.filename().string();
    prefix.insert(prefix.begin(), '.');
    prefix.push_back('.');
    prefix_ = std::move(prefix);
    if (!fs::is_directory(link_.parent_path()))
        throw std::runtime_error(link_.parent_path().string() + " is not a folder");
    const fs::file_status status = fs::symlink_status(link_);
    if (fs::exists(status) && !fs::is_symlink(status)) {
        throw std::runtime_error(link_.string() +
                                 " exists and is not a symlink: move it away, the export keeps a symlink there");
    }
}

bool ExportTree::IsTree(const fs::path& entry) const {
    const std::string name = entry.filename().string();
    return name.size() == prefix_.size() + kUnique.size() && name.starts_with(prefix_) &&
           fs::is_directory(fs::symlink_status(entry));
}

fs::path ExportTree::Current() const {
    std::error_code error;
    const fs::path target = fs::read_symlink(link_, error);
    if (error) return {};
    return target.is_absolute() ? target : link_.parent_path() / target;
}

void ExportTree::Publish(const Content& content) {
    const fs::path folder = link_.parent_path();
    std::string pattern = (folder / prefix_).string();
    pattern += kUnique;
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("cannot make a folder beside " + link_.string() + ": " + std::strerror(errno));
    const fs::path tree = pattern;
    ::chmod(tree.c_str(), 0755);  // the web server reads it
    try {
        content.Export(tree);
        // A new link beside the old one, renamed over it: the switch is one step.
        std::string name = prefix_;
        name += "link-";
        name += std::to_string(::getpid());
        const fs::path next = folder / name;
        fs::remove(next);
        fs::create_symlink(tree.filename(), next);
        fs::rename(next, link_);
    } catch (...) {
        std::error_code ignored;
        fs::remove_all(tree, ignored);
        throw;
    }

    // The older trees; a reader still sending one of their files keeps it
    // open until it is done.
    std::vector<fs::path> old;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path() != tree && IsTree(entry.path())) old.push_back(entry.path());
    }
    for (const fs::path& path : old) {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
}

}  // namespace kivo::server
