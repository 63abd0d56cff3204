#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <utility>

#include <QImage>
#include <QPainter>

#include "core/CaptureError.h"
#include "core/DesktopBackend.h"
#include "support/WaylandTest.h"

namespace lumacap::test {
namespace {

// The real application capturing each desktop's screen: the outputs show a
// position-coded picture, and what reaches the clipboard must be exactly the
// desktop's own capture of the same area.
class WaylandCaptureTest : public WaylandTest {
 protected:
  void SetUp() override {
    WaylandTest::SetUp();
    if (IsSkipped()) return;
    pattern = desktop().spawn({LUMACAP_WAYLAND_PATTERN});
    ASSERT_TRUE(waitUntil([&] { return shownOn() == 2; }, 30s)) << desktop().output(*pattern);
    // sway's headless outputs draw the pointer into every capture, the
    // desktop's own included: it stays where it is for both.
    desktop().move(200, 200);
    if (desktop().noScreenshots().empty()) {
      // The pattern says "shown" as it paints, a moment before the desktop
      // shows it: the outputs are measured once both show a picture, not the
      // plain background, and it has stopped changing.
      QImage last;
      waitUntil(
          [&] {
            const QImage now = reference(QRect(0, 0, 2560, 800));
            const bool pictured =
                now.pixel(10, 10) != now.pixel(1000, 700) && now.pixel(1290, 10) != now.pixel(2280, 700);
            return pictured && std::exchange(last, now) == now;
          },
          10s);
      firstOutput = reference(QRect(0, 0, 1280, 800));
      shades = outputShades();
    }
    application = desktop().spawn({lumacapBinary()});
    // Running once it has said which backend it chose.
    ASSERT_TRUE(waitUntil(
        [&] { return desktop().output(*application).find("lumacap: ") != std::string::npos; }, 30s));
    if (GetParam() == Compositor::gnome) closeNoTrayNotice(*application);
  }
  void TearDown() override {
    if (application) application->stop();
    if (pattern) pattern->stop();
  }

  int shownOn() {
    const std::string said = desktop().output(*pattern);
    int count = 0;
    for (size_t at = said.find("shown "); at != std::string::npos; at = said.find("shown ", at + 1)) ++count;
    return count;
  }
  void act(const std::string& action) {
    try {
      const auto handedOff = desktop().run({lumacapBinary(), "--action=" + action}, 20s);
      ASSERT_EQ(handedOff.exitStatus, 0) << handedOff.standardError;
    } catch (const std::exception& failure) {
      FAIL() << failure.what() << "; Lumacap said: " << desktop().output(*application);
    }
  }
  std::vector<DesktopWindow> overlays() { return regionOverlays(shades); }
  // Each output's mean grey.
  std::vector<int> greys() {
    const QImage both = reference(QRect(0, 0, 2560, 800));
    std::vector<int> grey;
    for (int x : {0, 1280})
      grey.push_back(qGray(both.copy(x, 0, 1280, 800)
                               .scaled(1, 1, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .pixel(0, 0)));
    return grey;
  }
  // The region overlay as a person acts on it: a window on each output, both outputs dimmed (also
  // the one the pointer is not on), and `withKeyboard` one of its windows with the keyboard by itself (opened
  // by a command, no click came with it, yet Escape must reach it). Input sent sooner, while a loaded GNOME
  // Shell has listed the windows but not yet shown them, reaches the window below.
  void openOverlay(bool withKeyboard = true) {
    const std::vector<int> before = greys();
    act("capture-region");
    ASSERT_TRUE(waitUntil([&] { return overlays().size() == 2; }, 20s));
    EXPECT_TRUE(waitUntil(
        [&] {
          const std::vector<int> now = greys();
          return now[0] < before[0] * 0.8 && now[1] < before[1] * 0.8;
        },
        10s))
        << "an output is not dimmed";
    EXPECT_TRUE(!withKeyboard ||
                waitUntil(
                    [&] {
                      const auto shown = overlays();
                      return std::any_of(shown.begin(), shown.end(), [](const DesktopWindow& window) {
                        return window.focused || window.app == "layer-shell";  // (there only Escape tells)
                      });
                    },
                    10s))
        << "no overlay window has the keyboard";
  }
  // The PNG Lumacap put on the clipboard, once it is there.
  QImage pasted() { return clipboardImage(20s); }
  // The desktop's own capture; taken before Lumacap's, whose overlay and
  // card change what is on the screen afterwards.
  QImage reference(QRect area) { return desktop().reference(area).convertToFormat(QImage::Format_RGB32); }
  void expectSamePixels(const QImage& captured, const QImage& reference, QRect area) {
    ASSERT_EQ(captured.size(), area.size()) << desktop().output(*application);
    EXPECT_TRUE(captured == reference) << "the capture differs from the desktop's own capture of " << area.x()
                                       << "," << area.y() << " " << area.width() << "×" << area.height();
  }

  std::unique_ptr<BackgroundProcess> pattern;
  std::unique_ptr<BackgroundProcess> application;
  QImage firstOutput;
  std::vector<int> shades;  // before any overlay
};

TEST_P(WaylandCaptureTest, regionOverlayCoversEachOutputAndADragAcrossBothGivesOneImage) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  const QRect area(1000, 200, 600, 300);
  const QImage before = reference(area);
  openOverlay(false);  // (a drag needs no keyboard)
  // (GNOME lists a window before it has placed it)
  const std::vector<QRect> eachOutput{QRect(0, 0, 1280, 800), QRect(1280, 0, 1280, 800)};
  std::vector<QRect> frames;
  EXPECT_TRUE(waitUntil(
      [&] {
        frames.clear();
        for (const DesktopWindow& window : overlays()) frames.push_back(window.geometry);
        std::sort(frames.begin(), frames.end(), [](QRect a, QRect b) { return a.x() < b.x(); });
        return frames == eachOutput;
      },
      20s))
      << ::testing::PrintToString(frames);

