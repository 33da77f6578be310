// The poller thread: a deadline-ordered queue of actions under one mutex. Actions run with the mutex
// released, so they may create or cancel other timers.
#include "kbase/Timer.h"

EventPoller::EventPoller() : thread_([this] { loop(); }) {}

EventPoller::~EventPoller() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

std::shared_ptr<EventPoller> EventPoller::default_poller() {
  static const std::shared_ptr<EventPoller> poller = std::make_shared<EventPoller>();
  return poller;
}

unsigned long long EventPoller::add(SteadyTime due, Entry entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  const unsigned long long key = nextKey_++;
  entries_.emplace(key, std::move(entry));
  due_.emplace(due, key);
  changed_.notify_all();
  return key;
}

void EventPoller::cancel(unsigned long long key) {
  std::unique_lock<std::mutex> lock(mutex_);
  entries_.erase(key);  // its due_ entry is skipped when it comes up
  if (std::this_thread::get_id() == thread_.get_id()) return;
  changed_.wait(lock, [&] { return running_ != key; });
}

void EventPoller::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    if (due_.empty()) {
      changed_.wait(lock);
      continue;
    }
    const auto first = due_.begin();
    if (first->first > std::chrono::steady_clock::now()) {
      changed_.wait_until(lock, first->first);
      continue;
    }
    const unsigned long long key = first->second;
    due_.erase(first);
    const auto entry = entries_.find(key);
    if (entry == entries_.end()) continue;  // cancelled
    std::function<bool()> action = entry->second.action;
    running_ = key;
    lock.unlock();
    const bool again = action();
    lock.lock();
    running_ = 0;
    const auto still = entries_.find(key);
    if (still != entries_.end()) {
      if (again && still->second.repeat)
        due_.emplace(std::chrono::steady_clock::now() + still->second.period, key);
      else
        entries_.erase(still);
    }
    changed_.notify_all();
  }
}

Timer::Timer(float periodSeconds, std::function<bool()> action, std::shared_ptr<EventPoller> poller,
             bool repeat)
    : poller_(poller ? std::move(poller) : EventPoller::default_poller()) {
  const auto period =
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::duration<double>(periodSeconds));
  key_ = poller_->add(std::chrono::steady_clock::now() + period, {std::move(action), period, repeat});
}

Timer::~Timer() { poller_->cancel(key_); }
