#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

namespace lumacap {

class DesktopHotKey;

// Settings' part on how the capture shortcut reaches Lumacap on a Wayland desktop: what is in
// force and, where the desktop binds keys itself, the means to bind it there: GNOME's custom
// keybinding added on a click (with the manual steps beside it), or the compositor's
// configuration line with a Copy button.
class DesktopHotKeyPanel final : public QWidget {
  Q_OBJECT

 public:
  DesktopHotKeyPanel(DesktopHotKey& desktopHotKey, QWidget* parent = nullptr);

  QLabel* statusLabel() const { return status_; }
  QPushButton* addGnomeButton() const { return addGnome_; }
  QPushButton* removeGnomeButton() const { return removeGnome_; }
  QLabel* stepsLabel() const { return steps_; }
  QLabel* placeLabel() const { return place_; }
  QLabel* lineLabel() const { return line_; }
  QPushButton* copyButton() const { return copy_; }

 private:
  void render();
  void act(void (DesktopHotKey::*change)());

  DesktopHotKey& desktopHotKey_;
  QLabel* status_;
  QLabel* problem_;
  QPushButton* addGnome_ = nullptr;
  QPushButton* removeGnome_ = nullptr;
  QLabel* steps_ = nullptr;
  QLabel* place_ = nullptr;
  QLabel* line_ = nullptr;
  QPushButton* copy_ = nullptr;
};

}  // namespace lumacap