  desktop().drag(QPoint(1000, 200), QPoint(1600, 500));
  EXPECT_TRUE(waitUntil([&] { return overlays().empty(); }, 10s));
  expectSamePixels(pasted(), before, area);
}

// A drag the moment the overlay is listed: on KWin that is before its picture of the outputs is in
// (until then the overlay takes the pointer and shows nothing), and the capture is that picture,
// without anything of the overlay in it.
TEST_P(WaylandCaptureTest, aDragAsSoonAsTheOverlayIsListedGivesTheScreenAsItWas) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  if (GetParam() == Compositor::gnome)
    GTEST_SKIP()
        << "GNOME Shell lists the overlay before it shows it: input sent then reaches the window below";
  const QRect area(300, 150, 500, 400);
  const QImage before = reference(area);
  act("capture-region");
  ASSERT_TRUE(waitUntil([&] { return overlays().size() == 2; }, 20s));
  desktop().drag(area.topLeft(), area.topLeft() + QPoint(area.width(), area.height()));
  EXPECT_TRUE(waitUntil([&] { return overlays().empty(); }, 10s));
  expectSamePixels(pasted(), before, area);
}

// (The harness presses only the left button; the right button's cancel is
// covered by the overlay's own tests.)
TEST_P(WaylandCaptureTest, aClickKeepsTheOverlayAndEscapeCancelsIt) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  // (GNOME keeps what an earlier test copied after its owner has gone)
  const QByteArray before = desktop().clipboard("image/png");
  openOverlay();
  desktop().click(1500, 300);  // too small to capture: the overlay stays for another drag
  desktop().key("Escape");
  EXPECT_TRUE(waitUntil([&] { return overlays().empty(); }, 10s));
  EXPECT_EQ(desktop().clipboard("image/png"), before);
}

TEST_P(WaylandCaptureTest, displayCaptureIsTheWholeOutputWithoutLumacapsOwnWindow) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  if (GetParam() == Compositor::gnome) {
    GTEST_SKIP() << "GNOME lets no program set the clipboard from a command without an input event";
  }
  // The first output as it was before Lumacap started: the window Lumacap
  // shows where the desktop has no tray is on it now, and must not be captured.
  act("capture-display");
  expectSamePixels(pasted(), firstOutput, QRect(0, 0, 1280, 800));
}

TEST_P(WaylandCaptureTest, theOverlayOpenedByACommandDimsEveryOutputAndTakesTheKeyboard) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  openOverlay();
  desktop().key("Escape");
  EXPECT_TRUE(waitUntil([&] { return overlays().empty(); }, 10s));
}

TEST_P(WaylandCaptureTest, aDisplayCaptureFromACommandTakesTheOutputTheUserIsOn) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  if (GetParam() == Compositor::gnome) {
    GTEST_SKIP() << "GNOME lets no program set the clipboard from a command without an input event";
  }
  if (GetParam() == Compositor::labwc)
    GTEST_SKIP() << "labwc tells no program which output the pointer or the focus is on";
  const QRect secondOutput(1280, 0, 1280, 800);
  desktop().move(1900, 400);  // (sway's focus follows the pointer onto the other output)
  const QImage before = reference(secondOutput);
  act("capture-display");
  expectSamePixels(pasted(), before, secondOutput);
}

