#include "app/hotkey/DesktopHotKey.h"

#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent>
#include <cstdio>

#include "app/model/SettingsManager.h"
#include "core/ProgramError.h"
#include "platform/linux/GnomeKeybinding.h"
#include "platform/wayland/PortalHotKeyService.h"

namespace lumacap {

DesktopHotKey::DesktopHotKey(Setup setup, SettingsManager& settings)
    : setup_(std::move(setup)), settings_(settings) {
  if (setup_.mechanism == HotKeyMechanism::gnomeKeybinding) runGnome(GnomeWork::check);
  if (setup_.portal) {
    connect(setup_.portal, &PortalHotKeyService::assignedTriggerChanged, this, &DesktopHotKey::changed);
    connect(setup_.portal, &PortalHotKeyService::unavailable, this, [this] {
      setup_.mechanism = setup_.fallback;
      setup_.portal = nullptr;
      if (setup_.mechanism == HotKeyMechanism::gnomeKeybinding) runGnome(GnomeWork::check);
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

void DesktopHotKey::addGnomeKeybinding() { runGnome(GnomeWork::write); }

void DesktopHotKey::removeGnomeKeybinding() { runGnome(GnomeWork::remove); }

namespace {

struct GnomeAnswer {
  bool added = false;
  std::optional<QString> failure;
};

}  // namespace

// gsettings waits for its process: it runs on a worker, on its own copy of the (stateless)
// GnomeKeybinding and with the shortcut as it is when the work starts.
void DesktopHotKey::runGnome(GnomeWork work) {
  if (!setup_.gnome) return;
  if (gnomeRunning_) {
    gnomeWaiting_ = work;
    return;
  }
  gnomeRunning_ = work;
  auto* watcher = new QFutureWatcher<GnomeAnswer>(this);
  connect(watcher, &QFutureWatcher<GnomeAnswer>::finished, this, [this, watcher] {
    watcher->deleteLater();
    const GnomeAnswer answer = watcher->result();
    gnomeRunning_.reset();
    if (!answer.failure) gnomeAdded_ = answer.added;
    if (gnomeWaiting_) runGnome(*std::exchange(gnomeWaiting_, std::nullopt));
    if (answer.failure) {
      std::fprintf(stderr, "lumacap: %s\n", answer.failure->toUtf8().constData());
      emit failed(*answer.failure);
    }
    emit changed();
  });
  watcher->setFuture(
      QtConcurrent::run([gnome = *setup_.gnome, work, accelerator = gnomeAccelerator(settings_.shortcut()),
                         command = command()]() -> GnomeAnswer {
        try {
          switch (work) {
            case GnomeWork::check:
              return {gnome.present(), std::nullopt};
            case GnomeWork::write:
              gnome.write(accelerator, command);
              return {true, std::nullopt};
            case GnomeWork::remove:
              gnome.remove();
              return {false, std::nullopt};
          }
        } catch (const ProgramError& failure) {
          return {false, QString::fromUtf8(failure.what())};
        }
        return {};
      }));
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

// A changed shortcut rewrites the GNOME keybinding Lumacap added (or is adding); the texts follow
// it anyway.
void DesktopHotKey::followShortcut() {
  const std::optional<GnomeWork> latest = gnomeWaiting_ ? gnomeWaiting_ : gnomeRunning_;
  if (latest == GnomeWork::write || (latest != GnomeWork::remove && gnomeAdded_)) runGnome(GnomeWork::write);
  emit changed();
}

}  // namespace lumacap
