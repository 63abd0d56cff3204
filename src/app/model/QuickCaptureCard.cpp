#include "app/model/QuickCaptureCard.h"

#include "app/model/AppWindows.h"
#include "app/model/CaptureSlot.h"

namespace lumacap {

QuickCaptureCard::QuickCaptureCard(AppWindows& windows, CaptureSlot& slot,
                                   std::chrono::milliseconds dismissalDelay, QObject* parent)
    : QObject(parent), windows_(windows), slot_(slot), dismissalDelay_(dismissalDelay) {
  dismissTimer_.setSingleShot(true);
  connect(&dismissTimer_, &QTimer::timeout, this, [this] { windows_.hideQuickCapture(); });
}

void QuickCaptureCard::show() {
  windows_.showQuickCapture(slot_->displayID);
  setHovered(false);
}

void QuickCaptureCard::hide() {
  dismissTimer_.stop();
  windows_.hideQuickCapture();
}

void QuickCaptureCard::setHovered(bool hovered) {
  dismissTimer_.stop();
  if (!hovered) dismissTimer_.start(dismissalDelay_);
}

}  // namespace lumacap
