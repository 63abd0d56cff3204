#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wayland-client-protocol.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QThread>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <cstring>
#include <fstream>
#include <future>
#include <set>
#include <variant>
#include <vector>

#include "app/hotkey/HotKeyManager.h"
#include "core/AtomicFile.h"
#include "core/CaptureError.h"
#include "platform/CaptureFileReader.h"
#include "platform/linux/DBusCall.h"
#include "platform/wayland/KWinScreenShotSource.h"
#include "platform/wayland/PortalApplicationId.h"
#include "platform/wayland/PortalHotKeyService.h"
#include "platform/wayland/PortalScreenshotSource.h"
#include "platform/wayland/ScreencopyImage.h"
#include "platform/wayland/WaylandScreenSource.h"
#include "support/AwaitTask.h"
#include "support/SessionBus.h"
#include "support/StoppedPeer.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Two 1280×800 outputs side by side; the right one at scale 2 when asked.
std::vector<WaylandOutput> layout(double rightScale = 1) {
  return {WaylandOutput{"DP-1", QRect(0, 0, 1280, 800), 1},
          WaylandOutput{"DP-2", QRect(1280, 0, 1280, 800), rightScale}};
}

// 3×2 pixels as little-endian 32-bit words, each row padded by 4 bytes.
std::vector<uchar> words(std::initializer_list<uint32_t> pixels, int width) {
  std::vector<uchar> bytes;
  int column = 0;
  for (const uint32_t pixel : pixels) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(uchar(pixel >> shift));
    if (++column == width) {
      bytes.insert(bytes.end(), 4, 0xEE);
      column = 0;
    }
  }
  return bytes;
}

TEST(ScreencopyImage, EachChannelOrderGivesTheSameOpaqueColours) {
  // Alpha 0 in the formats with alpha: the screen is still opaque.
  const auto xrgb = words({0x00FF0000, 0x0000FF00, 0x000000FF, 0x00102030, 0x00FFFFFF, 0x00000000}, 3);
  const auto abgr = words({0x000000FF, 0x0000FF00, 0x00FF0000, 0x00302010, 0x00FFFFFF, 0x00000000}, 3);
  const std::vector<QRgb> expected{qRgb(255, 0, 0),        qRgb(0, 255, 0),     qRgb(0, 0, 255),
                                   qRgb(0x10, 0x20, 0x30), qRgb(255, 255, 255), qRgb(0, 0, 0)};
  for (const auto& [format, bytes] : {std::pair{WL_SHM_FORMAT_XRGB8888, xrgb},
                                      {WL_SHM_FORMAT_ARGB8888, xrgb},
                                      {WL_SHM_FORMAT_XBGR8888, abgr},
                                      {WL_SHM_FORMAT_ABGR8888, abgr}}) {
    const QImage image = screencopyImage(ScreencopyBuffer{uint32_t(format), 3, 2, 16, false}, bytes.data());
    ASSERT_EQ(image.size(), QSize(3, 2)) << format;
    std::vector<QRgb> seen;
    for (int y = 0; y < 2; ++y) {
      for (int x = 0; x < 3; ++x) seen.push_back(image.pixel(x, y));
    }
    EXPECT_EQ(seen, expected) << format;
  }
}

TEST(ScreencopyImage, InvertedFramesAreTurnedTheRightWayUp) {
  const auto bytes = words({0x00FF0000, 0x00FF0000, 0x00FF0000, 0x000000FF, 0x000000FF, 0x000000FF}, 3);
  const QImage upright =
      screencopyImage(ScreencopyBuffer{WL_SHM_FORMAT_XRGB8888, 3, 2, 16, true}, bytes.data());
  EXPECT_EQ(upright.pixel(0, 0), qRgb(0, 0, 255));
  EXPECT_EQ(upright.pixel(2, 1), qRgb(255, 0, 0));
}

