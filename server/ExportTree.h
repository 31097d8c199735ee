// A public tree for another web server that follows every content change:
// `link` is a symlink to the current tree; each Publish writes the new
// content into a fresh folder beside it (".NAME.XXXXXX", readable by all),
// points a new symlink there and renames it over `link` in one step, then
// removes the older trees. A reader that opens a file through `link` gets
// it from one tree or the other, never from a half-written one.
#pragma once

#include <filesystem>
#include <string>

#include "Content.h"

namespace kivo::server {

class ExportTree {
public:
    // `link` must be a symlink or not exist; its folder must exist.
    explicit ExportTree(std::filesystem::path link);

    // Throws std::runtime_error (or std::filesystem::filesystem_error) when
    // the tree cannot be written or switched; `link` then still points at
    // the previous tree.
    void Publish(const Content& content);

    // The folder `link` points at now; empty when it does not exist.
    std::filesystem::path Current() const;

private:
    bool IsTree(const std::filesystem::path& entry) const;

    std::filesystem::path link_;
    std::string prefix_;  // ".NAME."
};

}  // namespace kivo::server
