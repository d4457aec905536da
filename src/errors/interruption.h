#pragma once

#include <atomic>
#include <exception>

// Long work (a load, a query, reading rows out) asks every few thousand rows
// whether it must stop; checkInterrupt() throws Interrupted when it must.
// What it asks belongs to the call the work serves, set on the calling
// thread by an InterruptScope for the call's length: whether a stop was
// requested for the call's database (by another thread), and the host's own
// question (Python runs its signal handlers there, for Ctrl-C). Without a
// scope on the thread nothing is ever interrupted. The host keeps whatever
// it needs to report a stop it asked for (Python keeps its pending
// KeyboardInterrupt).
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "Interrupted"; }
};

class InterruptScope {
 public:
  // The host's question: true when work must stop. May run host code.
  using HostCheck = bool (*)(void* context);

  // Makes this the calling thread's scope until it is destroyed, when the
  // scope it replaced comes back. `stopRequested` (may be null) and
  // `context` must outlive the scope; `hostCheck` may be null.
  InterruptScope(const std::atomic<bool>* stopRequested, HostCheck hostCheck, void* context);
  ~InterruptScope();
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

 private:
  friend void checkInterrupt();

  const std::atomic<bool>* stopRequested_;
  const HostCheck hostCheck_;
  void* const context_;
  InterruptScope* const previous_;
};

// Throws Interrupted when the calling thread's scope asks for a stop.
void checkInterrupt();

// Rows between two interrupt checks in row loops: frequent enough to stop
// within milliseconds, rare enough to cost nothing measurable.
inline constexpr unsigned kRowsPerInterruptCheck = 4096;

// Longest a wait for input lasts between two interrupt checks.
inline constexpr int kInterruptWaitMilliseconds = 10;