TEST(ScreencopyImage, TenBitAndSixteenBitFormatsAreRead) {
  const uint32_t white10 = 0x3FFFFFFF;  // x:2 r:10 g:10 b:10
  const uint32_t red10 = 0x3FF00000;
  const QImage deep = screencopyImage(ScreencopyBuffer{WL_SHM_FORMAT_XRGB2101010, 2, 1, 8, false},
                                      words({white10, red10}, 2).data());
  EXPECT_EQ(deep.pixel(0, 0), qRgb(255, 255, 255));
  EXPECT_EQ(deep.pixel(1, 0), qRgb(255, 0, 0));
  const uint16_t green565[] = {0x07E0};
  const QImage shallow = screencopyImage(ScreencopyBuffer{WL_SHM_FORMAT_RGB565, 1, 1, 2, false},
                                         reinterpret_cast<const uchar*>(green565));
  EXPECT_EQ(shallow.pixel(0, 0), qRgb(0, 255, 0));
}

TEST(ScreencopyImage, UnknownFormatsAreRefusedWithTheirNumber) {
  EXPECT_FALSE(isReadableScreencopyFormat(WL_SHM_FORMAT_NV12));
  try {
    screencopyImage(ScreencopyBuffer{WL_SHM_FORMAT_NV12, 2, 2, 2, false}, nullptr);
    FAIL() << "NV12 was accepted";
  } catch (const std::runtime_error& failure) {
    EXPECT_NE(std::string(failure.what()).find(std::to_string(WL_SHM_FORMAT_NV12)), std::string::npos);
  }
}

TEST(WaylandOutputs, NumbersStayWithTheOutputName) {
  OutputNumbers numbers;
  const uint32_t left = numbers.numberOf("DP-1");
  const uint32_t right = numbers.numberOf("DP-2");
  EXPECT_NE(left, right);
  EXPECT_NE(left, 0u);
  EXPECT_EQ(numbers.numberOf("DP-1"), left);
}

TEST(WaylandOutputs, PortalPartComesAtTheOutputDensity) {
  QImage desktop(2560, 800, QImage::Format_RGB32);
  desktop.fill(Qt::red);
  desktop.setPixel(1280 + 100, 50, qRgb(0, 0, 255));
  const QImage part = outputPartOf(desktop, layout(2), layout(2)[1], PixelRect{200, 100, 400, 200});
  EXPECT_EQ(part.size(), QSize(400, 200));
  EXPECT_EQ(part.pixel(0, 0), qRgb(0, 0, 255));
  EXPECT_THROW(outputPartOf(QImage(), layout(), layout()[0], PixelRect{0, 0, 10, 10}), std::exception);
}

TEST(WaylandOutputs, CroppingPastTheOutputIsAnError) {
  QImage whole(100, 50, QImage::Format_RGB32);
  whole.fill(Qt::green);
  EXPECT_EQ(croppedOutputImage(whole, PixelRect{90, 40, 10, 10}).size(), QSize(10, 10));
  EXPECT_THROW(croppedOutputImage(whole, PixelRect{95, 40, 10, 10}), std::exception);
}

TEST(PortalScreenshot, ResponseGivesTheFileOrTheKindOfFailure) {
  using std::chrono::milliseconds;
  const PortalScreenshotAnswer taken =
      screenshotAnswer(0, QVariantMap{{"uri", "file:///tmp/out%20put.png"}}, milliseconds(40));
  EXPECT_EQ(taken.uri, "file:///tmp/out%20put.png");
  EXPECT_FALSE(taken.failure);
  // GNOME Shell's instant "other" while another screenshot runs is busy (asked again, then told as
  // such); a person's refusal in the dialog, or a cancel, is final and told differently.
  EXPECT_EQ(screenshotAnswer(2, {}, milliseconds(40)).failure, CaptureErrorKind::portalBusy);
  EXPECT_EQ(screenshotAnswer(2, {}, milliseconds(3000)).failure, CaptureErrorKind::portalRefused);
  EXPECT_EQ(screenshotAnswer(1, {}, milliseconds(40)).failure, CaptureErrorKind::portalCancelled);
}

