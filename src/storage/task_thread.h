#pragma once

#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

// A thread that runs the tasks its owner hands it, one at a time. The owner
// hands a task over with run() and takes its outcome with wait(), which
// throws what the task threw, or takes it back with withdraw() while the
// thread has not begun it; a task must not touch what the owner uses
// until wait() returns. The thread starts with the object and is joined by
// its destructor, which first waits for the task in hand.
class TaskThread {
 public:
  TaskThread();
  ~TaskThread();

  TaskThread(const TaskThread&) = delete;
  TaskThread& operator=(const TaskThread&) = delete;

  // Starts `task` on the thread; the previous one must have been waited for.
  void run(std::function<void()> task);
  // Waits until the task in hand is done and rethrows its exception, if
  // any; returns at once when there is none.
  void wait();
  // Takes back the task in hand if the thread has not begun it: true then,
  // and the task will not run (the owner may do its work itself); false
  // when there is none or it has begun, which wait() then waits for.
  bool withdraw();

 private:
  void loop();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> task_;  // the task in hand, empty when there is none
  bool busy_ = false;           // a task was handed over and not yet finished
  bool stopping_ = false;       // the destructor asks the thread to end
  std::exception_ptr error_;    // what the last task threw
  std::thread thread_;          // started last, after every member it reads
};
