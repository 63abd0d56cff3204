#pragma once

#include <QByteArray>
#include <QFuture>
#include <QImage>
#include <QObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Date.h"
#include "core/SecretDetector.h"
#include "core/TextCover.h"
#include "platform/Workspace.h"

namespace lumacap {

class MarkupModel;

// One capture while the user has it in hand: its image and PNG bytes, name
// and message, where it came from and when, where it is saved, and what
// recognition found in it. One is made for each capture (or record opened
// again) and it is gone once it is discarded or another takes its place, so
// work started for a capture holds a QPointer to it and drops its result
// when that has become null.
class CaptureInHand final : public QObject {
  Q_OBJECT

 public:
  explicit CaptureInHand(QObject* parent = nullptr) : QObject(parent) {}

  QImage image;
  QFuture<QByteArray> png;  // encoded on a worker; valid exactly while `image` is set
  QString filename = QStringLiteral("capture.png");
  QString prompt;
  std::optional<std::string> application;  // the one it was taken from, for the history
  Date date;
  std::optional<std::string> savedID;
  uint32_t displayID = 0;                               // where its card goes
  std::optional<DesktopApplication> returnApplication;  // where the focus goes back to
  // The user picked the destination for this capture: a suggestion no
  // longer replaces it.
  bool destinationChosen = false;
  // With "Redact found secrets before copying": the image reaches the
  // clipboard, the history and the mark-up window only once the search for
  // secrets has ended (and redacted what it found).
  bool clipboardHeld = false;
  bool markupAsked = false;  // the mark-up window was asked for meanwhile

  // A marked-up image; the original is kept in memory (never in the
  // history) until the capture leaves.
  bool markedUp() const { return !original_.isNull(); }
  // Its mark-up blacked something out.
  bool redacted() const { return cover_.redacts(); }
  // The possible secrets recognition found that the image still shows, in
  // the image's pixels.
  const std::vector<SecretFinding>& secrets() const { return secrets_; }
  // The text recognised as the image shows it: what a mark-up redacted
  // reads "[redacted]", what it cropped away is left out.
  const QString& recognizedText() const { return recognizedText_; }

  void setRecognition(std::vector<SecretFinding> findings, std::vector<ReadLine> lines);
  // What a first search found, in the parts of lines it read, before the
  // whole text is read: the secrets show, the recognised text stays empty
  // until setRecognition().
  void setSecretsFound(std::vector<SecretFinding> findings, std::vector<ReadLine> lines);
  // Notes what `markup` blacks out and crops away; the first mark-up keeps
  // the image and PNG it replaces as the original. The caller puts the
  // flattened image in hand.
  void markUp(const MarkupModel& markup);
  // The image before the first mark-up and its PNG; nothing when there was
  // no mark-up. What was blacked out reads as recognised again.
  std::optional<std::pair<QImage, QFuture<QByteArray>>> takeOriginal();

 signals:
  void markedUpChanged();
  void secretsChanged();
  void recognizedTextChanged();

 private:
  void readThroughCover();

  // What recognition found (before any mark-up), what the mark-up hides of
  // it, and what is left seen through that.
  std::vector<SecretFinding> findings_;
  std::vector<ReadLine> readLines_;
  bool textRead_ = false;  // readLines_ are the whole text
  TextCover cover_;
  std::vector<SecretFinding> secrets_;
  QString recognizedText_;
  QImage original_;
  QFuture<QByteArray> originalPng_;
};

}  // namespace lumacap
