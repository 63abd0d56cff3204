#include "app/views/Dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QMessageBox>
#include <QStandardPaths>
#include <QTreeView>

namespace lumacap {
namespace {

// QStandardPaths reads the same user-dirs.dirs that xdg-user-dir reads.
QString picturesFolder() {
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  return QFileInfo(pictures).isDir() ? pictures : QDir::homePath();
}

// In Qt's own dialog (where the desktop offers none) the name takes the room
// the other columns leave, so that no column is cut off at the first size.
void fitColumns(QFileDialog& dialog) {
  auto* details = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
  if (!details) return;
  QHeaderView* header = details->header();
  header->setStretchLastSection(false);
  for (int column = 1; column < header->count(); ++column)
    header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
  header->setSectionResizeMode(0, QHeaderView::Stretch);
}

}  // namespace

void DialogPrompts::alert(const QString& message) {
  // Shown without a nested event loop: the caller goes on at once.
  auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Lumacap"), QStringLiteral("Lumacap"),
                              QMessageBox::Ok);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setInformativeText(message);
  box->open();
}

std::unique_ptr<QFileDialog> DialogPrompts::exportDialog(const QString& proposedName) const {
  auto dialog = std::make_unique<QFileDialog>(nullptr, QStringLiteral("Save As"));
  dialog->setAcceptMode(QFileDialog::AcceptSave);
  dialog->setFileMode(QFileDialog::AnyFile);
  dialog->setNameFilter(QStringLiteral("PNG image (*.png)"));
  dialog->setDefaultSuffix(QStringLiteral("png"));
  const bool lastStillThere = !lastExportFolder_.isEmpty() && QFileInfo(lastExportFolder_).isDir();
  dialog->setDirectory(lastStillThere ? lastExportFolder_ : picturesFolder());
  dialog->selectFile(proposedName);
  fitColumns(*dialog);
  return dialog;
}

std::optional<std::filesystem::path> DialogPrompts::exportLocation(const QString& proposedName) {
  const std::unique_ptr<QFileDialog> dialog = exportDialog(proposedName);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  const QString chosen = dialog->selectedFiles().constFirst();
  lastExportFolder_ = QFileInfo(chosen).absolutePath();
  return std::filesystem::path(chosen.toStdString());
}

}  // namespace lumacap
