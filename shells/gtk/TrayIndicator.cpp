#include "shells/gtk/TrayIndicator.h"

#include <gdk/gdkx.h>
#include <gio/gio.h>
#include <glib/gstdio.h>

#ifdef KIVO_HAVE_APPINDICATOR
#include <libayatana-appindicator/app-indicator.h>

#include "platform/linux/SharedLibrary.h"
#endif

#include "shells/gtk/GtkShell.h"

namespace kivo::gtk {

namespace {

constexpr const char* kWatcherName = "org.kde.StatusNotifierWatcher";
constexpr guint kBusTimeoutMs = 500;

// An XEmbed tray manager owns the selection _NET_SYSTEM_TRAY_S<screen>.
bool HasXEmbedTray() {
    GdkDisplay* display = gdk_display_get_default();
    if (display == nullptr || !GDK_IS_X11_DISPLAY(display)) return false;
    ::Display* x = GDK_DISPLAY_XDISPLAY(display);
    const int screen = gdk_x11_screen_get_screen_number(gdk_display_get_default_screen(display));
    const std::string name = "_NET_SYSTEM_TRAY_S" + std::to_string(screen);
    return XGetSelectionOwner(x, XInternAtom(x, name.c_str(), False)) != None;
}

#ifdef KIVO_HAVE_APPINDICATOR
// One question to the session bus, on a connection of its own, answered
// within kBusTimeoutMs or taken as "no".
struct WatcherQuery {
    GCancellable* cancellable = nullptr;
    GDBusConnection* connection = nullptr;
    bool done = false;
    bool owned = false;
};

void OnOwnerReply(GObject* source, GAsyncResult* result, gpointer data) {
    auto* query = static_cast<WatcherQuery*>(data);
    if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr)) {
        gboolean owned = FALSE;
        g_variant_get(reply, "(b)", &owned);
        query->owned = owned != FALSE;
        g_variant_unref(reply);
    }
    query->done = true;
}

void OnBusConnected(GObject*, GAsyncResult* result, gpointer data) {
    auto* query = static_cast<WatcherQuery*>(data);
    query->connection = g_dbus_connection_new_for_address_finish(result, nullptr);
    if (query->connection == nullptr) {
        query->done = true;
        return;
    }
    // Only whether the name has an owner now: no service is started for it.
    g_dbus_connection_call(query->connection, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "NameHasOwner", g_variant_new("(s)", kWatcherName), G_VARIANT_TYPE("(b)"),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, static_cast<gint>(kBusTimeoutMs), query->cancellable,
                           OnOwnerReply, query);
}

gboolean OnQueryTimeout(gpointer data) {
    g_cancellable_cancel(static_cast<WatcherQuery*>(data)->cancellable);
    return G_SOURCE_REMOVE;
}

// The indicator library, loaded only where a StatusNotifier item is made:
// with its menu and indicator libraries it would cost every start, and the
// program runs without it (the XEmbed icon) where it is not installed.
struct IndicatorLibrary {
    decltype(&app_indicator_new_with_path) new_with_path;
    decltype(&app_indicator_set_title) set_title;
    decltype(&app_indicator_set_menu) set_menu;
    decltype(&app_indicator_set_secondary_activate_target) set_secondary_activate_target;
    decltype(&app_indicator_set_status) set_status;
};

const IndicatorLibrary* LoadIndicator() {
    void* library = kivo::platform::OpenLibrary("libayatana-appindicator3.so.1");
    if (library == nullptr) return nullptr;
    static IndicatorLibrary functions{};
    using kivo::platform::Bind;
    const bool bound =
        Bind(library, "app_indicator_new_with_path", functions.new_with_path) &&
        Bind(library, "app_indicator_set_title", functions.set_title) &&
        Bind(library, "app_indicator_set_menu", functions.set_menu) &&
        Bind(library, "app_indicator_set_secondary_activate_target", functions.set_secondary_activate_target) &&
        Bind(library, "app_indicator_set_status", functions.set_status);
    return bound ? &functions : nullptr;
}

const IndicatorLibrary* Indicator() {
    static const IndicatorLibrary* const library = LoadIndicator();
    return library;
}

bool HasWatcher() {
    gchar* address = g_dbus_address_get_for_bus_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    // No session bus, or one that would first have to be launched: no watcher.
    if (address == nullptr || g_str_has_prefix(address, "autolaunch:")) {
        g_free(address);
        return false;
    }
    // The answer is awaited on a context of its own, so that nothing else
    // of the program runs meanwhile.
    GMainContext* context = g_main_context_new();
    g_main_context_push_thread_default(context);
    WatcherQuery query;
    query.cancellable = g_cancellable_new();
    GSource* timeout = g_timeout_source_new(kBusTimeoutMs);
    g_source_set_callback(timeout, OnQueryTimeout, &query, nullptr);
    g_source_attach(timeout, context);
    g_dbus_connection_new_for_address(address,
                                      static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                                                        G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
                                      nullptr, query.cancellable, OnBusConnected, &query);
    while (!query.done) g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
    if (query.connection != nullptr) {
        g_dbus_connection_close_sync(query.connection, nullptr, nullptr);
        g_object_unref(query.connection);
    }
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
    g_main_context_unref(context);
    g_object_unref(query.cancellable);
    g_free(address);
    return query.owned;
}
#else
// Without indicator support a watcher changes nothing: the bus is not asked.
bool HasWatcher() { return false; }
#endif

}  // namespace

