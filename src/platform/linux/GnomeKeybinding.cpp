#include "platform/linux/GnomeKeybinding.h"

#include <QProcess>
#include <algorithm>

#include "core/DesktopShortcut.h"
#include "core/ProgramError.h"

namespace lumacap {
namespace {

const QString listSchema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
const QString listKey = QStringLiteral("custom-keybindings");

QString bindingSchema() {
  return QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:") +
         QString::fromLatin1(gnomeKeybindingPath);
}

}  // namespace

std::string GnomeKeybinding::gsettings(const QStringList& arguments) const {
  QProcess process;
  process.start(QStringLiteral("gsettings"), arguments);
  if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    const QString error = QString::fromUtf8(process.readAllStandardError()).trimmed();
    throw ProgramError("GNOME’s settings could not be changed (gsettings " +
                       arguments.join(u' ').toStdString() + ": " +
                       (error.isEmpty() ? process.errorString() : error).toStdString() + ").");
  }
  return process.readAllStandardOutput().toStdString();
}

std::vector<std::string> GnomeKeybinding::bindings() const {
  const std::string printed = gsettings({QStringLiteral("get"), listSchema, listKey});
  std::optional<std::vector<std::string>> list = parsedGSettingsStringList(printed);
  if (!list) throw ProgramError("GNOME’s list of custom shortcuts could not be read: " + printed);
  return *list;
}

bool GnomeKeybinding::present() const {
  try {
    const std::vector<std::string> list = bindings();
    return std::find(list.begin(), list.end(), gnomeKeybindingPath) != list.end();
  } catch (const ProgramError&) {
    return false;
  }
}

void GnomeKeybinding::write(const std::string& accelerator, const std::string& command) const {
  std::vector<std::string> list = bindings();
  gsettings({QStringLiteral("set"), bindingSchema(), QStringLiteral("name"),
             QString::fromStdString(gsettingsString("Lumacap capture"))});
  gsettings({QStringLiteral("set"), bindingSchema(), QStringLiteral("command"),
             QString::fromStdString(gsettingsString(command))});
  gsettings({QStringLiteral("set"), bindingSchema(), QStringLiteral("binding"),
             QString::fromStdString(gsettingsString(accelerator))});
  if (std::find(list.begin(), list.end(), gnomeKeybindingPath) != list.end()) return;
  list.push_back(gnomeKeybindingPath);
  gsettings({QStringLiteral("set"), listSchema, listKey, QString::fromStdString(gsettingsStringList(list))});
}

void GnomeKeybinding::remove() const {
  std::vector<std::string> list = bindings();
  list.erase(std::remove(list.begin(), list.end(), gnomeKeybindingPath), list.end());
  gsettings({QStringLiteral("set"), listSchema, listKey, QString::fromStdString(gsettingsStringList(list))});
  for (const char* key : {"name", "command", "binding"})
    gsettings({QStringLiteral("reset"), bindingSchema(), QString::fromLatin1(key)});
}

}  // namespace lumacap
