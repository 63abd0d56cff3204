#include "app/views/TrayMissingNotice.h"

#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>

namespace lumacap {
namespace {

TEST(TrayMissingNoticeTest, NamesTheShortcutInUseAndClosesWithOK) {
  TrayMissingNotice notice("Ctrl+Alt+S");
  notice.show();
  bool named = false;
  for (const QLabel* label : notice.findChildren<QLabel*>()) named |= label->text().contains("Ctrl+Alt+S");
  EXPECT_TRUE(named);

  notice.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  EXPECT_FALSE(notice.isVisible());
}

}  // namespace
}  // namespace lumacap
