#include "platform/BackgroundWork.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace lumacap {

void yieldToInteractiveWork() {
  // Ten steps below the thread's own priority (a Lumacap started with nice
  // keeps its background work below its interactive work too).
  static constexpr int backgroundSteps = 10, lowest = 19;
  static thread_local const bool niced = [] {
    const auto thread = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, thread);
    return errno == 0 && ::setpriority(PRIO_PROCESS, thread, std::min(now + backgroundSteps, lowest)) == 0;
  }();
  (void)niced;
}

}  // namespace lumacap
