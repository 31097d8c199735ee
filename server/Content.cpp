#include "Content.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>

#include <zlib.h>

#include "ContentCatalog.h"

namespace kivo::server {
namespace {

namespace fs = std::filesystem;

const char* const kPageCache = "public, max-age=300";
const char* const kReleaseCache = "max-age=60";
const char* const kBinaryType = "application/octet-stream";

std::time_t ModifiedTime(const fs::path& file) {
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_mtime : 0;
}

// The running program: the background image is drawn by it.
std::time_t ProgramTime() {
    static const std::time_t time = ModifiedTime("/proc/self/exe");
    return time;
}

std::string Tag(std::string_view bytes) {
    std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const char c : bytes) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char text[48];
    std::snprintf(text, sizeof text, "\"%zx-%016llx\"", bytes.size(), static_cast<unsigned long long>(hash));
    return text;
}

PublicFile MakeFile(std::string body, std::string type, const char* cache, std::time_t modified) {
    PublicFile file{std::move(body), std::move(type), cache, {}, modified, {}, {}};
    file.etag = Tag(file.body);
    if (file.contentType.starts_with("text/")) {
        std::string packed = Gzip(file.body);
        if (packed.size() < file.body.size()) {
            file.gzipBody = std::move(packed);
            file.gzipEtag = file.etag.substr(0, file.etag.size() - 1) + "-gz\"";
        }
    }
    return file;
}

// Writes `bytes` to `target` whole (a temporary file renamed over it), dated
// `modified`.
void WriteWhole(const fs::path& target, std::string_view bytes, std::time_t modified) {
    const fs::path temporary = target.string() + ".export-tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) throw std::runtime_error("cannot write " + temporary.string());
    }
    const timespec times[2] = {{modified, 0}, {modified, 0}};
    ::utimensat(AT_FDCWD, temporary.c_str(), times, 0);
    fs::rename(temporary, target);
}

// The whole file; nullopt when it does not exist.
std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        if (errno == ENOENT) return std::nullopt;
        throw std::runtime_error(path.string() + ": " + std::strerror(errno));
    }
    std::ostringstream bytes;
    bytes << in.rdbuf();
    if (in.bad()) throw std::runtime_error(path.string() + ": read error");
    return bytes.str();
}

}  // namespace

std::string Gzip(std::string_view bytes) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("gzip: cannot start");
    std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    const int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) throw std::runtime_error("gzip: cannot compress");
    return out;
}

bool Release::ValidPlatform(std::string_view name) {
    if (name.empty() || !std::isalpha(static_cast<unsigned char>(name.front()))) return false;
    for (const char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_' && c != '-') return false;
    }
    return true;
}

Release Release::Load(const fs::path& file) {
    const auto text = ReadFile(file);
    if (!text) throw std::runtime_error(file.string() + ": cannot open");
    Release release;
    bool haveVersion = false;
    std::istringstream lines(*text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        const auto fail = [&](const std::string& problem) {
            throw std::runtime_error(file.string() + ":" + std::to_string(number) + ": " + problem);
        };
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::istringstream words(line);
        std::string key, first, second, extra;
        words >> key >> first >> second >> extra;
        if (key.empty() || key.front() == '#') continue;
        if (key == "version") {
            const auto [end, ec] = std::from_chars(first.data(), first.data() + first.size(), release.version);
            if (first.empty() || ec != std::errc() || end != first.data() + first.size() || !second.empty())
                fail("expected \"version N\" with a non-negative number");
            haveVersion = true;
        } else if (key == "installer") {
            if (second.empty() || !extra.empty()) fail("expected \"installer PLATFORM FILE\"");
            if (!ValidPlatform(first)) fail("platform names are letters, digits, '_' and '-'");
            const std::string platform = first == "windows" ? "" : first;
            if (release.installers.count(platform)) fail("a second installer for " + first);
            const fs::path installer = fs::path(second).is_absolute() ? fs::path(second) : file.parent_path() / second;
            if (::access(installer.c_str(), R_OK) != 0) fail("cannot read the installer " + installer.string());
            release.installers[platform] = installer.string();
        } else {
            fail("unknown line \"" + key + "\" (expected version or installer)");
        }
    }
    if (!haveVersion) throw std::runtime_error(file.string() + ":1: no \"version N\" line");
    return release;
}

