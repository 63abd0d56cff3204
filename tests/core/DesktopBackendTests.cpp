#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <map>

#include "core/DesktopBackend.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

// What each desktop offers, as the probe gathers it on the real ones (seen on KWin 5.27,
// GNOME Shell 43 and sway 1.7).
DesktopFacts kwin() {
  DesktopFacts facts;
  facts.waylandDisplay = true;
  facts.sessionType = "wayland";
  facts.currentDesktops = {"KDE"};
  facts.busNames = {"org.kde.KWin", "org.freedesktop.Notifications"};
  facts.kwinScreenShot2 = true;
  facts.waylandGlobals = {"wl_compositor",       "xdg_wm_base",
                          "zwlr_layer_shell_v1", "zwlr_data_control_manager_v1",
                          "xdg_activation_v1",   "org_kde_kwin_fake_input"};
  facts.workingPortals = {"org.freedesktop.portal.Screenshot"};
  return facts;
}

DesktopFacts gnome() {
  DesktopFacts facts;
  facts.waylandDisplay = true;
  facts.sessionType = "wayland";
  facts.currentDesktops = {"ubuntu", "GNOME"};
  facts.busNames = {"org.gnome.Shell", "org.freedesktop.Notifications"};
  facts.waylandGlobals = {"wl_compositor", "xdg_wm_base", "xdg_activation_v1", "gtk_shell1"};
  facts.workingPortals = {"org.freedesktop.portal.Screenshot"};
  return facts;
}

DesktopFacts sway() {
  DesktopFacts facts;
  facts.waylandDisplay = true;
  facts.currentDesktops = {"sway"};
  facts.swaySocket = "/run/sway.sock";
  facts.busNames = {"org.freedesktop.Notifications"};
  facts.waylandGlobals = {"wl_compositor",
                          "xdg_wm_base",
                          "zwlr_layer_shell_v1",
                          "zwlr_data_control_manager_v1",
                          "zwlr_screencopy_manager_v1",
                          "zwlr_foreign_toplevel_manager_v1",
                          "xdg_activation_v1",
                          "zwlr_virtual_pointer_manager_v1"};
  return facts;
}

DesktopFacts x11() {
  DesktopFacts facts;
  facts.x11Display = true;
  facts.sessionType = "x11";
  return facts;
}

TEST(DesktopBackend, kwinCapturesThroughScreenShot2CopiesThroughDataControlAndShowsALayerShellCard) {
  const DesktopBackend backend = chooseBackend(kwin());
  EXPECT_EQ(backend.session, Session::wayland);
  EXPECT_EQ(backend.desktop, Desktop::kwin);
  EXPECT_EQ(backend.capture, CaptureMechanism::kwinScreenShot2);
  EXPECT_EQ(backend.clipboard, ClipboardMechanism::dataControl);
  EXPECT_EQ(backend.card, CardMechanism::layerShell);
  EXPECT_EQ(
      backendLogLine(backend),
      "lumacap: Wayland (KWin): capture via ScreenShot2, clipboard via data-control, card via layer-shell");
}

TEST(DesktopBackend, kwinWithoutOpenGLCompositingFallsBackToThePortal) {
  DesktopFacts facts = kwin();
  facts.kwinScreenShot2 = false;
  EXPECT_EQ(chooseBackend(facts).capture, CaptureMechanism::portal);
}

TEST(DesktopBackend, gnomeCapturesThroughThePortalCopiesFromInputAndNotifies) {
  const DesktopBackend backend = chooseBackend(gnome());
  EXPECT_EQ(backend.desktop, Desktop::gnome);
  EXPECT_EQ(backend.capture, CaptureMechanism::portal);
  EXPECT_EQ(backend.clipboard, ClipboardMechanism::inputHandler);
  EXPECT_EQ(backend.card, CardMechanism::notification);
}

TEST(DesktopBackend, aPortalThatIsExportedButFailsIsNoCapturePath) {
  // Only a call that succeeded counts; the probe leaves a failing portal out of the facts.
  DesktopFacts facts = gnome();
  facts.workingPortals.clear();
  const DesktopBackend backend = chooseBackend(facts);
  EXPECT_EQ(backend.capture, CaptureMechanism::none);
  ASSERT_TRUE(limitsOf(backend).capture);
  EXPECT_NE(limitsOf(backend).capture->find("xdg-desktop-portal"), std::string::npos);
}

