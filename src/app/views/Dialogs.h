#pragma once

#include <QString>
#include <memory>

#include "app/model/AppModel.h"

class QFileDialog;

namespace lumacap {

// The model's questions as the desktop's dialogs: an alert box, and a file
// dialog that writes PNG files only.
class DialogPrompts final : public UserPrompts {
 public:
  void alert(const QString& message) override;
  std::optional<std::filesystem::path> exportLocation(const QString& proposedName) override;

  // The Save As dialog as exportLocation shows it: in the folder used last,
  // else the user's Pictures folder (as xdg-user-dir names it), else home.
  std::unique_ptr<QFileDialog> exportDialog(const QString& proposedName) const;

 private:
  QString lastExportFolder_;
};

}  // namespace lumacap
