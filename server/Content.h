// The public tree as one immutable snapshot: the fourteen pages and their
// image, the version answers and the installers with their signatures, each
// with the headers a cache needs. Built from the data folder; a reload builds
// a new snapshot and the server switches to it whole.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kivo::server {

// The published version and the installer of each platform. The platform ""
// is the Windows build, which asks the original addresses.
struct Release {
    std::uint64_t version = 1000;
    std::map<std::string, std::string> installers;  // platform -> file

    // "release.txt" in the data folder, when there is one, replaces the
    // release given on the command line. Lines: "version N" and
    // "installer PLATFORM FILE" ("windows" for the Windows build; FILE
    // relative to the folder). Throws "<file>:<line>: <problem>".
    static constexpr const char* kFileName = "release.txt";
    static Release Load(const std::filesystem::path& file);

    // Platform names are letters, digits, '_' and '-', starting with a
    // letter: they become file names of a static copy.
    static bool ValidPlatform(std::string_view name);
};

struct PublicFile {
    std::string body;
    std::string contentType;
    std::string cacheControl;
    std::string etag;  // strong, quoted; the same bytes always get the same tag
    std::time_t lastModified = 0;
    // The gzip form of a text file (pages and version answers), made once
    // with the snapshot, with a tag of its own; empty where gzip would not
    // make the answer smaller (the image, installers, tiny answers).
    std::string gzipBody;
    std::string gzipEtag;

    // Whether the answer depends on Accept-Encoding.
    bool HasGzip() const { return !gzipBody.empty(); }
};

// The answer to a request saying `acceptEncoding`: whether gzip is among the
// codings it accepts (q above 0, or "*").
bool AcceptsGzip(std::string_view acceptEncoding);

// `bytes` as one gzip member (no name, no time: the same bytes always give
// the same member).
std::string Gzip(std::string_view bytes);

class Content {
public:
    // Reads and checks every file (lists, release, installers) before it
    // builds anything; throws std::runtime_error naming the first bad file
    // (and its line, where there is one).
    static std::shared_ptr<const Content> Load(const std::filesystem::path& dataDir, const Release& fallback);

    // What a request for `path` (raw, exact) is answered with; nullptr: 404.
    // The version answer is found through VersionFor instead.
    const PublicFile* Find(std::string_view path) const;
    // "version:N" for `platform`: the published number for Windows (""), and
    // for another platform only while it has an installer, 0 otherwise.
    const PublicFile& VersionFor(std::string_view platform) const;

    // Every file of a static copy by its path in the tree ("sml/today.html",
    // "kivoversion.php", "update/update.exe" ...). The version answers of
    // the other platforms stand in "kivoversion/PLATFORM", the one for a
    // platform without an installer in "kivoversion/_none".
    const std::map<std::string, PublicFile, std::less<>>& Files() const { return files_; }

    // Writes Files() under `dir` (each file replaced whole, dated by its
    // Last-Modified), with each gzip form beside its file as NAME.gz for a web
    // server's static gzip; removes version answers and installers it no
    // longer has.
    void Export(const std::filesystem::path& dir) const;

    // Folders whose changes may change the content (the data folder and
    // those of the installers), and the installers' file names.
    const std::vector<std::filesystem::path>& Sources() const { return sources_; }
    const std::vector<std::string>& InstallerNames() const { return installerNames_; }

    static constexpr std::string_view kVersionPath = "/kivoversion.php";
    static constexpr std::string_view kVersionFolder = "kivoversion/";
    static constexpr std::string_view kNoInstaller = "_none";

private:
    std::map<std::string, PublicFile, std::less<>> files_;
    std::vector<std::filesystem::path> sources_;
    std::vector<std::string> installerNames_;
};

}  // namespace kivo::server
