#include "app/views/WindowKeys.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

#include "app/model/AppModel.h"
#include "app/views/HistoryView.h"
#include "app/views/PreferencesView.h"
#include "app/views/WindowChooser.h"

namespace lumacap {
namespace {

bool closesWithoutLoss(const QWidget* window) {
  return qobject_cast<const HistoryView*>(window) || qobject_cast<const PreferencesView*>(window) ||
         qobject_cast<const WindowChooser*>(window);
}

}  // namespace

WindowKeys::WindowKeys(AppModel& model, QObject* parent) : QObject(parent), model_(model) {
  qApp->installEventFilter(this);
}

WindowKeys::~WindowKeys() {
  if (qApp) qApp->removeEventFilter(this);
}

QKeySequence WindowKeys::settings() { return QKeySequence(Qt::CTRL | Qt::Key_Comma); }

QKeySequence WindowKeys::quit() { return QKeySequence(Qt::CTRL | Qt::Key_Q); }

bool WindowKeys::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  // A dialog over a window is a window of its own, which keeps its Escape.
  QWidget* window = static_cast<QWidget*>(watched)->window();
  const auto* press = static_cast<QKeyEvent*>(event);
  const QKeySequence pressed(press->keyCombination());
  if (pressed == settings()) {
    model_.showSettings();
    return true;
  }
  if (pressed == quit()) {
    QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection);
    return true;
  }
  const bool closing =
      pressed == QKeySequence(Qt::CTRL | Qt::Key_W) || pressed == QKeySequence(Qt::Key_Escape);
  if (closing && closesWithoutLoss(window)) {
    window->close();
    return true;
  }
  return false;
}

}  // namespace lumacap