// The file a screenshot portal's answer names, as a portal (or whoever answers in its place) may
// name it: read only when it is a PNG file of the user, deleted only when it is the screenshot of
// this request in the portal's folder.
class PortalScreenshotFileTest : public ::testing::Test {
 protected:
  using Outcome = std::variant<int, CaptureErrorKind>;  // the image's width, or why there is none
  Outcome take(const std::string& uri, timespec requested = {}) {
    try {
      return CaptureFileReader::takePortalScreenshot(
                 {QString::fromStdString(uri), requested, {portal.path()}})
          .width();
    } catch (const CaptureError& error) {
      return error.kind();
    }
  }
  static std::string uriOf(const fs::path& file) {
    return QUrl::fromLocalFile(QString::fromStdString(file.string()))
        .toString(QUrl::FullyEncoded)
        .toStdString();
  }
  static fs::path png(const fs::path& file, int width = 5) {
    QImage image(width, 3, QImage::Format_RGB32);
    image.fill(Qt::red);
    image.save(QString::fromStdString(file.string()), "PNG");
    return file;
  }
  test::TempDir portal, elsewhere;
};

TEST_F(PortalScreenshotFileTest, TheScreenshotOfTheRequestIsReadThenDeletedAndNothingElseIs) {
  const fs::path shot = png(portal / "out put.png", 7);
  EXPECT_EQ(take("file://" + (portal / "out%20put.png").string()), Outcome(7));
  EXPECT_FALSE(fs::exists(shot));
  // A PNG from before the request, or outside the portal's folders, is read but kept.
  const fs::path old = png(portal / "old.png");
  struct stat info {};
  ::stat(old.c_str(), &info);
  EXPECT_EQ(take(uriOf(old), {info.st_mtim.tv_sec + 1, 0}), Outcome(5));
  const fs::path outside = png(elsewhere / "Screenshot.png");
  EXPECT_EQ(take(uriOf(outside)), Outcome(5));
  EXPECT_TRUE(fs::exists(old) && fs::exists(outside));
}

TEST_F(PortalScreenshotFileTest, AnythingButAPngOfTheUsersIsRefusedAndLeftAlone) {
  std::ofstream(portal / "report.png") << "a document of the user's";
  EXPECT_EQ(take(uriOf(portal / "report.png")), Outcome(CaptureErrorKind::portalFileUnreadable));
  const fs::path target = png(elsewhere / "theirs.png");
  fs::create_symlink(target, portal / "link.png");
  EXPECT_EQ(take(uriOf(portal / "link.png")), Outcome(CaptureErrorKind::portalFileIsLink));
  EXPECT_EQ(take("file:///dev/zero"), Outcome(CaptureErrorKind::portalFileNotRegular));
  {
    FileDescriptor large(::open((portal / "large.png").c_str(), O_WRONLY | O_CREAT, 0600));
    ASSERT_EQ(::ftruncate(large.get(), CaptureFileReader::maximumFileSize + 1), 0);
  }
  EXPECT_EQ(take(uriOf(portal / "large.png")), Outcome(CaptureErrorKind::portalFileTooLarge));
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(png(portal / "nobody.png").c_str(), 65534, 65534), 0);
    EXPECT_EQ(take(uriOf(portal / "nobody.png")), Outcome(CaptureErrorKind::portalFileOfAnotherUser));
    EXPECT_TRUE(fs::exists(portal / "nobody.png"));
  }
  // A FIFO gives an error at once instead of a capture waiting for a writer.
  const fs::path fifo = portal / "fifo.png";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  auto taking = std::async(std::launch::async, [&] { return take(uriOf(fifo)); });
  if (taking.wait_for(20s) != std::future_status::ready) {
    FileDescriptor writer(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));  // lets the reader go
    ADD_FAILURE() << "the capture waits for a writer of the FIFO";
  }
  EXPECT_EQ(taking.get(), Outcome(CaptureErrorKind::portalFileNotRegular));
  // Only an absolute file:// URI names the file: not one relative to the working folder.
  const fs::path relative =
      png(fs::current_path() / ("lumacap-relative-" + std::to_string(::getpid()) + ".png"));
  EXPECT_EQ(take("file:" + relative.filename().string()), Outcome(CaptureErrorKind::portalFileNotLocal));
  EXPECT_TRUE(fs::exists(relative));
  fs::remove(relative);
  for (const char* uri : {"", "https://example.org/x.png", "file://elsewhere/tmp/x.png", "file:/tmp/x.png"})
    EXPECT_EQ(take(uri), Outcome(CaptureErrorKind::portalFileNotLocal)) << uri;
  for (const char* name : {"report.png", "link.png", "large.png", "fifo.png"})
    EXPECT_TRUE(fs::exists(fs::symlink_status(portal / name))) << name;
  EXPECT_TRUE(fs::exists(target) && fs::exists("/dev/zero"));
}

