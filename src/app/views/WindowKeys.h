#pragma once

#include <QKeySequence>
#include <QObject>

namespace lumacap {

class AppModel;

// The keys every Lumacap window answers, as the tray menu names them: Ctrl+,
// opens Settings and Ctrl+Q quits. Recent Captures, Settings and the window
// chooser, which lose nothing by closing, also close with Ctrl+W and Escape.
// Watches the key presses of the whole application, so that no window needs
// to add them itself.
class WindowKeys final : public QObject {
  Q_OBJECT

 public:
  explicit WindowKeys(AppModel& model, QObject* parent = nullptr);
  ~WindowKeys() override;

  static QKeySequence settings();
  static QKeySequence quit();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  AppModel& model_;
};

}  // namespace lumacap
