#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/agents/AgentRouter.h"
#include "app/agents/AgentSessionRegistry.h"
#include "app/capture/CaptureManager.h"
#include "app/capture/RegionSelector.h"
#include "app/hotkey/DesktopHotKey.h"
#include "app/model/AppModel.h"
#include "app/model/OCRService.h"
#include "app/model/SettingsManager.h"
#include "app/model/ViewContext.h"
#include "app/views/CardPresenter.h"
#include "app/views/WindowPresenter.h"
#include "platform/FileBrowser.h"
#include "platform/StartAtLogin.h"
#include "platform/fake/FakePasteboard.h"
#include "platform/fake/FakeProcessSource.h"
#include "platform/fake/FakeScreenSource.h"
#include "platform/fake/FakeTextRecognizer.h"
#include "platform/fake/FakeWorkspace.h"
#include "support/AwaitTask.h"
#include "support/TempDir.h"

namespace lumacap::test {

// Answers the model's alerts and save dialogs in code and remembers them.
class RecordingPrompts final : public UserPrompts {
 public:
  void alert(const QString& message) override { alerts.push_back(message); }
  std::optional<std::filesystem::path> exportLocation(const QString& proposedName) override {
    proposedNames.push_back(proposedName);
    return exportAnswer;
  }

  std::vector<QString> alerts;
  std::vector<QString> proposedNames;
  std::optional<std::filesystem::path> exportAnswer;
};

class RecordingFileBrowser final : public FileBrowser {
 public:
  void revealFile(const std::filesystem::path& file, Outcome outcome) override {
    revealed.push_back(file);
    if (outcome) outcome(shows);
  }
  void openFolder(const std::filesystem::path& folder, Outcome outcome) override {
    opened.push_back(folder);
    if (outcome) outcome(shows);
  }

  std::vector<std::filesystem::path> revealed;
  std::vector<std::filesystem::path> opened;
  bool shows = true;  // false: as on a desktop without a file manager
};

class MemoryStartAtLogin final : public StartAtLogin {
 public:
  bool isEnabled() override { return enabled; }
  void setEnabled(bool value) override {
    if (failure) throw std::runtime_error(*failure);
    enabled = value;
  }

  bool enabled = false;
  std::optional<std::string> failure;
};

// The application model on fake services: a 1512 × 982 point display at
// scale 2 (display 7), an empty process table and session folder, a history
// store in a temporary folder (the test main gives each test a settings
// folder of its own). Tests change the fakes before they call `start()`, or
// use the model `start()` made.
struct ModelHarness {
  ModelHarness() {
    screens.content.displays = {ShareableDisplay{7, "main", Rect{0, 0, 1512, 982}, 2}};
    screens.mainDisplay = 7;
    screens.anyScreenNumber = 7;
    QImage desktop(3024, 1964, QImage::Format_RGB32);
    desktop.fill(QColor(40, 90, 160));
    screens.desktops[7] = desktop;
  }

  std::filesystem::path dataRoot() const { return root / "data"; }

  // Waits for the region overlay, then presses Escape on it.
  void cancelRegion() {
    if (!processEventsUntil(
            [&] { return captureManager->overlay() && !captureManager->overlay()->windows().empty(); }))
      throw std::runtime_error("the region overlay did not open");
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(captureManager->overlay()->windows().front()->view(), &escape);
  }

