#pragma once

#include <QObject>
#include <QString>
#include <vector>

#include "core/ScreenGeometry.h"

namespace lumacap {

class CaptureSlot;
class ClipboardOffer;
class Feedback;
class SettingsManager;

// Keeps what recognition found in the capture in hand from leaking: says
// how many possible secrets it shows, and with "Redact found secrets before
// copying" holds its image back from the clipboard, the history and the
// mark-up window until the search ends, then blacks out what was found.
class SecretsGuard final : public QObject {
  Q_OBJECT

 public:
  SecretsGuard(SettingsManager& settings, CaptureSlot& slot, ClipboardOffer& clipboard, Feedback& feedback,
               QObject* parent = nullptr);

  // Whether a new capture's image waits for the search for secrets.
  bool holdsNewCapture() const;
  // The search has ended on the capture in hand: when its image was held,
  // what was found is blacked out as a mark-up the user can revert, then
  // the clipboard gets the image.
  void searchEnded();
  // "2 possible secrets · Redact" while there are any; empty otherwise.
  QString notice() const;
  // The boxes to black out the possible secrets, with a small margin.
  std::vector<Rect> redactionBoxes() const;
  // Whether the mark-up window may open now: marks drawn before the search
  // ends could not be redacted beneath, so it opens (`markupWanted`) once
  // the search has ended.
  bool markupMayOpen();

 signals:
  void markupWanted();

 private:
  SettingsManager& settings_;
  CaptureSlot& slot_;
  ClipboardOffer& clipboard_;
  Feedback& feedback_;
};

}  // namespace lumacap
