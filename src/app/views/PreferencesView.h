#pragma once

#include <QWidget>

namespace lumacap {

class AppModel;

// Lumacap Settings: the capture shortcut, the capture flow, Claude Code's
// session hooks, privacy and storage, starting at login.
class PreferencesView final : public QWidget {
  Q_OBJECT

 public:
  explicit PreferencesView(AppModel& model, QWidget* parent = nullptr);
  ~PreferencesView() override;

 private:
  AppModel& model_;
};

}  // namespace lumacap
