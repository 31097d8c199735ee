// The peer for start-up time: a bare GTK 3 window of the popup's size,
// without decorations, that reports when it is mapped, as kivo's trace does.
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>

static void Trace(const char* event) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    std::printf("[%lld] %s\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()), event);
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    gtk_init(&argc, &argv);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_decorated(GTK_WINDOW(window), FALSE);
    gtk_window_set_default_size(GTK_WINDOW(window), 179, 221);
    g_signal_connect(window, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) -> gboolean {
                         Trace("window mapped");
                         return FALSE;
                     }),
                     nullptr);
    g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
    gtk_widget_show_all(window);
    gtk_main();
}
