#include "app/views/CaptureKeysPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/hotkey/CaptureKeys.h"
#include "app/model/DelayedCapture.h"
#include "app/model/SettingsManager.h"
#include "app/views/Symbols.h"

namespace lumacap {

CaptureKeysPanel::CaptureKeysPanel(CaptureKeys* keys, SettingsManager& settings, QWidget* parent)
    : QWidget(parent), keys_(keys) {
  // Side by side, a label over each field: Settings stays short enough for small screens.
  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(0, 4, 0, 0);
  grid->setVerticalSpacing(2);
  int column = 0;
  for (CaptureMode mode : CaptureKeys::modes) {
    auto* label = new QLabel(QString::fromStdString(CaptureKeys::title(mode)), this);
    label->setFont(look::font(*this, 11));
    auto* field = new QLineEdit(this);
    field->setAccessibleName(label->text() + QStringLiteral(" key"));
    field->setPlaceholderText(QStringLiteral("None, or Ctrl+Alt+%1").arg(column + 3));
    field->setEnabled(keys_ && keys_->available());
    label->setBuddy(field);
    fields_[mode] = field;
    connect(field, &QLineEdit::editingFinished, this, [this, mode] { apply(mode); });
    grid->addWidget(label, 0, column);
    grid->addWidget(field, 1, column++);
    render(mode);
  }
  note_ = new QLabel(this);
  note_->setWordWrap(true);
  note_->setFont(look::font(*this, 11));
  look::setTextColor(*note_, look::secondary(*this));
  if (keys_ && !keys_->available()) {
    QString commands;
    for (CaptureMode mode : CaptureKeys::modes)
      commands += QStringLiteral(" lumacap --action=") + QString::fromStdString(CaptureKeys::action(mode));
    note_->setText(QStringLiteral("On this desktop Lumacap holds only the region key. Bind these commands in "
                                  "the desktop's keyboard settings instead:") +
                   commands);
  }
  note_->setVisible(!note_->text().isEmpty());
  grid->addWidget(note_, 2, 0, 1, column);

  auto* delay = new QComboBox(this);
  delay->setAccessibleName(QStringLiteral("Delay"));
  for (int seconds : DelayedCapture::choices)
    delay->addItem(QStringLiteral("%1 seconds").arg(seconds), seconds);
  delay->setCurrentIndex(delay->findData(settings.captureDelay()));
  connect(delay, &QComboBox::activated, this, [this, delay, &settings] {
    try {
      settings.setCaptureDelay(delay->currentData().toInt());
    } catch (const std::exception& failure) {
      note_->setText(QString::fromUtf8(failure.what()));
      note_->show();
    }
  });
  auto* delayLabel = new QLabel(QStringLiteral("Capture After a Delay waits"), this);
  delayLabel->setBuddy(delay);
  grid->addWidget(delayLabel, 3, 0);
  grid->addWidget(delay, 3, 1);
}

void CaptureKeysPanel::render(CaptureMode mode) {
  const std::optional<Shortcut> key = keys_ ? keys_->registered(mode) : std::nullopt;
  fields_[mode]->setText(key ? QString::fromStdString(key->label()) : QString());
}

void CaptureKeysPanel::apply(CaptureMode mode) {
  if (!keys_) return;
  const QString typed = fields_[mode]->text().trimmed();
  std::optional<Shortcut> shortcut;
  QString refusal;
  if (!typed.isEmpty()) {
    shortcut = Shortcut::fromLabel(typed.toStdString());
    if (!shortcut)
      refusal = QStringLiteral(
                    "“%1” is not a key Lumacap offers: Ctrl, Alt, Shift or Super with 0–9, S, D, F "
                    "or G, such as Ctrl+Alt+3.")
                    .arg(typed);
  }
  if (refusal.isEmpty() && shortcut != keys_->registered(mode)) {
    try {
      keys_->set(mode, shortcut);
    } catch (const std::exception& failure) {
      refusal = QString::fromUtf8(failure.what());
    }
  }
  note_->setText(refusal);
  note_->setVisible(!refusal.isEmpty());
  if (refusal.isEmpty()) render(mode);
}

}  // namespace lumacap
