// Admission of network steps to one compute core (one IPU): one step at a time, and when several
// wait, the smallest priority number goes first. The network store keeps one queue per configured
// core; a wrapper holds a ticket around each invocation of its model.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

// Thread-safe. Always owned by a shared pointer (request() needs shared_from_this()).
class PriorityQueue : public std::enable_shared_from_this<PriorityQueue> {
 public:
  // A held compute core: admission happens in the constructor, release in the destructor. Holds the
  // queue, so the queue outlives every ticket. May be released from any thread.
  class QueueUp {
   public:
    // Blocks until the queue is free and `priority` is the smallest priority waiting.
    QueueUp(const std::shared_ptr<PriorityQueue>& queue, int priority);
    // Frees the queue and wakes every waiter.
    ~QueueUp();
    QueueUp(const QueueUp&) = delete;
    QueueUp& operator=(const QueueUp&) = delete;

   private:
    std::shared_ptr<PriorityQueue> queue_;
  };

  // `free` false starts the queue held, with no ticket to release it (nothing is ever admitted).
  explicit PriorityQueue(bool free);
  PriorityQueue(const PriorityQueue&) = delete;
  PriorityQueue& operator=(const PriorityQueue&) = delete;

  // Blocks until admitted (see QueueUp). Waiters with equal priority are admitted one at a time in
  // no guaranteed order; a smaller priority arriving before a release overtakes earlier waiters.
  std::shared_ptr<QueueUp> request(int priority);

  // Number of requests waiting with `priority` (0 when none), for diagnostics and tests.
  int waiting(int priority) const;

 private:
  mutable std::mutex mutex_;      // guards free_ and waiting_
  std::condition_variable cond_;  // signalled on every release
  bool free_;                     // no ticket is held
  std::map<int, int> waiting_;    // priority -> waiters; no entry for a priority without waiters
};
