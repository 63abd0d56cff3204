#include "app/views/Dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStandardPaths>

namespace lumacap {

void DialogPrompts::alert(const QString& message) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Lumacap"), QStringLiteral("Lumacap"),
                  QMessageBox::Ok);
  box.setInformativeText(message);
  box.exec();
}

std::optional<std::filesystem::path> DialogPrompts::exportLocation(const QString& proposedName) {
  QFileDialog dialog(nullptr, QStringLiteral("Save As"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilter(QStringLiteral("PNG image (*.png)"));
  dialog.setDefaultSuffix(QStringLiteral("png"));
  dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
  dialog.selectFile(proposedName);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return std::filesystem::path(dialog.selectedFiles().constFirst().toStdString());
}

}  // namespace lumacap
