#include "platform/ProcessSource.h"

#include "platform/linux/ProcSource.h"
#include "platform/linux/PsSource.h"

namespace lumacap {

ProcessSource& ProcessSource::system() {
  static ProcSource proc;
  static PsSource ps;
  static ProcessSource& chosen =
      ProcSource::available() ? static_cast<ProcessSource&>(proc) : static_cast<ProcessSource&>(ps);
  return chosen;
}

}  // namespace lumacap
