#pragma once

#include <QObject>
#include <QPoint>
#include <QPointer>
#include <memory>
#include <vector>

#include "app/model/AppWindows.h"

class QWidget;

namespace lumacap {

class AppModel;
struct ViewContext;
class CaptureManager;
class CaptureReceiptPanel;
class MarkupWindow;
class ScreenshotPreview;

// The windows of a Qt desktop: creates each one on first use, places it
// (centred on the screen under the pointer, the card in the corner of the
// capture's display), keeps it when it is closed, and shows and hides it when
// the model asks. The views it creates observe the model.
class WindowPresenter final : public QObject, public AppWindows {
 public:
  explicit WindowPresenter(CaptureManager& captureManager);
  ~WindowPresenter() override;

  // The model the views observe and the services they use; set once,
  // before the first window is asked for.
  void attach(AppModel& model, ViewContext& context);

  void showQuickCapture(uint32_t displayID) override;
  void hideQuickCapture() override;
  void showPreview() override;
  void hidePreview() override;
  bool previewShown() const override;
  void showMarkup(const std::vector<Rect>& redactions) override;
  void hideMarkup() override;
  void showHistory() override;
  void showSettings() override;
  void showWindowChooser(std::vector<ShareableWindow> windows) override;
  void hideWindowChooser() override;
  void hideForPasting() override;
  HiddenForCapture hideForCapture() override;

  // The windows once they were made (for tests).
  QWidget* quickWindow() const;
  QWidget* previewWindow() const;
  QWidget* historyWindow() const { return historyWindow_.get(); }
  QWidget* preferencesWindow() const { return preferencesWindow_.get(); }
  QWidget* chooserWindow() const { return chooserWindow_.get(); }
  MarkupWindow* markupWindow() const { return markupWindow_.get(); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct HiddenWindow {
    QPointer<QWidget> window;
    QPoint position;
  };
  // The windows a capture took away, and the one of them that had the focus.
  struct Hidden {
    std::vector<HiddenWindow> windows;
    QPointer<QWidget> focused;
  };
  bool restore(Hidden& hidden, Restore options) const;

  AppModel& model() const;

  CaptureManager& captureManager_;
  AppModel* model_ = nullptr;
  ViewContext* context_ = nullptr;
  std::unique_ptr<CaptureReceiptPanel> quickWindow_;
  std::unique_ptr<ScreenshotPreview> previewWindow_;
  std::unique_ptr<QWidget> historyWindow_;
  std::unique_ptr<QWidget> preferencesWindow_;
  std::unique_ptr<QWidget> chooserWindow_;
  std::unique_ptr<MarkupWindow> markupWindow_;
  // What the capture under way took away, while it is away.
  std::weak_ptr<Hidden> hiddenForCapture_;
};

}  // namespace lumacap
