#pragma once

#include <QCoroTask>
#include <QKeySequence>
#include <QTimer>
#include <QWidget>

class QAbstractButton;
class QAction;
class QLabel;
class QMenu;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QToolButton;

namespace lumacap {

class AppModel;
struct ViewContext;
class ImageTile;

// A small busy indicator that turns only while it is shown.
class Spinner final : public QWidget {
 public:
  explicit Spinner(int diameter, QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  QTimer timer_;
  int angle_ = 0;
};

// The preview: the one place where a capture is prepared for an agent. The
// user corrects the name, writes an optional message, picks the destination
// and presses one button. Everything it shows lives in the model; the view
// only keeps the keyboard focus.
class ScreenshotPreview final : public QWidget {
  Q_OBJECT

 public:
  ScreenshotPreview(AppModel& model, ViewContext& context, QWidget* parent = nullptr);

  // Nothing to tell an agent: the clipboard and a blank message.
  bool imageOnly() const;
  QString actionLabel() const;
  // The main action, as the button, Return in the message field and
  // Ctrl+Return anywhere in the window run it.
  void runMainAction();
  // The key that opens the mark-up, as the Mark up button's tooltip names it.
  static QKeySequence markupKey();

  QLineEdit* filenameField() const { return filename_; }
  QPlainTextEdit* messageField() const { return message_; }
  QToolButton* destinationMenu() const { return destination_; }
  QPushButton* mainButton() const { return mainButton_; }
  QLabel* mainButtonLabel() const { return mainLabel_; }
  QLabel* footer() const { return footer_; }
  // "2 possible secrets · Redact", in the footer's place while there are any.
  QToolButton* secretsNotice() const { return secretsNotice_; }
  QMenu* moreMenu() const { return moreMenu_; }
  QToolButton* markupButton() const { return markup_; }
  QToolButton* saveButton() const { return saveButton_; }
  QToolButton* moreButton() const { return more_; }
  QAbstractButton* imageButton() const;
  QAction* revertAction() const { return revert_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  QToolButton* makeMarkupButton();
  QWidget* makeFilenameRow();
  QWidget* makeDestinationRow();
  QPushButton* makeMainButton();
  void renderImage();
  void renderFilename();
  void renderPrompt();
  void renderDestinations();
  void renderAction();
  void renderFooter();
  void renderSecrets();
  QString footerText() const;
  void discardAsked();
  // Copy Text: a text that still shows possible secrets is copied only once
  // the user says so.
  void copyTextAsked();
  void copyText();
  // Revert to original: asked first when that brings back what was redacted.
  void revertAsked();
  void revert();
  void renderTitle();
  // Save As…, then the status line says where the copy went.
  QCoro::Task<> exportAndSay();
  void fitMessageHeight();

  AppModel& model_;
  ViewContext& context_;
  ImageTile* image_;
  QLineEdit* filename_;
  Spinner* naming_;
  QPlainTextEdit* message_;
  QToolButton* destination_;
  QPushButton* mainButton_;
  Spinner* busy_;
  QLabel* mainLabel_;
  QLabel* footer_;
  QToolButton* secretsNotice_;
  QMenu* moreMenu_;
  QToolButton* markup_;
  QToolButton* saveButton_;
  QToolButton* more_;
  QAction* revert_;
  // What the last action on the capture in hand did ("Image copied · …"),
  // until another capture comes into the preview.
  QString notice_;
  bool awaitingNotice_ = false;  // the status the model sets next answers an action of this window
};

}  // namespace lumacap
