#include "app/handoff/CaptureRequestCall.h"

#include <dbus/dbus.h>

#include <cstring>

#include "app/handoff/InstanceBusNames.h"

namespace lumacap {
namespace {

struct Call {
  DBusConnection* bus = nullptr;
  DBusPendingCall* pending = nullptr;
};

RequestOutcome outcomeOfError(const char* name) {
  using namespace instancebus;
  const auto is = [name](const char* known) { return std::strcmp(name, known) == 0; };
  if (is(DBUS_ERROR_SERVICE_UNKNOWN) || is(DBUS_ERROR_NAME_HAS_NO_OWNER)) return RequestOutcome::noInstance;
  if (is(busyError)) return RequestOutcome::busy;
  if (is(cancelledError)) return RequestOutcome::cancelled;
  if (is(timedOutError) || is(DBUS_ERROR_NO_REPLY) || is(DBUS_ERROR_TIMEOUT)) return RequestOutcome::timedOut;
  if (is(refusedError) || is(DBUS_ERROR_ACCESS_DENIED)) return RequestOutcome::refused;
  return RequestOutcome::failed;
}

void end(void* opaque) {
  auto* call = static_cast<Call*>(opaque);
  if (!call) return;
  if (call->pending) {
    dbus_pending_call_cancel(call->pending);
    dbus_pending_call_unref(call->pending);
  }
  dbus_connection_close(call->bus);
  dbus_connection_unref(call->bus);
  delete call;
}

void* start(const char* agent, const char* folder, const char* reason, int timeoutMs, int* outcome) {
  *outcome = static_cast<int>(RequestOutcome::noInstance);
  // libdbus aborts the process on text that is not UTF-8.
  for (const char* text : {agent, folder, reason})
    if (!dbus_validate_utf8(text, nullptr)) {
      *outcome = static_cast<int>(RequestOutcome::failed);
      return nullptr;
    }
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* bus = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  dbus_error_free(&error);
  if (!bus) return nullptr;
  dbus_connection_set_exit_on_disconnect(bus, false);
  auto* call = new Call{bus, nullptr};
  DBusMessage* message =
      dbus_message_new_method_call(instancebus::serviceName, instancebus::agentsPath,
                                   instancebus::agentsInterface, instancebus::requestCaptureMethod);
  const bool sent = message &&
                    dbus_message_append_args(message, DBUS_TYPE_STRING, &agent, DBUS_TYPE_STRING, &folder,
                                             DBUS_TYPE_STRING, &reason, DBUS_TYPE_INVALID) &&
                    // Never starts Lumacap: only a running one is asked.
                    (dbus_message_set_auto_start(message, false), true) &&
                    dbus_connection_send_with_reply(bus, message, &call->pending, timeoutMs) && call->pending;
  if (message) dbus_message_unref(message);
  if (!sent) {
    *outcome = static_cast<int>(RequestOutcome::failed);
    end(call);
    return nullptr;
  }
  dbus_connection_flush(bus);
  *outcome = static_cast<int>(RequestOutcome::pending);
  return call;
}

int descriptor(void* opaque) {
  int fd = -1;
  dbus_connection_get_unix_fd(static_cast<Call*>(opaque)->bus, &fd);
  return fd;
}

int step(void* opaque, char* id, size_t idSize) {
  auto* call = static_cast<Call*>(opaque);
  if (!call->pending) return static_cast<int>(RequestOutcome::failed);
  // Reads what is there without waiting, and hands it to the pending call.
  if (!dbus_connection_read_write(call->bus, 0) && !dbus_pending_call_get_completed(call->pending))
    return static_cast<int>(RequestOutcome::failed);
  while (dbus_connection_dispatch(call->bus) == DBUS_DISPATCH_DATA_REMAINS) {
  }
  if (!dbus_pending_call_get_completed(call->pending)) return static_cast<int>(RequestOutcome::pending);
  DBusMessage* reply = dbus_pending_call_steal_reply(call->pending);
  dbus_pending_call_unref(call->pending);
  call->pending = nullptr;
  if (!reply) return static_cast<int>(RequestOutcome::failed);
  RequestOutcome outcome = RequestOutcome::failed;
  const char* text = nullptr;
  if (dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_ERROR) {
    outcome = outcomeOfError(dbus_message_get_error_name(reply));
  } else if (dbus_message_get_args(reply, nullptr, DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID) &&
             idSize > 0) {
    std::strncpy(id, text, idSize - 1);
    id[idSize - 1] = '\0';
    outcome = RequestOutcome::captured;
  }
  dbus_message_unref(reply);
  return static_cast<int>(outcome);
}

constexpr CaptureRequestCalls calls{start, descriptor, step, end};

}  // namespace
}  // namespace lumacap

extern "C" __attribute__((visibility("default"))) const lumacap::CaptureRequestCalls*
lumacapCaptureRequestCalls() {
  return &lumacap::calls;
}