// Where the desktop takes no screenshots, a capture says why and what to do, and copies nothing.
TEST_P(WaylandCaptureTest, aCaptureTheDesktopCannotTakeSaysWhyAndWhatToDo) {
  if (desktop().noScreenshots().empty()) GTEST_SKIP() << "this desktop takes screenshots";
  act("capture-display");
  const std::string why = CaptureError::description(CaptureErrorKind::portalGaveNoImage);
  EXPECT_TRUE(waitUntil([&] { return desktop().output(*application).find(why) != std::string::npos; }, 30s))
      << desktop().output(*application);
  EXPECT_TRUE(desktop().clipboard("image/png").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Wayland, WaylandCaptureTest, waylandCompositors(), compositorName);

// KWin lends ScreenShot2 to Lumacap as installed (`make install` into a prefix in the session's
// XDG_DATA_DIRS, the entry naming its executable): no portal is asked. The same build run from its
// folder, named by no entry, is refused: its captures go through the portal, and it says why once.
using KWinScreenShotGrantTest = WaylandCaptureTest;

TEST_P(KWinScreenShotGrantTest, installedLumacapCapturesThroughKWinAndTheBuildFolderFallsBackSayingWhy) {
  LUMACAP_SKIP_WITHOUT_SCREENSHOTS();
  application->stop();
  auto portal = desktop().spawn(
      {"dbus-monitor", "--session", "type='method_call',interface='org.freedesktop.portal.Screenshot'"});
  const auto portalAsked = [&] {
    return desktop().output(*portal).find("member=Screenshot") != std::string::npos;
  };
  ASSERT_TRUE(waitUntil([&] { return desktop().output(*portal).find("NameLost") != std::string::npos; }));
  const std::string prefix = desktop().folder() + "/usr";
  // Later tests on this desktop find it as it was: the build named by its entry, nothing installed
  // (whose bus activation file would start the installed Lumacap).
  const std::shared_ptr<void> restored(nullptr, [&](void*) {
    desktop().setBuildEntryInstalled(true);
    for (const char* installed : {"/bin", "/lib", "/share/dbus-1"})
      std::filesystem::remove_all(prefix + installed);
  });
  const auto installed =
      runProcess({"cmake", "--install", LUMACAP_BUILD_DIR, "--prefix", prefix}, {}, {}, 60s);
  ASSERT_EQ(installed.exitStatus, 0) << installed.standardOutput << installed.standardError;
  std::this_thread::sleep_for(3s);  // KWin looks at the entries again a moment after they change
  // The portal draws the pointer (at 200,200) into its screenshot; KWin's interface does not.
  const auto capture = [&](const std::string& program, bool withPointer) {
    application = desktop().spawn({program});
    ASSERT_TRUE(waitUntil([&] { return lumacapOwnsItsBusName(); }, 30s)) << desktop().output(*application);
    // The build folder's says so as it starts, before any capture: Settings says it then too.
    const auto said = [&] { return desktop().output(*application).find(kwinScreenShotRefusedText); };
    EXPECT_EQ(waitUntil([&] { return said() != std::string::npos; }, 10s), withPointer);
    const auto pointerCovered = [&](QImage image) {
      if (withPointer) QPainter(&image).fillRect(QRect(190, 190, 48, 48), Qt::black);
      return image;
    };
    for (int time = 0; time < 2; ++time) {
      desktop().run({"wl-copy", "--clear"});
      act("capture-display");
      expectSamePixels(pointerCovered(pasted()), pointerCovered(firstOutput), QRect(0, 0, 1280, 800));
    }
  };
  capture(prefix + "/bin/lumacap", false);
  EXPECT_FALSE(portalAsked());
  EXPECT_EQ(desktop().output(*application).find(kwinScreenShotRefusedText), std::string::npos);
  application->stop();

  desktop().setBuildEntryInstalled(false);
  std::this_thread::sleep_for(3s);  // KWin looks at the entries again a moment after they change
  capture(lumacapBinary(), true);
  EXPECT_TRUE(portalAsked());
  const std::string said = desktop().output(*application);
  const size_t saidAt = said.find(kwinScreenShotRefusedText);
  EXPECT_NE(saidAt, std::string::npos) << said;
  EXPECT_EQ(said.find(kwinScreenShotRefusedText, saidAt + 1), std::string::npos) << said;
}

INSTANTIATE_TEST_SUITE_P(Wayland, KWinScreenShotGrantTest, ::testing::Values(Compositor::kwin),
                         compositorName);

}  // namespace
}  // namespace lumacap::test
