// Task resource binding: one run of a pipeline stage bound to one frame of a store. Construction
// finds the newest frame, newer than the one the task processed last, in which the task's inputs
// are published and none of its outputs exists, fetches the inputs and claims the outputs;
// destruction publishes the outputs; cancel() releases them instead.
#pragma once

#include <memory>

#include "frss/FrameResourceStore.h"
#include "frss/ResourceBase.h"

// Not thread-safe; one owner (the stage) at a time. Any number of bindings may be made concurrently:
// the store serialises them, and a bound frame's outputs are claimed, so two bindings with the same
// outputs never share a frame.
class TaskResource {
 public:
  // Binds to the process-wide store (singleton_FrameResourceStore()). Only frames strictly newer
  // than `frameId` are eligible. Without an eligible frame: one ERROR line and unbound (frameId -1)
  // when `retry` is false; otherwise it tries again until it binds, waiting a few milliseconds
  // between attempts and logging again at most once per second.
  TaskResource(unsigned long long ruRead, unsigned long long ruWrite, long long frameId, bool retry);
  // The same on `store`.
  TaskResource(std::shared_ptr<FrameResourceStore> store, unsigned long long ruRead,
               unsigned long long ruWrite, long long frameId, bool retry);
  // Publishes the claimed outputs of a bound frame.
  ~TaskResource();
  TaskResource(const TaskResource&) = delete;
  TaskResource& operator=(const TaskResource&) = delete;

  // Releases the claimed outputs without publishing them and unbinds. Nothing when unbound.
  void cancel();

  long long frameId() const { return rw_.frameId; }
  const MapResId2ResBasePtr& mapRead() const { return rw_.mapRead; }
  const MapResId2ResBasePtr& mapWrite() const { return rw_.mapWrite; }
  const CombFidMapResBaseRW& rw() const { return rw_; }

 private:
  static unsigned long long keys(const MapResId2ResBasePtr& m);

  [[maybe_unused]] unsigned long long ruRead;  // the unions it was bound with
  [[maybe_unused]] unsigned long long ruWrite;
  CombFidMapResBaseRW rw_;
  std::shared_ptr<FrameResourceStore> store_;
};
