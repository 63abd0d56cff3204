/* Input for tests on GNOME through org.gnome.Mutter.RemoteDesktop, on the session bus.
 * Absolute pointer motion would need a ScreenCast stream (and so PipeWire): the pointer is
 * moved relatively instead, from the layout's bottom-left corner, which it is first pushed into.
 * Reads one command per line and answers "ok" once mutter has taken it:
 *   move X Y          pointer to global layout coordinates
 *   down | up         left button
 *   key S1,S2,...     keysyms (hexadecimal) pressed in order, released in reverse order
 * The session (and with it the seat's virtual keyboard and pointer) lives as long as this
 * process.
 * usage: mutter-remote-desktop WIDTH HEIGHT   (the extent of the monitor layout) */
#include <dbus/dbus.h>
#include <math.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { buttonLeft = 0x110 };
static const char* const service = "org.gnome.Mutter.RemoteDesktop";
static const char* const sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";

static DBusConnection* bus;
static char sessionPath[256];
static double layoutWidth, layoutHeight, pointerX, pointerY;
static int pointerKnown, buttonDown;

/* Calls a method of the session; whether it succeeded. The arguments follow as in
 * dbus_message_append_args. */
static int call(const char* method, int firstType, ...) {
  DBusMessage* message = dbus_message_new_method_call(service, sessionPath, sessionInterface, method);
  va_list arguments;
  va_start(arguments, firstType);
  dbus_message_append_args_valist(message, firstType, arguments);
  va_end(arguments);
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, message, 5000, &error);
  dbus_message_unref(message);
  if (!reply) {
    fprintf(stderr, "mutter-remote-desktop: %s: %s\n", method, error.message);
    dbus_error_free(&error);
    return 0;
  }
  dbus_message_unref(reply);
  return 1;
}

/* mutter clamps one large motion at a monitor's edge: move in small steps so the pointer
 * crosses from one monitor to the next. */
static int moveBy(double dx, double dy) {
  const int steps = (int)(fmax(fabs(dx), fabs(dy)) / 50) + 1;
  for (int i = 0; i < steps; ++i) {
    double stepX = dx / steps, stepY = dy / steps;
    if (!call("NotifyPointerMotionRelative", DBUS_TYPE_DOUBLE, &stepX, DBUS_TYPE_DOUBLE, &stepY,
              DBUS_TYPE_INVALID))
      return 0;
  }
  return 1;
}

static int moveTo(double x, double y) {
  /* While the button is up the pointer goes home first, so that a stray motion cannot add up. */
  if (!pointerKnown || !buttonDown) {
    /* Home is the bottom-left corner, reached down first, then left: the top-left one is
     * GNOME's hot corner, whose barriers run down the left edge as far as the top bar is high,
     * and a pointer pushed left along them (as from where it starts, 16,16) opens the Overview
     * unless a full-screen window covers that monitor, which takes all input after. */
    if (!moveBy(0, layoutHeight + 50) || !moveBy(-layoutWidth - 50, 0)) return 0;
    pointerX = 0, pointerY = layoutHeight - 1;
    pointerKnown = 1;
  }
  if (!moveBy(x - pointerX, y - pointerY)) return 0;
  pointerX = x, pointerY = y;
  return 1;
}

static int button(int pressed) {
  int32_t code = buttonLeft;
  dbus_bool_t state = pressed;
  buttonDown = pressed;
  return call("NotifyPointerButton", DBUS_TYPE_INT32, &code, DBUS_TYPE_BOOLEAN, &state, DBUS_TYPE_INVALID);
}

static int key(uint32_t keysym, int pressed) {
  dbus_bool_t state = pressed;
  return call("NotifyKeyboardKeysym", DBUS_TYPE_UINT32, &keysym, DBUS_TYPE_BOOLEAN, &state,
              DBUS_TYPE_INVALID);
}

static int pressKeys(char* keysyms) {
  uint32_t pressed[16];
  int count = 0, ok = 1;
  for (char* text = strtok(keysyms, ","); text && count < 16; text = strtok(NULL, ",")) {
    pressed[count] = (uint32_t)strtoul(text, NULL, 16);
    ok = key(pressed[count++], 1) && ok;
  }
  while (count-- > 0) ok = key(pressed[count], 0) && ok;
  return ok;
}

static int perform(char* line) {
  double x, y;
  char keysyms[256];
  if (sscanf(line, "move %lf %lf", &x, &y) == 2) return moveTo(x, y);
  if (strncmp(line, "down", 4) == 0) return button(1);
  if (strncmp(line, "up", 2) == 0) return button(0);
  if (sscanf(line, "key %255s", keysyms) == 1) return pressKeys(keysyms);
  return 0;
}

static int createSession(void) {
  DBusMessage* message =
      dbus_message_new_method_call(service, "/org/gnome/Mutter/RemoteDesktop", service, "CreateSession");
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* reply = dbus_connection_send_with_reply_and_block(bus, message, 10000, &error);
  dbus_message_unref(message);
  const char* path = NULL;
  if (!reply || !dbus_message_get_args(reply, &error, DBUS_TYPE_OBJECT_PATH, &path, DBUS_TYPE_INVALID)) {
    fprintf(stderr, "mutter-remote-desktop: CreateSession: %s\n", error.message);
    dbus_error_free(&error);
    if (reply) dbus_message_unref(reply);
    return 0;
  }
  snprintf(sessionPath, sizeof sessionPath, "%s", path);
  dbus_message_unref(reply);
  return call("Start", DBUS_TYPE_INVALID);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fputs("usage: mutter-remote-desktop WIDTH HEIGHT\n", stderr);
    return 1;
  }
  layoutWidth = atof(argv[1]);
  layoutHeight = atof(argv[2]);
  DBusError error;
  dbus_error_init(&error);
  bus = dbus_bus_get(DBUS_BUS_SESSION, &error);
  if (!bus) {
    fprintf(stderr, "mutter-remote-desktop: no session bus: %s\n", error.message);
    return 2;
  }
  if (!createSession()) return 3;
  puts("ready");
  fflush(stdout);
  char line[512];
  while (fgets(line, sizeof line, stdin)) {
    puts(perform(line) ? "ok" : "error");
    fflush(stdout);
  }
  call("Stop", DBUS_TYPE_INVALID);
  return 0;
}
