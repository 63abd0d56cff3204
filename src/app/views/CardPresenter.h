#pragma once

#include <functional>
#include <memory>

#include "app/model/AppWindows.h"

class QScreen;

namespace lumacap {

class AppModel;
struct ViewContext;
class CaptureManager;
class WindowPresenter;

// The card of the capture in hand where the desktop shows it outside Qt's
// windows (a layer-shell surface, a desktop notification).
class CaptureCard {
 public:
  virtual ~CaptureCard() = default;
  // In the corner of `screen` (may be null: the desktop's choice).
  virtual void show(QScreen* screen) = 0;
  virtual void hide() = 0;
  virtual bool shown() const = 0;
};

// The windows of a Wayland desktop: the preview, Recent Captures, Settings and
// the chooser are Qt windows (the window presenter's), the card is the
// desktop's own kind of surface.
class CardPresenter final : public AppWindows {
 public:
  using CardFactory = std::function<std::unique_ptr<CaptureCard>(AppModel&)>;

  CardPresenter(WindowPresenter& windows, CaptureManager& captureManager, CardFactory makeCard);
  ~CardPresenter() override;

  // The model the views observe; set once, before the first window is asked for.
  void attach(AppModel& model, ViewContext& context);
  CaptureCard* card() const { return card_.get(); }

  void showQuickCapture(uint32_t displayID) override;
  void hideQuickCapture() override;
  void showPreview() override;
  void hidePreview() override;
  bool previewShown() const override;
  void showHistory() override;
  void showSettings() override;
  void showWindowChooser(std::vector<ShareableWindow> windows) override;
  void hideWindowChooser() override;
  void showMarkup(const std::vector<Rect>& redactions) override;
  void hideMarkup() override;
  void hideForPasting() override;
  HiddenForCapture hideForCapture() override;

 private:
  WindowPresenter& windows_;
  CaptureManager& captureManager_;
  CardFactory makeCard_;
  std::unique_ptr<CaptureCard> card_;
  uint32_t cardDisplay_ = 0;
};

}  // namespace lumacap
