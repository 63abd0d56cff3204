#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <atomic>
#include <optional>

#include "platform/wayland/CompositorWindowList.h"

namespace lumacap {

// KWin's windows through short KWin scripts: each request writes a script,
// loads it over D-Bus (org.kde.kwin.Scripting loadScript, start), and the
// script answers by calling back an object this process exports for that one
// request. Only KWin's own connection may answer, and only with the random
// token its script carries, while the request waits. Works with the script API of Plasma 5.27 (clientList,
// activeClient) and of Plasma 6 (windowList, activeWindow).
//
// A single window is captured through ScreenShot2's CaptureWindow with the
// window's internalId: KWin renders that window alone, so windows in front
// of it do not matter and it need not be raised.
class KWinWindowScripts final : public CompositorWindowList {
 public:
  // Asks the KWin on this bus (the session bus unless a test gives another).
  explicit KWinWindowScripts(QDBusConnection bus = QDBusConnection::sessionBus()) : bus_(std::move(bus)) {}

  std::vector<CompositorWindow> windows() override;
  bool activate(const CompositorWindow& window) override;
  std::optional<QImage> windowImage(const CompositorWindow& window) override;
  std::optional<std::string> activeOutputName() override;

  // The scripts' text; ANSWER stands for the function that reports back.
  static QString listingScript();
  static QString activationScript(const QString& handle);

 private:
  // Runs the script and answers what it reported (JSON text).
  QString run(const QString& script);

  QDBusConnection bus_;
  std::atomic<bool> captureRefused_ = false;
};

namespace detail {
// Receives one script's report, in the thread that waits for it: from the
// connection that owns KWin's name (as it answered the script's loading),
// carrying the request's token, once. Any other call is refused unread.
class KWinScriptAnswer final : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.lumacap.KWinScript")
 public:
  explicit KWinScriptAnswer(QString token) : token(std::move(token)) {}
  const QString token;
  // KWin's unique bus name; nobody's until KWin loaded the script.
  QString kwin;
  std::optional<QString> text;
 public slots:
  void report(const QString& token, const QString& text);
 signals:
  void reported();
};
}  // namespace detail

}  // namespace lumacap
