#include "app/model/CaptureWorkflow.h"

#include <QCoreApplication>
#include <QCoroSignal>
#include <QFutureWatcher>
#include <algorithm>

#include "app/capture/CaptureManager.h"
#include "app/model/CaptureSlot.h"
#include "app/model/ClipboardOffer.h"
#include "app/model/Feedback.h"
#include "app/model/OCRService.h"
#include "app/model/QuickCaptureCard.h"
#include "app/model/SecretsGuard.h"
#include "app/model/SettingsManager.h"
#include "app/model/StatusText.h"
#include "core/FilenameGenerator.h"
#include "platform/ImageCoding.h"

namespace lumacap {
namespace {

constexpr double minimumChoosableSize = 60;
constexpr auto recognizerIdleDelay = std::chrono::seconds(5);
// How long a capture waits for the desktop's fresh window list (to know which application to return
// to) before it goes on with the list it has.
constexpr auto workspacePatience = std::chrono::milliseconds(1000);

int32_t ownPid() { return static_cast<int32_t>(QCoreApplication::applicationPid()); }

}  // namespace

CaptureWorkflow::CaptureWorkflow(ModelServices& services, CaptureSlot& slot, ClipboardOffer& clipboard,
                                 SecretsGuard& guard, Feedback& feedback, QuickCaptureCard& card,
                                 QObject* parent)
    : QObject(parent),
      services_(services),
      slot_(slot),
      clipboard_(clipboard),
      guard_(guard),
      feedback_(feedback),
      card_(card),
      takingDisplayID_(services.captureManager.mainDisplayID()) {
  lastExternalApplication_ = services_.workspace.frontmostApplication();
  if (lastExternalApplication_ && lastExternalApplication_->pid == ownPid()) lastExternalApplication_.reset();
  services_.workspace.observeActivations(
      [self = QPointer(this), pid = ownPid()](const DesktopApplication& activated) {
        if (self && activated.pid != pid) self->lastExternalApplication_ = activated;
      });
  // The text recognizer holds tens of megabytes; between bursts of captures
  // it gives them back, unless each capture is searched for secrets: then
  // its engines are loaded from the start and kept, as loading them would
  // take longer than the search itself.
  recognizerIdle_.setSingleShot(true);
  recognizerIdle_.setInterval(recognizerIdleDelay);
  connect(&recognizerIdle_, &QTimer::timeout, this, [this] {
    if (!services_.settings.lookForSecrets()) services_.ocr.releaseResources();
  });
  if (services_.settings.lookForSecrets()) services_.ocr.warmUp();
}

CaptureWorkflow::~CaptureWorkflow() { services_.workspace.observeActivations({}); }

// Our windows leave the screen for the capture and come back where they
// were once it is over.
QCoro::Task<> CaptureWorkflow::capture(CaptureMode mode) {
  if (feedback_.busy()) co_return;
  const Feedback::BusyScope busy(feedback_);
  const QPointer<CaptureWorkflow> self(this);
  feedback_.setError(std::nullopt);

  {
    QFutureWatcher<void> listed;
    listed.setFuture(services_.workspace.refreshed());
    if (!listed.isFinished()) co_await qCoro(&listed, &QFutureWatcher<void>::finished, workspacePatience);
  }
  if (!self) co_return;
  std::optional<DesktopApplication> returnApplication = services_.workspace.frontmostApplication();
  if (returnApplication && returnApplication->pid == ownPid()) returnApplication = lastExternalApplication_;
  takingReturnApplication_ = std::move(returnApplication);
  const uint32_t display = co_await services_.captureManager.pointerDisplay();
  if (!self) co_return;
  takingDisplayID_ = display;

  // The window chooser takes its picture later, once a window is chosen.
  if (mode != CaptureMode::window) {
    card_.stopDismissal();
    hideForCapture();
  }
  co_await runCapture(mode);
}

QCoro::Task<> CaptureWorkflow::runCapture(CaptureMode mode) {
  const QPointer<CaptureWorkflow> self(this);
  CaptureManager& manager = services_.captureManager;
  const std::optional<std::string> application =
      takingReturnApplication_ ? takingReturnApplication_->localizedName : std::nullopt;
  const auto lastRegion = manager.lastRegion(takingDisplayID_);
  if (mode == CaptureMode::lastRegion && !lastRegion) mode = CaptureMode::region;  // none yet: select one
  try {
    ShareableContent content = co_await manager.content();
    if (!self) co_return;
    if (mode == CaptureMode::lastRegion) {
      CapturedImage captured =
          co_await manager.display(std::move(content), lastRegion->first, lastRegion->second, application);
      if (!self) co_return;
      accept(std::move(captured));
    } else if (mode == CaptureMode::region) {
      std::optional<CapturedImage> captured = co_await manager.region(std::move(content), application);
      if (!self) co_return;
      if (captured) {
        accept(std::move(*captured));
      } else {
        captureEnded();
      }
    } else if (mode == CaptureMode::display) {
      CapturedImage captured =
          co_await manager.display(std::move(content), takingDisplayID_, std::nullopt, application);
      if (!self) co_return;
      accept(std::move(captured));
    } else if (manager.desktopChoosesWindow()) {
      hideForCapture();
      std::optional<CapturedImage> captured = co_await manager.windowChosenByDesktop();
      if (!self) co_return;
      if (captured) {
        accept(std::move(*captured));
      } else {
        captureEnded();
      }
    } else {
      services_.windows.showWindowChooser(choosableWindows(content.windows, ownPid()));
    }
  } catch (const std::exception& failure) {
    if (self) {
      captureEnded();
      feedback_.presentError(failure);
    }
  }
}

// Our windows leave the screen for the capture; a second capture before the
// first one's windows came back keeps the first answer, those windows are
// still away.
void CaptureWorkflow::hideForCapture() {
  if (!hidden_) hidden_ = services_.windows.hideForCapture();
}

// A capture that gave no image: everything is as it was before it.
void CaptureWorkflow::captureEnded() {
  HiddenForCapture hidden = std::move(hidden_);
  if (!hidden.restore({.card = true, .focus = true})) returnFocus(takingReturnApplication_);
}

// The workspace leaves an application that has ended alone, on its worker.
void CaptureWorkflow::returnFocus(const std::optional<DesktopApplication>& application) {
  if (application) services_.workspace.activate(*application);
}

QCoro::Task<> CaptureWorkflow::captureWindow(ShareableWindow window) {
  if (feedback_.busy()) co_return;
  services_.windows.hideWindowChooser();
  const Feedback::BusyScope busy(feedback_);
  card_.stopDismissal();
  hideForCapture();
  const QPointer<CaptureWorkflow> self(this);
  try {
    CapturedImage captured = co_await services_.captureManager.window(std::move(window));
    if (self) accept(std::move(captured));
  } catch (const std::exception& failure) {
    if (self) {
      captureEnded();
      feedback_.presentError(failure);
    }
  }
}

std::vector<ShareableWindow> CaptureWorkflow::choosableWindows(const std::vector<ShareableWindow>& windows,
                                                               int32_t ownPid) {
  std::vector<ShareableWindow> kept;
  std::copy_if(windows.begin(), windows.end(), std::back_inserter(kept),
               [ownPid](const ShareableWindow& window) {
                 const bool ours = window.owningApplication && window.owningApplication->pid == ownPid;
                 return !ours && window.layer == 0 && window.frame.width > minimumChoosableSize &&
                        window.frame.height > minimumChoosableSize;
               });
  return kept;
}

void CaptureWorkflow::accept(CapturedImage captured) {
  if (captured.image.isNull()) {
    captureEnded();
    feedback_.presentError(QString::fromUtf8(StatusText::fileWriteError));
    return;
  }
  // A preview that was open takes the new capture, with the message being
  // written and the destination chosen; otherwise the card shows it and
  // focus goes back to the user's application.
  HiddenForCapture hidden = std::move(hidden_);
  const bool intoPreview = hidden.previewWasShown();
  auto* next = new CaptureInHand();
  next->date = services_.clock();
  next->application = captured.application;
  next->returnApplication = takingReturnApplication_;
  // The card goes where the capture is: a region may be dragged on another display than the pointer's.
  next->displayID = captured.displayID.value_or(takingDisplayID_);
  if (intoPreview) {
    next->prompt = slot_->prompt;
    next->destinationChosen = slot_->destinationChosen;
  }
  next->filename = QString::fromStdString(
      FilenameGenerator().filename({}, captured.nameFallback, captured.windowTitle, next->date));
  // The PNG bytes are made on a worker while the image is already on offer.
  next->image = captured.image;
  next->png = encodePNGInBackground(captured.image);
  slot_.put(next);
  feedback_.setNote({});
  feedback_.setError(std::nullopt);
  slot_.watchEncoding(next);
  if (guard_.holdsNewCapture()) {
    clipboard_.hold();
  } else {
    clipboard_.offer(QString::fromUtf8(StatusText::copied), QString::fromUtf8(StatusText::notCopied));
  }

  feedback_.setNaming(true);
  clipboard_.updatePasteHint();
  if (next->clipboardHeld) feedback_.setPasteHint(QString::fromUtf8(StatusText::lookingForSecrets));
  // The recognizer gives its engine back once a burst of captures is over
  // (after the recognitions asked for by then). Recognition starts before
  // the windows are shown, on its workers meanwhile.
  recognizerIdle_.start();
  suggestName(next, std::move(captured.nameFallback), std::move(captured.windowTitle), next->filename);

  const bool focusedOurs = hidden.restore({.card = false, .focus = intoPreview});
  if (intoPreview) {
    emit previewWanted();
  } else {
    if (!focusedOurs) returnFocus(next->returnApplication);
    card_.show();
  }
}

// With a recognizer that tells them apart, the search for secrets ends with
// the parts of lines that can hold one (the notice shows, a held clipboard
// gets its redacted image), and the rest is read afterwards for the name
// and the text. What only the whole reading finds is added to the notice:
// the clipboard, released by then, keeps what the first search redacted.
QCoro::Task<> CaptureWorkflow::suggestName(QPointer<CaptureInHand> capture,
                                           std::optional<std::string> application,
                                           std::optional<std::string> windowTitle, QString initialName) {
  // The image as taken: redacting it below puts another in hand.
  const QImage image = capture->image;
  const Date date = capture->date;
  const bool lookForSecrets = services_.settings.lookForSecrets();
  const bool candidatesFirst = lookForSecrets && services_.ocr.readsSecretCandidatesApart();
  std::vector<SecretFinding> first;
  if (candidatesFirst) {
    Recognition candidates = co_await services_.ocr.secretCandidates(image);
    if (!capture) co_return;
    first = candidates.secrets;
    capture->setSecretsFound(std::move(candidates.secrets), std::move(candidates.lines));
    guard_.searchEnded();
    if (!capture) co_return;
  }
  Recognition recognition = co_await services_.ocr.recognize(image, std::move(application),
                                                             std::move(windowTitle), date, lookForSecrets);
  // A newer capture, an opened record or a discard took the place of this
  // capture: its name is not ours to touch, and neither is `naming`.
  if (!capture) co_return;
  if (capture->filename == initialName && !capture->savedID)
    slot_.setFilename(QString::fromStdString(recognition.name));
  capture->setRecognition(OCRService::joined(std::move(first), recognition.secrets),
                          std::move(recognition.lines));
  emit recognized(capture);
  if (!capture) co_return;
  if (!candidatesFirst) guard_.searchEnded();
  feedback_.setNaming(false);
}

}  // namespace lumacap
