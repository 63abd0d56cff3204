#include "app/views/ScreenshotPreview.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTextBlock>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/agents/AgentSessionRegistry.h"
#include "app/model/AppModel.h"
#include "app/model/ViewContext.h"
#include "app/views/PinWindow.h"
#include "app/views/QuickCaptureView.h"
#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr int previewWidth = 368;
constexpr int previewHeight = 420;

bool confirmsPreview(const QKeyEvent& key) {
  return key.key() == Qt::Key_Return || key.key() == Qt::Key_Enter;
}

// A question in a sheet of its own over `parent`, answered later: `act`
// names the button that runs `onAct`; the other one, the default, keeps
// things as they are.
QMessageBox* ask(QWidget* parent, const QString& question, const QString& detail, const QString& act,
                 const QString& keep, std::function<void()> onAct) {
  auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Lumacap"), question,
                              QMessageBox::NoButton, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setInformativeText(detail);
  QPushButton* action = box->addButton(act, QMessageBox::DestructiveRole);
  box->setDefaultButton(box->addButton(keep, QMessageBox::RejectRole));
  QObject::connect(action, &QPushButton::clicked, parent, std::move(onAct));
  box->open();
  return box;
}

QToolButton* iconButton(Symbol symbol, const QWidget& style, QWidget* parent) {
  auto* button = new QToolButton(parent);
  button->setAutoRaise(true);
  button->setIcon(symbolIcon(symbol, look::secondary(style)));
  button->setIconSize(QSize(16, 16));
  return button;
}

}  // namespace

Spinner::Spinner(int diameter, QWidget* parent) : QWidget(parent) {
  setFixedSize(diameter, diameter);
  timer_.setInterval(80);
  connect(&timer_, &QTimer::timeout, this, [this] {
    angle_ = (angle_ + 30) % 360;
    update();
  });
}

void Spinner::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(look::secondary(*this), 1.6, Qt::SolidLine, Qt::RoundCap));
  const QRectF circle = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
  painter.drawArc(circle, -angle_ * 16, 270 * 16);
}

void Spinner::showEvent(QShowEvent*) { timer_.start(); }
void Spinner::hideEvent(QHideEvent*) { timer_.stop(); }

