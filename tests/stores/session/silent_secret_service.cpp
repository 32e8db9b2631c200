// silent_secret_service <bus address>
//
// Takes the Secret Service's name on the given bus, prints "ready" and then never answers a call: every
// method call that reaches it is dropped unread, as a hung keyring daemon would leave it. Ends when its
// standard input closes (the test that started it is gone) or on a signal.
#include <gio/gio.h>
#include <glib-unix.h>

#include <cstdio>
#include <unistd.h>

namespace {
GDBusMessage* dropMethodCalls(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
    if (incoming && g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL) {
        g_object_unref(message);
        return nullptr;
    }
    return message;
}

gboolean inputChanged(gint fd, GIOCondition, gpointer loop) {
    char buffer[64];
    if (read(fd, buffer, sizeof buffer) > 0) {
        return G_SOURCE_CONTINUE;
    }
    g_main_loop_quit(static_cast<GMainLoop*>(loop));
    return G_SOURCE_REMOVE;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: silent_secret_service <bus address>\n");
        return 2;
    }
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        argv[1],
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!bus) {
        std::fprintf(stderr, "silent_secret_service: %s\n", error->message);
        return 1;
    }
    g_dbus_connection_add_filter(bus, &dropMethodCalls, nullptr, nullptr);
    // The bus's answer is a method return, which the filter lets through.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.secrets", 4u /* DO_NOT_QUEUE */), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (!reply) {
        std::fprintf(stderr, "silent_secret_service: %s\n", error->message);
        return 1;
    }
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    g_variant_unref(reply);
    if (result != 1 /* PRIMARY_OWNER */) {
        std::fprintf(stderr, "silent_secret_service: the name is taken (%u)\n", result);
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    g_unix_fd_add(STDIN_FILENO, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP | G_IO_ERR), &inputChanged,
                  loop);
    g_unix_signal_add(
        SIGTERM,
        [](gpointer l) -> gboolean {
            g_main_loop_quit(static_cast<GMainLoop*>(l));
            return G_SOURCE_REMOVE;
        },
        loop);
    g_main_loop_run(loop);
    g_main_loop_unref(loop);
    g_object_unref(bus);
    return 0;
}
