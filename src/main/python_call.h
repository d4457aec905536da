#pragma once

#include <Python.h>

#include <chrono>
#include <optional>

#include "catalogue/database_lock.h"

// One call from Python into a database, for its length: the interpreter
// given up (work that may take long) or kept (a short call), and the
// database's lock held, waited for without the interpreter so that other
// Python threads run meanwhile. The call's interrupt checks ask the
// database's stop request and, on the main thread, Python's signal
// handlers: directly while the call holds the interpreter, else by taking
// it back briefly, at most every kSignalCheckInterval. A handler that calls
// into the same database gets "Database is busy". Python objects are made
// only while the call holds the interpreter; the destructor takes it back,
// so a PythonCall must be destroyed before the Python error of a failure
// is set. Not movable; lives on the stack of one entry point.
class PythonCall {
 public:
  enum class Interpreter { kRelease, kKeep };

  // `lock` may be null (a cursor without a result): nothing is locked.
  // Throws DatabaseException "Database is busy" from a call made inside a
  // call into the same database on this thread.
  PythonCall(DatabaseLock* lock, Interpreter interpreter);
  ~PythonCall();
  PythonCall(const PythonCall&) = delete;
  PythonCall& operator=(const PythonCall&) = delete;

  // The interpreter given up for the object's lifetime by a call that
  // holds it, and taken back at its end, also when an exception leaves.
  class Released {
   public:
    explicit Released(PythonCall& call);
    ~Released();
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;

   private:
    PythonCall& call_;
  };

  // Makes waiting for a database's lock give up the interpreter, and
  // notes the main thread. Called once, when the module is imported.
  static void install();

 private:
  static constexpr std::chrono::milliseconds kSignalCheckInterval{10};

  // The interrupt scope's host check: whether a signal handler raised.
  static bool signalRaised(void* call);
  void release();
  void reacquire();

  PyThreadState* saved_ = nullptr;  // the thread's state while the interpreter is given up
  std::chrono::steady_clock::time_point lastCheck_{};
  std::optional<DatabaseLock::Call> call_;
};
