#pragma once

namespace lumacap {

// Whether Lumacap starts when the user logs in to the desktop.
class StartAtLogin {
 public:
  virtual ~StartAtLogin() = default;

  // Read afresh each time: the user may change it outside Lumacap.
  virtual bool isEnabled() = 0;
  // Throws a std::exception whose text names what could not be written.
  virtual void setEnabled(bool enabled) = 0;
};

}  // namespace lumacap
