#include "platform/BackgroundWork.h"

#include <sys/resource.h>
#include <unistd.h>

namespace lumacap {

void yieldToInteractiveWork() {
  constexpr int backgroundNiceness = 10;
  static thread_local const bool niced =
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), backgroundNiceness) == 0;
  (void)niced;
}

}  // namespace lumacap
