#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "errors/interruption.h"

// One call at a time into a database. Every call that reads or changes a
// database, or anything made from it (a cursor, a stream of batches), holds
// the database's lock for its work. A call made on a thread that is inside
// a call into the same database already (a signal handler run from an
// interrupt check) is refused: the outer call is half done. While a call
// holds the lock, the database's stop request is the thread's interrupt
// scope, so interrupt() from any thread stops it at its next check.
//
// A thread never waits for the lock while it holds the host's own lock (the
// Python interpreter): the call holding the database may need the host's
// lock to finish. The host says how to give its lock up (setHostRelease).
class DatabaseLock {
 public:
  // How the host gives up its lock when the calling thread holds it:
  // release() answers what reacquire() needs to take it back, null when
  // the thread held nothing.
  struct HostRelease {
    void* (*release)() = nullptr;
    void (*reacquire)(void* token) = nullptr;
  };
  // Installs the host's release for the process, before any thread uses a
  // database; without one nothing is given up.
  static void setHostRelease(HostRelease release);

  // The host's lock given up for the object's lifetime, when the thread
  // held it.
  class HostReleased {
   public:
    HostReleased();
    ~HostReleased();
    HostReleased(const HostReleased&) = delete;
    HostReleased& operator=(const HostReleased&) = delete;

   private:
    void* const token_;
  };

  // The lock held for one call, the database's stop request (and the
  // host's check, when given) being the thread's interrupt scope. Waits for
  // the lock; throws DatabaseException "Database is busy" when the calling
  // thread holds it already. `context` must outlive the call.
  class Call {
   public:
    explicit Call(DatabaseLock& lock, InterruptScope::HostCheck hostCheck = nullptr, void* context = nullptr);
    ~Call();
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

   private:
    DatabaseLock& lock_;
    const InterruptScope scope_;  // made once the lock is held
  };

  // The lock held while a destructor frees what it owns. Waits for the
  // lock, except on a thread that holds it already (a destructor run from
  // inside a call, which cannot refuse): that goes on without it. A null
  // lock holds nothing.
  class Hold {
   public:
    explicit Hold(DatabaseLock* lock);
    ~Hold();
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    DatabaseLock* const lock_;  // null when nothing is held
  };

  // For its lifetime, reads of results of this database (batches of their
  // streams) made on the thread holding the lock go on inside the running
  // call instead of being refused: a load reading its rows from a result
  // of the same database. Such a read still fails once a table behind the
  // result has changed. Made on the thread holding the lock.
  class NestedReads {
   public:
    explicit NestedReads(DatabaseLock& lock) : lock_(lock) { lock_.nestedReads_ = true; }
    ~NestedReads() { lock_.nestedReads_ = false; }
    NestedReads(const NestedReads&) = delete;
    NestedReads& operator=(const NestedReads&) = delete;

   private:
    DatabaseLock& lock_;
  };
  // Whether a read on this thread goes on inside the running call (see
  // NestedReads) rather than making a call of its own.
  bool readsInsideCall() const { return heldByThisThread() && nestedReads_; }

  DatabaseLock() = default;
  DatabaseLock(const DatabaseLock&) = delete;
  DatabaseLock& operator=(const DatabaseLock&) = delete;

  // Asks the call running now, if any, to stop at its next interrupt
  // check. Does nothing when no call runs: a later call is not stopped.
  void interrupt();

 private:
  bool heldByThisThread() const { return owner_.load(std::memory_order_relaxed) == std::this_thread::get_id(); }
  // Waits for the mutex, giving the host's lock up while it waits.
  void acquire();
  void releaseMutex();
  // A call starts or ends: the stop request is cleared either way.
  void setRunning(bool running);
  // Refuses a call from the thread holding the lock, waits for it and
  // starts the call; answers the stop request the call's scope reads.
  const std::atomic<bool>* beginCall();
  void endCall();

  std::mutex mutex_;
  std::atomic<std::thread::id> owner_{};  // the thread holding mutex_, if any
  std::mutex requestMutex_;               // orders interrupt() against calls starting and ending
  bool running_ = false;                  // a Call holds the lock
  std::atomic<bool> stopRequested_{false};
  bool nestedReads_ = false;              // see NestedReads; read only by the holding thread
};
