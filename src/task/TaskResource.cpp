#include "task/TaskResource.h"

#include <glog/logging.h>

#include <chrono>

#include "base/EnumStore.h"
#include "kbase/Clock.h"
#include "platform/Factories.h"

namespace {
// Between attempts of a retrying binding: long enough not to spin on the store's mutex, short
// against a frame interval.
constexpr double kRetryPauseMs = 2.0;
}  // namespace

TaskResource::TaskResource(unsigned long long ruRead, unsigned long long ruWrite, long long frameId,
                           bool retry)
    : TaskResource(singleton_FrameResourceStore(), ruRead, ruWrite, frameId, retry) {}

TaskResource::TaskResource(std::shared_ptr<FrameResourceStore> store, unsigned long long ruRead,
                           unsigned long long ruWrite, long long frameId, bool retry)
    : ruRead(ruRead), ruWrite(ruWrite), store_(std::move(store)) {
  unsigned long long failures = 0;
  auto lastLog = std::chrono::steady_clock::now();
  for (;;) {
    rw_ = store_->fetch_byunion(ruRead, ruWrite, frameId, 0);
    if (rw_.frameId >= 0) return;
    ++failures;
    const auto now = std::chrono::steady_clock::now();
    if (failures == 1 || now - lastLog >= std::chrono::seconds(1)) {
      const auto enums = singleton_EnumStore();
      LOG(ERROR) << "cannot fetch: ruRead = " << enums->print("RESOURCE", ruRead, "none")
                 << ", ruWrite = " << enums->print("RESOURCE", ruWrite, "none")
                 << (failures == 1 ? "" : " (" + std::to_string(failures) + " failed attempts)");
      lastLog = now;
    }
    if (!retry) return;
    sleep_ms_from_now(kRetryPauseMs);
  }
}

unsigned long long TaskResource::keys(const MapResId2ResBasePtr& m) {
  unsigned long long u = 0;
  for (const auto& entry : m) u |= entry.first;
  return u;
}

void TaskResource::cancel() {
  if (rw_.frameId < 0) return;
  const long long frame = rw_.frameId;
  const unsigned long long claimed = keys(rw_.mapWrite);
  rw_.frameId = -1;
  // The claims go back before the inputs: while the inputs are held, a full store cannot evict the
  // frame between the two steps.
  rw_.mapWrite.clear();
  store_->undo_written(frame, claimed);
  rw_.mapRead.clear();
}

TaskResource::~TaskResource() {
  if (rw_.frameId >= 0) store_->have_written(rw_.frameId, keys(rw_.mapWrite));
}
