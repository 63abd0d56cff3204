#include "support/SessionBus.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace lumacap::test {

SessionBus::SessionBus() {
  const auto socket = folder_ / "bus";
  const auto configuration = folder_ / "session.conf";
  std::ofstream(configuration) << R"(<!DOCTYPE busconfig PUBLIC
 "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=)" << socket.string()
                               << R"(</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
)";
  address_ = "unix:path=" + socket.string();
  // Its complaint that it may not raise its file limit (as root) is noise here.
  daemon_ = std::make_unique<BackgroundProcess>(std::vector<std::string>{
      "sh", "-c", "exec dbus-daemon --nofork --nopidfile --config-file=\"$0\" 2>/dev/null",
      configuration.string()});
  // The socket appears before the daemon accepts connections on it.
  const auto answers = [&] {
    return std::filesystem::exists(socket) &&
           runProcess({"dbus-send", "--bus=" + address_, "--dest=org.freedesktop.DBus",
                       "/org/freedesktop/DBus", "org.freedesktop.DBus.Peer.Ping"})
                   .exitStatus == 0;
  };
  if (!waitUntil(answers))
    throw std::runtime_error("dbus-daemon did not answer on " + socket.string() + " within 10 s");
}

}  // namespace lumacap::test
