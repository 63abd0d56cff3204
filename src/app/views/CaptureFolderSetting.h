#pragma once

#include <QCoroTask>
#include <QWidget>
#include <filesystem>

class QCheckBox;
class QFileDialog;
class QLabel;
class QMessageBox;
class QPushButton;

namespace lumacap {

class AppModel;
class SettingsManager;

// "Capture folder": where captures are saved, a button to choose another,
// and whether every capture is saved there as it is taken. A folder chosen
// is created (0700) and written to once before it is taken; one that cannot
// be is refused with the reason. When saved captures live elsewhere, moving
// them there is offered, saying how many; declined, they stay where they are
// and stay listed.
class CaptureFolderSetting final : public QWidget {
  Q_OBJECT

 public:
  CaptureFolderSetting(AppModel& model, SettingsManager& settings, QWidget* parent = nullptr);

  QLabel* folderLabel() const { return folder_; }
  QPushButton* changeButton() const { return change_; }
  QCheckBox* saveEveryBox() const { return saveEvery_; }
  // The question whether to move the captures, while it is open.
  QMessageBox* question() const { return question_; }

  // Puts `button` at the end of the folder's row.
  void addToRow(QWidget* button);
  // The folder new captures go to: the one chosen, else the data folder's.
  static std::filesystem::path folder(const SettingsManager& settings);
  // Takes `folder` as chosen in the folder dialog.
  QCoro::Task<> choose(std::filesystem::path folder);
  void render();

 signals:
  // What to say under the settings (empty: nothing); failures in one line.
  void message(const QString& text);

 private:
  void ask(const std::filesystem::path& folder, size_t count);
  QCoro::Task<> apply(std::filesystem::path folder, bool move);

  AppModel& model_;
  SettingsManager& settings_;
  QLabel* folder_;
  QPushButton* change_;
  QCheckBox* saveEvery_;
  QFileDialog* dialog_ = nullptr;
  QMessageBox* question_ = nullptr;
};

}  // namespace lumacap
