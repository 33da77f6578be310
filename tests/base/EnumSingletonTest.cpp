// singleton_EnumStore: built on first use from the process-wide configuration.
#include <gtest/gtest.h>

#include "base/EnumStore.h"
#include "kbase/Database.h"

namespace {

TEST(EnumSingletonDeathTest, MissingResourceTypeIsFatalOnlyWhenLookedUp) {
  auto cfg = std::make_shared<DatabaseJsonMem>();
  cfg->load_text(R"({"EnumStore": {"NETWORK": {"none": ["NETWORK_DETECTOR"]}}})");
  install_ParamCfg(cfg);
  EXPECT_EQ(singleton_EnumStore()->convert("NETWORK", 1, "none"), "NETWORK_DETECTOR");
  EXPECT_DEATH(singleton_EnumStore()->get("RESOURCE"),
               "Check failed: _mapType2EnumBase.find\\(type\\) != _mapType2EnumBase.end\\(\\) RESOURCE");
}

}  // namespace