ScreenshotPreview::ScreenshotPreview(AppModel& model, ViewContext& context, QWidget* parent)
    : QWidget(parent), model_(model), context_(context) {
  setFixedSize(previewWidth, previewHeight);

  image_ = new ImageTile(10, 0.04, 0.07, this);
  image_->setFixedHeight(154);
  image_->setAccessibleName(QStringLiteral("Captured screenshot preview"));
  image_->setToolTip(QStringLiteral("Mark up"));
  image_->setCursor(Qt::PointingHandCursor);
  connect(image_, &ImageTile::clicked, &model_, [this] { model_.openMarkup(); });
  auto* imageCorner = new QHBoxLayout(image_);
  imageCorner->setContentsMargins(8, 8, 8, 8);
  imageCorner->addStretch();
  imageCorner->addWidget(makeMarkupButton(), 0, Qt::AlignBottom);

  message_ = new QPlainTextEdit(this);
  message_->setPlaceholderText(QStringLiteral("Add context…"));
  message_->setAccessibleName(QStringLiteral("Optional message for your agent"));
  message_->setFrameShape(QFrame::NoFrame);
  message_->setTabChangesFocus(true);
  message_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  message_->installEventFilter(this);
  QPalette quiet = message_->palette();
  quiet.setColor(QPalette::Base, look::primary(*this, 0.04));
  message_->setPalette(quiet);
  message_->document()->setDocumentMargin(6);
  connect(message_, &QPlainTextEdit::textChanged, this, [this] {
    model_.setPrompt(message_->toPlainText());
    fitMessageHeight();
  });

  footer_ = new QLabel(this);
  footer_->setFont(look::font(*this, 11));
  footer_->setWordWrap(true);
  secretsNotice_ = makeSecretsNotice(model_, *this);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(18, 18, 18, 18);
  layout->setSpacing(14);
  layout->addWidget(image_);
  layout->addWidget(makeFilenameRow());
  layout->addWidget(message_);
  layout->addWidget(makeDestinationRow());
  layout->addWidget(makeMainButton());
  layout->addWidget(footer_);
  layout->addWidget(secretsNotice_);
  layout->addStretch();

  // Ctrl+Shift+X redacts the possible secrets, as the notice does.
  auto* redact = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X), this);
  connect(redact, &QShortcut::activated, &model_, &AppModel::redactSecrets);
  connect(&model_, &AppModel::secretsChanged, this, &ScreenshotPreview::renderSecrets);

  // Ctrl+S saves from anywhere in the window, the message field included.
  auto* save = new QShortcut(QKeySequence::Save, this);
  connect(save, &QShortcut::activated, &model_, [this] { model_.save(); });

  // Ctrl+Return runs the main button from any field; Ctrl+M opens the mark-up
  // (Ctrl+E, the obvious one, ends the line in a text field on Linux desktops).
  for (QKeySequence keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &ScreenshotPreview::runMainAction);
  }
  connect(new QShortcut(markupKey(), this), &QShortcut::activated, &model_, [this] { model_.openMarkup(); });

  // Tab follows the reading order: the image's Mark up, the name, the
  // message, the destination row, the main button, then the notice below it.
  QWidget* const order[] = {markup_,     filename_, message_,    destination_,
                            saveButton_, more_,     mainButton_, secretsNotice_};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(&model_, &AppModel::imageChanged, this, &ScreenshotPreview::renderImage);
  connect(&model_, &AppModel::filenameChanged, this, &ScreenshotPreview::renderFilename);
  connect(&model_, &AppModel::namingChanged, this, &ScreenshotPreview::renderFilename);
  connect(&model_, &AppModel::promptChanged, this, &ScreenshotPreview::renderPrompt);
  connect(&model_, &AppModel::destinationIDChanged, this, &ScreenshotPreview::renderDestinations);
  connect(&context_.registry, &AgentSessionRegistry::destinationsChanged, this,
          &ScreenshotPreview::renderDestinations);
  for (auto signal : {&AppModel::destinationIDChanged, &AppModel::promptChanged, &AppModel::busyChanged,
                      &AppModel::imageChanged}) {
    connect(&model_, signal, this, &ScreenshotPreview::renderAction);
  }
  for (auto signal :
       {&AppModel::errorChanged, &AppModel::savedIDChanged, &AppModel::noteChanged,
        &AppModel::destinationIDChanged, &AppModel::promptChanged, &AppModel::clipboardStateChanged,
        &AppModel::filenameChanged, &AppModel::recordsChanged}) {
    connect(&model_, signal, this, &ScreenshotPreview::renderFooter);
  }
  connect(&model_, &AppModel::statusChanged, this, [this] {
    if (!awaitingNotice_) return;
    awaitingNotice_ = false;
    notice_ = model_.status();
    renderFooter();
  });
  for (auto signal : {&AppModel::imageChanged, &AppModel::savedIDChanged}) {
    connect(&model_, signal, this, [this] {
      notice_.clear();
      renderFooter();
    });
  }
  connect(&model_, &AppModel::filenameChanged, this, &ScreenshotPreview::renderTitle);

  renderImage();
  renderFilename();
  renderPrompt();
  renderDestinations();
  renderAction();
  renderFooter();
  renderSecrets();
  fitMessageHeight();
}

// On the image's corner: the way into the mark-up window.
QToolButton* ScreenshotPreview::makeMarkupButton() {
  markup_ = new QToolButton(image_);
  markup_->setText(QStringLiteral("Mark up"));
  markup_->setToolTip(QStringLiteral("Draw arrows, boxes, text and redactions on the capture (%1)")
                          .arg(markupKey().toString(QKeySequence::NativeText)));
  markup_->setIcon(symbolIcon(Symbol::pencil, Qt::white));
  markup_->setIconSize(QSize(14, 14));
  markup_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  markup_->setFont(look::font(*this, 12, QFont::Medium));
  markup_->setCursor(Qt::PointingHandCursor);
  markup_->setFocusPolicy(Qt::TabFocus);
  markup_->setStyleSheet(
      QStringLiteral("QToolButton { color: white; background: rgba(20, 20, 24, 190); border: none;"
                     " border-radius: 6px; padding: 3px 9px; }"
                     "QToolButton:hover { background: rgba(20, 20, 24, 230); }"
                     "QToolButton:focus { border: 2px solid palette(highlight); }"));
  connect(markup_, &QToolButton::clicked, &model_, [this] { model_.openMarkup(); });
  return markup_;
}

QAbstractButton* ScreenshotPreview::imageButton() const { return image_; }

