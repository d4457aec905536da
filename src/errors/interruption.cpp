// The calling thread's interrupt scope and the one place that asks it.

#include "errors/interruption.h"

namespace {

thread_local InterruptScope* currentScope = nullptr;

}  // namespace

InterruptScope::InterruptScope(const std::atomic<bool>* stopRequested, HostCheck hostCheck, void* context)
    : stopRequested_(stopRequested), hostCheck_(hostCheck), context_(context), previous_(currentScope) {
  currentScope = this;
}

InterruptScope::~InterruptScope() { currentScope = previous_; }

void checkInterrupt() {
  const InterruptScope* const scope = currentScope;
  if (scope == nullptr) return;
  if (scope->hostCheck_ != nullptr && scope->hostCheck_(scope->context_)) throw Interrupted();
  // Read after the host's check, which may have run a handler that asked
  // for the stop.
  if (scope->stopRequested_ != nullptr && scope->stopRequested_->load(std::memory_order_relaxed)) {
    throw Interrupted();
  }
}
