#include "app/gui/DesktopActivation.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QtConcurrent/QtConcurrentRun>
#include <fstream>
#include <sstream>

#include "support/AwaitTask.h"
#include "support/SessionBus.h"
#include "support/Subprocess.h"

namespace lumacap {
namespace {

using Claim = DesktopActivation::Claim;
using test::processEventsUntil;

// What an instance was asked to do.
struct Requests {
  explicit Requests(DesktopActivation& activation) {
    QObject::connect(&activation, &DesktopActivation::activated, [this] { ++activations; });
    QObject::connect(
        &activation, &DesktopActivation::actionRequested, [this](const QString& name, int delay) {
          actions.append(delay > 0 ? QStringLiteral("%1 after %2 s").arg(name).arg(delay) : name);
        });
  }
  int activations = 0;
  QStringList actions;
};

class DesktopActivationTest : public ::testing::Test {
 protected:
  ~DesktopActivationTest() override {
    for (const QString& name : connections_) QDBusConnection::disconnectFromBus(name);
  }

  // A connection of its own, as a separate process would have.
  QDBusConnection connect(const std::string& address) {
    const QString name = QStringLiteral("activation-test-%1").arg(connections_.size());
    connections_.append(name);
    return QDBusConnection::connectToBus(QString::fromStdString(address), name);
  }

  // Runs a desktop tool while this process keeps answering the bus.
  int runServing(const std::vector<std::string>& command) {
    test::BackgroundProcess tool(command, {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}});
    EXPECT_TRUE(processEventsUntil([&] { return !tool.running(); }))
        << command[0] << " did not finish in 10 s";
    return tool.wait().exitStatus;
  }

  test::SessionBus bus;

 private:
  QStringList connections_;
};

// Starting Lumacap again, plainly and with an action, is the real-X
// end-to-end test's; an unknown action reopens the running instance too. The
// second start waits for the first's answer without running events (it has
// no window yet): here on a thread of its own, while this one answers.
TEST_F(DesktopActivationTest, ASecondStartHandsItsRequestToTheFirst) {
  DesktopActivation first(connect(bus.address()));
  Requests asked(first);
  ASSERT_EQ(first.claim(), Claim::primary);

  QDBusConnection secondBus = connect(bus.address());
  QFuture<std::pair<Claim, Claim>> second = QtConcurrent::run([secondBus] {
    DesktopActivation second(secondBus);
    return std::pair(second.claim("capture-display"), second.claim("no-such-action"));
  });
  ASSERT_TRUE(processEventsUntil([&] { return second.isFinished(); }));
  EXPECT_EQ(second.result(), std::pair(Claim::handedOver, Claim::handedOver));
  ASSERT_TRUE(processEventsUntil([&] { return asked.activations == 1 && asked.actions.size() == 1; }))
      << "the running instance was not asked";
  EXPECT_EQ(asked.actions, QStringList{"capture-display"});
}

TEST_F(DesktopActivationTest, TheNameIsFreeAgainWhenTheFirstInstanceEnds) {
  {
    DesktopActivation first(connect(bus.address()));
    ASSERT_EQ(first.claim(), Claim::primary);
  }
  DesktopActivation next(connect(bus.address()));
  Requests asked(next);
  EXPECT_EQ(next.claim("history"), Claim::primary);
  // Its own action runs once the event loop does.
  EXPECT_TRUE(asked.actions.isEmpty());
  ASSERT_TRUE(processEventsUntil([&] { return !asked.actions.isEmpty(); }));
  EXPECT_EQ(asked.actions, QStringList{"history"});
}

TEST_F(DesktopActivationTest, DesktopToolsReachTheRunningInstance) {
  DesktopActivation running(connect(bus.address()));
  Requests asked(running);
  ASSERT_EQ(running.claim(), Claim::primary);

  const auto gdbus = [&](const std::string& method, std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(),
                     {"gdbus", "call", "--session", "--dest", DesktopActivation::serviceName, "--object-path",
                      DesktopActivation::objectPath, "--method", "org.freedesktop.Application." + method});
    return runServing(arguments);
  };
  EXPECT_EQ(runServing({"gapplication", "action", "org.lumacap.Lumacap", "capture-region"}), 0);
  EXPECT_EQ(gdbus("ActivateAction", {"settings", "[]", "{}"}), 0);
  EXPECT_EQ(gdbus("ActivateAction", {"format-disk", "[]", "{}"}), 0);
  // A countdown in the parameter, as `--delay` sends it; one out of bounds or of another type is none.
  EXPECT_EQ(gdbus("ActivateAction", {"capture-display", "[<5>]", "{}"}), 0);
  EXPECT_EQ(gdbus("ActivateAction", {"capture-window", "[<3600>]", "{}"}), 0);
  EXPECT_EQ(gdbus("ActivateAction", {"capture-window", "[<'5'>]", "{}"}), 0);
  EXPECT_EQ(gdbus("Open", {"['file:///tmp/a.png']", "{}"}), 0);
  EXPECT_EQ(gdbus("Activate", {"{}"}), 0);

