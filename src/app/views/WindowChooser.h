#pragma once

#include <QIcon>
#include <QStyledItemDelegate>
#include <QWidget>
#include <functional>
#include <vector>

#include "platform/ScreenSource.h"

class QLabel;
class QListView;
class QListWidget;

namespace lumacap {

// Draws one window of the chooser: the window symbol, the title on one line,
// the owning application below it, and the camera symbol at the trailing edge.
class WindowRowDelegate final : public QStyledItemDelegate {
 public:
  // The role of the application's name; the title is the display text.
  static constexpr int applicationRole = Qt::UserRole + 1;

  explicit WindowRowDelegate(QListView& view);
  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  struct Layout {
    QRect symbol, title, application, camera;
  };
  Layout layoutIn(const QRect& row, const QString& application) const;
  int applicationHeight(const QString& application, int width) const;

  QListView& view_;
  QFont titleFont_;
  QFont captionFont_;
  QIcon window_, camera_;
};

// Lists the windows a window capture can take and hands the chosen one back,
// on a click anywhere in its row or on Return. It does not close itself; its
// host does.
class WindowChooser final : public QWidget {
  Q_OBJECT

 public:
  using Capture = std::function<void(const ShareableWindow&)>;

  // `compositing`: whether a compositor runs, which decides what a window
  // capture gives (the note under the heading says which).
  explicit WindowChooser(Capture capture, bool compositing = true, QWidget* parent = nullptr);
  ~WindowChooser() override;

  // The candidates, in the order to show them.
  void setWindows(std::vector<ShareableWindow> windows);
  const std::vector<ShareableWindow>& windows() const { return windows_; }

  QListWidget* list() const { return list_; }
  QWidget* placeholder() const { return placeholder_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* makePlaceholder();
  void choose(int row);

  Capture capture_;
  std::vector<ShareableWindow> windows_;
  QWidget* placeholder_;
  QListWidget* list_;
};

}  // namespace lumacap
