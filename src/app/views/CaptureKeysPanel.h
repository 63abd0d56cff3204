#pragma once

#include <QWidget>
#include <map>

#include "core/CaptureError.h"

class QLabel;
class QLineEdit;

namespace lumacap {

class CaptureKeys;
class SettingsManager;

// Settings' keys for Capture Window…, Capture Display and the last region
// again, below the region key: each typed as its label ("Ctrl+Alt+3"),
// taken when editing ends, none when left empty. Below them, which mechanism
// holds them on a Wayland desktop (the compositor's line for each key set),
// then the delay of "Capture After a Delay".
class CaptureKeysPanel final : public QWidget {
  Q_OBJECT

 public:
  CaptureKeysPanel(CaptureKeys* keys, SettingsManager& settings, QWidget* parent = nullptr);

  QLineEdit* field(CaptureMode mode) const { return fields_.at(mode); }
  // Why the last key typed was refused; empty when it was taken.
  QLabel* note() const { return note_; }
  // How the desktop holds the keys; hidden on X11.
  QLabel* mechanism() const { return mechanism_; }

 private:
  void apply(CaptureMode mode);
  void render(CaptureMode mode);
  void renderMechanism();

  CaptureKeys* keys_;
  std::map<CaptureMode, QLineEdit*> fields_;
  QLabel* note_;
  QLabel* mechanism_;
};

}  // namespace lumacap