QWidget* ScreenshotPreview::makeFilenameRow() {
  auto* row = new QWidget(this);
  filename_ = new QLineEdit(row);
  filename_->setPlaceholderText(QStringLiteral("Filename"));
  filename_->setFrame(false);
  filename_->setFont(look::font(*this, 12, QFont::Medium));
  connect(filename_, &QLineEdit::textEdited, &model_, &AppModel::setFilename);
  filename_->installEventFilter(this);
  naming_ = new Spinner(12, row);
  naming_->setToolTip(QStringLiteral("Suggesting a name locally"));
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(filename_, 1);
  layout->addWidget(naming_);
  return row;
}

QWidget* ScreenshotPreview::makeDestinationRow() {
  auto* row = new QWidget(this);
  destination_ = new QToolButton(row);
  destination_->setAutoRaise(true);
  destination_->setPopupMode(QToolButton::InstantPopup);
  destination_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  destination_->setFont(look::font(*this, 11));
  destination_->setIcon(symbolIcon(Symbol::paperclip, look::secondary(*this)));
  destination_->setMenu(new QMenu(destination_));

  auto* save = saveButton_ = iconButton(Symbol::saveToDisk, *this, row);
  save->setToolTip(QStringLiteral("Save to history"));
  save->setAccessibleName(QStringLiteral("Save to history"));
  connect(save, &QToolButton::clicked, &model_, [this] { model_.save(); });

  auto* more = more_ = iconButton(Symbol::ellipsis, *this, row);
  more->setFixedWidth(22);
  more->setPopupMode(QToolButton::InstantPopup);
  more->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
  auto* menu = moreMenu_ = new QMenu(more);
  menu->addAction(QStringLiteral("Save As…"), this, &ScreenshotPreview::exportAndSay);
  menu->addAction(QStringLiteral("Copy Image"), this, [this] {
    awaitingNotice_ = true;
    model_.copyImage();
    awaitingNotice_ = false;
  });
  QAction* copyText = menu->addAction(QStringLiteral("Copy Text"), this, &ScreenshotPreview::copyTextAsked);
  copyText->setEnabled(!model_.recognizedText().isEmpty());
  connect(&model_, &AppModel::recognizedTextChanged, copyText,
          [this, copyText] { copyText->setEnabled(!model_.recognizedText().isEmpty()); });
  revert_ = menu->addAction(QStringLiteral("Revert to original"), this, &ScreenshotPreview::revertAsked);
  revert_->setEnabled(model_.markedUp());
  connect(&model_, &AppModel::markedUpChanged, revert_, [this] { revert_->setEnabled(model_.markedUp()); });
  menu->addAction(QStringLiteral("Pin to Screen"), this,
                  [this] { PinWindow::pin(model_.image(), screen()); });
  menu->addAction(QStringLiteral("Discard"), &model_, &AppModel::discard);
  more->setMenu(menu);

  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(destination_);
  layout->addStretch();
  layout->addWidget(save);
  layout->addWidget(more);
  return row;
}

QPushButton* ScreenshotPreview::makeMainButton() {
  mainButton_ = new QPushButton(this);
  mainButton_->setDefault(true);
  mainButton_->setFocusPolicy(Qt::TabFocus);
  mainButton_->setMinimumHeight(34);
  // The prominent style: the accent colour, quieter while disabled.
  mainButton_->setStyleSheet(
      QStringLiteral("QPushButton { background: palette(highlight); border: none; border-radius: 6px; }"
                     "QPushButton:hover { background: palette(highlight); }"
                     "QPushButton:disabled { background: palette(mid); }"
                     "QPushButton:focus { border: 2px solid palette(window-text); }"
                     "QLabel { color: palette(highlighted-text); }"));
  busy_ = new Spinner(12, mainButton_);
  mainLabel_ = new QLabel(mainButton_);
  mainLabel_->setFont(look::font(*this, 13, QFont::Medium));
  auto* returnKey = new QLabel(mainButton_);
  QColor keyColor = palette().color(QPalette::HighlightedText);
  keyColor.setAlphaF(0.7f);
  returnKey->setPixmap(symbolIcon(Symbol::returnKey, keyColor).pixmap(QSize(14, 14)));
  auto* layout = new QHBoxLayout(mainButton_);
  layout->setContentsMargins(12, 5, 12, 5);
  layout->addWidget(busy_);
  layout->addWidget(mainLabel_);
  layout->addStretch();
  layout->addWidget(returnKey);
  connect(mainButton_, &QPushButton::clicked, this, &ScreenshotPreview::runMainAction);
  return mainButton_;
}

