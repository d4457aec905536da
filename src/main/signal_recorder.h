#pragma once

#include <Python.h>

#include <memory>

// Keeps what Python's SIGINT handler raises while Python code runs inside
// a call, so that the call can raise it itself. Code that reads a stream
// may run a Python generator, where Ctrl-C raises KeyboardInterrupt; the
// library behind the stream catches it and hands back an error of its own,
// which must not stand in for the KeyboardInterrupt. While a recorder lives
// on the main thread, a Python-level SIGINT handler is wrapped so that the
// exception it raises is also recorded; on other threads (where handlers
// never run) and with a handler that is not a Python callable it does
// nothing. Made and destroyed with the interpreter held; it puts the
// handler back when it goes, unless the handler was changed meanwhile.
class SignalRecorder {
 public:
  SignalRecorder();
  ~SignalRecorder();
  SignalRecorder(const SignalRecorder&) = delete;
  SignalRecorder& operator=(const SignalRecorder&) = delete;

  // Sets the exception the handler raised as the Python error, replacing
  // any other; false (nothing set) when it raised none.
  bool raiseRecorded();

  struct State;

 private:
  std::shared_ptr<State> state_;  // shared with the wrapping handler
};
