#include "core/ScreenshotStore.h"

namespace lumacap {

StoreError::StoreError(Kind kind)
    : std::runtime_error(kind == Kind::invalidIndex
                             ? "Capture history could not be read safely. Your image files have not been changed."
                             : "This capture is no longer available."),
      kind_(kind) {}

}  // namespace lumacap
