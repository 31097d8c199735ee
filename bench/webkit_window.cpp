// The peer for memory and start-up: the smallest WebKitGTK window showing
// the page, with WebKit's defaults. It loads each address given, one after
// the other, and reports as kivo's trace does.
#include <webkit2/webkit2.h>

#include <chrono>
#include <cstdio>

static char** g_uris;
static int g_next = 0, g_count = 0;

static void Trace(const char* event, const char* detail = "") {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::printf("[%lld] %s%s\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()), event,
                detail);
    std::fflush(stdout);
}

static void OnLoad(WebKitWebView* view, WebKitLoadEvent event, gpointer) {
    if (event != WEBKIT_LOAD_FINISHED) return;
    Trace("page loaded ", webkit_web_view_get_uri(view));
    if (g_next < g_count) webkit_web_view_load_uri(view, g_uris[g_next++]);
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    g_uris = argv + 1;
    g_count = argc - 1;
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 156, 135);
    GtkWidget* view = webkit_web_view_new();
    gtk_container_add(GTK_CONTAINER(window), view);
    g_signal_connect(view, "load-changed", G_CALLBACK(OnLoad), nullptr);
    g_signal_connect(window, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                         Trace("window mapped");
                         return FALSE;
                     }),
                     nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    if (g_count > 0) webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), g_uris[g_next++]);
    gtk_main();
}
