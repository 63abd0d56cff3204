#include "app/views/LayerShellCard.h"

#include <QLayout>
#include <QPainter>
#include <QScreen>

#include "app/model/AppModel.h"
#include "platform/wayland/LayerShellSurface.h"

namespace lumacap {
namespace {

constexpr int cardMargin = 20;  // from the right and bottom of the output, as on X11

}  // namespace

LayerShellCard::LayerShellCard(AppModel& model, std::unique_ptr<LayerShellSurface> surface)
    : model_(model), view_(model, true), surface_(std::move(surface)) {
  view_.setAttribute(Qt::WA_DontShowOnScreen);
  surface_->hovered = [this](bool inside) { model_.setQuickCaptureHovered(inside); };
  surface_->clicked = [this](QPoint at, const QString& activationToken) {
    // A window the click opens (the preview) takes the focus with the click's
    // token: Qt's Wayland windows present the one in this variable.
    if (!activationToken.isEmpty()) qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
    view_.clickAt(at);
    qunsetenv("XDG_ACTIVATION_TOKEN");  // unused when the click opened nothing
  };
  // Whatever the view shows anew (the secrets the search found after the
  // card came up included), the surface draws again.
  connect(&view_, &QuickCaptureView::rendered, this, [this] { surface_->redraw(); });
}

LayerShellCard::~LayerShellCard() = default;

void LayerShellCard::show(QScreen* screen) {
  surface_->show(screen ? screen->name() : QString(), view_.size(), QMargins(0, 0, cardMargin, cardMargin),
                 [this](QImage& canvas) { paint(canvas); });
}

void LayerShellCard::hide() { surface_->hide(); }

bool LayerShellCard::shown() const { return surface_->shown(); }

void LayerShellCard::paint(QImage& canvas) {
  if (QLayout* layout = view_.layout()) layout->activate();
  // Without the window background: the rounded card's corners stay transparent.
  static_cast<QWidget&>(view_).render(&canvas, QPoint(), QRegion(), QWidget::DrawChildren);
}

}  // namespace lumacap