TrayKind DetectTrayKind() {
    const bool bXEmbedTray = HasXEmbedTray();
    const bool bWatcher = !bXEmbedTray && HasWatcher();
    const TrayKind kind = ChooseTrayKind(bXEmbedTray, bWatcher);
    Trace(std::string("tray kind ") + TrayKindName(kind) +
          (bXEmbedTray ? ", XEmbed tray"
           : bWatcher  ? ", StatusNotifier watcher"
                       : ", no tray seen"));
    return kind;
}

std::unique_ptr<CTrayIndicator> CTrayIndicator::Create(const std::string& title, GtkWidget* menu,
                                                       std::function<void()> onSecondary) {
#ifndef KIVO_HAVE_APPINDICATOR
    (void)title;
    (void)menu;
    (void)onSecondary;
    return nullptr;
#else
    const IndicatorLibrary* library = Indicator();
    if (menu == nullptr || library == nullptr) return nullptr;
    std::unique_ptr<CTrayIndicator> tray(new CTrayIndicator());
    tray->m_onSecondary = std::move(onSecondary);

    // The icon, as a file the panel can read: the embedded PNG in a folder
    // only this user can enter, named as the icon.
    gchar* dir = g_dir_make_tmp("kivo-XXXXXX", nullptr);
    if (dir == nullptr) return nullptr;
    tray->m_tempDir = dir;
    g_free(dir);
    GBytes* png = g_resources_lookup_data("/cn/kivo/res/icon128.png", G_RESOURCE_LOOKUP_FLAGS_NONE, nullptr);
    if (png == nullptr) return nullptr;
    const std::string file = tray->m_tempDir + "/kivo.png";
    gsize size = 0;
    const auto* bytes = static_cast<const gchar*>(g_bytes_get_data(png, &size));
    const bool written = g_file_set_contents(file.c_str(), bytes, static_cast<gssize>(size), nullptr) != FALSE;
    g_bytes_unref(png);
    if (!written) return nullptr;
    tray->m_iconFile = file;

    tray->m_indicator =
        library->new_with_path("kivo", "kivo", APP_INDICATOR_CATEGORY_APPLICATION_STATUS, tray->m_tempDir.c_str());
    library->set_title(tray->m_indicator, title.c_str());
    g_signal_connect(tray->m_indicator, "connection-changed", G_CALLBACK(OnConnectionChanged), nullptr);

    // The secondary activation runs a menu item, which the library takes
    // only when it belongs to the indicator's menu. This one sits in a menu
    // of its own attached to an item of the tray menu: it counts as part of
    // it, and the panel never shows it.
    tray->m_menu = GTK_WIDGET(g_object_ref(menu));
    tray->m_secondaryMenu = gtk_menu_new();
    g_object_ref_sink(tray->m_secondaryMenu);
    tray->m_secondaryItem = gtk_menu_item_new();
    gtk_menu_shell_append(GTK_MENU_SHELL(tray->m_secondaryMenu), tray->m_secondaryItem);
    gtk_widget_show(tray->m_secondaryItem);
    g_signal_connect(tray->m_secondaryItem, "activate", G_CALLBACK(OnSecondary), tray.get());
    GList* items = gtk_container_get_children(GTK_CONTAINER(menu));
    if (items != nullptr) gtk_menu_attach_to_widget(GTK_MENU(tray->m_secondaryMenu), GTK_WIDGET(items->data), nullptr);
    g_list_free(items);

    library->set_menu(tray->m_indicator, GTK_MENU(menu));
    library->set_secondary_activate_target(tray->m_indicator, tray->m_secondaryItem);
    library->set_status(tray->m_indicator, APP_INDICATOR_STATUS_ACTIVE);
    return tray;
#endif
}

CTrayIndicator::~CTrayIndicator() {
#ifdef KIVO_HAVE_APPINDICATOR
    if (m_indicator != nullptr) {
        g_signal_handlers_disconnect_by_func(m_indicator, reinterpret_cast<gpointer>(OnConnectionChanged), nullptr);
        // The indicator holds the session bus connection, which closes with
        // its last reference, losing what it has not sent yet (such as the
        // answer to the menu event that ends the program). Held here until
        // all of that, and the indicator's passive status, has left.
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        Indicator()->set_status(m_indicator, APP_INDICATOR_STATUS_PASSIVE);
        g_object_unref(m_indicator);
        if (bus != nullptr) {
            g_dbus_connection_flush_sync(bus, nullptr, nullptr);
            g_object_unref(bus);
        }
    }
#endif
    if (m_secondaryItem != nullptr) g_signal_handlers_disconnect_by_data(m_secondaryItem, this);
    if (m_secondaryMenu != nullptr) {
        gtk_widget_destroy(m_secondaryMenu);
        g_object_unref(m_secondaryMenu);
    }
    if (m_menu != nullptr) g_object_unref(m_menu);
    if (!m_iconFile.empty()) g_remove(m_iconFile.c_str());
    if (!m_tempDir.empty()) g_rmdir(m_tempDir.c_str());
}

void CTrayIndicator::OnSecondary(GtkMenuItem*, gpointer self) {
    auto* tray = static_cast<CTrayIndicator*>(self);
    if (tray->m_onSecondary) tray->m_onSecondary();
}

void CTrayIndicator::OnConnectionChanged(struct _AppIndicator*, gboolean connected, gpointer) {
    Trace(connected ? "tray indicator connected" : "tray indicator not connected");
}

}  // namespace kivo::gtk