// The Screenshot portal on a connection and thread of its own, answering every request with `code`
// and no image.
class FakeScreenshotPortal final : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Screenshot")

 public:
  FakeScreenshotPortal(const std::string& address, uint code)
      : code_(code), bus_(QDBusConnection::connectToBus(QString::fromStdString(address), "fake-portal")) {
    moveToThread(&thread_);
    thread_.start();
    bus_.registerObject(desktopPortalPath, this, QDBusConnection::ExportAllSlots);
    bus_.registerService(desktopPortalService);
  }
  ~FakeScreenshotPortal() override {
    thread_.quit();
    thread_.wait();
    QDBusConnection::disconnectFromBus("fake-portal");
  }

 public slots:
  QDBusObjectPath Screenshot(const QString&, const QVariantMap& options) {
    const QString request = portalRequestPath(message().service(), options.value("handle_token").toString());
    QTimer::singleShot(0, this, [this, request] {
      bus_.send(QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response")
                << code_ << QVariantMap());
    });
    return QDBusObjectPath(request);
  }

 private:
  uint code_;
  QDBusConnection bus_;
  QThread thread_;
};

// KDE's portal answers a screenshot nobody was asked about with "cancelled" and no image when KWin
// cannot take screenshots: a failure of its own kind (its sentence says what to do), not a cancel.
TEST(PortalScreenshot, NoImageForARequestNobodyWasAskedAboutIsAFailureOfItsOwnKind) {
  test::SessionBus bus;
  FakeScreenshotPortal portal(bus.address(), 1);
  const auto failure = std::async(std::launch::async, [&]() -> std::optional<CaptureErrorKind> {
                         try {
                           takePortalScreenshot(QDBusConnection::connectToBus(
                               QString::fromStdString(bus.address()), "lumacap-portal"));
                         } catch (const CaptureError& error) {
                           return error.kind();
                         }
                         return std::nullopt;
                       }).get();
  QDBusConnection::disconnectFromBus("lumacap-portal");
  EXPECT_EQ(failure, CaptureErrorKind::portalGaveNoImage);
}

TEST(PortalScreenshot, RequestPathIsDerivedFromTheUniqueName) {
  EXPECT_EQ(portalRequestPath(":1.42", "lumacap7"), "/org/freedesktop/portal/desktop/request/1_42/lumacap7");
}

// The desktop's services stopped (stand-ins owning their names, SIGSTOPped): the GUI thread keeps
// serving its events from its own loop, and each request ends after its time-out.
class StoppedPortalTest : public ::testing::Test {
 protected:
  ~StoppedPortalTest() override { QDBusConnection::disconnectFromBus(QStringLiteral("stopped-portal")); }
  test::SessionBus bus;
  QDBusConnection connection =
      QDBusConnection::connectToBus(QString::fromStdString(bus.address()), QStringLiteral("stopped-portal"));
};