std::shared_ptr<const Content> Content::Load(const fs::path& dataDir, const Release& fallback) {
    const ContentCatalog catalog = ContentCatalog::Build(dataDir);
    const fs::path releaseFile = dataDir / Release::kFileName;
    const bool ownRelease = fs::exists(releaseFile);
    const Release release = ownRelease ? Release::Load(releaseFile) : fallback;
    const std::time_t releaseTime = ownRelease ? ModifiedTime(releaseFile) : ProgramTime();

    auto content = std::make_shared<Content>();
    content->sources_.push_back(dataDir);
    for (const auto& [path, item] : catalog.Items()) {
        const std::time_t modified = item.source.empty() ? ProgramTime() : ModifiedTime(item.source);
        content->files_[path.substr(1)] = MakeFile(item.body, item.contentType, kPageCache, modified);
    }

    const auto answer = [&](std::uint64_t version) {
        return MakeFile("version:" + std::to_string(version), "text/plain", kReleaseCache, releaseTime);
    };
    content->files_[std::string(kVersionPath.substr(1))] = answer(release.version);
    content->files_[std::string(kVersionFolder) + std::string(kNoInstaller)] = answer(0);
    for (const auto& [platform, installer] : release.installers) {
        if (installer.empty()) continue;
        if (!platform.empty() && !Release::ValidPlatform(platform))
            throw std::runtime_error("the platform name \"" + platform + "\" cannot name a file");
        const std::string base = platform.empty() ? "update/update.exe" : "update/" + platform + "/update";
        if (!platform.empty()) content->files_[std::string(kVersionFolder) + platform] = answer(release.version);
        const auto program = ReadFile(installer);
        if (!program) throw std::runtime_error(installer + ": cannot read the installer");
        content->files_[base] = MakeFile(*program, kBinaryType, kReleaseCache, ModifiedTime(installer));
        if (const auto signature = ReadFile(installer + ".sig")) {
            content->files_[base + ".sig"] =
                MakeFile(*signature, kBinaryType, kReleaseCache, ModifiedTime(installer + ".sig"));
        }
        content->installerNames_.push_back(fs::path(installer).filename().string());
        const fs::path folder = fs::absolute(installer).parent_path();
        if (std::find(content->sources_.begin(), content->sources_.end(), folder) == content->sources_.end())
            content->sources_.push_back(folder);
    }
    return content;
}

bool AcceptsGzip(std::string_view header) {
    const auto trim = [](std::string_view text) {
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
        return text;
    };
    const auto lower = [](std::string_view text) {
        std::string out(text);
        for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return out;
    };
    // gzip named (or x-gzip): its weight decides; else "*" decides.
    std::optional<bool> named, star;
    while (!header.empty()) {
        const std::size_t comma = header.find(',');
        const std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        const std::size_t semicolon = item.find(';');
        const std::string coding = lower(trim(item.substr(0, semicolon)));
        // "q=0", "q=0.0", "q=0.000" refuse; any other weight accepts.
        bool accepted = true;
        if (semicolon != std::string_view::npos) {
            const std::string parameter = lower(trim(item.substr(semicolon + 1)));
            if (parameter.starts_with("q=")) {
                const std::string_view weight = trim(std::string_view(parameter).substr(2));
                accepted = weight.empty() || weight.find_first_not_of("0.") != std::string_view::npos;
            }
        }
        if (coding == "gzip" || coding == "x-gzip") named = named.value_or(false) || accepted;
        if (coding == "*") star = accepted;
    }
    return named ? *named : star.value_or(false);
}

const PublicFile* Content::Find(std::string_view path) const {
    if (path.size() < 2 || path.front() != '/' || path.substr(1).starts_with(kVersionFolder)) return nullptr;
    const auto it = files_.find(path.substr(1));
    return it == files_.end() ? nullptr : &it->second;
}

const PublicFile& Content::VersionFor(std::string_view platform) const {
    if (platform.empty()) return files_.find(kVersionPath.substr(1))->second;
    if (Release::ValidPlatform(platform)) {
        const auto it = files_.find(std::string(kVersionFolder) + std::string(platform));
        if (it != files_.end()) return it->second;
    }
    return files_.find(std::string(kVersionFolder) + std::string(kNoInstaller))->second;
}

void Content::Export(const fs::path& dir) const {
    std::set<fs::path> written;
    for (const auto& [name, file] : files_) {
        const fs::path target = dir / name;
        fs::create_directories(target.parent_path());
        WriteWhole(target, file.body, file.lastModified);
        written.insert(target);
        const fs::path packed = target.string() + ".gz";
        if (file.HasGzip()) {
            WriteWhole(packed, file.gzipBody, file.lastModified);
            written.insert(packed);
        } else {
            fs::remove(packed);
        }
    }
    // A platform no longer published must not keep its answer or installer.
    for (const char* managed : {"kivoversion", "update"}) {
        if (!fs::is_directory(dir / managed)) continue;
        std::vector<fs::path> stale;
        for (const auto& entry : fs::recursive_directory_iterator(dir / managed)) {
            if (entry.is_regular_file() && !written.count(entry.path())) stale.push_back(entry.path());
        }
        for (const fs::path& file : stale) fs::remove(file);
    }
}

}  // namespace kivo::server