  AppModel& start() {
    settings = std::make_unique<SettingsManager>();
    if (desktopHotKeySetup)
      desktopHotKey = std::make_unique<DesktopHotKey>(std::move(*desktopHotKeySetup), *settings);
    captureManager = std::make_unique<CaptureManager>(screens);
    ocr = std::make_unique<OCRService>(recognizer ? recognizer : fakeRecognizer);
    auto owned = std::make_unique<ClaudeCodeIntegration>(pasteboard, workspace, processes, dataRoot());
    integration = owned.get();
    registry = std::make_unique<AgentSessionRegistry>(std::move(owned));
    router = std::make_unique<AgentRouter>(pasteboard, *integration);
    windows = std::make_unique<WindowPresenter>(*captureManager);
    if (makeCard) cardPresenter = std::make_unique<CardPresenter>(*windows, *captureManager, makeCard);
    AppWindows& presenter = cardPresenter ? static_cast<AppWindows&>(*cardPresenter) : *windows;
    model = std::make_unique<AppModel>(AppModel::Services{
        .openStore =
            [this] {
              if (whileOpeningStore) whileOpeningStore();
              if (storeFails) throw StoreError(StoreError::Kind::invalidIndex);
              return std::make_unique<ScreenshotStore>(dataRoot());
            },
        .registry = *registry,
        .settings = *settings,
        .captureManager = *captureManager,
        .ocr = *ocr,
        .router = *router,
        .pasteboard = pasteboard,
        .workspace = workspace,
        .prompts = prompts,
        .windows = presenter,
        .dismissalDelay = dismissalDelay,
    });
    context = std::make_unique<ViewContext>(ViewContext{
        .registry = *registry,
        .settings = *settings,
        .fileBrowser = fileBrowser,
        .startAtLogin = startAtLogin,
        .configureHooks = [this](bool install) { return configureHooks(install); },
        .hookStatus = [this] { return hookStatus(); },
        .agentStatus = [this](const CodingAgent& agent) { return agentStatus(agent); },
        .configureAgent = [this](const CodingAgent& agent, AgentSetupPart part,
                                 bool install) { return configureAgent(agent, part, install); },
        .desktopLimits = desktopLimits,
        .desktopHotKey = desktopHotKey.get(),
    });
    if (cardPresenter) {
      cardPresenter->attach(*model, *context);
    } else {
      windows->attach(*model, *context);
    }
    awaitTask(model->openStore());
    return *model;
  }

  TempDir root;
  FakeScreenSource screens;
  FakeWorkspace workspace;
  FakePasteboard pasteboard;
  FakeProcessSource processes;
  std::shared_ptr<FakeTextRecognizer> fakeRecognizer = std::make_shared<FakeTextRecognizer>();
  std::shared_ptr<TextRecognizer> recognizer;  // when set, used instead of the fake
  RecordingFileBrowser fileBrowser;
  MemoryStartAtLogin startAtLogin;
  RecordingPrompts prompts;
  DesktopLimits desktopLimits;  // none: everything works
  // How the hot key reaches Lumacap on the desktop played; none: X11's grab, said nowhere.
  std::optional<DesktopHotKey::Setup> desktopHotKeySetup;
  std::function<std::string(bool)> configureHooks = [](bool install) {
    return install ? std::string("installed") : std::string("removed");
  };
  std::function<HookStatus()> hookStatus = [] {
    return HookStatus{"/home/user/.claude/settings.json", false};
  };
  std::function<AgentSetupStatus(const CodingAgent&)> agentStatus = [](const CodingAgent&) {
    return AgentSetupStatus{};
  };
  std::function<std::string(const CodingAgent&, AgentSetupPart, bool)> configureAgent;
  bool storeFails = false;
  std::function<void()> whileOpeningStore;
  std::chrono::milliseconds dismissalDelay = std::chrono::seconds(7);
  // When set, the card is this one (as on Wayland) instead of a Qt window.
  CardPresenter::CardFactory makeCard;

  std::unique_ptr<SettingsManager> settings;
  std::unique_ptr<DesktopHotKey> desktopHotKey;
  std::unique_ptr<CaptureManager> captureManager;
  std::unique_ptr<OCRService> ocr;
  ClaudeCodeIntegration* integration = nullptr;
  std::unique_ptr<AgentSessionRegistry> registry;
  std::unique_ptr<AgentRouter> router;
  std::unique_ptr<WindowPresenter> windows;
  std::unique_ptr<CardPresenter> cardPresenter;
  std::unique_ptr<ViewContext> context;
  std::unique_ptr<AppModel> model;  // last: it goes first
};

}  // namespace lumacap::test
