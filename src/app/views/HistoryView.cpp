#include "app/views/HistoryView.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFuture>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "app/model/AppModel.h"
#include "app/model/ViewContext.h"
#include "app/views/HistoryListModel.h"
#include "app/views/HistoryRowDelegate.h"
#include "app/views/Symbols.h"
#include "app/views/ThumbnailCache.h"
#include "core/CaptureExport.h"
#include "platform/FileBrowser.h"

namespace lumacap {
namespace {

// The button's `label` colour, and its `face` when valid, while it is
// enabled; a disabled button keeps the style's grey.
void setButtonColors(QPushButton& button, const QColor& face, const QColor& label) {
  QPalette palette = button.palette();
  for (auto group : {QPalette::Active, QPalette::Inactive}) {
    if (face.isValid()) palette.setColor(group, QPalette::Button, face);
    palette.setColor(group, QPalette::ButtonText, label);
  }
  button.setPalette(palette);
}

QColor destructiveColor() { return QColor(0xc0, 0x39, 0x2b); }

// A window-modal question in the manner of an alert: its title in bold,
// what it is about, then "Cancel" and the action. Return chooses the action,
// or "Cancel" when the action destroys something.
QDialog* makeAlert(QWidget& parent, const QString& title, QWidget* body, const QString& action,
                   bool destructive, QWidget* returnFocus) {
  auto* dialog = new QDialog(&parent);
  dialog->setWindowTitle(title);
  dialog->setWindowModality(Qt::WindowModal);
  auto* heading = new QLabel(title, dialog);
  heading->setObjectName(QStringLiteral("alertTitle"));
  heading->setFont(look::font(parent, 13, QFont::DemiBold));
  body->setParent(dialog);

  auto* buttons = new QDialogButtonBox(dialog);
  QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
  QPushButton* act = buttons->addButton(
      action, destructive ? QDialogButtonBox::DestructiveRole : QDialogButtonBox::AcceptRole);
  act->setAutoDefault(!destructive);
  cancel->setAutoDefault(destructive);
  (destructive ? cancel : act)->setDefault(true);
  if (destructive) setButtonColors(*act, {}, destructiveColor());
  QObject::connect(act, &QPushButton::clicked, dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);

  auto* layout = new QVBoxLayout(dialog);
  layout->setContentsMargins(20, 18, 20, 16);
  layout->setSpacing(10);
  layout->addWidget(heading);
  layout->addWidget(body);
  layout->addSpacing(6);
  layout->addWidget(buttons);
  dialog->setFixedWidth(380);
  // The keyboard goes back to where it was.
  QObject::connect(dialog, &QDialog::finished, returnFocus, [returnFocus] {
    if (returnFocus->isVisible()) returnFocus->setFocus();
  });
  return dialog;
}

QLabel* message(const QString& text, QWidget& style) {
  auto* label = new QLabel(text);
  label->setWordWrap(true);
  label->setFont(look::font(style, 12));
  return label;
}

// The button of an alert that Return presses.
QPushButton* defaultButton(QDialog& dialog) {
  for (auto* button : dialog.findChildren<QPushButton*>()) {
    if (button->isDefault()) return button;
  }
  return nullptr;
}

}  // namespace

HistoryView::HistoryView(AppModel& model, ViewContext& context, QWidget* parent)
    : QWidget(parent), model_(model), context_(context) {
  thumbnails_ = new ThumbnailCache(
      [this](const QString& filename) {
        // The store the records came from knows where their images are.
        ScreenshotStore* store = model_.store();
        if (!store) return QString();
        CaptureRecord record;
        record.filename = filename.toStdString();
        return QString::fromStdString(store->url(record).string());
      },
      &ThumbnailCache::decode, this);
  rows_ = new HistoryListModel(*thumbnails_, this);

  // Made top to bottom: that is the order of the Tab key.
  QWidget* header = makeHeader();
  pages_ = new QStackedWidget(this);
  pages_->addWidget(makeEmptyState());
  pages_->addWidget(makeList());

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(header);
  layout->addWidget(look::divider(this));
  layout->addWidget(pages_, 1);
  layout->addWidget(look::divider(this));
  layout->addWidget(makeFooter());
  makeRecordMenu();

  connect(&model_, &AppModel::recordsChanged, this, &HistoryView::renderRecords);
  connect(search_, &QLineEdit::textChanged, this, [this](const QString& query) {
    rows_->setSearch(query);
    renderCaption();
  });
  auto* find = new QShortcut(QKeySequence::Find, this);
  connect(find, &QShortcut::activated, this, [this] {
    search_->setFocus();
    search_->selectAll();
  });
  connect(&model_, &AppModel::trayAvailableChanged, this, &HistoryView::renderTrayFallback);
  renderRecords();
  renderTrayFallback();
}

HistoryView::~HistoryView() = default;

QWidget* HistoryView::makeHeader() {
  auto* header = new QWidget(this);
  auto* title = new QLabel(QStringLiteral("Recent captures"), header);
  title->setFont(look::font(*this, 17, QFont::Bold));
  caption_ = new QLabel(header);
  caption_->setFont(look::font(*this, 11));
  look::setTextColor(*caption_, look::secondary(*this));

  auto* capture = new QPushButton(QStringLiteral("Capture"), header);
  const QPalette& palette = this->palette();
  capture->setIcon(symbolIcon(Symbol::plus, palette.color(QPalette::HighlightedText)));
  capture->setFont(look::font(*this, 13, QFont::DemiBold));
  capture->setMinimumHeight(32);
  capture->setMinimumWidth(104);
  setButtonColors(*capture, palette.color(QPalette::Highlight), palette.color(QPalette::HighlightedText));
  connect(capture, &QPushButton::clicked, &model_, [this] { model_.capture(CaptureMode::region); });

  search_ = new QLineEdit(header);
  search_->setPlaceholderText(QStringLiteral("Search names, messages, text in images, destinations"));
  search_->setClearButtonEnabled(true);
  search_->setAccessibleName(QStringLiteral("Search captures"));
  search_->installEventFilter(this);

  auto* titles = new QVBoxLayout;
  titles->setSpacing(3);
  titles->addWidget(title);
  titles->addWidget(caption_);
  auto* top = new QHBoxLayout;
  top->addLayout(titles);
  top->addStretch();
  top->addWidget(capture);
  auto* layout = new QVBoxLayout(header);
  layout->setContentsMargins(22, 22, 22, 16);
  layout->setSpacing(14);
  layout->addLayout(top);
  layout->addWidget(search_);
  return header;
}

QWidget* HistoryView::makeEmptyState() {
  emptyState_ = look::contentUnavailable(
      this, Symbol::viewfinderOutline, QStringLiteral("Ready when you are"),
      QStringLiteral("Capture a region, then save or stage it.\nYour recent screenshots will appear here."));
  return emptyState_;
}

QWidget* HistoryView::makeList() {
  list_ = new QListView(this);
  list_->setModel(rows_);
  delegate_ = new HistoryRowDelegate(*this, list_);
  list_->setItemDelegate(delegate_);
  list_->setUniformItemSizes(true);
  list_->setFrameShape(QFrame::NoFrame);
  list_->setSpacing(2);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list_->setMouseTracking(true);
  list_->viewport()->setAttribute(Qt::WA_Hover);
  list_->installEventFilter(this);
  list_->viewport()->installEventFilter(this);

  connect(list_, &QListView::doubleClicked, this, [this](const QModelIndex& index) {
    if (index.isValid()) open(rows_->record(index));
  });
  connect(delegate_, &HistoryRowDelegate::openClicked, this,
          [this](const QModelIndex& index) { open(rows_->record(index)); });
  connect(delegate_, &HistoryRowDelegate::menuClicked, this,
          [this](const QModelIndex& index, const QRect& button) {
            showRecordMenu(index, list_->viewport()->mapToGlobal(button.bottomLeft() + QPoint(0, 2)));
          });
  return list_;
}

QWidget* HistoryView::makeFooter() {
  auto* footer = new QWidget(this);
  auto* showFolder = new QPushButton(QStringLiteral("Show Folder"), footer);
  connect(showFolder, &QPushButton::clicked, this, &HistoryView::showFolder);
  settings_ = new QPushButton(QStringLiteral("Settings…"), footer);
  connect(settings_, &QPushButton::clicked, &model_, &AppModel::showSettings);
  quit_ = new QPushButton(QStringLiteral("Quit Lumacap"), footer);
  connect(quit_, &QPushButton::clicked, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
  deleteAll_ = new QPushButton(QStringLiteral("Delete All…"), footer);
  setButtonColors(*deleteAll_, {}, destructiveColor());
  connect(deleteAll_, &QPushButton::clicked, this, &HistoryView::askDeleteAll);

  // What the last action did, or why it could not: selectable, so that a
  // folder's path can be copied.
  notice_ = new QLabel(footer);
  notice_->setWordWrap(true);
  notice_->setFont(look::font(*this, 12));
  notice_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  look::setTextColor(*notice_, look::secondary(*this));
  notice_->hide();
  connect(&model_, &AppModel::statusChanged, this, [this] {
    if (isVisible()) setNotice(model_.status());
  });

  auto* buttons = new QHBoxLayout;
  buttons->addWidget(showFolder);
  buttons->addWidget(settings_);
  buttons->addWidget(quit_);
  buttons->addStretch();
  buttons->addWidget(deleteAll_);
  auto* layout = new QVBoxLayout(footer);
  layout->setContentsMargins(16, 12, 16, 16);
  layout->setSpacing(10);
  layout->addWidget(notice_);
  layout->addLayout(buttons);
  return footer;
}

void HistoryView::makeRecordMenu() { recordMenu_ = new QMenu(this); }

void HistoryView::renderRecords() {
  const auto& records = model_.records();
  rows_->setRecords(records);
  renderCaption();
  pages_->setCurrentWidget(records.empty() ? emptyState_ : list_);
  deleteAll_->setEnabled(!records.empty());
}

void HistoryView::renderCaption() {
  const size_t all = rows_->allRecords().size();
  caption_->setText(rows_->search().trimmed().isEmpty()
                        ? QString::number(all) + QStringLiteral(" saved · stored on this computer")
                        : QStringLiteral("%1 of %2 saved match the search").arg(rows_->rowCount()).arg(all));
}

std::vector<CaptureRecord> HistoryView::selectedRecords() const {
  QModelIndexList selected = list_->selectionModel()->selectedIndexes();
  std::sort(selected.begin(), selected.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<CaptureRecord> records;
  for (const QModelIndex& index : selected) records.push_back(rows_->record(index));
  if (records.empty()) {
    if (const CaptureRecord* current = currentRecord()) records.push_back(*current);
  }
  return records;
}

void HistoryView::renderTrayFallback() {
  settings_->setVisible(!model_.trayAvailable());
  quit_->setVisible(!model_.trayAvailable());
}

const CaptureRecord* HistoryView::currentRecord() const {
  const QModelIndex index = list_->currentIndex();
  return index.isValid() ? &rows_->record(index) : nullptr;
}

void HistoryView::open(const CaptureRecord& record) { model_.openRecord(record); }

void HistoryView::showRecordMenu(const QModelIndex& index, const QPoint& globalPosition) {
  if (!index.isValid()) return;
  if (list_->selectionModel()->isSelected(index)) {
    menuRecords_ = selectedRecords();
    list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
  } else {
    menuRecords_ = {rows_->record(index)};
    list_->setCurrentIndex(index);
  }
  const bool single = menuRecords_.size() == 1;
  recordMenu_->clear();
  auto add = [this](const QString& title, auto act) {
    return recordMenu_->addAction(title, this, [this, act] {
      const std::vector<CaptureRecord> records = menuRecords_;
      if (!records.empty()) act(records);
    });
  };
  add(single ? QStringLiteral("Copy Image") : QStringLiteral("Copy Paths"),
      [this](const auto& records) { copy(records); });
  if (single) {
    add(QStringLiteral("Stage Again…"), [this](const auto& records) { open(records.front()); });
    add(QStringLiteral("Show in File Manager"), [this](const auto& records) { reveal(records.front()); });
    add(QStringLiteral("Rename…"), [this](const auto& records) { askRename(records.front()); });
  }
  add(single ? QStringLiteral("Export…") : QStringLiteral("Export %1 Captures…").arg(menuRecords_.size()),
      [this](const auto& records) { askExport(records); });
  recordMenu_->addSeparator();
  add(single ? QStringLiteral("Delete…") : QStringLiteral("Delete %1 Captures…").arg(menuRecords_.size()),
      [this](const auto& records) { askDelete(records); });
  recordMenu_->popup(globalPosition);
}

void HistoryView::copy(const std::vector<CaptureRecord>& records) {
  if (records.size() == 1) {
    model_.copy(records.front());
  } else if (!records.empty()) {
    model_.copyPaths(records);
  }
}

void HistoryView::askExport(const std::vector<CaptureRecord>& records) {
  // Not the static chooser: its nested event loop would stop the GUI thread's own work.
  auto* chooser = new QFileDialog(this, QStringLiteral("Export to Folder"));
  chooser->setAttribute(Qt::WA_DeleteOnClose);
  chooser->setFileMode(QFileDialog::Directory);
  chooser->setOption(QFileDialog::ShowDirsOnly);
  chooser->setAcceptMode(QFileDialog::AcceptOpen);
  chooser->setLabelText(QFileDialog::Accept, QStringLiteral("Export"));
  connect(chooser, &QFileDialog::fileSelected, this,
          [this, records](const QString& folder) { exportTo(records, folder.toStdString()); });
  chooser->open();
}

void HistoryView::exportTo(const std::vector<CaptureRecord>& records, const std::filesystem::path& folder) {
  ScreenshotStore* store = model_.store();
  if (!store || records.empty()) return;
  std::vector<std::filesystem::path> images;
  for (const CaptureRecord& record : records) images.push_back(store->url(record));
  QtConcurrent::run([images, folder] {
    return exportCaptures(images, folder);
  }).then(this, [this, count = images.size(), folder](const ExportOutcome& outcome) {
    const QString where = QString::fromStdString(folder.string());
    setNotice(outcome.failure ? QStringLiteral("Exported %1 of %2 to %3; then: %4")
                                    .arg(outcome.exported)
                                    .arg(count)
                                    .arg(where, QString::fromStdString(*outcome.failure))
                              : QStringLiteral("Exported %1 to %2")
                                    .arg(count == 1 ? QStringLiteral("1 capture")
                                                    : QStringLiteral("%1 captures").arg(count),
                                         where));
  });
}

void HistoryView::reveal(const CaptureRecord& record) {
  ScreenshotStore* store = model_.store();
  if (!store) return;
  const std::filesystem::path file = store->url(record);
  context_.fileBrowser.revealFile(file, noticeUnlessShown(file.parent_path()));
}

void HistoryView::showFolder() {
  const std::filesystem::path folder = ScreenshotStore::defaultRoot() / "Captures";
  context_.fileBrowser.openFolder(folder, noticeUnlessShown(folder));
}

FileBrowser::Outcome HistoryView::noticeUnlessShown(const std::filesystem::path& folder) {
  return [self = QPointer<HistoryView>(this), folder](bool shown) {
    if (self && !shown) self->setNotice(QString::fromStdString(noFileManagerMessage(folder)));
  };
}

void HistoryView::setNotice(const QString& notice) {
  notice_->setText(notice);
  notice_->setVisible(!notice.isEmpty());
}

void HistoryView::askRename(const CaptureRecord& record) {
  if (!renameDialog_) {
    renameField_ = new QLineEdit;
    renameField_->setPlaceholderText(QStringLiteral("Filename"));
    renameDialog_ = makeAlert(*this, QStringLiteral("Rename capture"), renameField_, QStringLiteral("Rename"),
                              false, list_);
    connect(renameDialog_, &QDialog::finished, this, [this](int result) {
      if (result == QDialog::Accepted && renameRecord_) model_.rename(*renameRecord_, renameField_->text());
      renameRecord_.reset();
    });
  }
  renameRecord_ = record;
  const QString name = QString::fromStdString(record.filename);
  renameField_->setText(name);
  // The name without ".png" is selected, ready to be typed over.
  renameField_->setSelection(
      0, name.endsWith(QStringLiteral(".png"), Qt::CaseInsensitive) ? name.size() - 4 : name.size());
  renameDialog_->open();
  renameField_->setFocus();
}

void HistoryView::askDelete(const std::vector<CaptureRecord>& records) {
  if (records.empty()) return;
  if (!deleteDialog_) {
    deleteMessage_ = message({}, *this);
    deleteDialog_ = makeAlert(*this, {}, deleteMessage_, QStringLiteral("Delete"), true, list_);
    connect(deleteDialog_, &QDialog::finished, this, [this](int result) {
      if (result == QDialog::Accepted && !deletion_.empty()) model_.remove(deletion_);
      deletion_.clear();
    });
  }
  deletion_ = records;
  const QString title = records.size() == 1 ? QStringLiteral("Delete this capture?")
                                            : QStringLiteral("Delete %1 captures?").arg(records.size());
  deleteDialog_->setWindowTitle(title);
  deleteDialog_->findChild<QLabel*>(QStringLiteral("alertTitle"))->setText(title);
  deleteMessage_->setText(
      records.size() == 1
          ? QStringLiteral("“") + QString::fromStdString(records.front().filename) +
                QStringLiteral("” and its history entry will be permanently removed.")
          : QStringLiteral("These %1 captures and their history entries will be permanently removed; if one "
                           "cannot be, none is.")
                .arg(records.size()));
  deleteDialog_->open();
  defaultButton(*deleteDialog_)->setFocus();
}

void HistoryView::askDeleteAll() {
  if (!deleteAllDialog_) {
    deleteAllMessage_ = message({}, *this);
    deleteAllDialog_ = makeAlert(*this, QStringLiteral("Delete all saved captures?"), deleteAllMessage_,
                                 QStringLiteral("Delete All"), true, list_);
    connect(deleteAllDialog_, &QDialog::finished, this, [this](int result) {
      if (result == QDialog::Accepted) model_.deleteAll();
    });
  }
  const size_t count = model_.records().size();
  deleteAllMessage_->setText(
      QStringLiteral("This permanently deletes %1 and the history. Exported copies and "
                     "the clipboard are separate.")
          .arg(count == 1 ? QStringLiteral("“") + QString::fromStdString(model_.records().front().filename) +
                                QStringLiteral("”")
                          : QStringLiteral("all %1 saved captures").arg(count)));
  deleteAllDialog_->open();
  defaultButton(*deleteAllDialog_)->setFocus();
}

bool HistoryView::eventFilter(QObject* watched, QEvent* event) {
  if (watched == list_ && event->type() == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (const CaptureRecord* record = currentRecord()) open(*record);
      return true;
    }
    // Delete asks about the selected rows, as their menu's "Delete…" does.
    if (key == Qt::Key_Delete) {
      askDelete(selectedRecords());
      return true;
    }
    if (static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
      copy(selectedRecords());
      return true;
    }
    // Typing in the list searches, as in a file manager.
    const auto* typed = static_cast<QKeyEvent*>(event);
    if (!typed->text().isEmpty() && typed->text().at(0).isPrint() &&
        !(typed->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
      search_->setFocus();
      search_->insert(typed->text());
      return true;
    }
  }
  if (watched == search_ && event->type() == QEvent::KeyPress) {
    // Down goes to the rows found; Escape clears a search before it closes the window.
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Down && rows_->rowCount() > 0) {
      list_->setFocus();
      list_->setCurrentIndex(rows_->index(0));  // the first found, selected
      return true;
    }
    if (key == Qt::Key_Escape && !search_->text().isEmpty()) {
      search_->clear();
      return true;
    }
  }
  if (event->type() == QEvent::ContextMenu && (watched == list_ || watched == list_->viewport())) {
    // A right click opens the menu of the row under the pointer; the menu key
    // that of the selected row, under its "…" button.
    const auto* request = static_cast<QContextMenuEvent*>(event);
    if (request->reason() == QContextMenuEvent::Mouse) {
      const QModelIndex index = list_->indexAt(list_->viewport()->mapFromGlobal(request->globalPos()));
      showRecordMenu(index, request->globalPos());
    } else if (const QModelIndex index = list_->currentIndex(); index.isValid()) {
      list_->scrollTo(index);
      const QRect button = delegate_->menuButtonRect(list_->visualRect(index));
      showRecordMenu(index, list_->viewport()->mapToGlobal(button.bottomLeft() + QPoint(0, 2)));
    }
    return true;
  }
  if (watched == list_->viewport() && event->type() == QEvent::MouseMove) {
    // The row under the pointer shows which of its buttons is pointed at.
    const QPoint position = static_cast<QMouseEvent*>(event)->position().toPoint();
    const QModelIndex index = list_->indexAt(position);
    if (index.isValid()) list_->viewport()->update(list_->visualRect(index));
  }
  return QWidget::eventFilter(watched, event);
}

// Wide enough for a row's three lines, tall enough for about twelve rows.
QSize HistoryView::sizeHint() const {
  const int rowHeight = delegate_->sizeHint(QStyleOptionViewItem(), QModelIndex()).height();
  const int rows = shownRows * (rowHeight + 2 * list_->spacing()) + 2 * list_->frameWidth();
  int chrome = 0;
  for (int i = 0; i < layout()->count(); ++i) {
    QWidget* part = layout()->itemAt(i)->widget();
    if (part && part != pages_) chrome += part->sizeHint().height();
  }
  return {720, chrome + rows};
}

void HistoryView::showEvent(QShowEvent* event) {
  if (!event->spontaneous()) setNotice({});
  QWidget::showEvent(event);
  if (rows_->rowCount() == 0) return;
  if (!list_->currentIndex().isValid()) list_->setCurrentIndex(rows_->index(0));
  list_->setFocus();
}

}  // namespace lumacap
