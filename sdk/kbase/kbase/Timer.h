// Timers of the base library: actions run later, once or periodically, on a poller thread. The frame
// reader's watchdog is such a timer.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

// A thread that runs timer actions at their deadlines, one at a time, in deadline order.
// Thread-safe. The destructor stops the thread after the action running at that moment.
class EventPoller {
 public:
  EventPoller();
  ~EventPoller();
  EventPoller(const EventPoller&) = delete;
  EventPoller& operator=(const EventPoller&) = delete;

  // The process-wide poller, built on first use.
  static std::shared_ptr<EventPoller> default_poller();

 private:
  friend class Timer;
  using SteadyTime = std::chrono::steady_clock::time_point;
  struct Entry {
    std::function<bool()> action;
    std::chrono::nanoseconds period;
    bool repeat;
  };

  // Schedules an action; returns its key for cancel().
  unsigned long long add(SteadyTime due, Entry entry);
  // Removes the action and, unless called from the action itself, waits until it is not running.
  void cancel(unsigned long long key);
  void loop();

  std::mutex mutex_;  // guards everything below
  std::condition_variable changed_;
  std::multimap<SteadyTime, unsigned long long> due_;
  std::map<unsigned long long, Entry> entries_;
  unsigned long long nextKey_ = 1;
  unsigned long long running_ = 0;  // key of the action running now, 0 when none
  bool stop_ = false;
  std::thread thread_;  // last: starts after the members above exist
};

// Runs `action` `periodSeconds` after construction on `poller` (the default poller when null); with
// `repeat` again every period for as long as the action returns true, otherwise once. The destructor
// cancels the timer and waits for an action that is running. Not thread-safe; one owner at a time.
class Timer {
 public:
  Timer(float periodSeconds, std::function<bool()> action, std::shared_ptr<EventPoller> poller = nullptr,
        bool repeat = true);
  ~Timer();
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;

 private:
  std::shared_ptr<EventPoller> poller_;
  unsigned long long key_;
};
