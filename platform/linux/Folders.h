#pragma once
// The user's folders on Linux, as the XDG base directories name them.
#include <string>

namespace kivo::platform {

// $XDG_CONFIG_HOME, or ~/.config when it is unset or not absolute; empty
// when there is no home either.
std::string XdgConfigHome();
// $XDG_CACHE_HOME, or ~/.cache likewise.
std::string XdgCacheHome();
// A file of this user's session: $XDG_RUNTIME_DIR/<name><suffix>, or without
// that folder $TMPDIR (or /tmp)/<name>-<uid><suffix>.
std::string RuntimeFile(const char* name, const char* suffix);
// Makes the folder `path` and those above it that are missing (mode 0700);
// false when it is not a folder afterwards.
bool MakeFolders(const std::string& path);

}  // namespace kivo::platform