TEST(DesktopBackend, swayUsesTheWlrootsProtocols) {
  const DesktopBackend backend = chooseBackend(sway());
  EXPECT_EQ(backend.desktop, Desktop::sway);
  EXPECT_EQ(backend.capture, CaptureMechanism::wlrScreencopy);
  EXPECT_EQ(backend.clipboard, ClipboardMechanism::dataControl);
  EXPECT_EQ(backend.card, CardMechanism::layerShell);
  EXPECT_EQ(
      backendLogLine(backend),
      "lumacap: Wayland (sway): capture via screencopy, clipboard via data-control, card via layer-shell");
}

TEST(DesktopBackend, theServicesFollowTheGlobalsNotTheDesktopsName) {
  // A wlroots compositor that calls itself GNOME still gets screencopy and layer-shell; one with
  // no hint at all is named by what it offers.
  DesktopFacts facts = sway();
  facts.swaySocket.clear();
  facts.currentDesktops = {"GNOME"};
  EXPECT_EQ(chooseBackend(facts).capture, CaptureMechanism::wlrScreencopy);
  EXPECT_EQ(chooseBackend(facts).card, CardMechanism::layerShell);
  facts.currentDesktops = {};
  EXPECT_EQ(chooseBackend(facts).desktop, Desktop::wlroots);
  // labwc names itself first: the texts name it
  facts.currentDesktops = {"labwc", "wlroots"};
  const DesktopBackend labwc = chooseBackend(facts);
  EXPECT_EQ(labwc.desktop, Desktop::wlroots);
  EXPECT_EQ(backendLogLine(labwc),
            "lumacap: Wayland (labwc, wlroots): capture via screencopy, clipboard via data-control, card via "
            "layer-shell");
  EXPECT_NE(limitsOf(labwc).windows.value_or("").find("do not work on labwc yet"), std::string::npos);
  facts.currentDesktops = {"<b>x</b>"};  // no markup reaches a label
  EXPECT_EQ(backendLogLine(chooseBackend(facts)).find("<b>"), std::string::npos);
  DesktopFacts kde = kwin();
  kde.currentDesktops = {};
  EXPECT_EQ(chooseBackend(kde).desktop, Desktop::kwin);  // from its bus name
}

TEST(DesktopBackend, hyprlandIsRecognisedByItsInstanceAndListsWindowsLikeSway) {
  DesktopFacts facts = sway();
  facts.swaySocket.clear();
  facts.currentDesktops = {};
  facts.hyprlandInstance = "abc";
  const DesktopBackend backend = chooseBackend(facts);
  EXPECT_EQ(backend.desktop, Desktop::hyprland);
  EXPECT_EQ(backend.capture, CaptureMechanism::wlrScreencopy);
  EXPECT_FALSE(limitsOf(backend).windows);  // its IPC socket lists and activates them
  EXPECT_FALSE(limitsOf(backend).windowChooser);
}

TEST(DesktopBackend, aWaylandDisplayWinsOverDisplayAndTheUsersQtPlatform) {
  DesktopFacts facts = kwin();
  facts.x11Display = true;
  EXPECT_EQ(chooseBackend(facts).session, Session::wayland);
  EXPECT_FALSE(sessionWarning(chooseBackend(facts)));
}

TEST(DesktopBackend, x11StaysAsItIsWithoutAWarningOrLimits) {
  const DesktopBackend backend = chooseBackend(x11());
  EXPECT_EQ(backend.session, Session::x11);
  EXPECT_EQ(backend.capture, CaptureMechanism::x11);
  EXPECT_EQ(backend.clipboard, ClipboardMechanism::x11);
  EXPECT_EQ(backend.card, CardMechanism::x11Window);
  EXPECT_FALSE(sessionWarning(backend));
  EXPECT_TRUE(limitsOf(backend).all().empty());
}

TEST(DesktopBackend, onlyDisplayInsideAWaylandSessionRunsOnX11WithOneWarning) {
  DesktopFacts facts = x11();
  facts.sessionType = "wayland";
  const DesktopBackend backend = chooseBackend(facts);
  EXPECT_EQ(backend.session, Session::x11);
  ASSERT_TRUE(sessionWarning(backend));
  EXPECT_NE(sessionWarning(backend)->find("WAYLAND_DISPLAY"), std::string::npos);
  EXPECT_EQ(backendLogLine(backend).rfind("lumacap: X11 (Xwayland): ", 0), 0u);
}

