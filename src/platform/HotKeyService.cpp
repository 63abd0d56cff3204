#include "platform/HotKeyService.h"

#include <QMetaObject>

namespace lumacap {

void HotKeyService::queuePress() {
  QMetaObject::invokeMethod(
      &deliveryContext_,
      [this] {
        if (pressHandler_) pressHandler_();
      },
      Qt::QueuedConnection);
}

}  // namespace lumacap
