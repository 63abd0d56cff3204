#include "app/model/SettingsManager.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <optional>
#include <stdexcept>
#include <string>

#include "core/UserSettings.h"

namespace lumacap {
namespace {

QSettings userSettings() { return QSettings(QStringLiteral("Lumacap"), QStringLiteral("Lumacap")); }

// Writes one value and makes sure it reached the file, which (like every file
// of ours that holds the user's choices) is private to the user; later writes
// through QSettings keep these permissions.
void store(const char* key, const QVariant& value) {
  QSettings settings = userSettings();
  settings.setValue(QString::fromLatin1(key), value);
  settings.sync();
  if (settings.status() != QSettings::NoError) {
    throw std::runtime_error("Lumacap could not save its settings in " + settings.fileName().toStdString() +
                             ".");
  }
  QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
  QFile::setPermissions(QFileInfo(settings.fileName()).path(),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

}  // namespace

SettingsManager::SettingsManager(QObject* parent) : QObject(parent) {
  std::optional<std::string> bytes;
  if (QVariant value = userSettings().value(shortcutKey); value.isValid())
    bytes = value.toByteArray().toStdString();
  const std::optional<Shortcut> stored = bytes ? Shortcut::decoded(*bytes) : std::nullopt;

  shortcut_ = Shortcut::restored(bytes);
  if (stored && stored->validationMessage())
    shortcutMigrationNotice_ =
        QStringLiteral("Your old shortcut conflicted with other screenshot tools. Region capture now uses ") +
        shortcutLabel() + QStringLiteral(".");
  if (!stored || *stored != shortcut_) {
    try {
      storeShortcut();
    } catch (const std::runtime_error& failure) {
      startupStorageError_ = QString::fromStdString(failure.what());
    }
  }
}

void SettingsManager::setShortcut(const Shortcut& shortcut) {
  const bool changed = shortcut != shortcut_;
  shortcut_ = shortcut;
  if (changed) emit shortcutChanged();
  storeShortcut();
}

void SettingsManager::storeShortcut() { store(shortcutKey, QByteArray::fromStdString(shortcut_.encoded())); }

std::optional<std::string> SettingsManager::lastDestination() const {
  const QVariant value = userSettings().value(lastDestinationKey);
  if (!value.isValid()) return std::nullopt;
  return value.toString().toStdString();
}

void SettingsManager::setLastDestination(const std::string& id) {
  store(lastDestinationKey, QString::fromStdString(id));
}

bool SettingsManager::lookForSecrets() const {
  return userSettings().value(lookForSecretsKey, true).toBool();
}

void SettingsManager::setLookForSecrets(bool look) { store(lookForSecretsKey, look); }

bool SettingsManager::redactSecretsBeforeCopying() const {
  return userSettings().value(redactBeforeCopyingKey, false).toBool();
}

void SettingsManager::setRedactSecretsBeforeCopying(bool redact) { store(redactBeforeCopyingKey, redact); }

bool SettingsManager::agentsMayReadCaptures() const {
  return userSettings().value(UserSettings::agentsMayReadCapturesKey, true).toBool();
}

void SettingsManager::setAgentsMayReadCaptures(bool allow) {
  store(UserSettings::agentsMayReadCapturesKey, allow);
}

bool SettingsManager::firstStartNoticeShown() const {
  return userSettings().value(firstStartNoticeShownKey, false).toBool();
}

void SettingsManager::setFirstStartNoticeShown() { store(firstStartNoticeShownKey, true); }

namespace {

const char* captureKeyName(CaptureMode mode) {
  switch (mode) {
    case CaptureMode::window:
      return "windowShortcut";
    case CaptureMode::display:
      return "displayShortcut";
    case CaptureMode::lastRegion:
      return "lastRegionShortcut";
    case CaptureMode::region:
      break;
  }
  return SettingsManager::shortcutKey;
}

}  // namespace

std::optional<Shortcut> SettingsManager::captureKey(CaptureMode mode) const {
  const QVariant value = userSettings().value(captureKeyName(mode));
  if (!value.isValid()) return std::nullopt;
  return Shortcut::decoded(value.toByteArray().toStdString());
}

void SettingsManager::setCaptureKey(CaptureMode mode, const std::optional<Shortcut>& shortcut) {
  if (shortcut) {
    store(captureKeyName(mode), QByteArray::fromStdString(shortcut->encoded()));
  } else {
    QSettings settings = userSettings();
    settings.remove(QString::fromLatin1(captureKeyName(mode)));
    settings.sync();
    if (settings.status() != QSettings::NoError) store(captureKeyName(mode), QVariant());  // says why
  }
  emit captureKeysChanged();
}

int SettingsManager::captureDelay() const {
  const int seconds = userSettings().value("captureDelay", 5).toInt();
  return seconds == 3 || seconds == 10 ? seconds : 5;
}

void SettingsManager::setCaptureDelay(int seconds) { store("captureDelay", seconds); }

Retention SettingsManager::retention() const {
  const std::string text = userSettings().value(retentionKey).toString().toStdString();
  return Retention::decoded(text).value_or(Retention{});
}

std::optional<std::filesystem::path> SettingsManager::captureFolder() const {
  const QString folder = userSettings().value("captureFolder").toString();
  if (!folder.startsWith(QLatin1Char('/'))) return std::nullopt;
  return std::filesystem::path(folder.toStdString());
}

void SettingsManager::setCaptureFolder(const std::optional<std::filesystem::path>& folder) {
  store("captureFolder", folder ? QString::fromStdString(folder->string()) : QString());
}

bool SettingsManager::saveEveryCapture() const {
  return userSettings().value("saveEveryCapture", false).toBool();
}

void SettingsManager::setSaveEveryCapture(bool save) { store("saveEveryCapture", save); }

void SettingsManager::setRetention(const Retention& retention) {
  const bool changed = retention != this->retention();
  store(retentionKey, QString::fromStdString(retention.encoded()));
  if (changed) emit retentionChanged();
}

}  // namespace lumacap
