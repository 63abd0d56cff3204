#include "support/WaylandDesktop.h"

#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <functional>
#include <optional>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QEventLoop>
#include <QFile>
#include <QObject>
#include <QTimer>
#include <QVariantMap>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace lumacap::test {
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int outputWidth = 1280, outputHeight = 800, outputCount = 2;
// Every process of a desktop carries this variable (its value: the desktop's folder), so that
// the ones a bus or the compositor started are found and stopped as well.
constexpr const char* markerVariable = "LUMACAP_TEST_DESKTOP";
// Every desktop runs as this ordinary user, as people run them (sway refuses root outright); created on
// first use.
constexpr const char* sessionUserName = "lumacap-wayland-test";
constexpr const char* socketName = "wayland-lumacap";
// The name of KWin's desktop entry for the build's Lumacap.
constexpr const char* kwinBuildEntry = "lumacap-build";

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string lastLines(const fs::path& path, size_t count = 15) {
  const std::string text = readFile(path);
  size_t start = text.size();
  for (size_t lines = 0; start > 0 && lines <= count; --start)
    if (text[start - 1] == '\n') ++lines;
  return text.substr(start);
}

bool executable(const std::string& program) {
  if (program.find('/') != std::string::npos) return ::access(program.c_str(), X_OK) == 0;
  const char* path = std::getenv("PATH");
  std::istringstream folders(path ? path : "/usr/bin:/bin");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (::access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
  return false;
}

void chownTree(const fs::path& root, uid_t uid, gid_t gid) {
  if (::chown(root.c_str(), uid, gid) != 0) throw std::runtime_error("cannot chown " + root.string());
  for (const auto& entry : fs::recursive_directory_iterator(root))
    if (::lchown(entry.path().c_str(), uid, gid) != 0)
      throw std::runtime_error("cannot chown " + entry.path().string());
}

// The user the desktops run as; created (without a home) the first time.
std::optional<passwd> sessionUser(std::string* whyNot) {
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (const passwd* entry = ::getpwnam(sessionUserName)) return *entry;
    // A concurrent test may create it at the same moment: then the second look finds it.
    runProcess({"useradd", "--no-create-home", "--shell", "/usr/sbin/nologin", sessionUserName});
  }
  *whyNot = std::string("cannot create the user ") + sessionUserName + " that the desktops run as";
  return std::nullopt;
}

// pids of the processes whose environment holds `marker` (NAME=VALUE).
std::vector<pid_t> processesMarked(const std::string& marker) {
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.empty() || !std::all_of(name.begin(), name.end(), ::isdigit)) continue;
    const pid_t pid = std::stoi(name);
    if (pid == ::getpid()) continue;
    const std::string environment = readFile(entry.path() / "environ");
    for (size_t start = 0; start < environment.size();) {
      const size_t end = std::min(environment.find('\0', start), environment.size());
      if (environment.compare(start, end - start, marker) == 0) {
        found.push_back(pid);
        break;
      }
      start = end + 1;
    }
  }
  return found;
}

bool gone(pid_t pid) {
  const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return stat.empty() || close == std::string::npos || stat.compare(close + 2, 1, "Z") == 0;
}

struct KeyName {
  const char* name;
  int evdev;
  uint32_t keysym;
  const char* xkbName;   // as wtype takes it
  const char* modifier;  // wtype's modifier name, for the modifiers
};

constexpr KeyName namedKeys[] = {
    {"escape", 1, 0xff1b, "Escape", nullptr},   {"return", 28, 0xff0d, "Return", nullptr},
    {"enter", 28, 0xff0d, "Return", nullptr},   {"space", 57, 0x20, "space", nullptr},
    {"tab", 15, 0xff09, "Tab", nullptr},        {"backspace", 14, 0xff08, "BackSpace", nullptr},
    {"delete", 111, 0xffff, "Delete", nullptr}, {"print", 99, 0xff61, "Print", nullptr},
    {"left", 105, 0xff51, "Left", nullptr},     {"up", 103, 0xff52, "Up", nullptr},
    {"right", 106, 0xff53, "Right", nullptr},   {"down", 108, 0xff54, "Down", nullptr},
    {"shift", 42, 0xffe1, "Shift_L", "shift"},  {"ctrl", 29, 0xffe3, "Control_L", "ctrl"},
    {"alt", 56, 0xffe9, "Alt_L", "alt"},        {"super", 125, 0xffeb, "Super_L", "logo"},
    {"meta", 125, 0xffeb, "Super_L", "logo"},
};

// A key of a chord: its evdev code (KWin), keysym (mutter) and name (wtype).
struct Key {
  int evdev;
  uint32_t keysym;
  std::string xkbName;
  const char* modifier = nullptr;
};

Key keyNamed(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const KeyName& key : namedKeys)
    if (name == key.name) return {key.evdev, key.keysym, key.xkbName, key.modifier};
  static const std::string rows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
  static const int rowStarts[] = {16, 30, 44};
  if (name.size() == 1) {
    const char c = name[0];
    if (c >= '1' && c <= '9') return {2 + (c - '1'), uint32_t(c), name};
    if (c == '0') return {11, uint32_t(c), name};
    for (int row = 0; row < 3; ++row)
      if (const size_t at = rows[row].find(c); at != std::string::npos)
        return {rowStarts[row] + int(at), uint32_t(c), name};
  }
  throw std::invalid_argument("no key named “" + name + "”");
}

std::vector<Key> chordKeys(const std::string& chord) {
  std::vector<Key> keys;
  std::istringstream names(chord);
  for (std::string name; std::getline(names, name, '+');) keys.push_back(keyNamed(name));
  if (keys.empty()) throw std::invalid_argument("an empty key chord");
  return keys;
}

// Receives the report of the KWin script that lists the windows.
class ScriptReport : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.lumacap.TestSink")
 public:
  std::optional<QString> text;
 public Q_SLOTS:
  void report(const QString& json) { text = json; }
};

// Receives a portal request's Response signal.
template <typename Condition>
bool spinUntil(Condition condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// The KWin 5.27 script API (clientList, activeClient); Plasma 6 renamed them (windowList, activeWindow).
constexpr const char* kwinWindowScript = R"(
var list = workspace.windowList ? workspace.windowList() : workspace.clientList();
var active = workspace.activeWindow !== undefined ? workspace.activeWindow : workspace.activeClient;
var out = [];
for (var i = 0; i < list.length; i++) {
  var c = list[i];
  out.push({title: String(c.caption), app: String(c.resourceClass), pid: c.pid, focused: c === active,
            x: c.x, y: c.y, w: c.width, h: c.height});
}
callDBus("SINK", "/", "org.lumacap.TestSink", "report", JSON.stringify(out));
)";

