// The process-wide image and frame-detail dictionary, built from an installed configuration.
#include <gtest/gtest.h>

#include "kbase/Database.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"
#include "util/ResourceImage.h"

namespace {

void install(const std::string& json) {
  auto cfg = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(cfg->load_text(json)) << cfg->error();
  install_ParamCfg(cfg);
}

// Death tests run first, each in a fresh child that builds the singletons from its own configuration.
TEST(ProduceImageSingletonDeathTest, BadOrMissingConfigurationIsFatal) {
  const std::string oneValue = "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) ";
  EXPECT_DEATH((install(R"({"ImageFormat": "ImageBgr"})"), produce_Image()), "cannot recognize ImageBgr");
  EXPECT_DEATH((install("{}"), produce_Image()), oneValue + "ImageFormat: ");
  EXPECT_DEATH((install(R"({"memCntPreallocatedByLib_Global": 20, "ImageDetailDict": {"capacity": 10}})"),
                singleton_FrameDetailDict()),
               "Check failed: capacity >= memCntPreallocatedByLib ");
  EXPECT_DEATH((install(R"({"ImageDetailDict": {"capacity": 10}})"), singleton_FrameDetailDict()),
               oneValue + "memCntPreallocatedByLib_Global: ");
}

TEST(ProduceImageSingletonTest, EveryCallSharesOneImageAndOneDictionary) {
  install(R"({"ImageFormat": "ImageYuv420sp", "memCntPreallocatedByLib_Global": 3,
              "ImageDetailDict": {"capacity": 3}})");
  auto image = produce_Image();
  ASSERT_TRUE(std::dynamic_pointer_cast<ImageYuv420sp>(image));
  EXPECT_EQ(produce_Image(), image);
  image->reshape(64, 32);
  EXPECT_NE(image->phy(), 0u);  // platform memory
  auto dict = singleton_FrameDetailDict();
  EXPECT_EQ(dict->capacity(), 3u);
  EXPECT_EQ(singleton_FrameDetailDict(), dict);
}

}  // namespace
