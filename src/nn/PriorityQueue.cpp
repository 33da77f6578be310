#include "nn/PriorityQueue.h"

PriorityQueue::QueueUp::QueueUp(const std::shared_ptr<PriorityQueue>& queue, int priority) : queue_(queue) {
  PriorityQueue& q = *queue_;
  std::unique_lock<std::mutex> lock(q.mutex_);
  q.waiting_[priority] += 1;
  q.cond_.wait(lock, [&q, priority] { return q.free_ && q.waiting_.begin()->first == priority; });
  q.free_ = false;
  auto it = q.waiting_.find(priority);
  if (--it->second == 0) q.waiting_.erase(it);
}

PriorityQueue::QueueUp::~QueueUp() {
  {
    std::lock_guard<std::mutex> lock(queue_->mutex_);
    queue_->free_ = true;
  }
  // Every waiter re-checks: only the one whose priority is now the smallest proceeds.
  queue_->cond_.notify_all();
}

PriorityQueue::PriorityQueue(bool free) : free_(free) {}

std::shared_ptr<PriorityQueue::QueueUp> PriorityQueue::request(int priority) {
  return std::make_shared<QueueUp>(shared_from_this(), priority);
}

int PriorityQueue::waiting(int priority) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = waiting_.find(priority);
  return it == waiting_.end() ? 0 : it->second;
}
