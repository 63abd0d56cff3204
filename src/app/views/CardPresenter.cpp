#include "app/views/CardPresenter.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/capture/CaptureManager.h"
#include "app/views/WindowPresenter.h"

namespace lumacap {

CardPresenter::CardPresenter(WindowPresenter& windows, CaptureManager& captureManager, CardFactory makeCard)
    : windows_(windows), captureManager_(captureManager), makeCard_(std::move(makeCard)) {}

CardPresenter::~CardPresenter() = default;

void CardPresenter::attach(AppModel& model, ViewContext& context) {
  windows_.attach(model, context);
  card_ = makeCard_(model);
}

void CardPresenter::showQuickCapture(uint32_t displayID) {
  cardDisplay_ = displayID;
  QScreen* screen = captureManager_.screen(displayID);
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (card_) card_->show(screen);
}

void CardPresenter::hideQuickCapture() {
  if (card_) card_->hide();
}

void CardPresenter::showPreview() { windows_.showPreview(); }
void CardPresenter::hidePreview() { windows_.hidePreview(); }
bool CardPresenter::previewShown() const { return windows_.previewShown(); }
void CardPresenter::showHistory() { windows_.showHistory(); }
void CardPresenter::showSettings() { windows_.showSettings(); }
void CardPresenter::showWindowChooser(std::vector<ShareableWindow> windows) {
  windows_.showWindowChooser(std::move(windows));
}
void CardPresenter::hideWindowChooser() { windows_.hideWindowChooser(); }
void CardPresenter::showMarkup(const std::vector<Rect>& redactions) { windows_.showMarkup(redactions); }
void CardPresenter::hideMarkup() { windows_.hideMarkup(); }
void CardPresenter::hideForPasting() { windows_.hideForPasting(); }

// The card goes with the windows and comes back with them when asked.
HiddenForCapture CardPresenter::hideForCapture() {
  const bool cardShown = card_ && card_->shown();
  if (cardShown) card_->hide();
  auto windows = std::make_shared<HiddenForCapture>(windows_.hideForCapture());
  const bool preview = windows->previewWasShown();
  return HiddenForCapture(
      [this, cardShown, windows](Restore options) {
        if (cardShown && options.card) showQuickCapture(cardDisplay_);
        return windows->restore({.card = false, .focus = options.focus});
      },
      preview);
}

}  // namespace lumacap
