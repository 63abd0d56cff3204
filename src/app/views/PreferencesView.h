#pragma once

#include <QCoroTask>
#include <QFrame>
#include <QString>
#include <QWidget>

#include "core/Shortcut.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace lumacap {

class AppModel;
struct ViewContext;
class AgentSetupPanel;
class CaptureFolderSetting;
class CaptureKeysPanel;
class DesktopHotKeyPanel;
class RetentionSetting;

// A titled group of settings on a quiet rounded card.
class FormSection final : public QFrame {
 public:
  explicit FormSection(QWidget* parent = nullptr);
  QVBoxLayout& rows() const { return *rows_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QVBoxLayout* rows_;
};

// Lumacap Settings: the capture shortcut, the capture flow, Claude Code's
// session hooks, privacy and storage, starting at login.
//
// The shortcut is edited as a candidate that starts from the stored one each
// time the window is shown and reaches the hot key and the settings only
// through "Apply". The result of the last action is shown at the bottom.
class PreferencesView final : public QWidget {
  Q_OBJECT

 public:
  PreferencesView(AppModel& model, ViewContext& context, QWidget* parent = nullptr);
  ~PreferencesView() override;

  const Shortcut& candidate() const { return candidate_; }
  const QString& message() const { return message_; }
  bool configuring() const { return configuring_; }

  // Makes the candidate the global shortcut and stores it.
  void applyShortcut();
  // Installs (true) or removes (false) the session hooks on a worker; the
  // task ends when the message shows the outcome.
  QCoro::Task<> configureHooks(bool install);
  // Reads where the hooks go and whether they are there, on a worker.
  QCoro::Task<> readHookStatus();

  QCheckBox* superBox() const { return super_; }
  QCheckBox* shiftBox() const { return shift_; }
  QCheckBox* altBox() const { return alt_; }
  QCheckBox* ctrlBox() const { return ctrl_; }
  QComboBox* keyMenu() const { return key_; }
  QLabel* currentLabel() const { return current_; }
  QPushButton* applyButton() const { return apply_; }
  QLabel* shortcutNote() const { return shortcutNote_; }
  DesktopHotKeyPanel* desktopHotKeyPanel() const { return desktopHotKeyPanel_; }
  CaptureKeysPanel* captureKeysPanel() const { return captureKeys_; }
  QPushButton* installButton() const { return install_; }
  QPushButton* removeButton() const { return remove_; }
  QLabel* hookStatusLabel() const { return hookStatus_; }
  QLabel* hookFileLabel() const { return hookFile_; }
  QPushButton* captureFolderButton() const { return captureFolder_; }
  CaptureFolderSetting* captureFolderSetting() const { return captureFolderSetting_; }
  QCheckBox* startAtLoginBox() const { return startAtLogin_; }
  QCheckBox* lookForSecretsBox() const { return lookForSecrets_; }
  QCheckBox* redactBeforeCopyingBox() const { return redactBeforeCopying_; }
  QCheckBox* agentsMayReadBox() const { return agentsMayRead_; }
  AgentSetupPanel* agentSetup() const { return agentSetup_; }
  RetentionSetting* retentionSetting() const { return retention_; }
  QLabel* messageLabel() const { return messageLabel_; }
  QScrollArea* scrollArea() const { return scroll_; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* makeForm();
  FormSection* makeShortcutSection();
  // What does not work on this desktop besides the shortcut; null where everything works.
  FormSection* makeDesktopLimitsSection();
  FormSection* makeClaudeCodeSection();
  FormSection* makePrivacySection();
  FormSection* makeStartupSection();
  QLabel* makeText(const QString& text, int pixels);

  void loadCandidate(const Shortcut& shortcut);
  void editCandidate();
  QCoro::Task<> changeStartAtLogin(bool enabled);
  void changeLookForSecrets(bool look);
  void changeRedactBeforeCopying(bool redact);
  void changeAgentsMayRead(bool allow);
  void renderSecretsSettings();
  void openCaptureFolder();
  void fitForm();
  void setMessage(const QString& message);
  void setConfiguring(bool configuring);
  void renderShortcut();

  AppModel& model_;
  ViewContext& context_;
  Shortcut candidate_ = Shortcut::initial();
  QString message_;
  bool configuring_ = false;

  QScrollArea* scroll_;
  QWidget* form_;
  QCheckBox* super_;
  QCheckBox* shift_;
  QCheckBox* alt_;
  QCheckBox* ctrl_;
  QComboBox* key_;
  QLabel* current_;
  QPushButton* apply_;
  QLabel* shortcutNote_;
  QString refusal_;  // why the shortcut last tried was refused, until the next edit
  DesktopHotKeyPanel* desktopHotKeyPanel_ = nullptr;
  CaptureKeysPanel* captureKeys_ = nullptr;
  QPushButton* install_;
  QPushButton* remove_;
  QLabel* hookStatus_;
  QLabel* hookFile_;
  QPushButton* captureFolder_;
  CaptureFolderSetting* captureFolderSetting_;
  QCheckBox* startAtLogin_;
  QCheckBox* lookForSecrets_;
  QCheckBox* redactBeforeCopying_;
  QCheckBox* agentsMayRead_;
  AgentSetupPanel* agentSetup_;
  RetentionSetting* retention_;
  QWidget* messageFooter_;
  QLabel* messageLabel_;
};

}  // namespace lumacap
