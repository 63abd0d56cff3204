#include "platform/wayland/KWinWindowScripts.h"

#include <gtest/gtest.h>

#include <QDBusMessage>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <future>

#include "core/CaptureError.h"
#include "support/SessionBus.h"
#include "support/Subprocess.h"

namespace lumacap {
namespace {

// KWin's window list: one window with this id.
QString windowList(const char* id) {
  return QStringLiteral(R"([{"id": "%1", "pid": 7, "resourceClass": "konsole", "caption": "agent", "x": 0,
    "y": 0, "width": 800, "height": 600, "active": true, "minimized": false}])")
      .arg(QLatin1String(id));
}

// KWin's scripting interface on a connection of its own that owns KWin's
// name, served from a thread of its own (Lumacap's side waits on the test's).
// Running a script means making the call the script's answer makes, read
// from the script's file. Before KWin answers, another program of the user's
// (which can read that file too) makes the same call with a window list of
// its own; then KWin answers once with a token of its own, and once as the
// script says.
class FakeKWin final : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.kde.kwin.Scripting")

 public:
  explicit FakeKWin(std::string address)
      : address_(std::move(address)),
        bus_(QDBusConnection::connectToBus(QString::fromStdString(address_), QStringLiteral("fake-kwin"))) {
    moveToThread(&thread_);
    thread_.start();
    bus_.registerObject(QStringLiteral("/Scripting"), this, QDBusConnection::ExportAllSlots);
    bus_.registerService(QStringLiteral("org.kde.KWin"));
  }
  ~FakeKWin() override {
    thread_.quit();
    thread_.wait();
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-kwin"));
  }

  std::atomic<bool> refusesScripts = false;
  std::atomic<int> intruderStatus = -1;  // dbus-send's exit status
  std::atomic<bool> otherTokenTaken = false;

 public slots:
  int loadScript(const QString& path, const QString&) {
    QFile file(path);
    script_ = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    return refusesScripts ? -1 : 0;
  }
  void start() {
    QTimer::singleShot(0, this, [this] { answer(); });
  }
  bool unloadScript(const QString&) { return true; }

 private:
  void answer() {
    // callDBus("service", "/path", "interface", "method", ...the script's own strings, text)
    QStringList literals;
    for (const QRegularExpressionMatch& literal :
         QRegularExpression(QStringLiteral("\"([^\"]*)\""))
             .globalMatch(script_.section("callDBus(", 1).section(')', 0, 0)))
      literals << literal.captured(1);
    const QStringList extra = literals.mid(4);
    std::vector<std::string> intruder = {"dbus-send",
                                         "--bus=" + address_,
                                         "--print-reply",
                                         "--dest=" + literals.value(0).toStdString(),
                                         literals.value(1).toStdString(),
                                         (literals.value(2) + '.' + literals.value(3)).toStdString()};
    for (const QString& each : extra) intruder.push_back("string:" + each.toStdString());
    intruder.push_back("string:" + windowList("{injected}").toStdString());
    intruderStatus = test::runProcess(intruder).exitStatus;

    const auto call = [&](QStringList arguments, const QString& list) {
      QDBusMessage message = QDBusMessage::createMethodCall(literals.value(0), literals.value(1),
                                                            literals.value(2), literals.value(3));
      arguments << list;
      message.setArguments(QVariantList(arguments.begin(), arguments.end()));
      return bus_.call(message, QDBus::Block, 5000).type() == QDBusMessage::ReplyMessage;
    };
    otherTokenTaken = call({QStringLiteral("0123456789abcdef")}, windowList("{injected}"));
    call(extra, windowList("{real}"));
  }

  std::string address_;
  QDBusConnection bus_;
  QThread thread_;
  QString script_;
};

TEST(KWinWindowScripts, OnlyKWinsAnswerWithTheRequestsTokenIsBelieved) {
  test::SessionBus bus;
  FakeKWin kwin(bus.address());
  // Scripts run on a worker, as the workspace runs them. A script KWin
  // does not load is a failure of its own kind.
  std::optional<CaptureError::Kind> refusal;
  const std::vector<CompositorWindow> windows =
      std::async(std::launch::async, [&] {
        KWinWindowScripts scripts(
            QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("lumacap")));
        std::vector<CompositorWindow> listed = scripts.windows();
        kwin.refusesScripts = true;
        try {
          scripts.windows();
        } catch (const CaptureError& failure) {
          refusal = failure.kind();
        }
        return listed;
      }).get();
  EXPECT_EQ(refusal, CaptureError::Kind::kwinScriptRefused);
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_EQ(windows[0].handle, "{real}");
  QDBusConnection::disconnectFromBus(QStringLiteral("lumacap"));
  EXPECT_EQ(kwin.intruderStatus, 1) << "the other program's call was not refused";
  EXPECT_FALSE(kwin.otherTokenTaken);
}

}  // namespace
}  // namespace lumacap

#include "KWinWindowScriptsTest.moc"
