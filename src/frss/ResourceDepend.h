// The resource dependency monitor: for every monitored resource kind, the newest frame id that a
// producer has announced. A stage waits until the kinds it needs have reached a frame of its
// choosing; producers announce their frames themselves (the store does not call this).
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>

// A value with its own synchronisation. The condition variable waits without a timeout, so the
// clock it would measure timeouts with never matters (libstdc++ uses the monotonic clock).
template <typename T>
struct MutexCond {
  explicit MutexCond(T initial) : value(initial) {}
  MutexCond(const MutexCond&) = delete;
  MutexCond& operator=(const MutexCond&) = delete;

  T value;
  std::mutex mutex;  // guards value and notified
  std::condition_variable cond;
  bool notified = false;
};

// Thread-safe. Lock order: mutex_ before a kind's MutexCond mutex; wait_until never holds mutex_
// while it waits. Exactly one instance may exist in a process.
class ResourceDepend {
 public:
  // Fatal when an instance was constructed before in this process.
  ResourceDepend();
  ResourceDepend(const ResourceDepend&) = delete;
  ResourceDepend& operator=(const ResourceDepend&) = delete;

  // Starts monitoring every kind of `resunion` (value -1 until its first update). Idempotent.
  void monitor(unsigned long long resunion);
  // Announces `frameId` for every monitored kind of `resunion` and wakes its waiters; unmonitored
  // kinds are ignored. Fatal unless `frameId` is strictly greater than the kind's last frame.
  void update(long long frameId, unsigned long long resunion);
  // Blocks until `pred` holds for the newest frame of every kind of `resunion`. While a kind is not
  // monitored it logs a WARNING and retries every 10 ms. No timeout. `pred` runs with the kind's
  // mutex held and must not call back into this object.
  void wait_until(unsigned long long resunion, const std::function<bool(const long long&)>& pred);
  // The largest newest frame among the monitored kinds of `resunion`; LLONG_MIN when none is.
  long long id_max(unsigned long long resunion) const;
  // The smallest newest frame among the monitored kinds of `resunion`; LLONG_MAX when none is.
  long long id_min(unsigned long long resunion) const;

 private:
  mutable std::mutex mutex_;  // guards mapId2MutexCond_ (entries are never erased)
  std::unordered_map<unsigned long long, std::shared_ptr<MutexCond<long long>>> mapId2MutexCond_;
};
