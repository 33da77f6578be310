// Clocks, scoped time measurements and sleeping of the base library.
#pragma once

#include <chrono>
#include <string>

// Elapsed time since construction or the last reset(). Not thread-safe; one owner at a time.
template <typename ClockT>
class Clock {
 public:
  Clock() : start_(ClockT::now()) {}
  void reset() { start_ = ClockT::now(); }
  double elapsed_ms() const {
    return std::chrono::duration<double, std::milli>(ClockT::now() - start_).count();
  }

 private:
  typename ClockT::time_point start_;
};

// Scoped measurement: on destruction logs "[Time Cost] " + what + ": " + ms + " ms." at INFO,
// where `what` is the identifier in decimal.
class Benchmark {
 public:
  explicit Benchmark(int id);
  ~Benchmark();
  Benchmark(const Benchmark&) = delete;
  Benchmark& operator=(const Benchmark&) = delete;

 private:
  std::string what_;
  Clock<std::chrono::steady_clock> clock_;
};

// Sleeps `ms` milliseconds (fractions allowed; nothing for ms <= 0).
void sleep_ms_from_now(double ms);
