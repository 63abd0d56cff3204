#pragma once

#include <QWidget>
#include <optional>

#include "core/ScreenshotStore.h"

class QComboBox;
class QMessageBox;
class QSpinBox;

namespace lumacap {

class AppModel;
class SettingsManager;

// "Keep captures": all of them, those of the last N days or the newest N.
// A choice that would remove captures at once asks first, saying how many;
// the count is taken when editing it ends, not at each digit typed.
class RetentionSetting final : public QWidget {
  Q_OBJECT

 public:
  RetentionSetting(AppModel& model, SettingsManager& settings, QWidget* parent = nullptr);

  QComboBox* kindMenu() const { return kind_; }
  QSpinBox* countBox() const { return count_; }
  // The question before captures are removed, while it is open.
  QMessageBox* confirmation() const { return confirmation_; }

  // Shows the stored choice.
  void render();

 signals:
  // Why the choice could not be stored.
  void failed(const QString& message);

 private:
  Retention chosen() const;
  void choose();
  void store(const Retention& retention);

  AppModel& model_;
  SettingsManager& settings_;
  QComboBox* kind_;
  QSpinBox* count_;
  QMessageBox* confirmation_ = nullptr;
};

}  // namespace lumacap
