// The lock of one database: waiting for it without the host's lock,
// refusing a second call from the thread inside one, and stop requests.

#include "catalogue/database_lock.h"

#include "errors/database_exception.h"

namespace {

DatabaseLock::HostRelease hostRelease;

}  // namespace

void DatabaseLock::setHostRelease(HostRelease release) { hostRelease = release; }

DatabaseLock::HostReleased::HostReleased()
    : token_(hostRelease.release != nullptr ? hostRelease.release() : nullptr) {}

DatabaseLock::HostReleased::~HostReleased() {
  if (token_ != nullptr) hostRelease.reacquire(token_);
}

void DatabaseLock::acquire() {
  if (!mutex_.try_lock()) {
    const HostReleased released;
    mutex_.lock();
  }
  owner_.store(std::this_thread::get_id(), std::memory_order_relaxed);
}

void DatabaseLock::releaseMutex() {
  owner_.store(std::thread::id(), std::memory_order_relaxed);
  mutex_.unlock();
}

void DatabaseLock::setRunning(bool running) {
  const std::lock_guard<std::mutex> guard(requestMutex_);
  running_ = running;
  stopRequested_.store(false, std::memory_order_relaxed);
}

void DatabaseLock::interrupt() {
  const std::lock_guard<std::mutex> guard(requestMutex_);
  if (running_) stopRequested_.store(true, std::memory_order_relaxed);
}

const std::atomic<bool>* DatabaseLock::beginCall() {
  if (heldByThisThread()) throw DatabaseException("Database is busy");
  acquire();
  setRunning(true);
  return &stopRequested_;
}

void DatabaseLock::endCall() {
  setRunning(false);
  releaseMutex();
}

DatabaseLock::Call::Call(DatabaseLock& lock, InterruptScope::HostCheck hostCheck, void* context)
    : lock_(lock), scope_(lock.beginCall(), hostCheck, context) {}

DatabaseLock::Call::~Call() { lock_.endCall(); }

DatabaseLock::Hold::Hold(DatabaseLock* lock)
    : lock_(lock != nullptr && !lock->heldByThisThread() ? lock : nullptr) {
  if (lock_ != nullptr) lock_->acquire();
}

DatabaseLock::Hold::~Hold() {
  if (lock_ != nullptr) lock_->releaseMutex();
}