TEST_F(StoppedPortalTest, TheShortcutRequestReturnsAtOnceAndItsFailureIsToldWithItsSentence) {
  const test::StoppedBusPeer portal(bus.address(), "org.freedesktop.portal.Desktop");
  PortalHotKeyService service({}, connection);
  std::vector<int> failures;
  service.setFailureHandler([&](int status) { failures.push_back(status); });
  const test::GuiStallMeter meter;
  std::vector<int> statuses;
  QTimer::singleShot(0, [&] {  // as Settings asks, twice: the second waits for the first, unnested
    statuses.push_back(service.grab(Shortcut::initial()));
    statuses.push_back(service.grab(Shortcut{1, "S", true, false, true, false}));
  });
  // The failure comes once the calls to the stopped portal have each waited out their time-outs, one
  // after the other: the registration, then each grab's session (the second grab waits for the first).
  const auto allTimeOuts = DBusCall::serviceAnswer + 2 * DBusCall::portalCall;
  ASSERT_TRUE(test::processEventsUntil([&] { return !failures.empty(); }, allTimeOuts + 30s));
  test::processEventsFor(100ms);
  EXPECT_EQ(statuses, (std::vector<int>{0, 0}));                   // on their way
  EXPECT_EQ(failures, std::vector<int>{HotKeyService::noAnswer});  // only the last one is told
  EXPECT_EQ(ShortcutError::ofGrab(failures.front()).description(), ShortcutError::noAnswerDescription);
  EXPECT_LT(meter.longest(), 500ms);
  EXPECT_FALSE(meter.servedFromNestedLoop());
}

TEST_F(StoppedPortalTest, GnomesPermissionStoreIsReadOffTheGuiThreadAndLeavesTheQuestionToThePortal) {
  const test::StoppedBusPeer store(bus.address(), "org.freedesktop.impl.portal.PermissionStore");
  struct : PermissionWindow {
    QWindow* show() override { return nullptr; }
    void close() override {}
  } window;
  PortalScreenshotSource source(window, ScreenshotQuestion::ofPortal(connection));
  const test::GuiStallMeter meter;
  EXPECT_FALSE(source.canRecordScreen());
  QFuture<bool> granted = source.requestScreenRecording();
  ASSERT_TRUE(test::processEventsUntil([&] { return granted.isFinished(); }, 30s));
  EXPECT_TRUE(granted.result());
  EXPECT_LT(meter.longest(), 500ms);
}

// GNOME 48's GlobalShortcuts portal: it opens a session for anyone, but binds (with the trigger
// GNOME assigned, listed in an answer of 2) only for a caller that named its application id first,
// which it takes or not.
class FakeGnomeShortcutsPortal final : public QDBusVirtualObject {
 public:
  using FakeShortcut = std::pair<QString, QVariantMap>;  // its id and properties
  FakeGnomeShortcutsPortal(const std::string& address, bool takesIds)
      : takesIds_(takesIds),
        bus_(QDBusConnection::connectToBus(QString::fromStdString(address), "gnome-48")) {
    qDBusRegisterMetaType<FakeShortcut>();
    qDBusRegisterMetaType<QList<FakeShortcut>>();
    bus_.registerVirtualObject(desktopPortalPath, this);
    bus_.registerService(desktopPortalService);
  }
  ~FakeGnomeShortcutsPortal() override { QDBusConnection::disconnectFromBus("gnome-48"); }
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& call, const QDBusConnection&) override {
    calls.push_back(call.member());
    if (call.member() == "Register") {
      if (takesIds_) registered.insert(call.service());
      return bus_.send(
          takesIds_ ? call.createReply()
                    : call.createErrorReply("org.freedesktop.portal.Error.Failed", "App info not found"));
    }
    const QString request = portalRequestPath(
        call.service(), qdbus_cast<QVariantMap>(call.arguments().last())["handle_token"].toString());
    QVariantMap results;
    uint code = 0;
    if (call.member() == "CreateSession") {
      results["session_handle"] = desktopPortalPath + "/session/lumacap";
    } else if (registered.contains(call.service())) {
      auto shortcuts = qdbus_cast<QList<FakeShortcut>>(call.arguments().at(1));
      for (FakeShortcut& shortcut : shortcuts)
        shortcut.second = {{"trigger_description", "Press <Control><Alt>r or <Super>F2"}};
      if (dismissed) shortcuts.clear();  // the user closed GNOME Settings' dialog
      results["shortcuts"] = QVariant::fromValue(shortcuts);
      code = 2;  // (as GNOME 48 answers, although it bound them)
    } else {
      code = 2;
    }
    bus_.send(call.createReply(QVariant::fromValue(QDBusObjectPath(request))));
    return bus_.send(QDBusMessage::createSignal(request, "org.freedesktop.portal.Request", "Response")
                     << code << results);
  }
  std::vector<QString> calls;
  std::set<QString> registered;
  bool dismissed = false;

 private:
  bool takesIds_;
  QDBusConnection bus_;
};

