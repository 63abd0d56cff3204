#include "app/handoff/InstanceHandOff.h"

#include <dbus/dbus.h>

#include <cstdlib>
#include <memory>
#include <utility>

#include "app/handoff/InstanceBusNames.h"

namespace lumacap {
namespace {

using instancebus::answerTimeoutMs;
using instancebus::interfaceName;
using instancebus::objectPath;
using instancebus::serviceName;

struct ConnectionCloser {
  void operator()(DBusConnection* connection) const {
    dbus_connection_close(connection);
    dbus_connection_unref(connection);
  }
};
struct MessageUnref {
  void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionCloser>;
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

// Appends an empty container of `signature`'s elements ("v" or "{sv}").
// The action's parameter (av): the seconds of a countdown before it, or nothing.
bool appendParameter(DBusMessageIter* arguments, int delay) {
  DBusMessageIter list, variant;
  const dbus_int32_t seconds = delay;
  if (!dbus_message_iter_open_container(arguments, DBUS_TYPE_ARRAY, "v", &list)) return false;
  if (delay > 0 && !(dbus_message_iter_open_container(&list, DBUS_TYPE_VARIANT, "i", &variant) &&
                     dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &seconds) &&
                     dbus_message_iter_close_container(&list, &variant)))
    return false;
  return dbus_message_iter_close_container(arguments, &list);
}

bool appendStringEntry(DBusMessageIter* dictionary, const char* key, const char* value) {
  DBusMessageIter entry, variant;
  return dbus_message_iter_open_container(dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry) &&
         dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &key) &&
         dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "s", &variant) &&
         dbus_message_iter_append_basic(&variant, DBUS_TYPE_STRING, &value) &&
         dbus_message_iter_close_container(&entry, &variant) &&
         dbus_message_iter_close_container(dictionary, &entry);
}

// The platform data a{sv}: the activation token the desktop gave the command
// that started us (a shortcut, a launcher), so that the window the request
// opens may take the focus in the running instance.
bool appendPlatformData(DBusMessageIter* arguments) {
  DBusMessageIter dictionary;
  if (!dbus_message_iter_open_container(arguments, DBUS_TYPE_ARRAY, "{sv}", &dictionary)) return false;
  for (const auto& [variable, key] : {std::pair{"XDG_ACTIVATION_TOKEN", "activation-token"},
                                      std::pair{"DESKTOP_STARTUP_ID", "desktop-startup-id"}}) {
    const char* value = std::getenv(variable);
    if (value && *value && !appendStringEntry(&dictionary, key, value)) return false;
  }
  return dbus_message_iter_close_container(arguments, &dictionary);
}

// ActivateAction(s name, av parameter, a{sv} platform_data) or
// Activate(a{sv} platform_data).
Message requestFor(const char* action, int delay) {
  const bool plain = !action || !*action;
  Message call(dbus_message_new_method_call(serviceName, objectPath, interfaceName,
                                            plain ? "Activate" : "ActivateAction"));
  if (!call) return nullptr;
  DBusMessageIter arguments;
  dbus_message_iter_init_append(call.get(), &arguments);
  const bool built = plain ? appendPlatformData(&arguments)
                           : dbus_message_iter_append_basic(&arguments, DBUS_TYPE_STRING, &action) &&
                                 appendParameter(&arguments, delay) && appendPlatformData(&arguments);
  if (!built) return nullptr;
  // When the instance has just gone, the application started next takes the
  // name; the bus must not start one of its own meanwhile.
  dbus_message_set_auto_start(call.get(), false);
  return call;
}

}  // namespace

HandOff handOverToRunningInstance(const char* action, int delay) {
  DBusError error;
  dbus_error_init(&error);
  Connection bus(dbus_bus_get_private(DBUS_BUS_SESSION, &error));
  if (!bus) {
    dbus_error_free(&error);
    return HandOff::noBus;
  }
  dbus_connection_set_exit_on_disconnect(bus.get(), false);
  const Message call = requestFor(action, delay);
  if (!call) return HandOff::noAnswer;
  const Message reply(
      dbus_connection_send_with_reply_and_block(bus.get(), call.get(), answerTimeoutMs, &error));
  if (reply) return HandOff::handedOver;
  const bool nobody = dbus_error_has_name(&error, DBUS_ERROR_SERVICE_UNKNOWN) ||
                      dbus_error_has_name(&error, DBUS_ERROR_NAME_HAS_NO_OWNER);
  dbus_error_free(&error);
  return nobody ? HandOff::noInstance : HandOff::noAnswer;
}

}  // namespace lumacap

extern "C" __attribute__((visibility("default"))) int lumacapHandOff(const char* action, int delay) {
  return static_cast<int>(lumacap::handOverToRunningInstance(action, delay));
}