TEST(DesktopBackend, noDisplayAtAllIsNoSession) {
  EXPECT_EQ(chooseBackend(DesktopFacts{}).session, Session::none);
}

TEST(DesktopBackend, waylandSaysWhatDoesNotWorkYet) {
  const DesktopLimits kde = limitsOf(chooseBackend(kwin()));
  EXPECT_TRUE(kde.shortcut);
  EXPECT_FALSE(kde.windows);  // KWin's scripts list and activate windows
  EXPECT_FALSE(kde.windowChooser);
  EXPECT_FALSE(limitsOf(chooseBackend(sway())).windows);  // sway IPC
  const DesktopLimits gnomeLimits = limitsOf(chooseBackend(gnome()));
  ASSERT_TRUE(gnomeLimits.windows);
  EXPECT_NE(gnomeLimits.windows->find("GNOME’s screenshot dialog"), std::string::npos);
  ASSERT_TRUE(gnomeLimits.windowChooser);
  EXPECT_EQ(
      *gnomeLimits.windowChooser,
      "Opens GNOME’s screenshot dialog, which takes the whole screen, the current window or an area: bring "
      "the window you want to the front first, then choose the current window there. GNOME shows "
      "programs no list of windows.");
  EXPECT_FALSE(kde.capture);
  EXPECT_FALSE(kde.clipboard);  // data-control copies without focus
  EXPECT_TRUE(limitsOf(chooseBackend(gnome())).clipboard);
}

class SessionFacts : public ::testing::Test {
 protected:
  std::optional<std::string> variable(const char* name) {
    const auto found = variables.find(name);
    return found == variables.end() ? std::nullopt : std::optional(found->second);
  }
  DesktopFacts facts() {
    return sessionFacts([this](const char* name) { return variable(name); });
  }
  // A listening socket in the runtime folder, as a compositor makes it.
  int listenAt(const std::string& name) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = (runtime / name).string();
    std::copy(path.begin(), path.end(), address.sun_path);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(fd, 4), 0);
    return fd;
  }
  test::TempDir runtime;
  std::map<std::string, std::string> variables = {{"XDG_RUNTIME_DIR", runtime.path().string()}};
};

TEST_F(SessionFacts, aWaylandDisplayCountsOnlyWhenItsSocketAnswers) {
  variables["WAYLAND_DISPLAY"] = "wayland-1";
  EXPECT_FALSE(facts().waylandDisplay);
  const int fd = listenAt("wayland-1");
  EXPECT_TRUE(facts().waylandDisplay);
  variables["WAYLAND_DISPLAY"] = (runtime / "wayland-1").string();
  EXPECT_TRUE(facts().waylandDisplay);
  ::close(fd);
  EXPECT_FALSE(facts().waylandDisplay);  // a socket left behind by a compositor that ended
}

TEST_F(SessionFacts, withoutWaylandDisplayTheDefaultSocketIsNotTaken) {
  const int fd = listenAt("wayland-0");
  variables["DISPLAY"] = ":0";
  EXPECT_FALSE(facts().waylandDisplay);
  EXPECT_TRUE(facts().x11Display);
  ::close(fd);
}

TEST_F(SessionFacts, readsTheHints) {
  variables["XDG_CURRENT_DESKTOP"] = "ubuntu:GNOME";
  variables["XDG_SESSION_TYPE"] = "wayland";
  variables["SWAYSOCK"] = "/run/sway.sock";
  const DesktopFacts read = facts();
  EXPECT_EQ(read.currentDesktops, (std::vector<std::string>{"ubuntu", "GNOME"}));
  EXPECT_EQ(read.sessionType, "wayland");
  EXPECT_EQ(read.swaySocket, "/run/sway.sock");
  EXPECT_EQ(read.runtimeFolder, runtime.path().string());
  EXPECT_TRUE(read.hyprlandInstance.empty());
  EXPECT_FALSE(read.x11Display);
}

}  // namespace
}  // namespace lumacap
