#include "app/views/WindowChooser.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QListWidget>
#include <QMouseEvent>

namespace lumacap {
namespace {

ShareableWindow window(uint32_t id, std::optional<std::string> title,
                       std::optional<std::string> application) {
  std::optional<OwningApplication> owner;
  if (application) owner = OwningApplication{static_cast<int32_t>(1000 + id), *application};
  return ShareableWindow{id, std::move(title), Rect{0, 0, 400, 300}, std::move(owner)};
}

class WindowChooserTest : public ::testing::Test {
 protected:
  WindowChooserTest() {
    chooser.resize(510, 480);
    chooser.show();
  }

  void click(const QPoint& at) {
    QWidget* viewport = chooser.list()->viewport();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
      QMouseEvent event(type, at, viewport->mapToGlobal(at), Qt::LeftButton,
                        type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton, Qt::NoModifier);
      QApplication::sendEvent(viewport, &event);
    }
  }

  std::vector<uint32_t> chosen;
  WindowChooser chooser{[this](const ShareableWindow& window) { chosen.push_back(window.windowID); }};
};

TEST_F(WindowChooserTest, PlaceholderOnlyWithoutWindows) {
  EXPECT_TRUE(chooser.placeholder()->isVisible());
  EXPECT_FALSE(chooser.list()->isVisible());
  chooser.setWindows({window(1, "Terminal", "XTerm")});
  EXPECT_FALSE(chooser.placeholder()->isVisible());
  EXPECT_TRUE(chooser.list()->isVisible());
}

TEST_F(WindowChooserTest, RowsNameEveryWindow) {
  chooser.setWindows(
      {window(1, std::nullopt, "XTerm"), window(2, "", std::nullopt), window(3, "Notes", "Kate")});
  QListWidget& list = *chooser.list();
  ASSERT_EQ(list.count(), 3);
  EXPECT_EQ(list.item(0)->text(), "Untitled window");
  EXPECT_EQ(list.item(1)->text(), "Untitled window");
  EXPECT_EQ(list.item(1)->data(WindowRowDelegate::applicationRole).toString(), "Application");
  EXPECT_EQ(list.item(2)->text(), "Notes");
  EXPECT_EQ(list.item(2)->data(WindowRowDelegate::applicationRole).toString(), "Kate");
}

TEST_F(WindowChooserTest, ClickAnywhereInARowOrReturnChoosesItsWindow) {
  chooser.setWindows({window(1, "a", "XTerm"), window(2, "b", "XTerm")});
  const QRect second = chooser.list()->visualRect(chooser.list()->model()->index(1, 0));
  ASSERT_GT(second.width(), 400);
  click(second.center());  // between the short title and the camera
  EXPECT_EQ(chosen, std::vector<uint32_t>{2});

  chooser.list()->setCurrentRow(0);
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QApplication::sendEvent(chooser.list(), &press);
  EXPECT_EQ(chosen, (std::vector<uint32_t>{2, 1}));
}

}  // namespace
}  // namespace lumacap
