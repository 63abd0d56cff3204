#pragma once

#include <QWidget>
#include <optional>
#include <vector>

#include "core/ScreenshotStore.h"
#include "platform/FileBrowser.h"

class QDialog;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QModelIndex;
class QPushButton;
class QStackedWidget;

namespace lumacap {

class AppModel;
struct ViewContext;
class HistoryListModel;
class HistoryRowDelegate;
class ThumbnailCache;

// Recent Captures: every saved capture, newest first, with what can be done
// to each, a search over them and a selection of several (Shift, Ctrl) to
// copy, export or delete together. All operations go through the model.
// Without a system tray this window is the user's way in, and then it also
// offers Settings and Quit.
class HistoryView final : public QWidget {
  Q_OBJECT

 public:
  HistoryView(AppModel& model, ViewContext& context, QWidget* parent = nullptr);
  ~HistoryView() override;

  // What a row offers; each acts on `record`.
  void open(const CaptureRecord& record);
  // The menu acts on the selection when `index` is in it, else on that row.
  void showRecordMenu(const QModelIndex& index, const QPoint& globalPosition);
  void reveal(const CaptureRecord& record);
  void askRename(const CaptureRecord& record);
  // These act on several captures at once.
  void copy(const std::vector<CaptureRecord>& records);
  void askDelete(const std::vector<CaptureRecord>& records);
  void askExport(const std::vector<CaptureRecord>& records);
  void exportTo(const std::vector<CaptureRecord>& records, const std::filesystem::path& folder);
  // The selected rows, top to bottom.
  std::vector<CaptureRecord> selectedRecords() const;
  // The footer's.
  void showFolder();
  void askDeleteAll();

  // Rows the window shows when it opens, where the screen allows.
  static constexpr int shownRows = 12;
  QSize sizeHint() const override;

  // The parts, for tests and for keyboard use.
  QLabel* caption() const { return caption_; }
  QLineEdit* searchField() const { return search_; }
  QWidget* emptyState() const { return emptyState_; }
  QListView* list() const { return list_; }
  HistoryListModel& rows() const { return *rows_; }
  ThumbnailCache& thumbnails() const { return *thumbnails_; }
  QPushButton* deleteAllButton() const { return deleteAll_; }
  QPushButton* settingsButton() const { return settings_; }
  QPushButton* quitButton() const { return quit_; }
  // The status line: the last action's outcome since the window was shown.
  QLabel* notice() const { return notice_; }
  // The "…" menu of a row, as `showRecordMenu` last opened it.
  QMenu* recordMenu() const { return recordMenu_; }
  // The dialogs, once they were first opened.
  QDialog* renameDialog() const { return renameDialog_; }
  QLineEdit* renameField() const { return renameField_; }
  QDialog* deleteDialog() const { return deleteDialog_; }
  QDialog* deleteAllDialog() const { return deleteAllDialog_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QWidget* makeHeader();
  QWidget* makeEmptyState();
  QWidget* makeList();
  QWidget* makeFooter();
  void makeRecordMenu();
  void renderRecords();
  void renderCaption();
  void renderTrayFallback();
  const CaptureRecord* currentRecord() const;
  FileBrowser::Outcome noticeUnlessShown(const std::filesystem::path& folder);
  void setNotice(const QString& notice);

  AppModel& model_;
  ViewContext& context_;
  ThumbnailCache* thumbnails_;
  HistoryListModel* rows_;
  HistoryRowDelegate* delegate_;
  QLabel* caption_;
  QLineEdit* search_;
  QStackedWidget* pages_;
  QWidget* emptyState_;
  QListView* list_;
  QPushButton* deleteAll_;
  QPushButton* settings_;
  QPushButton* quit_;
  QLabel* notice_;
  QMenu* recordMenu_ = nullptr;
  std::vector<CaptureRecord> menuRecords_;

  QDialog* renameDialog_ = nullptr;
  QLineEdit* renameField_ = nullptr;
  std::optional<CaptureRecord> renameRecord_;
  QDialog* deleteDialog_ = nullptr;
  QLabel* deleteMessage_ = nullptr;
  std::vector<CaptureRecord> deletion_;
  QDialog* deleteAllDialog_ = nullptr;
  QLabel* deleteAllMessage_ = nullptr;
};

}  // namespace lumacap