// Installed, Lumacap names its id before anything else: GNOME binds its key, and the menu shows the
// trigger GNOME assigned, named as keys are; the screenshot permission is looked up under the same id. Run
// from its build folder (no id taken), GNOME's refusal makes its own key binding the way, with no failure to
// tell. A dialog the user dismissed binds nothing, and that is told.
TEST(PortalHotKey, OnGnome48TheKeyIsBoundUnderLumacapsIdOrElseGnomesOwnBindingIsTheWay) {
  test::SessionBus bus;
  for (const QString name : {"installed", "from-build-folder", "dismissed"}) {
    const bool installed = name != "from-build-folder", dismissed = name == "dismissed";
    const QDBusConnection connection =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name);
    FakeGnomeShortcutsPortal portal(bus.address(), installed);
    portal.dismissed = dismissed;
    PortalHotKeyService service({}, connection);
    std::vector<int> failures;
    service.setFailureHandler([&](int status) { failures.push_back(status); });
    bool unavailable = false;
    QObject::connect(&service, &PortalHotKeyService::unavailable, [&] { unavailable = true; });
    EXPECT_EQ(service.grab(Shortcut::initial()), 0);
    ASSERT_TRUE(test::processEventsUntil(
        [&] { return service.assignedTrigger() || unavailable || !failures.empty(); }, 20s));
    EXPECT_EQ(portal.calls.front(), "Register");
    EXPECT_EQ(service.assignedTrigger(),
              installed && !dismissed ? std::optional<std::string>("Ctrl+Alt+R") : std::nullopt);
    EXPECT_EQ(unavailable, !installed);
    EXPECT_EQ(failures, dismissed ? std::vector<int>{HotKeyService::refusedByDesktop} : std::vector<int>{});
    EXPECT_EQ(portalApplicationIdOf(connection) == "org.lumacap.Lumacap", installed);
    QDBusConnection::disconnectFromBus(name);
  }
}

TEST(KWinScreenShot, RawPixelsHonourTheStride) {
  QByteArray pixels(2 * 12, '\0');  // 2×2 ARGB32, rows of 12 bytes
  const uint32_t blue = 0xFF0000FF;
  std::memcpy(pixels.data() + 12 + 4, &blue, 4);  // (1, 1)
  const QVariantMap results{{"type", "raw"},
                            {"width", 2u},
                            {"height", 2u},
                            {"stride", 12u},
                            {"format", uint(QImage::Format_ARGB32)}};
  const QImage image = kwinRawImage(results, pixels);
  EXPECT_EQ(image.size(), QSize(2, 2));
  EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 255));
  EXPECT_EQ(image.pixel(0, 0), qRgb(0, 0, 0));
  EXPECT_THROW(kwinRawImage(results, pixels.left(20)), std::exception);  // the pipe ended early
  QVariantMap png = results;
  png["type"] = "png";
  EXPECT_THROW(kwinRawImage(png, pixels), std::exception);
}

}  // namespace
}  // namespace lumacap

#include "WaylandCaptureTest.moc"
