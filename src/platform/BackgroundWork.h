#pragma once

namespace lumacap {

// Lets the calling worker thread yield to interactive work (the GUI thread,
// the X server) while the processor is busy. Qt's thread priorities do not
// reach Linux's normal scheduling, so the thread is niced itself; once per
// thread, so it may be called at the start of every task.
void yieldToInteractiveWork();

}  // namespace lumacap
