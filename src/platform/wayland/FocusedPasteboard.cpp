#include "platform/wayland/FocusedPasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRasterWindow>

#include "platform/ClipboardClaim.h"
#include "platform/ReadyFuture.h"

namespace lumacap {
namespace {

constexpr auto focusedPngType = "image/png";

QByteArray resultOf(const QFuture<QByteArray>& future) {
  return future.resultCount() > 0 ? future.result() : QByteArray();
}

}  // namespace

// The offer made from the overlay's input handler: image/png, whose bytes
// arrive with the capture a moment later.
class FocusedPasteboard::PendingImage final : public QMimeData {
 public:
  PendingImage() = default;
  ~PendingImage() override { fulfil({}); }

  void fulfil(QFuture<QByteArray> png) {
    if (fulfilled_) return;
    fulfilled_ = true;
    png_ = std::move(png);
  }

  QStringList formats() const override { return {focusedPngType}; }
  bool hasFormat(const QString& type) const override { return type == focusedPngType; }

 protected:
  QVariant retrieveData(const QString& type, QMetaType) const override {
    // A paste in the moment between the release and the capture being in
    // hand (or while a capture waits for its secrets to be redacted) gets
    // nothing: the capture arrives on this thread, which does not wait here.
    // The next paste gets the image.
    if (type != focusedPngType || !fulfilled_) return {};
    png_.waitForFinished();  // our own encoder, a worker's moment
    return resultOf(png_);
  }

 private:
  mutable QFuture<QByteArray> png_;
  bool fulfilled_ = false;
};

namespace {

// An image whose PNG is encoded elsewhere, handed out when a client asks.
class EncodedImage final : public QMimeData {
 public:
  explicit EncodedImage(QFuture<QByteArray> png) : png_(std::move(png)) {}
  QStringList formats() const override { return {focusedPngType}; }
  bool hasFormat(const QString& type) const override { return type == focusedPngType; }

 protected:
  QVariant retrieveData(const QString& type, QMetaType) const override {
    if (type != focusedPngType) return {};
    png_.waitForFinished();
    return resultOf(png_);
  }

 private:
  mutable QFuture<QByteArray> png_;
};

// The small frameless window that presents a lent activation token: it asks
// for the focus once it is shown (the compositor activates only a mapped
// window).
class FocusBorrowingWindow final : public QRasterWindow {
 public:
  FocusBorrowingWindow() {
    setFlags(Qt::Window | Qt::FramelessWindowHint);
    setTitle(QStringLiteral("Lumacap"));
    resize(1, 1);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter(this).fillRect(QRect(0, 0, width(), height()), Qt::black);
  }
  void exposeEvent(QExposeEvent* event) override {
    QRasterWindow::exposeEvent(event);
    if (!isExposed() || asked_) return;
    asked_ = true;
    requestActivate();  // Qt's Wayland window presents $XDG_ACTIVATION_TOKEN and clears it
  }

 private:
  bool asked_ = false;
};

}  // namespace

FocusedPasteboard::FocusedPasteboard(std::chrono::milliseconds confirmation) : confirmation_(confirmation) {
  deadline_.setSingleShot(true);
  connect(&deadline_, &QTimer::timeout, this, [this] { answer(offer_.confirmed); });
  connect(QGuiApplication::clipboard(), &QClipboard::changed, this, [this](QClipboard::Mode mode) {
    if (mode == QClipboard::Clipboard) clipboardChanged();
  });
  connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &FocusedPasteboard::focusChanged);
  setClipboardClaimant([this] { claim(); });
}

FocusedPasteboard::~FocusedPasteboard() {
  setClipboardClaimant({});
  answer(false);
}

void FocusedPasteboard::claim() {
  auto* pending = new PendingImage;
  publish(pending);
  claimed_ = pending;
}

void FocusedPasteboard::setText(const std::string& text) {
  // The overlay's claim still waiting for its image already gives nothing
  // to a paste: an empty text (a capture held back for the search for
  // secrets) keeps it, so that the image can take the selection later.
  if (text.empty() && claimed_ && offer_.data == claimed_.data()) return;
  if (!QGuiApplication::focusWindow()) return;  // it would be dropped
  auto* data = new QMimeData;
  data->setText(QString::fromStdString(text));
  publish(data);
}

QFuture<bool> FocusedPasteboard::setImage(const QImage&, QFuture<QByteArray> png) {
  answer(false);  // an earlier write still waiting is superseded
  if (claimed_ && offer_.data == claimed_.data()) {
    // The overlay claimed the selection for this capture.
    std::exchange(claimed_, nullptr)->fulfil(std::move(png));
  } else if (QGuiApplication::focusWindow()) {
    publish(new EncodedImage(std::move(png)));
  } else if (!borrowFocus(std::move(png))) {
    return readyFuture(false);  // no focus, no input: the compositor would drop it
  }
  if (!offer_.data && !borrowedFor_) return readyFuture(false);
  QPromise<bool>& promise = offer_.answer.emplace();
  promise.start();
  QFuture<bool> future = promise.future();
  if (borrowedFor_) {
    deadline_.start(2 * confirmation_);  // the window's mapping and activation, then the offer's own
  } else if (offer_.confirmed) {
    answer(true);
  } else if (!deadline_.isActive()) {
    deadline_.start(confirmation_);
  }
  return future;
}

bool FocusedPasteboard::borrowFocus(QFuture<QByteArray> png) {
  if (qEnvironmentVariable("XDG_ACTIVATION_TOKEN").isEmpty()) return false;
  borrowedFor_ = std::move(png);
  borrower_ = std::make_unique<FocusBorrowingWindow>();
  borrower_->show();
  return true;
}

void FocusedPasteboard::focusChanged(QWindow* window) {
  if (!borrower_ || window != borrower_.get() || !borrowedFor_) return;
  publish(new EncodedImage(*std::exchange(borrowedFor_, std::nullopt)));
}

void FocusedPasteboard::publish(QMimeData* data) {
  offer_.confirmed = false;
  offer_.data = data;
  settingOurs_ = true;
  QGuiApplication::clipboard()->setMimeData(data, QClipboard::Clipboard);
  settingOurs_ = false;
  deadline_.start(confirmation_);
}

// Qt reports our own write at once, and the compositor's announcement of the
// selection (ours, or another client's that replaced it) when it comes.
void FocusedPasteboard::clipboardChanged() {
  if (settingOurs_ || !offer_.data) return;
  const QClipboard* clipboard = QGuiApplication::clipboard();
  const bool ours = clipboard->ownsClipboard() && clipboard->mimeData(QClipboard::Clipboard) == offer_.data;
  if (!ours) {
    offer_.data = nullptr;
    answer(false);
    return;
  }
  offer_.confirmed = true;
  answer(true);
}

void FocusedPasteboard::answer(bool held) {
  // The borrowed focus goes back as soon as the offer is settled either way.
  borrowedFor_.reset();
  if (borrower_) borrower_.release()->deleteLater();
  if (!offer_.answer) return;
  deadline_.stop();
  offer_.answer->addResult(held);
  offer_.answer->finish();
  offer_.answer.reset();
}

}  // namespace lumacap
