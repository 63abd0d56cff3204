#pragma once

#include <QImage>
#include <QPixmap>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "app/model/MarkupModel.h"
#include "core/ScreenGeometry.h"

class QAbstractButton;
class QButtonGroup;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QToolButton;

namespace lumacap {

class MarkupWindow;

// The image being marked up, at the window's zoom, with its items drawn
// over it at the screen's full density; takes the pointer to draw, select,
// move and resize items.
class MarkupCanvas final : public QWidget {
  enum class Drag { none, drawing, moving, resizing };

 public:
  explicit MarkupCanvas(MarkupWindow& window);

  double zoom() const { return zoom_; }
  // A button is held: the items stay as the drag has them until it ends.
  bool dragging() const { return drag_ != Drag::none; }
  void setZoom(double zoom);
  // Where a point of the widget lies on the image, in its pixels.
  QPointF toImage(QPointF widgetPoint) const;
  QPointF toWidget(QPointF imagePoint) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  void paintCrop(QPainter& painter, const QRectF& imageArea);
  void paintSelection(QPainter& painter);

  MarkupWindow& window_;
  double zoom_ = 1;
  // The image at the zoom and density it is shown at, made once per zoom.
  QPixmap shown_;
  qint64 shownKey_ = 0;
  Drag drag_ = Drag::none;
  size_t dragged_ = 0;
  MarkupHandle handle_ = MarkupHandle::to;
  QPointF last_;
};

// The mark-up window: the capture with a tool bar of tools (each with its
// key), colours, stroke widths, undo and redo, zoom and "Done". Done (Return
// or Ctrl+Return) hands the flattened image and its mark-up to `onApply` and
// closes; Escape closes, asking first when there are edits to lose.
class MarkupWindow final : public QWidget {
  Q_OBJECT

 public:
  explicit MarkupWindow(QWidget* parent = nullptr);
  ~MarkupWindow() override;

  // Starts over on `image` with no items.
  void begin(QImage image);
  // Adds each box (in image pixels) as a redaction, one step of undo each;
  // the redaction tool is then the one chosen.
  void addRedactions(const std::vector<Rect>& boxes);
  // Sizes the window for the image at 100 % when that fits in `area`, at most
  // 80 % of it otherwise (then zoomed to fit), and centres it there.
  void place(const QRect& area);

  const QImage& image() const { return image_; }
  MarkupModel& model() const { return *model_; }
  MarkupKind tool() const { return tool_; }
  void setTool(MarkupKind tool);
  QColor colour() const { return colour_; }
  void setColour(const QColor& colour);
  int weight() const { return weight_; }
  void setWeight(int weight);
  MarkupCanvas& canvas() const { return *canvas_; }
  QPushButton* doneButton() const { return done_; }

  void zoomToFit();
  void zoomToActualSize();
  void apply();
  void undo();
  void redo();
  void deleteSelected();
  // Escape: closes at once without edits, else after the user agrees. A
  // text being typed is kept first, as Escape in it keeps it.
  void closeAsked();

  // Called with the flattened image and its mark-up when the user applies it.
  std::function<void(QImage, const MarkupModel&)> onApply;

  static const std::vector<QColor>& colours();
  // Text typed on the image: an editor at `imagePoint` that adds a text item.
  void editText(QPointF imagePoint);
  void changed();

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* makeToolBar();
  void commitText();
  void renderControls();

  QImage image_;
  std::unique_ptr<MarkupModel> model_;
  MarkupKind tool_ = MarkupKind::arrow;
  QColor colour_;
  int weight_ = 1;
  bool fitting_ = true;

  QScrollArea* scroll_;
  MarkupCanvas* canvas_;
  QButtonGroup* tools_;
  QButtonGroup* colourButtons_;
  QButtonGroup* weights_;
  QToolButton* undo_;
  QToolButton* redo_;
  QPushButton* done_;
  QPointer<QLineEdit> textEditor_;
  QPointF textAt_;
};

}  // namespace lumacap
