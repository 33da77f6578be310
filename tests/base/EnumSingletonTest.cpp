// singleton_EnumStore: built on first use from the process-wide configuration.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>
#include <vector>

#include "base/EnumStore.h"
#include "kbase/Database.h"

namespace {

TEST(EnumSingletonDeathTest, MissingResourceTypeIsFatalOnlyWhenLookedUp) {
  EXPECT_DEATH(
      {
        auto cfg = std::make_shared<DatabaseJsonMem>();
        cfg->load_text(R"({"EnumStore": {"NETWORK": {"none": ["NETWORK_DETECTOR"]}}})");
        install_ParamCfg(cfg);
        if (singleton_EnumStore()->convert("NETWORK", 1, "none") == "NETWORK_DETECTOR")
          singleton_EnumStore()->get("RESOURCE");
      },
      "Check failed: _mapType2EnumBase.find\\(type\\) != _mapType2EnumBase.end\\(\\) RESOURCE");
}

TEST(EnumSingletonTest, ConcurrentFirstCallersShareOneStore) {
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
  std::vector<std::shared_ptr<EnumStore>> seen(4);
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = singleton_EnumStore(); });
  for (auto& t : threads) t.join();
  for (auto& s : seen) EXPECT_EQ(s, seen[0]);
  EXPECT_EQ(seen[0]->convert("RESOURCE", 64, "none"), "RESOURCE_MARKED_FACE_ROIS");
}

}  // namespace
