// The poller's timers: periodic and one-shot actions, cancellation by destruction.
#include <atomic>
#include <future>

#include "gtest/gtest.h"
#include "kbase/Timer.h"

TEST(TimerTest, PeriodicActionStopsWhenItReturnsFalseAndOneShotRunsOnce) {
  auto poller = std::make_shared<EventPoller>();
  std::atomic<int> periodic{0}, once{0};
  std::promise<void> stopped, later;
  Timer repeatUntil3(
      0.001f,
      [&] {
        if (++periodic < 3) return true;
        stopped.set_value();
        return false;
      },
      poller);
  Timer oneShot(
      0.0f, [&] { return ++once > 0; }, poller, /*repeat=*/false);
  stopped.get_future().wait();
  // A later timer on the same poller: a periodic action still alive would have run again by then.
  Timer check(
      0.02f,
      [&] {
        later.set_value();
        return false;
      },
      poller);
  later.get_future().wait();
  EXPECT_EQ(periodic, 3);
  EXPECT_EQ(once, 1);
}

TEST(TimerTest, DestroyingATimerCancelsItsAction) {
  std::atomic<bool> ran{false};
  Timer(3600.0f, [&] { return ran = true; });  // a temporary: cancelled at once
  std::promise<void> done;
  Timer next(0.0f, [&] {
    done.set_value();
    return false;
  });
  done.get_future().wait();
  EXPECT_FALSE(ran);
}
