#include "app/views/CaptureKeysPanel.h"

#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

#include "app/hotkey/CaptureKeys.h"
#include "app/hotkey/DesktopHotKey.h"
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
  note_->hide();
  grid->addWidget(note_, 3, 0, 1, column);
  mechanism_ = new QLabel(this);
  mechanism_->setWordWrap(true);
  mechanism_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  mechanism_->setFont(look::font(*this, 11));
  look::setTextColor(*mechanism_, look::secondary(*this));
  grid->addWidget(mechanism_, 2, 0, 1, column);
  renderMechanism();
  if (const DesktopHotKey* desktop = keys_ ? keys_->desktop() : nullptr)
    connect(desktop, &DesktopHotKey::changed, this, &CaptureKeysPanel::renderMechanism);

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
  grid->addWidget(delayLabel, 4, 0);
  grid->addWidget(delay, 4, 1);
}

void CaptureKeysPanel::renderMechanism() {
  const DesktopHotKey* desktop = keys_ ? keys_->desktop() : nullptr;
  const std::optional<QString> text = desktop ? desktop->captureKeysText() : std::nullopt;
  mechanism_->setText(text.value_or(QString()));
  mechanism_->setVisible(text.has_value());
}

void CaptureKeysPanel::render(CaptureMode mode) {
  const std::optional<Shortcut> key = keys_ ? keys_->key(mode) : std::nullopt;
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
  if (refusal.isEmpty() && shortcut != keys_->key(mode)) {
    try {
      keys_->set(mode, shortcut);
    } catch (const std::exception& failure) {
      refusal = QString::fromUtf8(failure.what());
    }
  }
  note_->setText(refusal);
  note_->setVisible(!refusal.isEmpty());
  if (refusal.isEmpty()) render(mode);
  renderMechanism();
}

}  // namespace lumacap