// A test-only GNOME Shell extension (GNOME 42–48): org.gnome.Shell.Introspect refuses ordinary
// clients, so the window list comes from inside the shell, without opening that API to the
// application under test.
constexpr const char* gnomeExtensionUuid = "lumacap-test-windows@lumacap";
constexpr const char* gnomeExtensionMetadata = R"({
  "uuid": "lumacap-test-windows@lumacap",
  "name": "Window list for Lumacap's tests",
  "description": "org.lumacap.TestShell.ListWindows: the windows as JSON.",
  "shell-version": ["42", "43", "44", "45", "46", "47", "48"]
})";
// GNOME 45 made extensions modules: what they import, and how the class is handed over, differ.
constexpr const char* gnomeExtensionImports = R"(const { Gio, St } = imports.gi;
const Main = imports.ui.main;
)";
constexpr const char* gnomeExtensionModuleImports = R"(import Gio from 'gi://Gio';
import St from 'gi://St';
import * as Main from 'resource:///org/gnome/shell/ui/main.js';
import {Extension as Base} from 'resource:///org/gnome/shell/extensions/extension.js';
)";
constexpr const char* gnomeExtensionScript = R"(const IFACE = `<node><interface name="org.lumacap.TestShell">
  <method name="ListWindows"><arg type="s" direction="out" name="json"/></method>
  <method name="ListDialogs"><arg type="s" direction="out" name="json"/></method>
