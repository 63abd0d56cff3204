#include "app/DesktopHotKey.h"

#include <QDir>
#include <QFile>
#include <cstdio>

#include "app/SettingsManager.h"
#include "core/ProgramError.h"
#include "platform/linux/GnomeKeybinding.h"
#include "platform/wayland/PortalHotKeyService.h"

namespace lumacap {

DesktopHotKey::DesktopHotKey(Setup setup, SettingsManager& settings)
    : setup_(std::move(setup)), settings_(settings) {
  if (setup_.gnome && setup_.mechanism == HotKeyMechanism::gnomeKeybinding)
    gnomeAdded_ = setup_.gnome->present();
  if (setup_.portal) {
    connect(setup_.portal, &PortalHotKeyService::assignedTriggerChanged, this, &DesktopHotKey::changed);
    connect(setup_.portal, &PortalHotKeyService::unavailable, this, [this] {
      setup_.mechanism = setup_.fallback;
      setup_.portal = nullptr;
      if (setup_.gnome && setup_.mechanism == HotKeyMechanism::gnomeKeybinding)
        gnomeAdded_ = setup_.gnome->present();
      emit changed();
    });
  }
  connect(&settings_, &SettingsManager::shortcutChanged, this, &DesktopHotKey::followShortcut);
}

DesktopHotKey::~DesktopHotKey() = default;

std::string DesktopHotKey::command() const { return captureRegionCommand(setup_.executable); }

std::optional<QString> DesktopHotKey::assignedTrigger() const {
  if (!setup_.portal || !setup_.portal->assignedTrigger() || setup_.portal->assignedTrigger()->empty())
    return std::nullopt;
  return QString::fromStdString(*setup_.portal->assignedTrigger());
}

std::optional<QString> DesktopHotKey::inForceText() const {
  const std::optional<QString> assigned = assignedTrigger();
  const auto text = hotKeyInForceText(setup_.mechanism, settings_.shortcut().label(),
                                      assigned ? std::optional(assigned->toStdString()) : std::nullopt,
                                      setup_.compositor, gnomeAdded_);
  if (!text) return std::nullopt;
  return QString::fromStdString(*text);
}

void DesktopHotKey::addGnomeKeybinding() {
  if (!setup_.gnome) return;
  setup_.gnome->write(gnomeAccelerator(settings_.shortcut()), command());
  gnomeAdded_ = true;
  emit changed();
}

void DesktopHotKey::removeGnomeKeybinding() {
  if (!setup_.gnome) return;
  setup_.gnome->remove();
  gnomeAdded_ = false;
  emit changed();
}

QString DesktopHotKey::gnomeManualSteps() const {
  return QString::fromStdString(lumacap::gnomeManualSteps(settings_.shortcut(), command()));
}

namespace {

// Where the manual steps have the user link Lumacap from when its own path cannot be in the line.
std::string linkedExecutable() {
  return QFile::encodeName(QDir::homePath()).toStdString() + "/.local/bin/lumacap";
}

}  // namespace

QString DesktopHotKey::configurationLine() const {
  if (!setup_.compositor) return {};
  CompositorConfigLine line =
      compositorConfigLine(*setup_.compositor, settings_.shortcut(), setup_.executable);
  if (line.refused) line = compositorConfigLine(*setup_.compositor, settings_.shortcut(), linkedExecutable());
  return QString::fromStdString(line.line);
}

std::optional<QString> DesktopHotKey::configurationRefusal() const {
  if (!setup_.compositor) return std::nullopt;
  const CompositorConfigLine line =
      compositorConfigLine(*setup_.compositor, settings_.shortcut(), setup_.executable);
  if (!line.refused) return std::nullopt;
  const bool example =
      !compositorConfigLine(*setup_.compositor, settings_.shortcut(), linkedExecutable()).refused;
  return QString::fromStdString(
      configLineRefusalText(*line.refused, *setup_.compositor, settings_.shortcut(), example));
}

QString DesktopHotKey::configurationPlace() const {
  if (!setup_.compositor) return {};
  return QString::fromStdString(compositorConfigPlace(*setup_.compositor));
}

// A changed shortcut rewrites the GNOME keybinding Lumacap added; the texts follow it anyway.
void DesktopHotKey::followShortcut() {
  if (gnomeAdded_ && setup_.gnome) {
    try {
      setup_.gnome->write(gnomeAccelerator(settings_.shortcut()), command());
    } catch (const ProgramError& failure) {
      std::fprintf(stderr, "lumacap: %s\n", failure.what());
    }
  }
  emit changed();
}

}  // namespace lumacap
