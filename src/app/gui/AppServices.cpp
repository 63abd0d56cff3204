#include "app/gui/AppServices.h"

#include <unistd.h>

#include <cstdio>

#include "app/agents/AgentRouter.h"
#include "app/agents/AgentSessionRegistry.h"
#include "app/capture/CaptureManager.h"
#include "app/cli/HookHandler.h"
#include "app/gui/WaylandClipboardAndCard.h"
#include "app/hotkey/CaptureKeys.h"
#include "app/hotkey/DesktopHotKey.h"
#include "app/hotkey/HotKeyManager.h"
#include "app/hotkey/WaylandHotKeyChoice.h"
#include "app/model/AppModel.h"
#include "app/model/OCRService.h"
#include "app/model/SettingsManager.h"
#include "app/views/CardPresenter.h"
#include "app/views/Dialogs.h"
#include "app/views/PinWindow.h"
#include "app/views/ScreenshotPermissionWindow.h"
#include "app/views/WindowPresenter.h"
#include "core/DataRoot.h"
#include "core/DesktopBackend.h"
#include "platform/linux/AutostartEntry.h"
#include "platform/linux/FreedesktopFileBrowser.h"
#include "platform/linux/TerminalAncestorLookup.h"
#include "platform/linux/TesseractRecognizer.h"
#include "platform/wayland/CompositorWindowList.h"
#include "platform/wayland/CompositorWorkspace.h"
#include "platform/wayland/DesktopProbe.h"
#include "platform/wayland/NoWindowsWorkspace.h"
#include "platform/wayland/OverlayLayer.h"
#include "platform/wayland/PortalHotKeyService.h"
#include "platform/wayland/WaylandScreenSourceChoice.h"
#include "platform/wayland/WindowListScreenSource.h"
#include "platform/x11/QtPasteboard.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbHotKeyService.h"
#include "platform/x11/XcbWindowList.h"

