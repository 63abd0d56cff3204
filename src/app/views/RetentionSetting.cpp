#include "app/views/RetentionSetting.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <exception>

#include "app/model/AppModel.h"
#include "app/model/SettingsManager.h"

namespace lumacap {

RetentionSetting::RetentionSetting(AppModel& model, SettingsManager& settings, QWidget* parent)
    : QWidget(parent), model_(model), settings_(settings) {
  auto* label = new QLabel(QStringLiteral("Keep captures:"), this);
  kind_ = new QComboBox(this);
  kind_->setAccessibleName(QStringLiteral("Keep captures"));
  kind_->addItem(QStringLiteral("All"), static_cast<int>(Retention::Kind::keepAll));
  kind_->addItem(QStringLiteral("Of the last … days"), static_cast<int>(Retention::Kind::days));
  kind_->addItem(QStringLiteral("The newest …"), static_cast<int>(Retention::Kind::captures));
  count_ = new QSpinBox(this);
  count_->setAccessibleName(QStringLiteral("How many"));
  count_->setRange(1, Retention::maximumCount);
  count_->setKeyboardTracking(false);
  label->setBuddy(kind_);

  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(label);
  layout->addWidget(kind_);
  layout->addWidget(count_);
  layout->addStretch();

  connect(kind_, &QComboBox::activated, this, [this] {
    // A month, or five hundred captures, to begin with.
    const QSignalBlocker block(count_);
    count_->setValue(chosen().kind == Retention::Kind::days ? 30 : 500);
    choose();
  });
  connect(count_, &QSpinBox::valueChanged, this, &RetentionSetting::choose);
  connect(&settings_, &SettingsManager::retentionChanged, this, &RetentionSetting::render);
  render();
}

void RetentionSetting::render() {
  const Retention retention = settings_.retention();
  const QSignalBlocker blockKind(kind_), blockCount(count_);
  kind_->setCurrentIndex(kind_->findData(static_cast<int>(retention.kind)));
  count_->setVisible(retention.kind != Retention::Kind::keepAll);
  count_->setSuffix(retention.kind == Retention::Kind::days ? QStringLiteral(" days")
                                                            : QStringLiteral(" captures"));
  if (retention.kind != Retention::Kind::keepAll) count_->setValue(retention.count);
}

Retention RetentionSetting::chosen() const {
  const auto kind = static_cast<Retention::Kind>(kind_->currentData().toInt());
  if (kind == Retention::Kind::keepAll) return {};
  return {kind, count_->value()};
}

void RetentionSetting::choose() {
  const Retention retention = chosen();
  if (retention == settings_.retention()) return;
  const size_t removed = ScreenshotStore::expired(model_.records(), retention, Date::now()).size();
  if (removed == 0) return store(retention);
  delete confirmation_;
  confirmation_ = new QMessageBox(QMessageBox::Warning, QStringLiteral("Remove older captures?"),
                                  QStringLiteral("This removes %1 now, with %2 history entries. Later "
                                                 "captures are removed as they grow old.")
                                      .arg(removed == 1 ? QStringLiteral("1 saved capture")
                                                        : QStringLiteral("%1 saved captures").arg(removed),
                                           removed == 1 ? QStringLiteral("its") : QStringLiteral("their")),
                                  QMessageBox::Cancel, window());
  confirmation_->setWindowModality(Qt::WindowModal);
  QPushButton* remove = confirmation_->addButton(QStringLiteral("Remove"), QMessageBox::DestructiveRole);
  confirmation_->setDefaultButton(QMessageBox::Cancel);
  connect(confirmation_, &QMessageBox::finished, this, [this, retention, remove] {
    const bool accepted = confirmation_->clickedButton() == remove;
    confirmation_->deleteLater();
    confirmation_ = nullptr;
    if (accepted) return store(retention);
    render();
  });
  confirmation_->open();
}

void RetentionSetting::store(const Retention& retention) {
  try {
    settings_.setRetention(retention);
  } catch (const std::exception& failure) {
    emit failed(QString::fromUtf8(failure.what()));
  }
  render();
}

}  // namespace lumacap
