#pragma once

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/model/AppWindows.h"
#include "app/model/ModelServices.h"
#include "core/CaptureError.h"
#include "platform/ScreenSource.h"
#include "platform/Workspace.h"

namespace lumacap {

class CaptureInHand;
class CaptureSlot;
class ClipboardOffer;
class Feedback;
class QuickCaptureCard;
class SecretsGuard;
struct CapturedImage;

// The road of a capture from the request until it is in hand: our windows
// leave the screen and come back where they were, the image is offered to
// the clipboard (or held for the search for secrets), the card or the
// preview shows it, and recognition suggests its name.
class CaptureWorkflow final : public QObject {
  Q_OBJECT

 public:
  CaptureWorkflow(ModelServices& services, CaptureSlot& slot, ClipboardOffer& clipboard, SecretsGuard& guard,
                  Feedback& feedback, QuickCaptureCard& card, QObject* parent = nullptr);
  ~CaptureWorkflow() override;

  // Each returns at once while another operation runs; otherwise the task
  // ends with the capture (it need not be awaited).
  QCoro::Task<> capture(CaptureMode mode);
  QCoro::Task<> captureWindow(ShareableWindow window);

  // The application of another process that was active last.
  const std::optional<DesktopApplication>& lastExternalApplication() const {
    return lastExternalApplication_;
  }
  // The display the card of a new capture goes to when it names none.
  uint32_t takingDisplayID() const { return takingDisplayID_; }

  // The windows the window chooser lists: not ours, on the normal layer,
  // wider and taller than 60 points; in the order given.
  static std::vector<ShareableWindow> choosableWindows(const std::vector<ShareableWindow>& windows,
                                                       int32_t ownPid);

 signals:
  // A capture taken while the preview was open is in hand: the preview shows it.
  void previewWanted();
  // Recognition of this capture ended (its text and findings are set).
  void recognized(QPointer<CaptureInHand> capture);

 private:
  QCoro::Task<> runCapture(CaptureMode mode);
  void accept(CapturedImage captured);
  void hideForCapture();
  void captureEnded();
  void returnFocus(const std::optional<DesktopApplication>& application);
  QCoro::Task<> suggestName(QPointer<CaptureInHand> capture, std::optional<std::string> application,
                            std::optional<std::string> windowTitle, QString initialName);

  ModelServices& services_;
  CaptureSlot& slot_;
  ClipboardOffer& clipboard_;
  SecretsGuard& guard_;
  Feedback& feedback_;
  QuickCaptureCard& card_;

  // The capture being taken: where the focus goes back to and where its card
  // goes, until it is in hand.
  std::optional<DesktopApplication> takingReturnApplication_;
  uint32_t takingDisplayID_ = 0;
  HiddenForCapture hidden_;
  std::optional<DesktopApplication> lastExternalApplication_;
  QTimer recognizerIdle_;
};

}  // namespace lumacap