</interface></node>`;
class Extension {
  enable() {
    this._object = Gio.DBusExportedObject.wrapJSObject(IFACE, this);
    this._object.export(Gio.DBus.session, '/org/lumacap/TestShell');
    this._name = Gio.bus_own_name(Gio.BusType.SESSION, 'org.lumacap.TestShell', Gio.BusNameOwnerFlags.NONE,
                                  null, null, null);
  }
  disable() {
    Gio.bus_unown_name(this._name);
    this._object.unexport();
  }
  ListWindows() {
    const focus = global.display.get_focus_window();
    return JSON.stringify(global.get_window_actors().map(a => a.meta_window).map(w => {
      const r = w.get_frame_rect();
      const parent = w.get_transient_for();
      return {title: w.get_title() || '', app: w.get_wm_class() || '', pid: w.get_pid(), focused: w === focus,
              x: r.x, y: r.y, w: r.width, h: r.height, parent: parent ? parent.get_title() || '' : ''};
    }));
  }
  ListDialogs() {
    const texts = actor => actor instanceof St.Label ? [actor.get_text()]
                                                     : actor.get_children().flatMap(texts);
    const dialogs = Main.layoutManager.modalDialogGroup.get_children()
      .filter(a => a.visible).map(a => texts(a).join('\n'));
    // The Shell's own screenshot UI (GNOME 48's portal opens it for an interactive screenshot).
    if (Main.screenshotUI && Main.screenshotUI.visible) dialogs.push('Screenshot UI');
    return JSON.stringify(dialogs);
  }
}
function init() { return new Extension(); }
)";

std::string gnomeExtension(const std::string& shellVersion) {
  std::string script = gnomeExtensionScript;
  if (std::atoi(shellVersion.c_str()) < 45) return gnomeExtensionImports + script;
  script.replace(script.find("class Extension {"), 17, "export default class Extension extends Base {");
  return gnomeExtensionModuleImports + script.substr(0, script.find("function init()"));
}

}  // namespace

std::string nameOf(Compositor compositor) {
  switch (compositor) {
    case Compositor::kwin:
      return "kwin";
    case Compositor::gnome:
      return "gnome";
    case Compositor::sway:
      return "sway";
    case Compositor::labwc:
      return "labwc";
  }
  return "?";
}

// A child that reads commands on standard input and answers each with one line.
class CommandChild {
 public:
  CommandChild(const std::vector<std::string>& command, int log) {
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0 || ::pipe2(output, O_CLOEXEC) != 0)
      throw std::runtime_error("pipe failed");
    process_ = std::make_unique<BackgroundProcess>(command, std::map<std::string, std::string>{},
                                                   std::array<int, 3>{input[0], output[1], log});
    ::close(input[0]);
    ::close(output[1]);
    to_ = input[1];
    from_ = output[0];
  }
  ~CommandChild() {
    ::close(to_);
    ::close(from_);
  }
  BackgroundProcess& process() { return *process_; }

  // The next line it writes, or nothing after `timeout`.
  std::optional<std::string> readLine(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      if (const size_t end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd readable{from_, POLLIN, 0};
      if (::poll(&readable, 1, int(left.count())) <= 0) continue;
      char chunk[4096];
      const ssize_t got = ::read(from_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, size_t(got));
    }
  }

  void send(const std::string& command) {
    const std::string line = command + "\n";
    if (::write(to_, line.data(), line.size()) != ssize_t(line.size()))
      throw std::runtime_error("the input injector is gone (" + command + ")");
    const auto answer = readLine(15s);
    if (answer != "ok") throw std::runtime_error("the input injector failed on “" + command + "”");
  }

 private:
  std::unique_ptr<BackgroundProcess> process_;
  int to_ = -1, from_ = -1;
  std::string buffer_;
};

struct WaylandDesktop::State {
  Compositor compositor;
  fs::path folder;
  std::optional<passwd> user;  // the session's user
  std::map<std::string, std::string> environment;
  std::vector<std::unique_ptr<BackgroundProcess>> services;
  std::unique_ptr<CommandChild> input;
  std::map<pid_t, fs::path> logs;
  int counter = 0;
  std::optional<QDBusConnection> bus;
  std::string noScreenshots;  // why the desktop takes none; empty when it does
  int compositorPid = 0;

  ~State() { stopAll(); }

  fs::path logFile(const std::string& name) {
    return folder / "logs" / (name + "-" + std::to_string(++counter) + ".log");
  }

  // The command that runs `argv` inside the session: as its user, in its environment.
  std::vector<std::string> wrap(const std::vector<std::string>& argv,
                                const std::map<std::string, std::string>& extra = {}) const {
    std::vector<std::string> command;
    // (setpriv runs the program itself, so its pid is the program's; under AsSessionUser, as is.)
    if (::geteuid() == 0)
      command = {"setpriv",       "--reuid", user->pw_name, "--regid", std::to_string(user->pw_gid),
                 "--init-groups", "--"};
    command.insert(command.end(), {"env", "-u", "DISPLAY", "-u", "QT_QPA_PLATFORM", "-u", "WAYLAND_SOCKET",
                                   "-u", "WAYLAND_DISPLAY", "-u", "SWAYSOCK"});
    std::map<std::string, std::string> variables = environment;
    for (const auto& [name, value] : extra) variables[name] = value;
    for (const auto& [name, value] : variables) command.push_back(name + "=" + value);
    command.insert(command.end(), argv.begin(), argv.end());
    return command;
  }

  // The desktop's folder as the session's user finds it: its own runtime folder (0700), home and
  // temporary folder; programs the harness copied into bin/ runnable from there, wherever the build
  // tree is. Called once the harness has written what it puts there.
  void handOver() {
    ::chmod(folder.c_str(), 0711);
    fs::create_directories(folder / "bin");
    ::chmod((folder / "bin").c_str(), 0755);
    for (const char* child : {"rt", "home", "tmp", "logs"})
      chownTree(folder / child, user->pw_uid, user->pw_gid);
  }

  // A copy in bin/ of one of the harness's input injectors.
  std::string injector(const std::string& name) {
    const fs::path copy = folder / "bin" / name;
    fs::copy_file(fs::path(LUMACAP_WAYLAND_INPUT_DIR) / name, copy, fs::copy_options::overwrite_existing);
    return copy.string();
  }

  BackgroundProcess& startService(const std::string& name, const std::vector<std::string>& argv,
                                  const std::map<std::string, std::string>& extra = {}) {
    const fs::path log = logFile(name);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    services.push_back(std::make_unique<BackgroundProcess>(
        wrap(argv, extra), std::map<std::string, std::string>{}, std::array<int, 3>{-1, fd, fd}));
    ::close(fd);
    logs[services.back()->pid()] = log;
    return *services.back();
  }

  ProcessResult run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 10s) const {
    return runProcess(wrap(argv), {}, {}, timeout);
  }

  bool hasName(const std::string& name, const std::string& bus = "--session") const {
    const auto answer = run({"dbus-send", bus, "--print-reply", "--dest=org.freedesktop.DBus",
                             "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name});
    return answer.exitStatus == 0 && answer.standardOutput.find("boolean true") != std::string::npos;
  }

  // Waits for `ready` while `process` runs; the reason when it does not come.
  std::optional<std::string> awaitReady(const std::string& what, BackgroundProcess& process,
                                        const std::function<bool()>& ready,
                                        std::chrono::milliseconds timeout) {
    bool died = false;
    const bool came = waitUntil(
        [&] {
          if (ready()) return true;
          died = !process.running();
          return died;
        },
        timeout);
    if (came && !died) return std::nullopt;
    const auto log = logs.find(process.pid());
    return what + (died ? " ended at start-up" : " did not come up in time") + ":\n" +
           (log != logs.end() ? lastLines(log->second) : std::string());
  }

  // A bus (dbus-daemon, the session's configuration) at `socket`: ready once it printed its address.
  // The harness, root, may connect to watch it, as it may to the compositor's socket.
  std::optional<std::string> startBus(const std::string& name, const fs::path& socket) {
    const fs::path configuration = folder / "bin/bus.conf";
    std::ofstream(configuration)
        << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig><include>/usr/share/dbus-1/session.conf</include>\n"
           "<policy context=\"default\"><allow user=\"root\"/></policy></busconfig>\n";
    ::chmod(configuration.c_str(), 0644);
    int address[2];
    if (::pipe2(address, O_CLOEXEC) != 0) return "pipe failed";
    const fs::path log = logFile(name);
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    services.push_back(std::make_unique<BackgroundProcess>(
        wrap({"dbus-daemon", "--nofork", "--nopidfile", "--config-file=" + configuration.string(),
              "--address=unix:path=" + socket.string(), "--print-address=1"}),
        std::map<std::string, std::string>{}, std::array<int, 3>{-1, address[1], fd}));
    ::close(fd);
    ::close(address[1]);
    pollfd readable{address[0], POLLIN, 0};
    char text[512];
    const bool printed = ::poll(&readable, 1, 10000) > 0 && ::read(address[0], text, sizeof text) > 0;
    ::close(address[0]);
    if (!printed) return name + " did not start:\n" + lastLines(log);
    return std::nullopt;
  }

  std::optional<std::string> startNotificationRecorder() {
    // A monitor sees every Notify call, whoever serves it (gnome-shell or the mock).
    auto& monitor =
        startService("notifications-seen",
                     {"dbus-monitor", "--session",
                      "type='method_call',interface='org.freedesktop.Notifications',member='Notify'"});
    // It has become a monitor once the bus told it it lost its own name.
    return awaitReady(
        "dbus-monitor", monitor,
        [&] { return readFile(logs[monitor.pid()]).find("NameLost") != std::string::npos; }, 10s);
  }

  std::optional<std::string> startNotificationServer() {
    auto& server = startService("notification-server",
                                {"/usr/bin/python3", "-m", "dbusmock", "--template", "notification_daemon"});
    return awaitReady(
        "the notification server", server, [&] { return hasName("org.freedesktop.Notifications"); }, 15s);
  }

  std::optional<std::string> startInput(const std::vector<std::string>& argv) {
    const fs::path log = logFile("input");
    const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    input = std::make_unique<CommandChild>(wrap(argv), fd);
    ::close(fd);
    logs[input->process().pid()] = log;
    if (input->readLine(15s) != "ready") return "the input injector did not start:\n" + lastLines(log);
    return std::nullopt;
  }

  QDBusConnection& sessionBus() {
    if (!bus) {
      bus =
          QDBusConnection::connectToBus(QString::fromStdString(environment.at("DBUS_SESSION_BUS_ADDRESS")),
                                        QString::fromStdString("lumacap-test-" + folder.filename().string()));
      if (!bus->isConnected()) throw std::runtime_error("cannot connect to the desktop's session bus");
    }
    return *bus;
  }

  void stopAll() {
    if (bus) {
      QDBusConnection::disconnectFromBus(bus->name());
      bus.reset();
    }
    input.reset();
    const std::string marker = std::string(markerVariable) + "=" + folder.string();
    std::vector<pid_t> left = processesMarked(marker);
    for (const pid_t pid : left) ::kill(pid, SIGTERM);
    waitUntil([&] { return std::all_of(left.begin(), left.end(), gone); }, 3s);
    for (const pid_t pid : processesMarked(marker))
      if (!gone(pid)) ::kill(pid, SIGKILL);
    while (!services.empty()) services.pop_back();  // reaps them
    // Portals mount a FUSE file system in the runtime folder.
    std::istringstream mounts(readFile("/proc/mounts"));
    for (std::string device, point, rest; mounts >> device >> point && std::getline(mounts, rest);)
      if (point.rfind(folder.string() + "/", 0) == 0) ::umount2(point.c_str(), MNT_DETACH);
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }

  std::optional<std::string> startKWin();
  std::optional<std::string> startGnome();
  std::optional<std::string> startSway();
  std::optional<std::string> startLabwc();
  std::string waylandSocket();
  // What a wlroots desktop gets after its compositor: notifications, a keyboard (on the seat once
  // `keyboardReady`) and the pointer injector.
  std::optional<std::string> startWlrootsServices(const std::function<bool()>& keyboardReady);
  std::vector<DesktopWindow> kwinWindows();
  std::vector<DesktopWindow> gnomeWindows();
  // The JSON a method of the window-list extension answers.
  std::string gnomeShellJson(const std::string& method);
  std::vector<DesktopWindow> swayWindows();
  std::vector<DesktopWindow> toplevelWindows();
  QImage kwinReference();
  QImage portalReference();
};

std::optional<std::string> WaylandDesktop::State::startKWin() {
  // The installed kwin_wayland carries a file capability (cap_sys_resource) that a container may
  // refuse at exec: a copy has none.
  handOver();
  fs::copy_file("/usr/bin/kwin_wayland", folder / "bin/kwin_wayland");
  // KWin lends ScreenShot2 to a program whose installed desktop entry names its executable and the
  // interface: entries for this harness and for the build's Lumacap, as a package would install them,
  // and an empty installation prefix for tests that install Lumacap themselves.
  fs::create_directories(folder / "share/applications");
  fs::create_directories(folder / "usr/share/applications");
  environment["XDG_DATA_DIRS"] =
      (folder / "share").string() + ":" + (folder / "usr/share").string() + ":/usr/local/share:/usr/share";
  const auto entry = [&](const std::string& name, const fs::path& program) {
    std::ofstream(folder / "share/applications" / (name + ".desktop"))
        << "[Desktop Entry]\nType=Application\nName=" << name << "\nExec=" << fs::canonical(program).string()
        << "\nX-KDE-DBUS-Restricted-Interfaces=org.kde.KWin.ScreenShot2\n";
  };
  entry("lumacap-wayland-reference", LUMACAP_WAYLAND_REFERENCE);
  entry(kwinBuildEntry, lumacapBinary());
  // "kwin 6.3.6": Plasma 6's parts (the portal among them) look for a Plasma 6 session.
  std::string version = run({(folder / "bin/kwin_wayland").string(), "--version"}).standardOutput;
  version = version.substr(0, version.find('\n')).substr(std::min(version.find(' ') + 1, version.size()));
  environment["KDE_SESSION_VERSION"] = version.substr(0, version.find('.'));
  if (auto failed = startBus("session-bus", folder / "rt/bus")) return failed;
  auto& kwin = startService(
      "kwin",
      {(folder / "bin/kwin_wayland").string(), "--virtual", "--width", std::to_string(outputWidth),
       "--height", std::to_string(outputHeight), "--output-count", std::to_string(outputCount), "--socket",
       socketName, "--no-lockscreen"},
      // Fake input without an authorised desktop entry; ScreenShot2 only exists with OpenGL
      // compositing, here through llvmpipe.
      {{"KWIN_WAYLAND_NO_PERMISSION_CHECKS", "1"}, {"KWIN_COMPOSE", "O2"}, {"LIBGL_ALWAYS_SOFTWARE", "1"}});
  compositorPid = kwin.pid();
  const auto ready = [&] { return fs::exists(folder / "rt" / socketName) && hasName("org.kde.KWin"); };
  if (auto failed = awaitReady("kwin_wayland", kwin, ready, 30s)) return failed;
  // KWin 6 paints in software where it finds no DRM render node: without OpenGL its screenshot
  // effect, and with it ScreenShot2, is missing.
  // (KWin 5.27 exports it a moment after its name.)
  const bool screenshots = waitUntil(
      [&] {
        return run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.KWin",
                    "/org/kde/KWin/ScreenShot2", "org.freedesktop.DBus.Introspectable.Introspect"})
                   .standardOutput.find("org.kde.KWin.ScreenShot2") != std::string::npos;
      },
      10s);
  if (!screenshots)
    noScreenshots =
        "KWin " + version + " paints in software here (no DRM render node): it takes no screenshots";
  if (auto failed = startNotificationServer()) return failed;
  if (auto failed = startNotificationRecorder()) return failed;
  return startInput({injector("kwin-fake-input")});
}

std::optional<std::string> WaylandDesktop::State::startGnome() {
  environment["DBUS_SYSTEM_BUS_ADDRESS"] = "unix:path=" + (folder / "rt/system_bus").string();
  environment["XDG_SESSION_DESKTOP"] = "gnome";
  environment["GSETTINGS_BACKEND"] = "memory";
  const fs::path extension = folder / "home/.local/share/gnome-shell/extensions" / gnomeExtensionUuid;
  fs::create_directories(extension);
  std::ofstream(extension / "metadata.json") << gnomeExtensionMetadata;
  const std::string version = run({"gnome-shell", "--version"}).standardOutput;  // "GNOME Shell 48.7"
  std::ofstream(extension / "extension.js")
      << gnomeExtension(version.substr(version.find_first_of("0123456789")));
  handOver();
  if (auto failed = startBus("session-bus", folder / "rt/bus")) return failed;
  // gnome-shell's JavaScript dies at start-up without logind: a mock on a private system bus.
  if (auto failed = startBus("system-bus", folder / "rt/system_bus")) return failed;
  auto& logind =
      startService("logind", {"/usr/bin/python3", "-m", "dbusmock", "--system", "--template", "logind"});
  if (auto failed = awaitReady(
          "the logind mock", logind, [&] { return hasName("org.freedesktop.login1", "--system"); }, 15s))
    return failed;
  std::vector<std::string> shell = {"gnome-shell", "--headless",        "--wayland",
                                    "--no-x11",    "--wayland-display", socketName};
  for (int output = 0; output < outputCount; ++output)
    shell.insert(shell.end(),
                 {"--virtual-monitor", std::to_string(outputWidth) + "x" + std::to_string(outputHeight)});
  auto& gnome = startService("gnome-shell", shell);
  compositorPid = gnome.pid();
  const auto ready = [&] {
    return fs::exists(folder / "rt" / socketName) &&
           readFile(logs[gnome.pid()]).find("GNOME Shell started") != std::string::npos &&
           hasName("org.gnome.Mutter.RemoteDesktop");
  };
  if (auto failed = awaitReady("gnome-shell", gnome, ready, 60s)) return failed;
  // The portal would ask "Allow Applications to Take Screenshots?" and wait: granted beforehand,
  // for programs without an application id.
  const auto granted =
      run({"gdbus", "call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore",
           "--object-path", "/org/freedesktop/impl/portal/PermissionStore", "--method",
           "org.freedesktop.impl.portal.PermissionStore.SetPermission", "screenshot", "true", "screenshot",
           "", "['yes']"});
  if (granted.exitStatus != 0) return "cannot grant the screenshot permission: " + granted.standardError;
  const auto enabled =
      run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell",
           "--method", "org.gnome.Shell.Extensions.EnableExtension", gnomeExtensionUuid});
  if (enabled.exitStatus != 0) return "cannot enable the window-list extension: " + enabled.standardError;
  if (auto failed = startNotificationRecorder()) return failed;
  if (auto failed = startInput({injector("mutter-remote-desktop"), std::to_string(outputWidth * outputCount),
                                std::to_string(outputHeight)}))
    return failed;
  // Headless gnome-shell starts in the Overview, where new windows do not take the focus.
  const auto overviewActive = [&] {
    return run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                "/org/gnome/Shell", "--method", "org.freedesktop.DBus.Properties.Get", "org.gnome.Shell",
                "OverviewActive"})
               .standardOutput.find("true") != std::string::npos;
  };
  // (A virtual keyboard's first keys can be lost while the seat takes it on: Escape until it works.)
  const auto leftOverview = [&] {
    if (!overviewActive()) return true;
    input->send("key ff1b");
    return waitUntil([&] { return !overviewActive(); }, 500ms);
  };
  if (!waitUntil(leftOverview, 15s)) return "gnome-shell stays in the Overview";
  if (!waitUntil([&] { return hasName("org.lumacap.TestShell"); }, 10s))
    return "the window-list extension did not start:\n" + lastLines(logs[gnome.pid()]);
  return std::nullopt;
}

std::optional<std::string> WaylandDesktop::State::startSway() {
  environment["SWAYSOCK"] = (folder / "rt/sway.sock").string();
  const fs::path configuration = folder / "home/.config/sway/config";
  fs::create_directories(configuration.parent_path());
  {
    std::ofstream config(configuration);
    for (int output = 0; output < outputCount; ++output)
      config << "output HEADLESS-" << output + 1 << " resolution " << outputWidth << "x" << outputHeight
             << " position " << output * outputWidth << " 0\n";
    // A grey desktop, not black: the region overlay, a layer surface in no window list, shows
    // only by how it dims the outputs.
    config << "output * bg #c0c0c0 solid_color\nxwayland disable\n";
  }
  handOver();
  if (auto failed = startBus("session-bus", folder / "rt/bus")) return failed;
  // Scanned out, a full-screen window on a headless output without the pointer is missing from
  // wlroots 0.15's screencopy (grim's, Lumacap's), which gives the last composed frame instead.
  auto& sway = startService("sway", {"sway", "-D", "noscanout", "-c", configuration.string()},
                            {{"WLR_BACKENDS", "headless"},
                             {"WLR_HEADLESS_OUTPUTS", std::to_string(outputCount)},
                             {"WLR_RENDERER", "pixman"},
                             {"WLR_LIBINPUT_NO_DEVICES", "1"}});
  compositorPid = sway.pid();
  const auto ready = [&] {
    return !waylandSocket().empty() && run({"swaymsg", "-t", "get_version"}).exitStatus == 0;
  };
  if (auto failed = awaitReady("sway", sway, ready, 30s)) return failed;
  environment["WAYLAND_DISPLAY"] = waylandSocket();
  // xdg-desktop-portal-wlr needs PipeWire.
  startService("pipewire", {"pipewire"});
  return startWlrootsServices([&] {
    return run({"swaymsg", "-t", "get_inputs", "-r"}).standardOutput.find("\"keyboard\"") !=
           std::string::npos;
  });
}

// The compositor's socket in the runtime folder, once it is there.
std::string WaylandDesktop::State::waylandSocket() {
  for (const auto& entry : fs::directory_iterator(folder / "rt")) {
    const std::string name = entry.path().filename();
    if (name.rfind("wayland-", 0) == 0 && name.find(".lock") == std::string::npos && entry.is_socket())
      return name;
  }
  return {};
}

std::optional<std::string> WaylandDesktop::State::startWlrootsServices(
    const std::function<bool()>& keyboardReady) {
  if (auto failed = startNotificationServer()) return failed;
  if (auto failed = startNotificationRecorder()) return failed;
  // The headless seat has no keyboard, and one that appears later loses its first keys: a wtype
  // that sleeps keeps a virtual keyboard on the seat while the desktop lives.
  auto& keyboard = startService("keyboard", {"wtype", "-s", "100000000", "-m", "shift"});
  if (auto failed = awaitReady("the virtual keyboard", keyboard, keyboardReady, 10s)) return failed;
  return startInput({injector("wlr-virtual-pointer"), std::to_string(outputWidth * outputCount),
                     std::to_string(outputHeight)});
}

// labwc makes its headless outputs 1280×720 wherever it likes: an output-management client
// (wlr-randr) sizes and places them. It has no IPC: the windows come from foreign-toplevel.
std::optional<std::string> WaylandDesktop::State::startLabwc() {
  const fs::path configuration = folder / "home/.config/labwc";
  fs::create_directories(configuration);
  std::ofstream(configuration / "rc.xml") << "<?xml version=\"1.0\"?>\n<labwc_config/>\n";
  std::ofstream(configuration / "autostart") << "";
  handOver();
  injector("wlr-toplevel-list");
  // labwc opens Xwayland's sockets at start, and ends when it cannot: their folder, as the system
  // makes it where an X server ran before.
  if (::mkdir("/tmp/.X11-unix", 01777) == 0) ::chmod("/tmp/.X11-unix", 01777);
  if (auto failed = startBus("session-bus", folder / "rt/bus")) return failed;
  auto& labwc = startService("labwc", {"labwc", "-C", configuration.string()},
                             {{"WLR_BACKENDS", "headless"},
                              {"WLR_HEADLESS_OUTPUTS", std::to_string(outputCount)},
                              {"WLR_RENDERER", "pixman"},
                              {"WLR_LIBINPUT_NO_DEVICES", "1"}});
  compositorPid = labwc.pid();
  if (auto failed = awaitReady(
          "labwc", labwc, [&] { return !waylandSocket().empty(); }, 30s))
    return failed;
  environment["WAYLAND_DISPLAY"] = waylandSocket();
  std::vector<std::string> layout = {"wlr-randr"}, wanted;
  for (int output = 0; output < outputCount; ++output) {
    const std::string name = "HEADLESS-" + std::to_string(output + 1),
                      position = std::to_string(output * outputWidth) + ",0";
    layout.insert(layout.end(),
                  {"--output", name, "--custom-mode",
                   std::to_string(outputWidth) + "x" + std::to_string(outputHeight), "--pos", position});
    wanted.push_back(name + " \"");
    wanted.push_back(std::to_string(outputWidth) + "x" + std::to_string(outputHeight) + " px (current)");
    wanted.push_back("Position: " + position);
  }
  const auto laidOut = [&] {
    const std::string shown = run({"wlr-randr"}).standardOutput;
    size_t at = 0;
    for (const std::string& part : wanted)
      if ((at = shown.find(part, at)) == std::string::npos) return false;
    return true;
  };
  if (!waitUntil([&] { return laidOut() || (run(layout).exitStatus == 0 && laidOut()); }, 15s))
    return "wlr-randr did not lay out labwc's outputs: " + run({"wlr-randr"}).standardOutput;
  // A grey desktop, as on sway: the region overlay, in no window list, shows by how it dims.
  startService("background", {"swaybg", "--color", "#c0c0c0"});
  return startWlrootsServices([&] {
    const std::string seat = run({"wayland-info", "--interface", "wl_seat"}).standardOutput;
    const size_t capabilities = seat.find("capabilities:");
    return capabilities != std::string::npos &&
           seat.find("keyboard", capabilities) < seat.find('\n', capabilities);
  });
}

std::unique_ptr<WaylandDesktop> WaylandDesktop::start(Compositor compositor, std::string* whyNot) {
  std::string ignored;
  if (!whyNot) whyNot = &ignored;
  if (::geteuid() != 0) {
    *whyNot = "the test desktops run as root";
    return nullptr;
  }
  const std::map<Compositor, std::vector<std::string>> programs = {
      {Compositor::kwin, {"/usr/bin/kwin_wayland"}},
      {Compositor::gnome, {"gnome-shell", "gdbus"}},
      {Compositor::sway, {"sway", "swaymsg", "wtype", "grim", "pipewire"}},
      {Compositor::labwc, {"labwc", "wlr-randr", "wayland-info", "swaybg", "wtype", "grim"}}};
  for (const std::string& program : programs.at(compositor)) {
    if (!executable(program)) {
      *whyNot = program + " is not installed (scripts/bootstrap installs it)";
      return nullptr;
    }
  }
  for (const char* program :
       {"dbus-daemon", "dbus-send", "dbus-monitor", "wl-paste", "/usr/bin/python3", "setpriv", "useradd"}) {
    if (!executable(program)) {
      *whyNot = std::string(program) + " is not installed (scripts/bootstrap installs it)";
      return nullptr;
    }
  }
  auto state = std::make_unique<State>();
  state->compositor = compositor;
  if (!(state->user = sessionUser(whyNot))) return nullptr;
  std::string pattern = (fs::temp_directory_path() / ("lumacap-" + nameOf(compositor) + "-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    *whyNot = "mkdtemp failed";
    return nullptr;
  }
  state->folder = pattern;
  const fs::path& folder = state->folder;
  for (const char* child : {"rt", "home", "logs", "tmp"}) fs::create_directories(folder / child);
  fs::permissions(folder / "rt", fs::perms::owner_all, fs::perm_options::replace);
  fs::create_directories(folder / "home/Pictures");  // xdg-desktop-portal-kde fails without it
  const std::map<Compositor, std::string> desktopNames = {{Compositor::kwin, "KDE"},
                                                          {Compositor::gnome, "GNOME"},
                                                          {Compositor::sway, "sway"},
                                                          {Compositor::labwc, "labwc:wlroots"}};
  state->environment = {
      {markerVariable, folder.string()},
      {"XDG_RUNTIME_DIR", (folder / "rt").string()},
      {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (folder / "rt/bus").string()},
      {"WAYLAND_DISPLAY", socketName},
      {"XDG_CURRENT_DESKTOP", desktopNames.at(compositor)},
      {"XDG_SESSION_TYPE", "wayland"},
      {"HOME", (folder / "home").string()},
      {"USER", state->user->pw_name},
      {"LOGNAME", state->user->pw_name},
      {"XDG_CONFIG_HOME", (folder / "home/.config").string()},
      {"XDG_DATA_HOME", (folder / "home/.local/share").string()},
      {"XDG_CACHE_HOME", (folder / "home/.cache").string()},
      {"XDG_STATE_HOME", (folder / "home/.local/state").string()},
      {"TMPDIR", (folder / "tmp").string()},
  };
  if (compositor == Compositor::kwin) {
    state->environment["KDE_FULL_SESSION"] = "true";
  }
  std::optional<std::string> failed;
  try {
    switch (compositor) {
      case Compositor::kwin:
        failed = state->startKWin();
        break;
      case Compositor::gnome:
        failed = state->startGnome();
        break;
      case Compositor::sway:
        failed = state->startSway();
        break;
      case Compositor::labwc:
        failed = state->startLabwc();
        break;
    }
  } catch (const std::exception& error) {
    failed = error.what();
  }
  if (failed) {
    *whyNot = nameOf(compositor) + ": " + *failed;
    return nullptr;
  }
  return std::unique_ptr<WaylandDesktop>(new WaylandDesktop(std::move(state)));
}

WaylandDesktop::WaylandDesktop(std::unique_ptr<State> state) : state_(std::move(state)) {}
WaylandDesktop::~WaylandDesktop() = default;

Compositor WaylandDesktop::compositor() const { return state_->compositor; }
std::string WaylandDesktop::folder() const { return state_->folder.string(); }
const std::string& WaylandDesktop::noScreenshots() const { return state_->noScreenshots; }
int WaylandDesktop::compositorPid() const { return state_->compositorPid; }

std::map<std::string, std::string> WaylandDesktop::environment() const { return state_->environment; }

AsSessionUser::AsSessionUser(const WaylandDesktop& desktop) {
  const passwd* user = ::getpwuid(desktop.user());
  if (!user || ::setresgid(user->pw_gid, user->pw_gid, 0) != 0 ||
      ::setresuid(user->pw_uid, user->pw_uid, 0) != 0)
    throw std::runtime_error("cannot act as the session's user");
}

AsSessionUser::~AsSessionUser() {
  if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0) std::abort();
}

void WaylandDesktop::setBuildEntryInstalled(bool installed) {
  const fs::path entry = state_->folder / "share/applications" / (std::string(kwinBuildEntry) + ".desktop");
  const fs::path aside = entry.string() + ".aside";
  if (installed ? fs::exists(aside) : fs::exists(entry))
    fs::rename(installed ? aside : entry, installed ? entry : aside);
}

uid_t WaylandDesktop::user() const { return state_->user->pw_uid; }

std::unique_ptr<BackgroundProcess> WaylandDesktop::spawn(const std::vector<std::string>& argv,
                                                         const std::map<std::string, std::string>& extra) {
  const fs::path log = state_->logFile(fs::path(argv.at(0)).filename());
  const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto process = std::make_unique<BackgroundProcess>(
      state_->wrap(argv, extra), std::map<std::string, std::string>{}, std::array<int, 3>{-1, fd, fd});
  ::close(fd);
  state_->logs[process->pid()] = log;
  return process;
}

std::string WaylandDesktop::output(const BackgroundProcess& process) const {
  const auto log = state_->logs.find(process.pid());
  return log == state_->logs.end() ? std::string() : readFile(log->second);
}

ProcessResult WaylandDesktop::run(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  return state_->run(argv, timeout);
}

void WaylandDesktop::move(int x, int y) {
  state_->input->send("move " + std::to_string(x) + " " + std::to_string(y));
}
void WaylandDesktop::press() { state_->input->send("down"); }
void WaylandDesktop::release() { state_->input->send("up"); }

void WaylandDesktop::click(int x, int y) {
  move(x, y);
  press();
  release();
}

void WaylandDesktop::drag(QPoint from, QPoint to) {
  move(from.x(), from.y());
  press();
  constexpr int steps = 8;
  for (int step = 1; step <= steps; ++step) {
    const QPoint at = from + (to - from) * step / steps;
    move(at.x(), at.y());
    // Clients coalesce motion within a frame: each step gets one, as a hand's would.
    std::this_thread::sleep_for(20ms);
  }
  release();
}

void WaylandDesktop::key(const std::string& chord) {
  const std::vector<Key> keys = chordKeys(chord);
  std::string codes;
  switch (state_->compositor) {
    case Compositor::kwin:
      for (const Key& key : keys) codes += (codes.empty() ? "" : ",") + std::to_string(key.evdev);
      state_->input->send("key " + codes);
      return;
    case Compositor::gnome:
      for (const Key& key : keys) {
        std::ostringstream hex;
        hex << std::hex << key.keysym;
        codes += (codes.empty() ? "" : ",") + hex.str();
      }
      state_->input->send("key " + codes);
      return;
    case Compositor::sway:
    case Compositor::labwc: {
      std::vector<std::string> command = {"wtype"};
      for (const Key& key : keys)
        if (key.modifier) command.insert(command.end(), {"-M", key.modifier});
      for (const Key& key : keys)
        if (!key.modifier) command.insert(command.end(), {"-k", key.xkbName});
      for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        if (key->modifier) command.insert(command.end(), {"-m", key->modifier});
      if (const auto typed = run(command); typed.exitStatus != 0)
        throw std::runtime_error("wtype failed: " + typed.standardError);
      return;
    }
  }
}

namespace {
DesktopWindow windowFrom(const nlohmann::json& entry) {
  return {entry.value("title", ""),
          entry.value("app", ""),
          entry.value("pid", 0),
          entry.value("focused", false),
          QRect(entry.value("x", 0), entry.value("y", 0), entry.value("w", 0), entry.value("h", 0)),
          entry.value("parent", "")};
}
}  // namespace

std::vector<DesktopWindow> WaylandDesktop::State::kwinWindows() {
  QDBusConnection& connection = sessionBus();
  static int scripts = 0;
  const std::string tag = std::to_string(::getpid()) + "x" + std::to_string(++scripts);
  const QString sink = QString::fromStdString("org.lumacap.TestSink.p" + tag);
  ScriptReport report;
  connection.registerObject("/", &report, QDBusConnection::ExportAllSlots);
  connection.registerService(sink);
  std::string script = kwinWindowScript;
  script.replace(script.find("SINK"), 4, sink.toStdString());
  const fs::path file = folder / "tmp" / ("windows-" + tag + ".js");
  std::ofstream(file) << script;
  const QString plugin = QString::fromStdString("lumacaptestwindows" + tag);
  auto call = [&](const QString& method, const QVariantList& arguments) {
    QDBusMessage message =
        QDBusMessage::createMethodCall("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", method);
    message.setArguments(arguments);
    return connection.call(message, QDBus::Block, 10000);
  };
  call("loadScript", {QString::fromStdString(file.string()), plugin});
  call("start", {});
  spinUntil([&] { return report.text.has_value(); }, 10s);
  call("unloadScript", {plugin});
  connection.unregisterService(sink);
  connection.unregisterObject("/");
  fs::remove(file);
  if (!report.text) throw std::runtime_error("the KWin script listing the windows did not report");
  std::vector<DesktopWindow> windows;
  for (const auto& entry : nlohmann::json::parse(report.text->toStdString()))
    windows.push_back(windowFrom(entry));
  return windows;
}

std::string WaylandDesktop::State::gnomeShellJson(const std::string& method) {
  const auto answer = run({"gdbus", "call", "--session", "--dest", "org.lumacap.TestShell", "--object-path",
                           "/org/lumacap/TestShell", "--method", "org.lumacap.TestShell." + method});
  // ('[…json…]',) with the JSON quoted as a GVariant string.
  const std::string& text = answer.standardOutput;
  const size_t open = text.find('\''), close = text.rfind('\'');
  if (answer.exitStatus != 0 || open == std::string::npos || close <= open)
    throw std::runtime_error("the GNOME window list did not answer: " + answer.standardError);
  std::string json;
  for (size_t at = open + 1; at < close; ++at) {
    if (text[at] == '\\' && at + 1 < close) ++at;
    json += text[at];
  }
  return json;
}

std::vector<DesktopWindow> WaylandDesktop::State::gnomeWindows() {
  std::vector<DesktopWindow> windows;
  for (const auto& entry : nlohmann::json::parse(gnomeShellJson("ListWindows")))
    windows.push_back(windowFrom(entry));
  return windows;
}

std::vector<std::string> WaylandDesktop::shellDialogs() {
  if (state_->compositor != Compositor::gnome) return {};
  return nlohmann::json::parse(state_->gnomeShellJson("ListDialogs")).get<std::vector<std::string>>();
}

std::vector<DesktopWindow> WaylandDesktop::State::swayWindows() {
  const auto answer = run({"swaymsg", "-t", "get_tree", "-r"});
  if (answer.exitStatus != 0) throw std::runtime_error("swaymsg get_tree failed: " + answer.standardError);
  std::vector<DesktopWindow> windows;
  std::function<void(const nlohmann::json&)> walk = [&](const nlohmann::json& node) {
    if (node.contains("pid")) {
      const auto& rect = node.at("rect");
      std::string app = node.value("app_id", nlohmann::json()).is_string() ? node.value("app_id", "") : "";
      windows.push_back(
          {node.value("name", nlohmann::json()).is_string() ? node.value("name", "") : "",
           app,
           node.value("pid", 0),
           node.value("focused", false),
           QRect(rect.value("x", 0), rect.value("y", 0), rect.value("width", 0), rect.value("height", 0)),
           {},
           node.value("type", "") == "floating_con"});
    }
    for (const char* children : {"nodes", "floating_nodes"})
      if (node.contains(children))
        for (const auto& child : node.at(children)) walk(child);
  };
  walk(nlohmann::json::parse(answer.standardOutput));
  return windows;
}

std::vector<DesktopWindow> WaylandDesktop::State::toplevelWindows() {
  const auto answer = run({(folder / "bin/wlr-toplevel-list").string()});
  if (answer.exitStatus != 0) throw std::runtime_error("wlr-toplevel-list failed: " + answer.standardError);
  std::vector<DesktopWindow> windows;
  for (const auto& entry : nlohmann::json::parse(answer.standardOutput)) windows.push_back(windowFrom(entry));
  return windows;
}

std::vector<DesktopWindow> WaylandDesktop::windows() {
  switch (state_->compositor) {
    case Compositor::kwin:
      return state_->kwinWindows();
    case Compositor::gnome:
      return state_->gnomeWindows();
    case Compositor::sway:
      return state_->swayWindows();
    case Compositor::labwc:
      return state_->toplevelWindows();
  }
  return {};
}

// The whole layout through org.kde.KWin.ScreenShot2, taken by the program the harness's entry names.
QImage WaylandDesktop::State::kwinReference() {
  const fs::path file = folder / "tmp" / ("reference-" + std::to_string(++counter) + ".png");
  const auto taken = run({LUMACAP_WAYLAND_REFERENCE, "kwin", file.string()}, 30s);
  if (taken.exitStatus != 0) throw std::runtime_error(taken.standardError);
  QImage image(QString::fromStdString(file.string()), "PNG");
  fs::remove(file);
  return image;
}

// The whole layout through the Screenshot portal. GNOME Shell takes one
// screenshot at a time from the portal and answers the others "busy" (2):
// a capture of Lumacap's that a test's end cut short may still be running.
QImage WaylandDesktop::State::portalReference() {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  for (;;) {
    const fs::path file = folder / "tmp" / ("reference-" + std::to_string(++counter) + ".png");
    const auto taken = run({LUMACAP_WAYLAND_REFERENCE, "portal", file.string()}, 40s);
    if (taken.exitStatus == 0) {
      QImage image(QString::fromStdString(file.string()), "PNG");
      fs::remove(file);
      return image;
    }
    if (taken.exitStatus != 3 || taken.standardOutput != "2\n" || std::chrono::steady_clock::now() > deadline)
      throw std::runtime_error("the Screenshot portal answered " + taken.standardOutput +
                               taken.standardError);
    spinUntil([] { return false; }, 200ms);
  }
}

QImage WaylandDesktop::reference(QRect area) {
  switch (state_->compositor) {
    case Compositor::kwin:
      return state_->kwinReference().copy(area);
    case Compositor::gnome:
      return state_->portalReference().copy(area);
    case Compositor::sway:
    case Compositor::labwc: {
      const fs::path file =
          state_->folder / "tmp" / ("reference-" + std::to_string(++state_->counter) + ".png");
      const auto grabbed = run({"grim", "-g",
                                std::to_string(area.x()) + "," + std::to_string(area.y()) + " " +
                                    std::to_string(area.width()) + "x" + std::to_string(area.height()),
                                file.string()});
      if (grabbed.exitStatus != 0) throw std::runtime_error("grim failed: " + grabbed.standardError);
      QImage image(QString::fromStdString(file.string()));
      fs::remove(file);
      return image;
    }
  }
  return {};
}

QByteArray WaylandDesktop::clipboard(const std::string& mimeType) {
  // KWin 5.27 tells a new data-control client nothing when the clipboard is
  // empty (no selection event at all), so wl-paste waits: that means empty.
  const auto pasted = [&]() -> std::optional<ProcessResult> {
    try {
      return run({"wl-paste", "--no-newline", "--type", mimeType}, 3s);
    } catch (const std::runtime_error&) {
      return std::nullopt;
    }
  }();
  if (!pasted || pasted->exitStatus != 0) return {};
  return QByteArray::fromStdString(pasted->standardOutput);
}

// Each Notify call gives its summary, then its body when it has one.
std::vector<std::string> WaylandDesktop::notifications() {
  std::vector<std::string> texts;
  for (const auto& [pid, log] : state_->logs) {
    if (log.filename().string().rfind("notifications-seen", 0) != 0) continue;
    std::istringstream lines(readFile(log));
    int strings = -1;  // strings seen of the current call: app name, icon, summary, body
    std::string text;
    bool open = false;
    for (std::string line; std::getline(lines, line);) {
      // Calls to the well-known name only: GNOME's notification service passes each on to the shell.
      if (line.find("member=Notify") != std::string::npos) {
        strings = line.find("destination=org.freedesktop.Notifications ") != std::string::npos ? 0 : -1;
        continue;
      }
      if (strings < 0) continue;
      if (open) {
        text += "\n" + line;
      } else if (const size_t at = line.find("string \"");
                 at != std::string::npos && line.find_first_not_of(' ') == at) {
        text = line.substr(at + 8);
        open = true;
      } else {
        continue;
      }
      if (!text.empty() && text.back() == '"') {
        text.pop_back();
        open = false;
        ++strings;
        if (strings == 3 || (strings == 4 && !text.empty())) texts.push_back(text);
        if (strings == 4) strings = -1;
      }
    }
  }
  return texts;
}

}  // namespace lumacap::test

#include "WaylandDesktop.moc"
