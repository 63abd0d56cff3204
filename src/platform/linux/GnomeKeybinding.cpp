#include "platform/linux/GnomeKeybinding.h"

#include <glib.h>

#include <QProcess>
#include <algorithm>
#include <memory>

#include "core/DesktopShortcut.h"
#include "core/ProgramError.h"

namespace lumacap {
namespace {

const QString listSchema = QStringLiteral("org.gnome.settings-daemon.plugins.media-keys");
const QString listKey = QStringLiteral("custom-keybindings");

// Values in GVariant's text form, which gsettings prints and reads, written and read by GLib
// itself: every escape (\t, \u0001, quotes, backslashes) means what it means to GNOME.
struct VariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

std::string printed(GVariant* floating) {
  const Variant value(g_variant_ref_sink(floating));
  gchar* text = g_variant_print(value.get(), FALSE);
  std::string result(text);
  g_free(text);
  return result;
}

std::string printedString(const std::string& text) {
  if (!g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
    throw ProgramError(
        "GNOME’s settings hold only UTF-8 text, and Lumacap’s path is not: add the shortcut "
        "yourself in GNOME’s Settings.");
  return printed(g_variant_new_string(text.c_str()));
}

std::string printedStringList(const std::vector<std::string>& items) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_STRING_ARRAY);
  for (const std::string& item : items) g_variant_builder_add(&builder, "s", item.c_str());
  return printed(g_variant_builder_end(&builder));
}

// Nothing when `text` is not a list of strings.
std::optional<std::vector<std::string>> parsedStringList(const std::string& text) {
  const Variant value(g_variant_parse(G_VARIANT_TYPE_STRING_ARRAY, text.c_str(), nullptr, nullptr, nullptr));
  if (!value) return std::nullopt;
  std::vector<std::string> items;
  GVariantIter iterator;
  g_variant_iter_init(&iterator, value.get());
  const gchar* item = nullptr;
  while (g_variant_iter_next(&iterator, "&s", &item)) items.emplace_back(item);
  return items;
}

}  // namespace

QString GnomeKeybinding::bindingSchema() const {
  return QStringLiteral("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:") +
         QString::fromStdString(path_);
}

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
  std::optional<std::vector<std::string>> list = parsedStringList(printed);
  if (!list) throw ProgramError("GNOME’s list of custom shortcuts could not be read: " + printed);
  return *list;
}

bool GnomeKeybinding::present() const {
  try {
    const std::vector<std::string> list = bindings();
    return std::find(list.begin(), list.end(), path_) != list.end();
  } catch (const ProgramError&) {
    return false;
  }
}

void GnomeKeybinding::write(const std::string& accelerator, const std::string& command) const {
  std::vector<std::string> list = bindings();
  gsettings({QStringLiteral("set"), bindingSchema(), QStringLiteral("name"),
             QString::fromStdString(printedString(name_))});
  gsettings({QStringLiteral("set"), bindingSchema(), QStringLiteral("command"),
             QString::fromStdString(printedString(command))});
  gsettings({QStringLiteral("set"), bindingSchema(), QStringLiteral("binding"),
             QString::fromStdString(printedString(accelerator))});
  if (std::find(list.begin(), list.end(), path_) != list.end()) return;
  list.push_back(path_);
  gsettings({QStringLiteral("set"), listSchema, listKey, QString::fromStdString(printedStringList(list))});
}

void GnomeKeybinding::remove() const {
  std::vector<std::string> list = bindings();
  list.erase(std::remove(list.begin(), list.end(), path_), list.end());
  gsettings({QStringLiteral("set"), listSchema, listKey, QString::fromStdString(printedStringList(list))});
  for (const char* key : {"name", "command", "binding"})
    gsettings({QStringLiteral("reset"), bindingSchema(), QString::fromLatin1(key)});
}

}  // namespace lumacap
