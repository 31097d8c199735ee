// A stand-in StatusNotifier watcher for the desktop tests: owns
// org.kde.StatusNotifierWatcher on the session bus (DBUS_SESSION_BUS_ADDRESS),
// says that a host shows the items, and takes every item that registers.
// Prints "watching" once the name is its own and "registered <bus name>
// <object path>" for each item, then runs until it is ended.
#include <gio/gio.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* kInterface = "org.kde.StatusNotifierWatcher";
constexpr const char* kPath = "/StatusNotifierWatcher";

const char kXml[] =
    "<node>"
    " <interface name='org.kde.StatusNotifierWatcher'>"
    "  <method name='RegisterStatusNotifierItem'><arg type='s' name='service' direction='in'/></method>"
    "  <method name='RegisterStatusNotifierHost'><arg type='s' name='service' direction='in'/></method>"
    "  <property name='RegisteredStatusNotifierItems' type='as' access='read'/>"
    "  <property name='IsStatusNotifierHostRegistered' type='b' access='read'/>"
    "  <property name='ProtocolVersion' type='i' access='read'/>"
    "  <signal name='StatusNotifierItemRegistered'><arg type='s' name='service'/></signal>"
    "  <signal name='StatusNotifierItemUnregistered'><arg type='s' name='service'/></signal>"
    "  <signal name='StatusNotifierHostRegistered'/>"
    " </interface>"
    "</node>";

std::vector<std::string> g_items;  // "<bus name><object path>"

void OnMethod(GDBusConnection* connection, const gchar* sender, const gchar*, const gchar*, const gchar* method,
              GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
        const gchar* service = nullptr;
        g_variant_get(parameters, "(&s)", &service);
        // An object path names an object of the caller; a bus name the
        // usual object of that name.
        const bool bPath = service[0] == '/';
        const std::string name = bPath ? sender : service;
        const std::string path = bPath ? service : "/StatusNotifierItem";
        g_items.push_back(name + path);
        g_dbus_method_invocation_return_value(invocation, nullptr);
        g_dbus_connection_emit_signal(connection, nullptr, kPath, kInterface, "StatusNotifierItemRegistered",
                                      g_variant_new("(s)", g_items.back().c_str()), nullptr);
        std::printf("registered %s %s\n", name.c_str(), path.c_str());
        std::fflush(stdout);
        return;
    }
    g_dbus_method_invocation_return_value(invocation, nullptr);  // a host: nothing to keep
}

GVariant* OnProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError** error,
                     gpointer) {
    if (g_strcmp0(property, "RegisteredStatusNotifierItems") == 0) {
        GVariantBuilder builder;
        g_variant_builder_init(&builder, G_VARIANT_TYPE("as"));
        for (const auto& item : g_items) g_variant_builder_add(&builder, "s", item.c_str());
        return g_variant_builder_end(&builder);
    }
    if (g_strcmp0(property, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
    if (g_strcmp0(property, "ProtocolVersion") == 0) return g_variant_new_int32(0);
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "no property %s", property);
    return nullptr;
}

void OnNameAcquired(GDBusConnection*, const gchar*, gpointer) {
    std::printf("watching\n");
    std::fflush(stdout);
}

void OnNameLost(GDBusConnection*, const gchar* name, gpointer loop) {
    std::printf("lost %s\n", name);
    std::fflush(stdout);
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
}

}  // namespace

int main() {
    GError* error = nullptr;
    GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (connection == nullptr) {
        std::printf("no session bus: %s\n", error != nullptr ? error->message : "");
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kXml, nullptr);
    static const GDBusInterfaceVTable vtable = {OnMethod, OnProperty, nullptr, {}};
    g_dbus_connection_register_object(connection, kPath, node->interfaces[0], &vtable, nullptr, nullptr, nullptr);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    const guint owner = g_bus_own_name_on_connection(connection, kInterface, G_BUS_NAME_OWNER_FLAGS_NONE,
                                                     OnNameAcquired, OnNameLost, loop, nullptr);
    g_main_loop_run(loop);
    g_bus_unown_name(owner);
    g_main_loop_unref(loop);
    g_dbus_node_info_unref(node);
    g_object_unref(connection);
    return 1;
}
