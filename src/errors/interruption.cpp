// The process-wide interrupt check and the one place that calls it.

#include "errors/interruption.h"

namespace {

InterruptCheck installedCheck = nullptr;

}  // namespace

void setInterruptCheck(InterruptCheck check) { installedCheck = check; }

void checkInterrupt() {
  if (installedCheck != nullptr && installedCheck()) throw Interrupted();
}
