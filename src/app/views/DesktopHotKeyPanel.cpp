#include "app/views/DesktopHotKeyPanel.h"

#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/hotkey/DesktopHotKey.h"
#include "app/views/Symbols.h"

namespace lumacap {
namespace {

constexpr int textSize = 11;

QLabel* makeText(QWidget* parent) {
  auto* label = new QLabel(parent);
  label->setFont(look::font(*parent, textSize));
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  look::setTextColor(*label, look::secondary(*parent));
  return label;
}

}  // namespace

DesktopHotKeyPanel::DesktopHotKeyPanel(DesktopHotKey& desktopHotKey, QWidget* parent)
    : QWidget(parent), desktopHotKey_(desktopHotKey) {
  auto* rows = new QVBoxLayout(this);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(6);
  status_ = makeText(this);
  rows->addWidget(status_);
  problem_ = makeText(this);
  look::setTextColor(*problem_, look::warning());
  problem_->hide();

  if (desktopHotKey_.mechanism() == HotKeyMechanism::gnomeKeybinding) {
    addGnome_ = new QPushButton(QStringLiteral("Add a GNOME keyboard shortcut"), this);
    removeGnome_ = new QPushButton(QStringLiteral("Remove the GNOME keyboard shortcut"), this);
    connect(addGnome_, &QPushButton::clicked, this, [this] { act(&DesktopHotKey::addGnomeKeybinding); });
    connect(removeGnome_, &QPushButton::clicked, this,
            [this] { act(&DesktopHotKey::removeGnomeKeybinding); });
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(addGnome_);
    buttons->addWidget(removeGnome_);
    buttons->addStretch();
    rows->addLayout(buttons);
    steps_ = makeText(this);
    rows->addWidget(steps_);
  } else if (desktopHotKey_.mechanism() == HotKeyMechanism::compositorLine) {
    place_ = makeText(this);
    line_ = makeText(this);
    line_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    copy_ = new QPushButton(QStringLiteral("Copy"), this);
    connect(copy_, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(desktopHotKey_.configurationLine()); });
    auto* line = new QHBoxLayout;
    line->addWidget(line_, 1);
    line->addWidget(copy_, 0, Qt::AlignTop);
    rows->addWidget(place_);
    rows->addLayout(line);
  }
  rows->addWidget(problem_);
  connect(&desktopHotKey_, &DesktopHotKey::changed, this, &DesktopHotKeyPanel::render);
  connect(&desktopHotKey_, &DesktopHotKey::failed, this, [this](const QString& reason) {
    problem_->setText(reason);
    problem_->show();
  });
  render();
}

// The answer comes later, through changed() or failed().
void DesktopHotKeyPanel::act(void (DesktopHotKey::*change)()) {
  problem_->hide();
  (desktopHotKey_.*change)();
}

void DesktopHotKeyPanel::render() {
  status_->setText(desktopHotKey_.inForceText().value_or(QString()));
  status_->setVisible(!status_->text().isEmpty());
  if (addGnome_) {
    const bool added = desktopHotKey_.gnomeKeybindingAdded();
    addGnome_->setVisible(!added);
    removeGnome_->setVisible(added);
    steps_->setText(desktopHotKey_.gnomeManualSteps());
    steps_->setVisible(!added);
  }
  if (line_) {
    place_->setText(desktopHotKey_.configurationRefusal().value_or(
        QStringLiteral("Add this line to ") + desktopHotKey_.configurationPlace() + QStringLiteral(":")));
    line_->setText(desktopHotKey_.configurationLine());
    line_->setVisible(!line_->text().isEmpty());
    copy_->setVisible(!line_->text().isEmpty());
  }
}

}  // namespace lumacap
