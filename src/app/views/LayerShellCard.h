#pragma once

#include <QObject>
#include <memory>

#include "app/views/CardPresenter.h"
#include "app/views/QuickCaptureView.h"

namespace lumacap {

class AppModel;
class LayerShellSurface;

// The card as a layer-shell surface (KWin, wlroots desktops): the same
// QuickCaptureView as on X11, never shown as a window, painted into the
// surface's buffer; the pointer over the surface keeps the card, and a click
// presses the card's button under it.
class LayerShellCard final : public QObject, public CaptureCard {
 public:
  LayerShellCard(AppModel& model, std::unique_ptr<LayerShellSurface> surface);
  ~LayerShellCard() override;

  void show(QScreen* screen) override;
  void hide() override;
  bool shown() const override;

  QuickCaptureView& view() { return view_; }

 private:
  void paint(QImage& canvas);

  AppModel& model_;
  QuickCaptureView view_;
  std::unique_ptr<LayerShellSurface> surface_;
};

}  // namespace lumacap