  ASSERT_TRUE(processEventsUntil([&] { return asked.activations == 2; }));
  EXPECT_EQ(asked.actions, (QStringList{"capture-region", "settings", "capture-display after 5 s",
                                        "capture-window", "capture-window"}));
}

// A desktop shortcut or launcher starts the command with an activation token;
// the running instance's next window presents it to take the focus.
TEST_F(DesktopActivationTest, TheCommandsActivationTokenReachesTheRunningInstance) {
  DesktopActivation running(connect(bus.address()));
  Requests asked(running);
  ASSERT_EQ(running.claim(), Claim::primary);
  qunsetenv("XDG_ACTIVATION_TOKEN");
  test::BackgroundProcess handOff(
      {test::lumacapBinary(), "--action=settings"},
      {{"DBUS_SESSION_BUS_ADDRESS", bus.address()}, {"XDG_ACTIVATION_TOKEN", "token-of-the-shortcut"}});
  ASSERT_TRUE(processEventsUntil([&] { return !asked.actions.isEmpty(); }));
  EXPECT_EQ(qgetenv("XDG_ACTIVATION_TOKEN"), "token-of-the-shortcut");
  qunsetenv("XDG_ACTIVATION_TOKEN");
  EXPECT_EQ(handOff.wait().exitStatus, 0);
}

TEST_F(DesktopActivationTest, WithoutABusRunsAloneAndKeepsItsAction) {
  DesktopActivation alone(connect("unix:path=/nonexistent/bus"));
  Requests asked(alone);
  EXPECT_EQ(alone.claim("capture-window"), Claim::noBus);
  ASSERT_TRUE(processEventsUntil([&] { return !asked.actions.isEmpty(); }));
  EXPECT_EQ(asked.actions, QStringList{"capture-window"});
}

TEST(DesktopActivationArgumentsTest, ReadsOnlyKnownActions) {
  const std::vector<std::pair<QStringList, QString>> cases = {
      {{"lumacap"}, ""},
      {{"lumacap", "--action=capture-region"}, "capture-region"},
      {{"lumacap", "--action", "history"}, "history"},
      {{"lumacap", "--action=history", "--action", "history"}, "history"},
      {{"lumacap", "-x", "--action=history"}, ""},
      {{"lumacap", "--action=bogus", "--action=settings"}, ""},
      {{"lumacap", "--action="}, ""},
      {{"lumacap", "--action"}, ""},
      {{"lumacap", "--action=History"}, ""},
  };
  for (const auto& [arguments, action] : cases) {
    EXPECT_EQ(DesktopActivation::actionFromArguments(arguments), action) << arguments.join(' ').toStdString();
  }
  EXPECT_EQ(DesktopActivation::delayFromArguments({"lumacap", "--action=capture-region", "--delay=10"}), 10);
  EXPECT_EQ(DesktopActivation::delayFromArguments({"lumacap", "--action=capture-region"}), 0);
}

// The desktop entry's actions start Lumacap with arguments it understands.
TEST(DesktopActivationArgumentsTest, EveryDesktopActionNamesAKnownAction) {
  std::ifstream file(LUMACAP_SOURCE_DIR "/packaging/org.lumacap.Lumacap.desktop");
  ASSERT_TRUE(file) << "desktop entry not found";
  std::string line, group;
  int checked = 0;
  while (std::getline(file, line)) {
    if (line.starts_with("[Desktop Action ")) group = line.substr(16, line.size() - 17);
    if (group.empty() || !line.starts_with("Exec=")) continue;
    const QStringList arguments = QString::fromStdString(line.substr(5)).split(' ');
    EXPECT_EQ(DesktopActivation::actionFromArguments(arguments).toStdString(), group) << line;
    ++checked;
  }
  EXPECT_EQ(checked, 5);
}

}  // namespace
}  // namespace lumacap
