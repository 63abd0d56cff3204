#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QThread>

#include "app/HotKeyManager.h"
#include "platform/fake/FakeHotKeyService.h"

namespace lumacap {
namespace {

const Shortcut optionS{1, "S", false, false, true, false};
const Shortcut commandShiftFour{21, "4", true, true, false, false};

class HotKeyManagerTest : public ::testing::Test {
 protected:
  HotKeyManagerTest() {
    auto service = std::make_unique<FakeHotKeyService>();
    fake = service.get();
    manager = std::make_unique<HotKeyManager>(std::move(service));
    manager->setAction([this] {
      ++presses;
      ranOnMainThread = ranOnMainThread && QThread::currentThread() == QCoreApplication::instance()->thread();
    });
  }

  FakeHotKeyService* fake = nullptr;
  std::unique_ptr<HotKeyManager> manager;
  int presses = 0;
  bool ranOnMainThread = true;
};

TEST_F(HotKeyManagerTest, PressesRunTheActionLaterOnTheMainThread) {
  manager->registerShortcut(Shortcut::initial());
  EXPECT_EQ(fake->grabbed(), Shortcut::initial());

  fake->press(Shortcut::initial());
  fake->press(Shortcut::initial());
  EXPECT_EQ(presses, 0) << "the action must not run inside the platform's event handling";
  QCoreApplication::processEvents();
  EXPECT_EQ(presses, 2);
  EXPECT_TRUE(ranOnMainThread);

  fake->press(optionS);
  QCoreApplication::processEvents();
  EXPECT_EQ(presses, 2);
}

TEST_F(HotKeyManagerTest, PressWithoutActionIsIgnoredAndPendingPressesDieWithTheManager) {
  manager->registerShortcut(Shortcut::initial());
  manager->setAction(nullptr);
  fake->press(Shortcut::initial());
  QCoreApplication::processEvents();  // must not crash

  int late = 0;
  manager->setAction([&late] { ++late; });
  fake->press(Shortcut::initial());
  manager.reset();
  QCoreApplication::processEvents();
  EXPECT_EQ(late, 0);
}

TEST_F(HotKeyManagerTest, InvalidShortcutFailsBeforeTheRegistrationIsTouched) {
  manager->registerShortcut(optionS);
  const int grabsBefore = fake->grabCount();
  try {
    manager->registerShortcut(commandShiftFour);
    FAIL() << "expected a ShortcutError";
  } catch (const ShortcutError& error) {
    EXPECT_EQ(error.code(), 1);
    EXPECT_EQ(error.description(), *commandShiftFour.validationMessage());
  }
  EXPECT_EQ(fake->grabCount(), grabsBefore);
  EXPECT_EQ(fake->grabbed(), optionS);
  EXPECT_EQ(manager->registeredShortcut(), optionS);
}

}  // namespace
}  // namespace lumacap
