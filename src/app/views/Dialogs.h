#pragma once

#include "app/AppModel.h"

namespace lumacap {

// The model's questions as the desktop's dialogs: an alert box, and a file
// dialog that writes PNG files only.
class DialogPrompts final : public UserPrompts {
 public:
  void alert(const QString& message) override;
  std::optional<std::filesystem::path> exportLocation(const QString& proposedName) override;
};

}  // namespace lumacap
