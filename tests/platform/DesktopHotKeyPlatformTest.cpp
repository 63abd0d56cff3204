#include <gtest/gtest.h>
#include <wayland-server.h>

#include <QProcess>
#include <atomic>
#include <thread>

#include "core/DesktopShortcut.h"
#include "platform/linux/GnomeKeybinding.h"
#include "platform/wayland/KeyboardLayout.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace lumacap {
namespace {

constexpr uint32_t key2 = 19, key7 = 26;

TEST(KeyboardLayout, namesWhatShiftTypesOnTheGivenLayout) {
  // Every key Settings offers, by its key code there, with what Shift types on a US layout.
  const std::pair<uint32_t, const char*> us[] = {{18, "exclam"},     {19, "at"},       {20, "numbersign"},
                                                 {21, "dollar"},     {23, "percent"},  {22, "asciicircum"},
                                                 {26, "ampersand"},  {28, "asterisk"}, {25, "parenleft"},
                                                 {29, "parenright"}, {1, "S"},         {2, "D"},
                                                 {3, "F"},           {5, "G"}};
  const KeyboardLayout layout = KeyboardLayout::named("us");
  for (const auto& [key, name] : us) EXPECT_EQ(layout.shiftedKeyName(key), name) << key;
  EXPECT_EQ(KeyboardLayout::named("de").shiftedKeyName(key2), "quotedbl");
  EXPECT_EQ(KeyboardLayout::named("de").shiftedKeyName(key7), "slash");
  EXPECT_EQ(layout.shiftedKeyName(99), std::nullopt);  // not a key Settings offers
}

// A compositor of one seat that, like wlroots 0.18, ends the connection of a client asking
// the seat for a keyboard it does not offer.
class OneSeatCompositor {
 public:
  explicit OneSeatCompositor(uint32_t capabilities) : capabilities_(capabilities) {
    wl_global_create(display_, &wl_seat_interface, 1, this, &bind);
    socket_ = wl_display_add_socket_auto(display_);
    thread_ = std::thread([this] { wl_display_run(display_); });
  }
  ~OneSeatCompositor() {
    wl_display_terminate(display_);
    thread_.join();
    wl_display_destroy_clients(display_);
    wl_display_destroy(display_);
  }
  const char* socket_ = nullptr;
  std::atomic<int> keyboardsAsked = 0;

 private:
  static void bind(wl_client* client, void* data, uint32_t version, uint32_t id) {
    static const struct wl_seat_interface requests {
      .get_pointer = [](wl_client*, wl_resource*, uint32_t) {},
      .get_keyboard =
          [](wl_client* client, wl_resource* seat, uint32_t id) {
            auto* self = static_cast<OneSeatCompositor*>(wl_resource_get_user_data(seat));
            ++self->keyboardsAsked;
            if (self->capabilities_ & WL_SEAT_CAPABILITY_KEYBOARD)
              wl_resource_create(client, &wl_keyboard_interface, 1, id);
            else
              wl_resource_post_error(seat, 0,
                                     "wl_seat.get_keyboard called when no keyboard capability has existed");
          },
      .get_touch = [](wl_client*, wl_resource*, uint32_t) {}, .release = [](wl_client*, wl_resource*) {}
    };
    wl_resource* seat = wl_resource_create(client, &wl_seat_interface, static_cast<int>(version), id);
    wl_resource_set_implementation(seat, &requests, data, nullptr);
    wl_seat_send_capabilities(seat, static_cast<OneSeatCompositor*>(data)->capabilities_);
  }
  const uint32_t capabilities_;
  wl_display* display_ = wl_display_create();
  std::thread thread_;
};

TEST(KeyboardLayout, asksTheSeatForAKeyboardOnlyWhenItOffersOne) {
  test::TempDir runtime;
  const test::ScopedEnvironment environment{{"XDG_RUNTIME_DIR", runtime.path().string()}};
  for (const uint32_t capabilities : {0u, uint32_t(WL_SEAT_CAPABILITY_KEYBOARD)}) {
    OneSeatCompositor compositor(capabilities);
    const test::ScopedEnvironment display{{"WAYLAND_DISPLAY", compositor.socket_}};
    EXPECT_EQ(KeyboardLayout::current().shiftedKeyName(key2), "at");  // no keymap sent: xkb's US default
    EXPECT_EQ(compositor.keyboardsAsked, capabilities ? 1 : 0);
  }
}

// GNOME's settings through the real gsettings, kept in a key file of a temporary home.
class GnomeKeybindingTest : public ::testing::Test {
 protected:
  test::TempDir home;
  test::ScopedEnvironment environment{{"GSETTINGS_BACKEND", "keyfile"},
                                      {"XDG_CONFIG_HOME", home.path().string()}};
  std::string get(const QString& schema, const QString& key) {
    QProcess gsettings;
    gsettings.start("gsettings", {"get", schema, key});
    gsettings.waitForFinished();
    return gsettings.readAllStandardOutput().trimmed().toStdString();
  }
  const QString list = "org.gnome.settings-daemon.plugins.media-keys";
  const QString ours =
      QString("org.gnome.settings-daemon.plugins.media-keys.custom-keybinding:") + gnomeKeybindingPath;
  void SetUp() override {
    if (QProcess::execute("gsettings", {"list-keys", list}) != 0)
      GTEST_SKIP() << "no GNOME media-keys schema";
  }
};

// The user's other entries come back byte for byte, whatever GVariant's text escapes in them.
TEST_F(GnomeKeybindingTest, addsAndRemovesItsOwnBindingBesideTheUsers) {
  QProcess::execute("gsettings",
                    {"set", list, "custom-keybindings",
                     R"(['/org/gnome/custom0/', '/tab\there/', '/c\u0001d/', "/it's/", '/say "hi"/', )"
                     R"('/back\\slash/', '/naïve ✓/'])"});
  const std::string users = get(list, "custom-keybindings");
  const std::string withOurs =
      users.substr(0, users.size() - 1) +
      ", '/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/lumacap/']";
  const GnomeKeybinding binding;
  EXPECT_FALSE(binding.present());
  binding.write("<Shift><Super>2", "'/opt/my \"apps\"\\/naïve/lumacap' --action=capture-region");
  EXPECT_TRUE(binding.present());
  EXPECT_EQ(get(list, "custom-keybindings"), withOurs);
  EXPECT_EQ(get(ours, "binding"), "'<Shift><Super>2'");
  EXPECT_EQ(get(ours, "command"), R"("'/opt/my \"apps\"\\/naïve/lumacap' --action=capture-region")");

  binding.remove();
  EXPECT_FALSE(binding.present());
  EXPECT_EQ(get(list, "custom-keybindings"), users);
  EXPECT_EQ(get(ours, "binding"), "''");
}

}  // namespace
}  // namespace lumacap
