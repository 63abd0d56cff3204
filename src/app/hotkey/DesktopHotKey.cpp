#include "app/hotkey/DesktopHotKey.h"

#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent>
#include <cstdio>

#include "app/hotkey/CaptureKeys.h"
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
  connect(&settings_, &SettingsManager::captureKeysChanged, this, &DesktopHotKey::followCaptureKeys);
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

// One of Lumacap's GNOME keybindings: the region key's first, then one per other kind of capture,
// with its accelerator (empty: no key, so no keybinding).
struct GnomeEntry {
  GnomeKeybinding binding;
  std::string accelerator;
  std::string command;
};

}  // namespace

// gsettings waits for its process: it runs on a worker, on its own copies of the (stateless)
// GnomeKeybindings and with the keys as they are when the work starts. Adding writes the region
// key's keybinding and one for each other kind's key set, removing a cleared key's alone.
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
  std::vector<GnomeEntry> entries{{*setup_.gnome, gnomeAccelerator(settings_.shortcut()), command()}};
  for (CaptureMode mode : CaptureKeys::modes) {
    const std::optional<Shortcut> key = settings_.captureKey(mode);
    const std::string action = CaptureKeys::action(mode);
    entries.push_back({GnomeKeybinding(gnomeKeybindingPathFor(action), "Lumacap " + CaptureKeys::title(mode)),
                       key ? gnomeAccelerator(*key) : std::string(),
                       captureCommand(setup_.executable, action)});
  }
  watcher->setFuture(QtConcurrent::run([entries = std::move(entries), work]() -> GnomeAnswer {
    try {
      const GnomeKeybinding& region = entries.front().binding;
      switch (work) {
        case GnomeWork::check:
          return {region.present(), std::nullopt};
        case GnomeWork::write:
          for (const GnomeEntry& entry : entries) {
            if (!entry.accelerator.empty())
              entry.binding.write(entry.accelerator, entry.command);
            else if (entry.binding.present())
              entry.binding.remove();
          }
          return {true, std::nullopt};
        case GnomeWork::remove:
          region.remove();
          for (const GnomeEntry& entry : entries)
            if (&entry.binding != &region && entry.binding.present()) entry.binding.remove();
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

std::optional<QString> DesktopHotKey::captureKeysText() const {
  switch (setup_.mechanism) {
    case HotKeyMechanism::x11Grab:
      return std::nullopt;
    case HotKeyMechanism::portal:
      return QStringLiteral("The desktop’s shortcut service (the GlobalShortcuts portal) holds these keys.");
    case HotKeyMechanism::gnomeKeybinding:
      return gnomeAdded_ ? QStringLiteral(
                               "Each key set here is a GNOME keyboard shortcut of its own, added beside "
                               "the region’s.")
                         : QStringLiteral(
                               "GNOME binds these keys once Lumacap’s GNOME keyboard shortcut is added "
                               "(above): each key set here gets one of its own.");
    case HotKeyMechanism::compositorLine:
      break;
    case HotKeyMechanism::none:
      return QStringLiteral(
          "This desktop holds no keys for Lumacap: bind lumacap --action=capture-window, "
          "--action=capture-display or --action=capture-last-region in its keyboard "
          "settings.");
  }
  if (!setup_.compositor) return std::nullopt;
  QStringList lines;
  for (CaptureMode mode : CaptureKeys::modes) {
    const std::optional<Shortcut> key = settings_.captureKey(mode);
    if (!key) continue;
    const std::string action = CaptureKeys::action(mode);
    CompositorConfigLine line = compositorConfigLine(*setup_.compositor, *key, setup_.executable, action);
    if (line.refused) line = compositorConfigLine(*setup_.compositor, *key, linkedExecutable(), action);
    if (!line.refused) lines << QString::fromStdString(line.line);
  }
  const QString place = QString::fromStdString(compositorConfigPlace(*setup_.compositor));
  if (lines.isEmpty())
    return QStringLiteral(
               "%1 binds these keys in its own configuration: Settings shows the line for each key "
               "set here.")
        .arg(QString::fromStdString(compositorName(*setup_.compositor)));
  return QStringLiteral("Add to %1:\n%2").arg(place, lines.join(u'\n'));
}

void DesktopHotKey::followCaptureKeys() {
  const std::optional<GnomeWork> latest = gnomeWaiting_ ? gnomeWaiting_ : gnomeRunning_;
  if (latest == GnomeWork::write || (latest != GnomeWork::remove && gnomeAdded_)) runGnome(GnomeWork::write);
  emit changed();
}

// A changed shortcut rewrites the GNOME keybinding Lumacap added (or is adding); the texts follow
// it anyway.
void DesktopHotKey::followShortcut() {
  const std::optional<GnomeWork> latest = gnomeWaiting_ ? gnomeWaiting_ : gnomeRunning_;
  if (latest == GnomeWork::write || (latest != GnomeWork::remove && gnomeAdded_)) runGnome(GnomeWork::write);
  emit changed();
}

}  // namespace lumacap