bool ScreenshotPreview::imageOnly() const {
  return model_.destinationID() == AppModel::clipboardID && model_.prompt().trimmed().isEmpty();
}

QString ScreenshotPreview::actionLabel() const {
  if (imageOnly()) return QStringLiteral("Copy image");
  if (model_.destinationID() == AppModel::clipboardID) return QStringLiteral("Copy prompt + path");
  return QStringLiteral("Stage for Claude");
}

void ScreenshotPreview::runMainAction() {
  if (!mainButton_->isEnabled()) return;
  if (imageOnly()) {
    model_.copyImageAndReturn();
  } else {
    model_.send();
  }
}

void ScreenshotPreview::renderImage() { image_->setImage(model_.image()); }

void ScreenshotPreview::renderFilename() {
  if (filename_->text() != model_.filename()) filename_->setText(model_.filename());
  naming_->setVisible(model_.naming());
}

void ScreenshotPreview::renderPrompt() {
  if (message_->toPlainText() != model_.prompt()) message_->setPlainText(model_.prompt());
}

void ScreenshotPreview::renderDestinations() {
  const auto& destinations = context_.registry.destinations();
  QString title = QStringLiteral("Clipboard");
  QMenu* menu = destination_->menu();
  menu->clear();
  menu->setToolTipsVisible(true);  // a session found from its process says so
  for (const AgentDestination& destination : destinations) {
    const QString id = QString::fromStdString(destination.id);
    const QString entry = QString::fromStdString(destination.title);
    QAction* action = menu->addAction(entry, &model_, [this, id] { model_.setDestinationID(id); });
    if (!destination.note.empty()) action->setToolTip(QString::fromStdString(destination.note));
    if (id == model_.destinationID()) {
      title = entry;
      action->setIcon(symbolIcon(Symbol::checkmark, palette().color(QPalette::WindowText)));
    }
  }
  menu->addSeparator();
  menu->addAction(QStringLiteral("Refresh sessions"), &model_, [this] { model_.refreshDestinations(false); });
  menu->addAction(QStringLiteral("Connect Claude Code…"), &model_, &AppModel::showSettings);
  destination_->setText(title);
}

void ScreenshotPreview::renderAction() {
  mainLabel_->setText(actionLabel());
  busy_->setVisible(model_.busy());
  mainButton_->setEnabled(!model_.busy() && !model_.image().isNull());
}

void ScreenshotPreview::renderFooter() {
  renderSecrets();
  if (const auto& error = model_.error()) {
    footer_->setText(*error);
    look::setTextColor(*footer_, look::warning());
    return;
  }
  footer_->setText(footerText());
  look::setTextColor(*footer_, look::secondary(*this));
}

// The notice stands in the footer's place; an error still shows, and so
// does what an action of this window just did.
void ScreenshotPreview::renderSecrets() {
  const QString notice = model_.secretsNotice();
  secretsNotice_->setText(notice);
  secretsNotice_->setVisible(!notice.isEmpty() && !model_.error());
  footer_->setVisible(notice.isEmpty() || model_.error() || !notice_.isEmpty());
}

// What the footer says without an error: what the last action of this window
// did, the name the capture was stored under when it differs from the one
// typed, else what Return will do.
QString ScreenshotPreview::footerText() const {
  if (!notice_.isEmpty()) return notice_;
  if (!model_.note().isEmpty()) return model_.note();
  if (model_.destinationID() != AppModel::clipboardID)
    return QStringLiteral("Return stages it for the session.");
  if (!imageOnly()) return QStringLiteral("Return copies the file’s path and your message.");
  if (model_.renamePending()) return QStringLiteral("Return renames the saved file and copies the image.");
  if (model_.savedID()) return QStringLiteral("Saved locally. Ready to paste.");
  if (model_.clipboardState() != AppModel::ClipboardState::copied)
    return QStringLiteral("Not on the clipboard yet. Return copies it.");
  return QStringLiteral("Already copied. Paste whenever you’re ready.");
}

