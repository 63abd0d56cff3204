#include "app/SettingsManager.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <optional>
#include <string>

namespace lumacap {
namespace {

QSettings userSettings() { return QSettings(QStringLiteral("Lumacap"), QStringLiteral("Lumacap")); }

}  // namespace

SettingsManager::SettingsManager(QObject* parent) : QObject(parent) {
  std::optional<std::string> bytes;
  if (QVariant value = userSettings().value(shortcutKey); value.isValid())
    bytes = value.toByteArray().toStdString();
  const std::optional<Shortcut> stored = bytes ? Shortcut::decoded(*bytes) : std::nullopt;

  shortcut_ = Shortcut::restored(bytes);
  if (stored && stored->validationMessage())
    shortcutMigrationNotice_ =
        QStringLiteral("Your old shortcut conflicted with macOS. Region capture now uses ") +
        shortcutLabel() + QStringLiteral(".");
  if (!stored || *stored != shortcut_) storeShortcut();
}

void SettingsManager::setShortcut(const Shortcut& shortcut) {
  const bool changed = shortcut != shortcut_;
  shortcut_ = shortcut;
  storeShortcut();
  if (changed) emit shortcutChanged();
}

void SettingsManager::storeShortcut() {
  QSettings settings = userSettings();
  settings.setValue(shortcutKey, QByteArray::fromStdString(shortcut_.encoded()));
  settings.sync();
  // Like every file of ours that holds the user's choices: private to the user.
  // Later writes through QSettings keep these permissions.
  if (settings.status() == QSettings::NoError) {
    QFile::setPermissions(settings.fileName(), QFile::ReadOwner | QFile::WriteOwner);
    QFile::setPermissions(QFileInfo(settings.fileName()).path(),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
}

}  // namespace lumacap
