#pragma once

#include <QAbstractButton>
#include <QImage>
#include <QWidget>

class QLabel;
class QToolButton;

namespace lumacap {

class AppModel;

// A button that shows a capture scaled to fit, on a quiet rounded tile
// (filled and outlined with the text colour at the given opacities).
class ImageTile final : public QAbstractButton {
 public:
  ImageTile(int cornerRadius, double fill, double outline, QWidget* parent = nullptr);
  void setImage(const QImage& image);
  const QImage& image() const { return image_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage image_;
  int cornerRadius_;
  double fill_;
  double outline_;
};

// "2 possible secrets · Redact": a flat button in the warning colour that
// opens the mark-up window with the secrets redacted. Hidden while there are
// none; the view that holds it shows and words it.
QToolButton* makeSecretsNotice(AppModel& model, const QWidget& style);

// The card shown after each capture: the thumbnail, whether the capture is
// copied or saved, how to paste it, and buttons to edit, save, pin or dismiss it.
// Everything it shows comes from the model.
class QuickCaptureView final : public QWidget {
  Q_OBJECT

 public:
  // `rounded`: draw rounded, translucent corners (only with a compositor).
  QuickCaptureView(AppModel& model, bool rounded, QWidget* parent = nullptr);

  QLabel* header() const { return header_; }
  QLabel* hint() const { return hint_; }
  QAbstractButton* thumbnailButton() const { return thumbnail_; }
  QToolButton* dismissButton() const { return dismiss_; }
  QToolButton* editButton() const { return edit_; }
  QToolButton* saveButton() const { return save_; }
  QToolButton* pinButton() const { return pin_; }
  // Under the hint while the capture may hold secrets.
  QToolButton* secretsNotice() const { return secretsNotice_; }

  // What the card says: its title (the file name once saved), and the
  // error or the paste hint below it.
  static QString title(const AppModel& model);
  static QString hintText(const AppModel& model);
  // Clicks the card's button at `position` (a click on a surface that is not
  // a Qt window); false when there is none there, or it is disabled.
  bool clickAt(QPoint position);

  // `text` as it fits in `lines` word-wrapped lines of `width` pixels: whole,
  // else without whole phrases (between " · ") from the one before the last
  // backwards, so that the first and the last (the key to press) show, else
  // without its widest words (a path in an error; its cause stays); "…" where
  // text was left out. No word is ever cut.
  static QString fitted(const QString& text, const QFontMetrics& metrics, int width, int lines);

 signals:
  // The card shows the model's state anew (a surface that only shows its
  // pixels draws them again).
  void rendered();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  void render();

  AppModel& model_;
  bool rounded_;
  ImageTile* thumbnail_;
  QLabel* headerIcon_;
  QLabel* header_;
  QLabel* hint_;
  QToolButton* dismiss_;
  QToolButton* edit_;
  QToolButton* save_;
  QToolButton* pin_;
  QToolButton* secretsNotice_;
};

// The floating window of the card: always on top, never focused, so that the
// user can paste at once into the application that keeps the focus.
class CaptureReceiptPanel final : public QWidget {
 public:
  CaptureReceiptPanel(AppModel& model, bool translucent);
  QuickCaptureView& view() const { return *view_; }

 private:
  QuickCaptureView* view_;
};

}  // namespace lumacap
