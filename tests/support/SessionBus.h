#pragma once

#include <memory>
#include <string>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace lumacap::test {

// A private D-Bus session bus (dbus-daemon) for one test: it activates no
// installed services, so a name has an owner only when the test made one.
class SessionBus {
 public:
  SessionBus();
  SessionBus(const SessionBus&) = delete;
  SessionBus& operator=(const SessionBus&) = delete;

  const std::string& address() const { return address_; }

 private:
  TempDir folder_;
  std::string address_;
  std::unique_ptr<BackgroundProcess> daemon_;
};

}  // namespace lumacap::test
