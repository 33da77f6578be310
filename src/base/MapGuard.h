// A bounded keyed map with a blocking get: the network store keeps its wrappers here and stage
// threads wait in get() until the wrapper of their network has been put.
#pragma once

#include <glog/logging.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

// Thread-safe. Waiters are woken by broadcast.
template <typename K, typename V>
class MapGuard {
 public:
  explicit MapGuard(uint32_t capacity = 100, std::string name = "MapGuard")
      : capacity_(capacity), name_(std::move(name)) {}
  MapGuard(const MapGuard&) = delete;
  MapGuard& operator=(const MapGuard&) = delete;
  ~MapGuard() = default;

  // Sets map[key] = value (replacing any previous value); beyond capacity, the smallest keys are
  // erased, each with an ERROR line. Wakes every waiter.
  void put(const K& key, const V& value) {
    std::lock_guard<std::mutex> lock(mutex_);
    map_[key] = value;
    while (map_.size() > capacity_) {
      LOG(ERROR) << name_ << " is full, drop a frame";
      map_.erase(map_.begin());
    }
    changed_ = true;
    cond_.notify_all();
  }

  // Blocks until `key` is present and returns a copy of its value. After every 100 ms wait that
  // times out, `onTimeout` (when given) is called without the lock held, then the wait goes on.
  V get(const K& key, const std::function<void()>& onTimeout = {}) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      auto it = map_.find(key);
      if (it != map_.end()) return it->second;
      if (changed_.exchange(false)) continue;
      bool timedOut = wait_100ms(lock);
      changed_ = false;
      if (timedOut && onTimeout) {
        lock.unlock();
        onTimeout();
        lock.lock();
      }
    }
  }

  // Erases `key` when present; returns whether it was.
  bool erase(const K& key) {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.erase(key) > 0;
  }
  size_t size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return map_.size();
  }
  uint32_t capacity() const { return capacity_; }
  const std::string& name() const { return name_; }

 private:
  // Waits up to 100 ms; true when the wait timed out.
  bool wait_100ms(std::unique_lock<std::mutex>& lock) {
    constexpr std::chrono::nanoseconds kWait(100000000);
    if (monotonic_) return cond_.wait_until(lock, std::chrono::steady_clock::now() + kWait) == std::cv_status::timeout;
    return cond_.wait_until(lock, std::chrono::system_clock::now() + kWait) == std::cv_status::timeout;
  }

  const uint32_t capacity_;
  const std::string name_;
  mutable std::mutex mutex_;        // guards map_
  std::condition_variable cond_;    // signalled on every put
  const bool monotonic_ = true;     // deadlines on the monotonic clock
  std::atomic<bool> changed_{false};
  std::map<K, V> map_;
};
