#include "app/views/Symbols.h"

#include <QFrame>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>
#include <QVBoxLayout>
#include <QWidget>
#include <algorithm>
#include <cmath>

namespace lumacap {
namespace {

struct SymbolSource {
  const char* themeName;  // freedesktop icon name
  const char* bundled;    // resource path
};

SymbolSource sourceOf(Symbol symbol) {
  switch (symbol) {
    case Symbol::camera:
      return {"camera-photo-symbolic", ":/symbols/camera.svg"};
    case Symbol::checkmark:
      return {"object-select-symbolic", ":/symbols/checkmark.svg"};
    case Symbol::checkmarkCircle:
      return {"emblem-ok-symbolic", ":/symbols/checkmark-circle.svg"};
    case Symbol::ellipsis:
      return {"view-more-horizontal-symbolic", ":/symbols/ellipsis.svg"};
    case Symbol::paperclip:
      return {"mail-attachment-symbolic", ":/symbols/paperclip.svg"};
    case Symbol::pencil:
      return {"document-edit-symbolic", ":/symbols/pencil.svg"};
    case Symbol::photo:
      return {"image-x-generic-symbolic", ":/symbols/photo.svg"};
    case Symbol::plus:
      return {"list-add-symbolic", ":/symbols/plus.svg"};
    case Symbol::returnKey:
      return {"", ":/symbols/return.svg"};
    case Symbol::saveToDisk:
      return {"document-save-symbolic", ":/symbols/square-and-arrow-down.svg"};
    case Symbol::viewfinder:
      return {"", ":/icons/viewfinder.svg"};
    case Symbol::viewfinderOutline:
      return {"", ":/symbols/viewfinder.svg"};
    case Symbol::window:
      return {"focus-windows-symbolic", ":/symbols/macwindow.svg"};
    case Symbol::xmark:
      return {"window-close-symbolic", ":/symbols/xmark.svg"};
  }
  return {"", ""};
}

// The bundled picture in one colour, sharp at twice the pixel density.
QPixmap tinted(const char* resource, const QColor& color, int size) {
  constexpr qreal density = 2;
  QPixmap pixmap(QSize(size, size) * density);
  pixmap.setDevicePixelRatio(density);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QSvgRenderer(QString::fromLatin1(resource)).render(&painter, QRectF(0, 0, size, size));
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRectF(0, 0, size, size), color);
  return pixmap;
}

}  // namespace

QIcon symbolIcon(Symbol symbol, const QColor& color) {
  const SymbolSource source = sourceOf(symbol);
  if (*source.themeName && QIcon::hasThemeIcon(QString::fromLatin1(source.themeName))) {
    return QIcon::fromTheme(QString::fromLatin1(source.themeName));
  }
  if (symbol == Symbol::viewfinder) return QIcon(QString::fromLatin1(source.bundled));
  QIcon icon;
  for (int size : {16, 24, 32}) icon.addPixmap(tinted(source.bundled, color, size));
  return icon;
}

namespace look {

QColor primary(const QWidget& widget, double opacity) {
  QColor color = widget.palette().color(QPalette::WindowText);
  color.setAlphaF(static_cast<float>(opacity));
  return color;
}

QColor secondary(const QWidget& widget) {
  QColor color = widget.palette().color(QPalette::WindowText);
  color.setAlphaF(0.6f);
  return color;
}

QColor warning() { return QColor(0xe6, 0x7e, 0x22); }

double contrast(const QColor& a, const QColor& b) {
  const auto luminance = [](const QColor& color) {
    const auto linear = [](double channel) {
      return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) + 0.0722 * linear(color.blueF());
  };
  const double first = luminance(a), second = luminance(b);
  return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor warning(std::initializer_list<QColor> backgrounds) {
  constexpr double enough = 4.5;
  const QColor orange = warning();
  const auto worst = [&](const QColor& color) {
    double least = 21;
    for (const QColor& background : backgrounds) least = std::min(least, contrast(color, background));
    return least;
  };
  // Towards black on a light background, towards white on a dark one.
  const QColor light = backgrounds.size() ? *backgrounds.begin() : QColor(Qt::white);
  const QColor towards = contrast(light, Qt::black) >= contrast(light, Qt::white) ? Qt::black : Qt::white;
  QColor color = orange;
  for (int step = 1; step <= 50 && worst(color) < enough; ++step) {
    const double share = step / 50.0;
    color = QColor::fromRgbF(static_cast<float>(orange.redF() * (1 - share) + towards.redF() * share),
                             static_cast<float>(orange.greenF() * (1 - share) + towards.greenF() * share),
                             static_cast<float>(orange.blueF() * (1 - share) + towards.blueF() * share));
  }
  return color;
}

QFont font(const QWidget& widget, int pixels, QFont::Weight weight) {
  QFont font = widget.font();
  font.setPixelSize(pixels);
  font.setWeight(weight);
  return font;
}

void setTextColor(QWidget& widget, const QColor& color) {
  QPalette palette = widget.palette();
  palette.setColor(QPalette::WindowText, color);
  palette.setColor(QPalette::ButtonText, color);
  widget.setPalette(palette);
}

QWidget* divider(QWidget* parent) {
  auto* rule = new QFrame(parent);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Plain);
  rule->setFixedHeight(1);
  setTextColor(*rule, primary(*parent, 0.12));
  return rule;
}

QWidget* contentUnavailable(QWidget* parent, Symbol symbol, const QString& title,
                            const QString& description) {
  auto* placeholder = new QWidget(parent);
  auto* picture = new QLabel(placeholder);
  picture->setPixmap(symbolIcon(symbol, secondary(*parent)).pixmap(QSize(44, 44)));
  picture->setAlignment(Qt::AlignCenter);
  auto* heading = new QLabel(title, placeholder);
  heading->setFont(font(*parent, 17, QFont::DemiBold));
  heading->setAlignment(Qt::AlignCenter);
  auto* layout = new QVBoxLayout(placeholder);
  layout->setContentsMargins(22, 22, 22, 22);
  layout->setSpacing(0);
  layout->addStretch();
  layout->addWidget(picture);
  layout->addSpacing(14);
  layout->addWidget(heading);
  if (!description.isEmpty()) {
    auto* text = new QLabel(description, placeholder);
    text->setFont(font(*parent, 13));
    text->setAlignment(Qt::AlignCenter);
    setTextColor(*text, secondary(*parent));
    layout->addSpacing(6);
    layout->addWidget(text);
  }
  layout->addStretch();
  return placeholder;
}

QRectF letterboxed(const QSizeF& image, const QRectF& area) {
  constexpr double thinnestBand = 8;
  QSizeF fitted = image.scaled(area.size(), Qt::KeepAspectRatio);
  fitted =
      fitted.expandedTo(QSizeF(std::min(thinnestBand, area.width()), std::min(thinnestBand, area.height())));
  return QRectF(area.center() - QPointF(fitted.width(), fitted.height()) / 2, fitted);
}

}  // namespace look
}  // namespace lumacap
