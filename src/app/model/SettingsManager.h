#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <optional>
#include <string>

#include "core/CaptureError.h"
#include "core/ScreenshotStore.h"
#include "core/Shortcut.h"

namespace lumacap {

// The user's settings that outlive a launch, kept in QSettings
// ("Lumacap"/"Lumacap"): the capture shortcut under "shortcut" as its JSON
// bytes, the destination of the last delivery under "lastDestination",
// whether captures are searched for secrets under "lookForSecrets" and
// redacted before they are copied under "redactSecretsBeforeCopying", whether
// coding agents may read captures (`lumacap mcp`, which reads this file
// without Qt through UserSettings) under "agentsMayReadCaptures", whether
// the first start's notice was shown under "firstStartNoticeShown", how
// long captures are kept under "keepCaptures" (Retention's text), the
// optional keys of the other kinds of capture under "windowShortcut",
// "displayShortcut" and "lastRegionShortcut" (JSON as "shortcut"), the
// folder new captures are saved to under "captureFolder" (an absolute path)
// and whether each capture is saved there at once under "saveEveryCapture". A
// stored shortcut that is no longer acceptable is replaced by the default at
// construction, with a one-time notice for the settings window.
class SettingsManager : public QObject {
  Q_OBJECT
  Q_PROPERTY(lumacap::Shortcut shortcut READ shortcut WRITE setShortcut NOTIFY shortcutChanged)
  Q_PROPERTY(QString shortcutLabel READ shortcutLabel NOTIFY shortcutChanged)
  Q_PROPERTY(QString shortcutMigrationNotice READ shortcutMigrationNotice CONSTANT)

 public:
  static constexpr const char* shortcutKey = "shortcut";
  static constexpr const char* lastDestinationKey = "lastDestination";
  static constexpr const char* lookForSecretsKey = "lookForSecrets";
  static constexpr const char* redactBeforeCopyingKey = "redactSecretsBeforeCopying";
  static constexpr const char* firstStartNoticeShownKey = "firstStartNoticeShown";
  static constexpr const char* retentionKey = "keepCaptures";

  explicit SettingsManager(QObject* parent = nullptr);

  const Shortcut& shortcut() const { return shortcut_; }
  // Stores the shortcut; every assignment is written. Throws
  // std::runtime_error naming the settings file when it cannot be written
  // (the shortcut in use is changed all the same).
  void setShortcut(const Shortcut& shortcut);
  QString shortcutLabel() const { return QString::fromStdString(shortcut_.label()); }
  // Set only when the stored shortcut had to be replaced at this launch; empty otherwise.
  QString shortcutMigrationNotice() const { return shortcutMigrationNotice_; }
  // Why the settings could not be written at start, if they could not.
  const std::optional<QString>& startupStorageError() const { return startupStorageError_; }

  // The id of the destination of the last successful delivery.
  std::optional<std::string> lastDestination() const;
  // Throws like setShortcut.
  void setLastDestination(const std::string& id);

  // Whether captures are searched for possible secrets; on unless turned off.
  bool lookForSecrets() const;
  // Throws like setShortcut.
  void setLookForSecrets(bool look);
  // Whether the clipboard waits for the search and gets the capture with its
  // possible secrets redacted; off unless turned on.
  bool redactSecretsBeforeCopying() const;
  // Throws like setShortcut.
  void setRedactSecretsBeforeCopying(bool redact);
  // Whether coding agents may read captures through `lumacap mcp`; on unless turned off.
  bool agentsMayReadCaptures() const;
  // Throws like setShortcut.
  void setAgentsMayReadCaptures(bool allow);
  // Whether the notice of where Lumacap lives and how to capture was shown (once, at the first
  // start). Throws like setShortcut.
  bool firstStartNoticeShown() const;
  void setFirstStartNoticeShown();
  // The key of another kind of capture than the region (window, display,
  // last region), if one is set. Setting throws like setShortcut.
  std::optional<Shortcut> captureKey(CaptureMode mode) const;
  void setCaptureKey(CaptureMode mode, const std::optional<Shortcut>& shortcut);
  // The seconds a delayed capture waits (one of DelayedCapture::choices); 5
  // unless set. Setting throws like setShortcut.
  int captureDelay() const;
  void setCaptureDelay(int seconds);
  // How long captures are kept; all of them unless set. Throws like setShortcut.
  Retention retention() const;
  void setRetention(const Retention& retention);
  // The folder new captures are saved to, when the user chose one (an
  // absolute path); nothing for the data folder's own. Throws like setShortcut.
  std::optional<std::filesystem::path> captureFolder() const;
  void setCaptureFolder(const std::optional<std::filesystem::path>& folder);
  // Whether every capture is saved to the capture folder as it is taken;
  // off unless turned on. Throws like setShortcut.
  bool saveEveryCapture() const;
  void setSaveEveryCapture(bool save);

 signals:
  void shortcutChanged();
  void retentionChanged();
  // A key of another kind of capture was set or cleared.
  void captureKeysChanged();

 private:
  void storeShortcut();

  Shortcut shortcut_;
  QString shortcutMigrationNotice_;
  std::optional<QString> startupStorageError_;
};

}  // namespace lumacap
