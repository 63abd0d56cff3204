#include "app/views/NotificationCard.h"

#include <QFutureWatcher>

#include "app/model/AppModel.h"
#include "app/views/QuickCaptureView.h"
#include "platform/linux/DesktopNotifications.h"

namespace lumacap {
namespace {

constexpr auto editKey = "edit";
constexpr auto saveKey = "save";
constexpr auto redactKey = "redact";

}  // namespace

NotificationCard::NotificationCard(AppModel& model, std::unique_ptr<DesktopNotifications> notifications)
    : model_(model), notifications_(std::move(notifications)) {
  connect(notifications_.get(), &DesktopNotifications::actionInvoked, this, &NotificationCard::invoked);
  connect(notifications_.get(), &DesktopNotifications::closed, this, [this](uint32_t id) {
    if (id != id_ || id == 0) return;
    id_ = 0;
    showing_ = false;
  });
  for (auto signal : {&AppModel::savedIDChanged, &AppModel::errorChanged, &AppModel::pasteHintChanged,
                      &AppModel::clipboardStateChanged, &AppModel::secretsChanged}) {
    connect(&model_, signal, this, [this] {
      if (shown()) notify();
    });
  }
}

NotificationCard::~NotificationCard() { hide(); }

void NotificationCard::show(QScreen*) { notify(); }

void NotificationCard::hide() {
  showing_ = false;
  ++request_;
  notifications_->close(std::exchange(id_, 0));
}

// The server keeps it for the card's time; the model's own dismissal closes
// it too, as the server may not honour the timeout. Possible secrets come
// first (a banner may show only the first line), with a Redact action.
void NotificationCard::notify() {
  const QString secrets = model_.error() ? QString() : model_.secretsNotice();
  const QString hint = QuickCaptureView::hintText(model_);
  DesktopNotification notification{
      .summary = QuickCaptureView::title(model_),
      .body = secrets.isEmpty() ? hint : secrets + QLatin1Char('\n') + hint,
      .image = model_.image(),
      .actions = {{editKey, QStringLiteral("Edit")}},
      .timeout = std::chrono::seconds(7),
      .replaces = id_,
  };
  if (!model_.savedID()) notification.actions.emplace_back(saveKey, QStringLiteral("Save"));
  if (!secrets.isEmpty()) notification.actions.emplace_back(redactKey, QStringLiteral("Redact"));
  showing_ = true;
  replacing_ = id_;
  const uint64_t request = ++request_;
  // The server's answer is not waited for: it comes back here.
  auto* answer = new QFutureWatcher<uint32_t>(this);
  connect(answer, &QFutureWatcher<uint32_t>::finished, this, [this, answer, request] {
    answer->deleteLater();
    const uint32_t id = answer->future().isValid() && answer->future().resultCount() ? answer->result() : 0;
    if (request == request_) {
      id_ = id;
    } else if (id != replacing_ && id != id_) {
      notifications_->close(id);
    }
  });
  answer->setFuture(notifications_->notify(notification));
}

void NotificationCard::invoked(uint32_t id, const QString& key) {
  if (id != id_ || id == 0) return;
  if (key == editKey) {
    model_.showPreview();
  } else if (key == saveKey) {
    model_.save();
  } else if (key == redactKey) {
    model_.redactSecrets();
  }
}

}  // namespace lumacap
