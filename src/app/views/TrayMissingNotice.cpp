#include "app/views/TrayMissingNotice.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

#include "app/views/Symbols.h"

namespace lumacap {
namespace {

QString noticeText(const QString& shortcut, bool entryInstalled) {
  const QString entry = entryInstalled
                            ? QStringLiteral(
                                  "<li>Lumacap’s entry in your desktop’s applications offers Capture Region, "
                                  "Capture Window…, Capture Display and Recent Captures… (right-click it, or "
                                  "its icon in the dock).</li>")
                            : QString();
  return QStringLiteral(
             "<p><b>Lumacap is running, but this desktop shows no system tray, so its icon and menu "
             "cannot appear.</b></p>"
             "<p>What still works:</p>"
             "<ul style=\"-qt-list-indent: 1;\">"
             "<li>%1</li>%2"
             "<li>Starting Lumacap again opens Recent Captures, where Settings and Quit are reachable "
             "too.</li>"
             "</ul>"
             "<p>On GNOME, the extension “AppIndicator and KStatusNotifierItem Support” adds a tray.</p>")
      .arg(shortcut.toHtmlEscaped(), entry);
}

}  // namespace

TrayMissingNotice::TrayMissingNotice(const QString& shortcut, bool entryInstalled, QWidget* parent)
    : QDialog(parent) {
  setWindowTitle(QStringLiteral("Lumacap"));

  auto* icon = new QLabel;
  const QIcon fallback = symbolIcon(Symbol::viewfinder, palette().color(QPalette::WindowText));
  icon->setPixmap(QIcon::fromTheme(QStringLiteral("org.lumacap.Lumacap"), fallback).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);

  auto* text = new QLabel(noticeText(shortcut, entryInstalled));
  text->setTextFormat(Qt::RichText);
  text->setWordWrap(true);
  text->setFixedWidth(400);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* content = new QHBoxLayout;
  content->setSpacing(16);
  content->addWidget(icon);
  content->addWidget(text);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(20, 20, 20, 16);
  layout->addLayout(content);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace lumacap
