#include "app/views/ScreenshotPermissionWindow.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QWindow>

#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr const char* explanation =
    "<p><b>GNOME asks once whether Lumacap may take screenshots.</b></p>"
    "<p>Choose Allow in GNOME’s dialog, and your capture goes on.</p>";

std::unique_ptr<QWidget> makeWindow() {
  auto window = std::make_unique<QWidget>();
  window->setWindowTitle(QString::fromUtf8(ScreenshotPermissionWindow::title));

  auto* icon = new QLabel;
  const QIcon fallback = symbolIcon(Symbol::viewfinder, window->palette().color(QPalette::WindowText));
  icon->setPixmap(QIcon::fromTheme(QStringLiteral("org.lumacap.Lumacap"), fallback).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);

  auto* text = new QLabel(QString::fromUtf8(explanation));
  text->setTextFormat(Qt::RichText);
  text->setWordWrap(true);
  text->setFixedWidth(340);

  auto* layout = new QHBoxLayout(window.get());
  layout->setContentsMargins(20, 20, 20, 20);
  layout->setSpacing(16);
  layout->addWidget(icon);
  layout->addWidget(text);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  return window;
}

}  // namespace

ScreenshotPermissionWindow::ScreenshotPermissionWindow() = default;

ScreenshotPermissionWindow::~ScreenshotPermissionWindow() = default;

QWindow* ScreenshotPermissionWindow::show() {
  if (!widget_) widget_ = makeWindow();
  widget_->show();
  widget_->raise();
  widget_->activateWindow();
  return widget_->windowHandle();
}

void ScreenshotPermissionWindow::close() {
  if (widget_) widget_->hide();
}

}  // namespace lumacap