namespace lumacap {
namespace {

// Pins stay above other windows on Wayland where the desktop has layer-shell
// (KWin, wlroots) and Lumacap was built with LayerShellQt.
bool pinsAbove(const DesktopBackend& backend) {
  return backend.session == Session::wayland && backend.card == CardMechanism::layerShell &&
         overlayLayerBuiltIn();
}

DesktopLimits withPins(DesktopLimits limits, bool above) {
  if (above) limits.pin.reset();
  return limits;
}

// The services that differ between desktops, chosen once from the backend.
struct PlatformServices {
  std::unique_ptr<ScreenSource> screens;
  std::unique_ptr<Workspace> workspace;
  std::unique_ptr<Pasteboard> pasteboard;
  std::unique_ptr<HotKeyService> hotKey;
  // The card as the desktop's own kind of surface; none for a Qt window.
  CardPresenter::CardFactory makeCard;
  // How the hot key reaches Lumacap, for what Settings and the tray say.
  DesktopHotKey::Setup hotKeySetup;
  // What the clipboard and the card were built on.
  ClipboardMechanism clipboard = ClipboardMechanism::x11;
  CardMechanism card = CardMechanism::x11Window;
};

PlatformServices x11Services(ProcessSource& processes) {
  return {std::make_unique<X11ScreenSource>(processes),
          std::make_unique<X11Workspace>(std::string(), processes),
          std::make_unique<QtPasteboard>(),
          std::make_unique<XcbHotKeyService>(),
          {},
          DesktopHotKey::Setup::of(HotKeyMechanism::x11Grab),
          ClipboardMechanism::x11,
          CardMechanism::x11Window};
}

// Where the compositor lists and activates windows for programs (KWin, sway, Hyprland), the chooser
// offers them and the agent's terminal is brought to the front; elsewhere the workspace knows no
// windows.
struct WaylandWindows {
  std::unique_ptr<ScreenSource> screens;
  std::unique_ptr<Workspace> workspace;
};
// GNOME asks once whether Lumacap may take screenshots: in front of a window of Lumacap's.
WaylandWindows waylandWindows(const DesktopFacts& facts, const DesktopBackend& backend,
                              ProcessSource& processes, PermissionWindow& permissionWindow) {
  std::unique_ptr<ScreenSource> screens = makeWaylandScreenSource(
      backend.capture, backend.desktop == Desktop::gnome ? &permissionWindow : nullptr);
  const std::shared_ptr<CompositorWindowList> list =
      backend.capture == CaptureMechanism::none ? nullptr : makeCompositorWindowList(backend.desktop, facts);
  if (!list) return {std::move(screens), std::make_unique<NoWindowsWorkspace>(processes)};
  return {std::make_unique<WindowListScreenSource>(std::move(screens), list),
          std::make_unique<CompositorWorkspace>(list, processes)};
}

// Nothing of X11 runs inside a Wayland session.
PlatformServices waylandServices(const DesktopFacts& facts, const DesktopBackend& backend,
                                 ProcessSource& processes, PermissionWindow& permissionWindow) {
  // data-control and layer-shell on Lumacap's own connection where the
  // compositor offers them; else Qt's clipboard from input handlers and a
  // desktop notification.
  WaylandClipboardAndCard clipboardAndCard =
      WaylandClipboardAndCard::choose(facts.busNames.contains("org.freedesktop.Notifications"));
  WaylandHotKey hotKey = chooseWaylandHotKey(backend, facts.currentDesktops);
  WaylandWindows windows = waylandWindows(facts, backend, processes, permissionWindow);
  return {std::move(windows.screens),
          std::move(windows.workspace),
          std::move(clipboardAndCard.pasteboard),
          std::move(hotKey.service),
          std::move(clipboardAndCard.makeCard),
          std::move(hotKey.setup),
          clipboardAndCard.clipboard,
          clipboardAndCard.card};
}

PlatformServices platformServices(const DesktopFacts& facts, const DesktopBackend& backend,
                                  ProcessSource& processes, PermissionWindow& permissionWindow) {
  if (backend.session == Session::wayland)
    return waylandServices(facts, backend, processes, permissionWindow);
  return x11Services(processes);
}

// The backend as built (the clipboard and the card are what their services
// ended up with), logged once: the record Settings and the tooltip report.
DesktopBackend builtBackend(DesktopBackend chosen, const PlatformServices& built) {
  chosen.clipboard = built.clipboard;
  chosen.card = built.card;
  std::fprintf(stderr, "%s\n", backendLogLine(chosen).c_str());
  return chosen;
}

// Agents' sessions come from their hooks and, for agents without hooks (or
// whose hooks never ran), from their processes under a terminal: on X11 the
// owner of a window, on Wayland a terminal known by name, as the hook finds it.
ClaudeCodeIntegration* agentIntegration(Pasteboard& pasteboard, Workspace& workspace,
                                        ProcessSource& processes, Session session) {
  auto* integration = new ClaudeCodeIntegration(pasteboard, workspace, processes);
  integration->setProcessFinder([&processes, wayland = session == Session::wayland] {
    XcbWindowList windows;
    TerminalAncestorLookup terminals(processes);
    RunningApplicationLookup& lookup = wayland ? static_cast<RunningApplicationLookup&>(terminals) : windows;
    return AgentProcessFinder(processes, lookup, ::getuid()).find();
  });
  return integration;
}

}  // namespace

struct AppServices::Parts {
  // What the session offers, read once.
  DesktopFacts facts = probeDesktop();
  ProcessSource& processes = ProcessSource::system();
  ScreenshotPermissionWindow screenshotPermissionWindow;
  // What the facts call for; `backend` is what was built.
  DesktopBackend chosen = chooseBackend(facts);
  PlatformServices platform = platformServices(facts, chosen, processes, screenshotPermissionWindow);
  DesktopBackend backend = builtBackend(chosen, platform);
  ScreenSource& screenSource = *platform.screens;
  Workspace& workspace = *platform.workspace;
  Pasteboard& pasteboard = *platform.pasteboard;
  FreedesktopFileBrowser fileBrowser;
  AutostartEntry startAtLogin;
  DialogPrompts prompts;
  SettingsManager settings;
  PortalHotKeyService* portal = platform.hotKeySetup.portal;  // owned by hotKey
  HotKeyManager hotKey{std::move(platform.hotKey)};
  DesktopHotKey desktopHotKey{std::move(platform.hotKeySetup), settings};
  // One X11 grab per key; on Wayland keys of the portal's session, or the desktop's own bindings.
  CaptureKeys captureKeys{
      portal ? CaptureKeys::ServiceFactory([portal = portal](CaptureMode mode) {
        return portal->keyFor(QString::fromStdString(CaptureKeys::action(mode)),
                              QString::fromStdString(CaptureKeys::title(mode)));
      })
      : backend.session == Session::wayland
          ? CaptureKeys::ServiceFactory()
          : [](CaptureMode) { return std::unique_ptr<HotKeyService>(std::make_unique<XcbHotKeyService>()); },
      settings, &desktopHotKey};
  CaptureManager captureManager{screenSource};
  OCRService ocr{TesseractRecognizer::shared()};
  ClaudeCodeIntegration* integration =
      agentIntegration(pasteboard, workspace, processes, backend.session);  // owned by the registry
  AgentSessionRegistry registry{std::unique_ptr<AgentIntegrationProtocol>(integration)};
  AgentRouter router{pasteboard, *integration};
  // Lumacap's windows are Qt windows on both X11 and Wayland.
  WindowPresenter windows{captureManager};
  // On Wayland the card is the desktop's own kind of surface.
  std::unique_ptr<CardPresenter> cardPresenter =
      platform.makeCard ? std::make_unique<CardPresenter>(windows, captureManager, platform.makeCard)
                        : nullptr;
  AppWindows& presenter = cardPresenter ? static_cast<AppWindows&>(*cardPresenter) : windows;
  AppModel model{AppModel::Services{
      .openStore =
          [folder = settings.captureFolder()] {
            auto store = std::make_unique<ScreenshotStore>(ScreenshotStore::defaultRoot());
            if (folder) store->setSaveFolder(*folder);
            return store;
          },
      .registry = registry,
      .settings = settings,
      .captureManager = captureManager,
      .ocr = ocr,
      .router = router,
      .pasteboard = pasteboard,
      .workspace = workspace,
      .prompts = prompts,
      .windows = presenter,
  }};
  ViewContext context{
      .registry = registry,
      .settings = settings,
      .fileBrowser = fileBrowser,
      .startAtLogin = startAtLogin,
      .configureHooks =
          [](bool install) { return HookHandler::configure(install, currentExecutablePath(nullptr)); },
      .hookStatus = [] { return HookHandler::status(currentExecutablePath(nullptr)); },
      .agentStatus =
          [](const CodingAgent& agent) { return agentSetupStatus(agent, currentExecutablePath(nullptr)); },
      .configureAgent =
          [](const CodingAgent& agent, AgentSetupPart part, bool install) {
            return configureAgent(agent, part, install, currentExecutablePath(nullptr));
          },
      .desktopLimits = withPins(withHotKey(limitsOf(backend), desktopHotKey.mechanism()), pinsAbove(backend)),
      .desktopHotKey = &desktopHotKey,
      .captureKeys = &captureKeys,
  };
  // Ends the answers still due to the parts above with them.
  QObject answers;
};

AppServices::AppServices() : parts_(std::make_unique<Parts>()) {
  PinWindow::keepAboveOnWayland(pinsAbove(parts_->backend));
  // Settings names what the desktop refuses Lumacap once the desktop has said so.
  parts_->screenSource.captureLimit().then(
      &parts_->answers, [&limits = parts_->context.desktopLimits](const std::optional<std::string>& limit) {
        if (limit && !limits.capture) limits.capture = limit;
      });
  parts_->captureManager.colourPicked = [&pasteboard = parts_->pasteboard](const QString& hex) {
    pasteboard.setText(hex.toStdString());
  };
  // wlroots desktops: sway 1.10 never shows a full-screen window beside another one on an output.
  parts_->captureManager.overlayLayer =
      parts_->backend.desktop == Desktop::sway || parts_->backend.desktop == Desktop::wlroots;
  if (parts_->cardPresenter) {
    parts_->cardPresenter->attach(parts_->model, parts_->context);
  } else {
    parts_->windows.attach(parts_->model, parts_->context);
  }
}
AppServices::~AppServices() = default;

AppModel& AppServices::model() { return parts_->model; }
ViewContext& AppServices::context() { return parts_->context; }
HotKeyManager& AppServices::hotKey() { return parts_->hotKey; }
CaptureManager& AppServices::captureManager() { return parts_->captureManager; }
WindowPresenter& AppServices::windows() { return parts_->windows; }
const DesktopBackend& AppServices::backend() const { return parts_->backend; }

}  // namespace lumacap
