#include "kbase/Clock.h"

#include <glog/logging.h>

#include <thread>

#include "kbase/Helper.h"

Benchmark::Benchmark(int id) : what_(std::to_string(id)) {}

Benchmark::~Benchmark() {
  LOG(INFO) << "[Time Cost] " << what_ << ": " << helper::print(clock_.elapsed_ms(), 3) << " ms.";
}

void sleep_ms_from_now(double ms) {
  if (!(ms > 0)) return;
  std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms));
}
