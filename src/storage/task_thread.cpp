// TaskThread: one worker with a hand-over of one task under a mutex.

#include "storage/task_thread.h"

#include <utility>

TaskThread::TaskThread() : thread_([this] { loop(); }) {}

TaskThread::~TaskThread() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TaskThread::run(std::function<void()> task) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    task_ = std::move(task);
    busy_ = true;
    error_ = nullptr;
  }
  changed_.notify_all();
}

void TaskThread::wait() {
  std::exception_ptr error;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    error = std::exchange(error_, nullptr);
  }
  if (error != nullptr) std::rethrow_exception(error);
}

bool TaskThread::withdraw() {
  std::lock_guard<std::mutex> lock(mutex_);
  // The thread moves the task out of task_ when it begins it.
  if (!busy_ || !task_) return false;
  task_ = nullptr;
  busy_ = false;
  return true;
}

void TaskThread::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (!busy_) return;
    std::function<void()> task = std::exchange(task_, nullptr);
    lock.unlock();
    std::exception_ptr error;
    try {
      task();
    } catch (...) {
      error = std::current_exception();
    }
    lock.lock();
    error_ = error;
    busy_ = false;
    changed_.notify_all();
  }
}
