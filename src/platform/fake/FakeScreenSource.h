#pragma once

#include <QPromise>
#include <QScreen>
#include <exception>
#include <functional>
#include <map>
#include <memory>

#include "platform/ReadyFuture.h"
#include "platform/ScreenSource.h"

namespace lumacap {

// A scripted screen-capture service for tests. Display images are crops of
// `desktops` (one full-size image per display id, or a grey one when there is
// none); window images come from `windowImages`.
class FakeScreenSource final : public ScreenSource {
 public:
  bool mayRecord = true;
  bool grantsRequest = false;
  ShareableContent content;
  std::map<uint32_t, QImage> desktops;
  std::map<uint32_t, QImage> windowImages;
  std::exception_ptr contentError;
  std::exception_ptr imageError;
  // Display numbers by screen name; `anyScreenNumber` answers for the others.
  std::map<std::string, uint32_t> screenNumbers;
  std::optional<uint32_t> anyScreenNumber;
  uint32_t mainDisplay = 1;
  // Runs just before an image is taken (to look at what is on screen then).
  std::function<void()> beforeImage;
  // The region overlay may open before the display images are in (KWin).
  bool overlayFirst = false;
  bool overlayMayPrecedePictures() override { return overlayFirst; }
  // Display images are held back until deliverHeldImages() (a desktop still painting them).
  bool holdImages = false;
  void deliverHeldImages();
  size_t heldImages() const { return held_.size(); }

  int contentQueries = 0;
  int requests = 0;
  int synchronizations = 0;
  std::vector<PixelRect> displayReads;

  bool canRecordScreen() override { return mayRecord; }
  QFuture<bool> requestScreenRecording() override;
  QFuture<ShareableContent> shareableContent() override;
  QFuture<QImage> displayImage(const ShareableDisplay& display, const PixelRect& source) override;
  QFuture<QImage> windowImage(const ShareableWindow& window) override;
  std::optional<uint32_t> displayNumber(const QScreen& screen) override;
  uint32_t mainDisplayID() override { return mainDisplay; }
  void synchronize() override { ++synchronizations; }
  QFuture<std::vector<PixelRect>> stillShowing(std::vector<uint32_t> windows) override;
  // The areas stillShowing() answers, and the windows it was asked about.
  std::vector<PixelRect> showingAfterHide;
  std::vector<uint32_t> hiddenWindows;
  bool isCompositing() override { return compositing; }
  bool compositing = false;
  // Set: the desktop's own interface chooses the window and gives this image (null: cancelled).
  std::optional<QImage> chosenByDesktop;
  bool desktopChoosesWindow() override { return chosenByDesktop.has_value(); }
  QFuture<QImage> windowChosenByDesktop() override { return readyFuture(chosenByDesktop.value_or(QImage())); }

 private:
  std::vector<std::pair<std::shared_ptr<QPromise<QImage>>, QImage>> held_;
};

}  // namespace lumacap