// Escape drops the capture; what the user typed is not lost without a
// question. A saved capture stays saved: then only the name and the message
// typed since are dropped, and the question says so.
void ScreenshotPreview::discardAsked() {
  const QString stored = model_.storedFilename();
  const bool messageTyped = !model_.prompt().trimmed().isEmpty();
  if (!messageTyped && !model_.renamePending()) {
    model_.discard();
    return;
  }
  const bool saved = !stored.isEmpty();
  auto* question = new QMessageBox(QMessageBox::Question, QStringLiteral("Lumacap"),
                                   saved ? QStringLiteral("Discard your changes?")
                                         : QStringLiteral("Discard this capture and your message?"),
                                   QMessageBox::NoButton, this);
  if (saved) {
    question->setInformativeText(
        QStringLiteral("“%1” stays saved under this name; the name and message typed here are dropped.")
            .arg(stored));
  }
  question->setAttribute(Qt::WA_DeleteOnClose);
  QPushButton* discard = question->addButton(
      saved ? QStringLiteral("Discard Changes") : QStringLiteral("Discard"), QMessageBox::DestructiveRole);
  question->setDefaultButton(question->addButton(QStringLiteral("Keep Editing"), QMessageBox::RejectRole));
  connect(discard, &QPushButton::clicked, &model_, &AppModel::discard);
  question->open();
}

void ScreenshotPreview::copyTextAsked() {
  const size_t secrets = model_.secrets().size();
  if (secrets == 0) return copyText();
  ask(this,
      secrets == 1 ? QStringLiteral("The text holds a possible secret that is not redacted.")
                   : QStringLiteral("The text holds %1 possible secrets that are not redacted.").arg(secrets),
      QStringLiteral("Redact it first (Ctrl+Shift+X) to leave it out of the text you copy."),
      QStringLiteral("Copy Anyway"), QStringLiteral("Cancel"), [this] { copyText(); });
}

void ScreenshotPreview::copyText() {
  awaitingNotice_ = true;
  model_.copyText();
  awaitingNotice_ = false;
}

void ScreenshotPreview::revertAsked() {
  if (!model_.redacted()) return revert();
  ask(this, QStringLiteral("Bring back the original, unredacted capture?"),
      QStringLiteral("What you redacted shows again, and the clipboard then holds the original."),
      QStringLiteral("Revert"), QStringLiteral("Keep Redactions"), [this] { revert(); });
}

// The footer says what the clipboard now holds.
void ScreenshotPreview::revert() {
  awaitingNotice_ = true;
  model_.revertToOriginal();
  awaitingNotice_ = false;
}

QCoro::Task<> ScreenshotPreview::exportAndSay() {
  const QPointer<ScreenshotPreview> self(this);
  awaitingNotice_ = true;
  co_await model_.exportCapture();
  if (self) awaitingNotice_ = false;  // cancelled or failed: nothing to say
}

// The window is named after the capture it shows.
void ScreenshotPreview::renderTitle() {
  const QString name = model_.filename().trimmed();
  setWindowTitle(name.isEmpty() ? QStringLiteral("Lumacap") : name + QStringLiteral(" — Lumacap"));
}

// The message shows two lines, and grows to three as the text needs them.
void ScreenshotPreview::fitMessageHeight() {
  const int lineHeight = message_->fontMetrics().lineSpacing();
  int lines = 0;
  for (QTextBlock block = message_->document()->begin(); block.isValid(); block = block.next()) {
    lines += std::max(1, block.layout() ? block.layout()->lineCount() : 1);
  }
  const int shown = std::clamp(lines, 2, 3);
  const int margins = static_cast<int>(2 * message_->document()->documentMargin()) + 4;
  message_->setFixedHeight(shown * lineHeight + margins);
}

QKeySequence ScreenshotPreview::markupKey() { return QKeySequence(Qt::CTRL | Qt::Key_M); }

bool ScreenshotPreview::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !confirmsPreview(*static_cast<QKeyEvent*>(event))) {
    return QWidget::eventFilter(watched, event);
  }
  if (watched == filename_) {
    // Return in the name only moves on to the message.
    message_->setFocus();
    return true;
  }
  // Return in the message sends; Shift+Return starts a new line.
  if (watched == message_ && !(static_cast<QKeyEvent*>(event)->modifiers() & Qt::ShiftModifier)) {
    runMainAction();
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void ScreenshotPreview::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    discardAsked();
    return;
  }
  if (confirmsPreview(*event)) {
    runMainAction();
    return;
  }
  QWidget::keyPressEvent(event);
}

// Closing the window is Escape: the same question before anything typed is lost.
void ScreenshotPreview::closeEvent(QCloseEvent* event) {
  event->ignore();
  discardAsked();
}

void ScreenshotPreview::showEvent(QShowEvent* event) {
  renderTitle();
  QWidget::showEvent(event);
  message_->setFocus();
}

}  // namespace lumacap
