#include "shells/gtk/PageFetch.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>

#include "net/ServerAddress.h"
#include "platform/Http.h"

namespace kivo::gtk {

namespace {

// Larger pictures are not shown: 4096 x 4096 pixels at most.
constexpr long kMaxImagePixels = 4096L * 4096L;

Fetched Failure(std::string why) {
    Fetched result;
    result.error = std::move(why);
    return result;
}

Fetched ReadFile(const std::string& uri, std::size_t limit) {
    gchar* path = g_filename_from_uri(uri.c_str(), nullptr, nullptr);
    if (path == nullptr) return Failure("bad file address");
    // Not blocking on a pipe or a device: only a regular file is read.
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    g_free(path);
    if (fd < 0) return Failure("cannot open the file");
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return Failure("not a file");
    }
    Fetched result;
    result.ok = true;
    char buffer[65536];
    while (result.bytes.size() < limit) {
        const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, limit - result.bytes.size()));
        if (n < 0) {
            result = Failure("read error");
            break;
        }
        if (n == 0) break;
        result.bytes.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return result;
}

Fetched ReadHttp(platform::IHttpClient* http, const std::string& uri, std::size_t limit) {
    if (http == nullptr) return Failure("no HTTP client");
    auto session = http->Open(kivo::net::kUserAgent);
    if (!session) return Failure("no HTTP session");
    auto request = session->OpenUrl(uri.c_str());
    if (!request) return Failure("no answer from the server");
    Fetched result;
    char buffer[65536];
    while (result.bytes.size() < limit) {
        std::size_t got = 0;
        if (!request->Read(buffer, std::min(sizeof buffer, limit - result.bytes.size()), got))
            return Failure("the transfer broke off");
        if (got == 0) break;
        result.bytes.append(buffer, got);
    }
    result.ok = true;
    return result;
}

void OnSizePrepared(GdkPixbufLoader* loader, gint width, gint height, gpointer tooLarge) {
    if (static_cast<long>(width) * height <= kMaxImagePixels) return;
    *static_cast<bool*>(tooLarge) = true;
    gdk_pixbuf_loader_set_size(loader, 1, 1);  // not decoded at full size
}

}  // namespace

Fetched FetchUri(platform::IHttpClient* http, const std::string& uri, std::size_t limit) {
    if (g_str_has_prefix(uri.c_str(), "file:")) return ReadFile(uri, limit);
    if (g_str_has_prefix(uri.c_str(), "http://") || g_str_has_prefix(uri.c_str(), "https://"))
        return ReadHttp(http, uri, limit);
    return Failure("not a file or http address");
}

GdkPixbuf* DecodeImage(const std::string& bytes) {
    if (bytes.empty()) return nullptr;
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    bool tooLarge = false;
    g_signal_connect(loader, "size-prepared", G_CALLBACK(OnSizePrepared), &tooLarge);
    const bool written =
        gdk_pixbuf_loader_write(loader, reinterpret_cast<const guchar*>(bytes.data()), bytes.size(), nullptr);
    const bool closed = gdk_pixbuf_loader_close(loader, nullptr);
    GdkPixbuf* image = written && closed && !tooLarge ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
    if (image != nullptr) g_object_ref(image);
    g_object_unref(loader);
    return image;
}

}  // namespace kivo::gtk
