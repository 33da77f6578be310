// Binding a task to the newest fit frame of a store: eligibility, publication, cancel and retry.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "task/TaskResource.h"
#include "testing/LogCapture.h"

namespace {
constexpr unsigned long long kIn = 2, kOut = 8;  // RESOURCE_LARGE_IMAGE, RESOURCE_DETECTOR_CLASS_ROIS

std::shared_ptr<FrameResourceStore> store_with_inputs(std::initializer_list<long long> frames) {
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
  auto store = produce_FrameResourceStore({{kIn, "IN"}, {kOut, "OUT"}}, 4, 1, "zone");
  for (unsigned long long id : {kIn, kOut})
    store->register_resource(
        id, [id] { return std::make_shared<ResourceBase>(id, "r", "none"); }, false);
  for (long long f : frames) {
    store->tobe_written(f, kIn, false, 0);
    store->have_written(f, kIn);
  }
  return store;
}
}  // namespace

TEST(TaskResourceTest, BindsTheNewestFitFramePublishesOnDestructionOrStaysUnboundWithOneErrorLine) {
  auto store = store_with_inputs({4, 5, 6});
  LogCapture errors(google::GLOG_ERROR);
  TaskResource none(store, kIn, kOut, 6, false);
  EXPECT_EQ(none.frameId(), -1);
  EXPECT_EQ(errors.count("cannot fetch: ruRead = "), 1);
  EXPECT_EQ(errors.count("RESOURCE_DETECTOR_CLASS_ROIS"), 1);
  {
    TaskResource first(store, kIn, kOut, 4, false);
    EXPECT_EQ(first.frameId(), 6);
    ASSERT_EQ(first.mapRead().count(kIn), 1u);
    ASSERT_EQ(first.mapWrite().count(kOut), 1u);
    TaskResource second(store, kIn, kOut, 4, false);  // frame 6 has its output claimed
    EXPECT_EQ(second.frameId(), 5);
  }
  EXPECT_NE(store->fetch_byframe(6, kOut).at(kOut), nullptr);
  EXPECT_NE(store->fetch_byframe(5, kOut).at(kOut), nullptr);
  store->debug();
}

TEST(TaskResourceTest, CancelReleasesTheClaimsAndTheFrameBecomesEligibleAgain) {
  auto store = store_with_inputs({4});
  {
    TaskResource binding(store, kIn, kOut, -1, false);
    ASSERT_EQ(binding.frameId(), 4);
    binding.cancel();
    EXPECT_EQ(binding.frameId(), -1);
    EXPECT_TRUE(binding.mapRead().empty() && binding.mapWrite().empty());
    binding.cancel();  // unbound: nothing
  }
  EXPECT_EQ(store->fetch_byframe(4, kOut).at(kOut), nullptr);
  TaskResource again(store, kIn, kOut, -1, false);
  EXPECT_EQ(again.frameId(), 4);
  again.cancel();
  store->debug();
}

TEST(TaskResourceTest, RetryWaitsForAFrameThatArrivesLater) {
  auto store = store_with_inputs({});
  std::thread producer([&] {
    store->tobe_written(9, kIn, false, 0);
    store->have_written(9, kIn);
  });
  TaskResource binding(store, kIn, kOut, -1, true);
  producer.join();
  EXPECT_EQ(binding.frameId(), 9);
}
