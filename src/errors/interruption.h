#pragma once

#include <exception>

// Long work (a load, a query, reading rows out) asks every few thousand rows
// whether the host wants it stopped: the host installs the question once,
// and checkInterrupt() throws Interrupted when it answers yes. Without a
// check installed nothing is ever interrupted. The check runs on the
// calling thread; the host keeps whatever it needs to report the stop
// (Python keeps its pending KeyboardInterrupt).
class Interrupted : public std::exception {
 public:
  const char* what() const noexcept override { return "Interrupted"; }
};

// Answers true when work must stop; may run host code (signal handlers).
using InterruptCheck = bool (*)();

// Installs `check` for the whole process; null removes it.
void setInterruptCheck(InterruptCheck check);
// Throws Interrupted when the installed check asks for a stop.
void checkInterrupt();

// Rows between two interrupt checks in row loops: frequent enough to stop
// within milliseconds, rare enough to cost nothing measurable.
inline constexpr unsigned kRowsPerInterruptCheck = 4096;
