// singleton_EnumStore: built on first use from the process-wide configuration.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>
#include <vector>

#include "base/EnumStore.h"

namespace {

TEST(EnumSingletonDeathTest, ConfigurationWithoutResourceKindsIsFatal) {
  EXPECT_DEATH(
      {
        setenv("KAVO_CONFIG", "/dev/null", 1);
        singleton_EnumStore();
      },
      "cannot load the configuration");
}

TEST(EnumSingletonTest, SampleConfigurationDefinesTheBuiltinKinds) {
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
  std::vector<std::shared_ptr<EnumStore>> seen(4);
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = singleton_EnumStore(); });
  for (auto& t : threads) t.join();
  for (auto& s : seen) EXPECT_EQ(s, seen[0]) << "one construction for concurrent first callers";
  auto res = seen[0]->get("RESOURCE");
  EXPECT_EQ(res->convert(1, "none"), "RESOURCE_FRAME_TIME");
  EXPECT_EQ(res->convert(64, "none"), "RESOURCE_MARKED_FACE_ROIS");
  EXPECT_EQ(seen[0]->get("TASK")->convert("TASK_GLOBAL", "none"), 0u);
}

}  // namespace
