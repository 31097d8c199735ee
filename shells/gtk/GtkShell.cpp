#include "shells/gtk/GtkShell.h"

#include <gio/gio.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/BrowserUrl.h"
#include "platform/linux/Gbk.h"

namespace kivo::gtk {

bool TraceEnabled() {
    static const bool enabled = [] {
        const char* value = std::getenv("KIVO_TRACE");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

double TimeScale() {
    static const double scale = [] {
        const char* value = std::getenv("KIVO_TIME_SCALE");
        const double parsed = value != nullptr ? std::atof(value) : 1.0;
        return parsed >= 1.0 && parsed <= 100000.0 ? parsed : 1.0;
    }();
    return scale;
}

void Trace(const std::string& event) {
    if (!TraceEnabled()) return;
    static std::mutex mutex;
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
    std::lock_guard<std::mutex> lock(mutex);
    std::printf("[%lld] %s\n", ms, event.c_str());
    std::fflush(stdout);
}

std::string ToUtf8(const std::string& gbk) { return kivo::platform::GbkToUtf8(gbk); }

std::string ToUri(const std::string& address) {
    if (address.rfind("file://", 0) == 0) {
        // The bare path becomes a URI, so that spaces, '#' and '%' in it
        // stay part of the path.
        gchar* uri = g_filename_to_uri(address.c_str() + 7, nullptr, nullptr);
        if (uri != nullptr) {
            std::string result = uri;
            g_free(uri);
            return result;
        }
        return address;
    }
    // Bytes a URI cannot carry are escaped; everything else stays.
    gchar* escaped = g_uri_escape_string(address.c_str(), "!$&'()*+,;=:/?#[]@%-._~", FALSE);
    std::string result = escaped;
    g_free(escaped);
    return result;
}

void OpenInBrowser(const std::string& address) {
    // One valid URL, as one argument: no shell.
    const std::string url = kivo::platform::BrowserUrl(address);
    Trace("open " + url);
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri(url.c_str(), nullptr, &error)) {
        Trace(std::string("open failed ") + (error != nullptr ? error->message : ""));
        if (error != nullptr) g_error_free(error);
    }
}

GdkPixbuf* LoadBitmap(int nId) {
    const std::string path = "/cn/kivo/res/bitmaps/" + std::to_string(nId) + ".bmp";
    return gdk_pixbuf_new_from_resource(path.c_str(), nullptr);
}

GdkPixbuf* LoadIcon(int nSize) {
    return gdk_pixbuf_new_from_resource_at_scale("/cn/kivo/res/icon128.png", nSize, nSize, TRUE, nullptr);
}

void InstallStyle() {
    // 9-point template font at 96 dpi: 12 pixels. Controls take the size of
    // their template rectangle, so the theme's padding goes.
    static const char kCss[] =
        "window.kivo-popup { background-color: #1A1F22; }\n"
        "window.kivo-popup, window.kivo-dialog { font-size: 12px; }\n"
        "#kivo-chooser button { min-height: 0; padding: 0 2px; border-radius: 0; }\n"
        // The chooser's arrow drawn by CSS, not the theme's icon, which is an
        // SVG image: no image loader (librsvg, libxml2) for one arrow.
        "#kivo-chooser arrow { -gtk-icon-source: none; min-height: 5px; min-width: 8px; margin: 0 1px;"
        " background-image: linear-gradient(to top right, transparent 50%, currentColor 50%),"
        " linear-gradient(to top left, transparent 50%, currentColor 50%);"
        " background-size: 50% 100%; background-position: left center, right center;"
        " background-repeat: no-repeat; }\n"
        "#kivo-chooser cellview { min-height: 0; padding: 0; }\n"
        "#kivo-chooser { font-size: 12px; }\n"
        "#kivo-search { min-height: 0; padding: 0 3px; border-radius: 0; font-size: 12px; }\n"
        "window.kivo-dialog button { min-height: 0; padding: 0 4px; }\n"
        "window.kivo-dialog entry { min-height: 0; padding: 0 3px; }\n"
        "window.kivo-dialog combobox button { min-height: 0; padding: 0 4px; }\n"
        "window.kivo-dialog checkbutton { min-height: 0; padding: 0; }\n";
    GtkCssProvider* provider = gtk_css_provider_new();
    gtk_css_provider_load_from_data(provider, kCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(provider),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    g_object_unref(provider);
}

namespace {
std::vector<GMainLoop*> g_runs;
bool g_quitting = false;
}  // namespace

bool ModalRuns::Run(GMainLoop* loop) {
    if (g_quitting) return false;
    g_runs.push_back(loop);
    g_main_loop_run(loop);
    g_runs.erase(std::remove(g_runs.begin(), g_runs.end(), loop), g_runs.end());
    return !g_quitting;
}

void ModalRuns::End(GMainLoop* loop) {
    if (loop != nullptr) g_main_loop_quit(loop);
}

void ModalRuns::QuitAll() {
    g_quitting = true;
    for (GMainLoop* loop : g_runs) g_main_loop_quit(loop);
}

bool ModalRuns::Quitting() { return g_quitting; }

}  // namespace kivo::gtk
