// Loaded into the program (LD_PRELOAD) where a test must know what the program asked of another
// application, over the accessibility bus or over the private connection an application offers
// its clients, which no monitor of the bus sees. Each method call sent through libdbus (libatspi's
// and the program's own) is appended to the file named by RAVLIN_BUS_CALLS_FILE as one line:
// "destination path interface.member". Calls only: never an argument, so never a text.
#include <dbus/dbus.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

int recordFile() {
    static const int file = [] {
        const char* name = std::getenv("RAVLIN_BUS_CALLS_FILE");
        return name != nullptr ? ::open(name, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600)
                               : -1;
    }();
    return file;
}

void record(DBusMessage* message) {
    const int file = recordFile();
    if (file < 0 || message == nullptr ||
        dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_METHOD_CALL) {
        return;
    }
    const auto part = [](const char* text) { return std::string(text != nullptr ? text : "-"); };
    const std::string line = part(dbus_message_get_destination(message)) + ' ' +
                             part(dbus_message_get_path(message)) + ' ' +
                             part(dbus_message_get_interface(message)) + '.' +
                             part(dbus_message_get_member(message)) + '\n';
    // (one write with O_APPEND: lines of the program's threads never interleave)
    (void)!::write(file, line.data(), line.size());
}

template <typename Function>
Function next(const char* name) {
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

// The program's children (the clipboard keeper, tools it runs) are not recorded.
__attribute__((constructor)) void notForChildren() {
    ::unsetenv("LD_PRELOAD");
}

}  // namespace

extern "C" {

dbus_bool_t dbus_connection_send(DBusConnection* connection, DBusMessage* message,
                                 dbus_uint32_t* serial) {
    static const auto send = next<decltype(&dbus_connection_send)>("dbus_connection_send");
    record(message);
    return send(connection, message, serial);
}

dbus_bool_t dbus_connection_send_with_reply(DBusConnection* connection, DBusMessage* message,
                                            DBusPendingCall** pending, int timeout) {
    static const auto send =
        next<decltype(&dbus_connection_send_with_reply)>("dbus_connection_send_with_reply");
    record(message);
    return send(connection, message, pending, timeout);
}

DBusMessage* dbus_connection_send_with_reply_and_block(DBusConnection* connection,
                                                       DBusMessage* message, int timeout,
                                                       DBusError* error) {
    static const auto send = next<decltype(&dbus_connection_send_with_reply_and_block)>(
        "dbus_connection_send_with_reply_and_block");
    record(message);
    return send(connection, message, timeout, error);
}

}  // extern "C"
