#include "app/AppServices.h"

#include <QGuiApplication>

#include "app/AgentRouter.h"
#include "app/AgentSessionRegistry.h"
#include "app/AppModel.h"
#include "app/CaptureManager.h"
#include "app/HookHandler.h"
#include "app/HotKeyManager.h"
#include "app/OCRService.h"
#include "app/SettingsManager.h"
#include "app/WaylandClipboardAndCard.h"
#include "app/views/CardPresenter.h"
#include "app/views/Dialogs.h"
#include "app/views/WindowPresenter.h"
#include "core/DataRoot.h"
#include "platform/linux/AutostartEntry.h"
#include "platform/linux/FreedesktopFileBrowser.h"
#include "platform/linux/TesseractRecognizer.h"
#include "platform/x11/QtPasteboard.h"
#include "platform/x11/X11ScreenSource.h"
#include "platform/x11/X11Workspace.h"
#include "platform/x11/XcbHotKeyService.h"

namespace lumacap {
namespace {

// Until the backend choice decides it: Qt on the wayland platform means a
// Wayland session.
WaylandClipboardAndCard waylandParts() {
  if (QGuiApplication::platformName() != QStringLiteral("wayland")) return {};
  return WaylandClipboardAndCard::choose();
}

}  // namespace

struct AppServices::Parts {
  WaylandClipboardAndCard wayland = waylandParts();
  ProcessSource& processes = ProcessSource::system();
  X11ScreenSource screenSource{processes};
  X11Workspace workspace{{}, processes};
  std::unique_ptr<Pasteboard> ownPasteboard =
      wayland.pasteboard ? std::move(wayland.pasteboard) : std::make_unique<QtPasteboard>();
  Pasteboard& pasteboard = *ownPasteboard;
  FreedesktopFileBrowser fileBrowser;
  AutostartEntry startAtLogin;
  DialogPrompts prompts;
  SettingsManager settings;
  HotKeyManager hotKey{std::make_unique<XcbHotKeyService>()};
  CaptureManager captureManager{screenSource};
  OCRService ocr{TesseractRecognizer::shared()};
  ClaudeCodeIntegration* integration =
      new ClaudeCodeIntegration(pasteboard, workspace, processes);  // owned by the registry
  AgentSessionRegistry registry{std::unique_ptr<AgentIntegrationProtocol>(integration)};
  AgentRouter router{pasteboard, *integration};
  // The windows of an X11 desktop are Qt windows.
  WindowPresenter windows{captureManager};
  // On Wayland the card is the desktop's own kind of surface.
  std::unique_ptr<CardPresenter> cardPresenter =
      wayland.makeCard ? std::make_unique<CardPresenter>(windows, captureManager, wayland.makeCard) : nullptr;
  AppWindows& presenter = cardPresenter ? static_cast<AppWindows&>(*cardPresenter) : windows;
  AppModel model{AppModel::Services{
      .openStore = [] { return std::make_unique<ScreenshotStore>(ScreenshotStore::defaultRoot()); },
      .registry = registry,
      .settings = settings,
      .captureManager = captureManager,
      .ocr = ocr,
      .router = router,
      .pasteboard = pasteboard,
      .workspace = workspace,
      .fileBrowser = fileBrowser,
      .startAtLogin = startAtLogin,
      .prompts = prompts,
      .windows = presenter,
      .configureHooks =
          [](bool install) { return HookHandler::configure(install, currentExecutablePath(nullptr)); },
      .hookStatus = [] { return HookHandler::status(currentExecutablePath(nullptr)); },
  }};
};

AppServices::AppServices() : parts_(std::make_unique<Parts>()) {
  if (parts_->cardPresenter) {
    parts_->cardPresenter->attach(parts_->model);
  } else {
    parts_->windows.attach(parts_->model);
  }
}
AppServices::~AppServices() = default;

AppModel& AppServices::model() { return parts_->model; }
HotKeyManager& AppServices::hotKey() { return parts_->hotKey; }
CaptureManager& AppServices::captureManager() { return parts_->captureManager; }
WindowPresenter& AppServices::windows() { return parts_->windows; }

}  // namespace lumacap
