// Ordered hand-over of row batches between the threads of a load.

#include "storage/batch_window.h"

#include <utility>

BatchWindow::BatchWindow(size_t capacity) : slots_(capacity), done_(capacity, 0) {
  free_.reserve(capacity);
  for (size_t made = 0; made < capacity; ++made) free_.push_back(std::make_unique<RowBatch>());
}

std::unique_ptr<RowBatch> BatchWindow::emptyBatch() {
  std::unique_lock<std::mutex> lock(mutex_);
  room_.wait(lock, [this] { return closed_ || !free_.empty(); });
  if (closed_) return nullptr;
  std::unique_ptr<RowBatch> batch = std::move(free_.back());
  free_.pop_back();
  return batch;
}

void BatchWindow::cut(std::unique_ptr<RowBatch> batch) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    const size_t slot = cutCount_ % slots_.size();
    slots_[slot] = std::move(batch);
    done_[slot] = 0;
    ++cutCount_;
  }
  cutReady_.notify_one();
  converted_.notify_one();
}

void BatchWindow::endCutting() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    cuttingEnded_ = true;
  }
  cutReady_.notify_all();
  converted_.notify_all();
}

std::unique_ptr<RowBatch> BatchWindow::toConvert(uint64_t& sequence) {
  std::unique_lock<std::mutex> lock(mutex_);
  cutReady_.wait(lock, [this] { return closed_ || handedOut_ < cutCount_ || cuttingEnded_; });
  if (closed_ || handedOut_ == cutCount_) return nullptr;
  sequence = handedOut_++;
  return std::move(slots_[sequence % slots_.size()]);
}

void BatchWindow::converted(uint64_t sequence, std::unique_ptr<RowBatch> batch) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_) return;
    const size_t slot = sequence % slots_.size();
    slots_[slot] = std::move(batch);
    done_[slot] = 1;
  }
  converted_.notify_all();
}

BatchWindow::Next BatchWindow::next(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto ready = [this] {
    return closed_ || done_[taken_ % slots_.size()] != 0 || handedOut_ < cutCount_ ||
           (cuttingEnded_ && taken_ == cutCount_);
  };
  Next next;
  if (!converted_.wait_for(lock, wait, ready)) return next;
  const size_t slot = taken_ % slots_.size();
  if (closed_) {
    next.ended = true;
  } else if (done_[slot] != 0) {
    done_[slot] = 0;
    ++taken_;
    next.batch = std::move(slots_[slot]);
  } else if (handedOut_ < cutCount_) {
    next.convert = true;
    next.sequence = handedOut_++;
    next.batch = std::move(slots_[next.sequence % slots_.size()]);
  } else {
    next.ended = true;
  }
  return next;
}

void BatchWindow::recycle(std::unique_ptr<RowBatch> batch) {
  batch->clear();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    free_.push_back(std::move(batch));
  }
  room_.notify_one();
}

void BatchWindow::close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }
  room_.notify_all();
  cutReady_.notify_all();
  converted_.notify_all();
}
