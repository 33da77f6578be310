// The process-wide store, socket reader and frame reader built from configuration (own executable:
// they are process-wide singletons).
#include <gtest/gtest.h>
#include <unistd.h>

#include "kbase/Database.h"
#include "platform/Factories.h"
#include "util/FrameReader.h"
#include "util/ResourceImage.h"
#include "util/ShareData.h"

namespace {
void use_config(const std::vector<std::pair<std::string, std::string>>& overrides) {
  auto db = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(db->load(KAVO_CONFIG_FILE, false, 0));
  // An empty value removes the key's values.
  for (const auto& [key, value] : overrides)
    db->store_multi_local(key, value.empty() ? std::vector<std::string>{} : std::vector<std::string>{value},
                          false);
  install_ParamCfg(db);
}
}  // namespace

TEST(FactoriesDeathTest, MoreThanTwentyGlobalResourcesAndMissingSocketKeysAreFatal) {
  EXPECT_DEATH((use_config({{"memCntPreallocatedByLib_Global", "21"}}), singleton_FrameResourceStore()),
               "Check failed: memCnt <= 20");
  EXPECT_DEATH((use_config({{"FrameReaderHisi/fromCameraNotVideo", "0"}, {"ShareDataVideo/height", ""}}),
                singleton_ShareDataReader()),
               "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) ShareDataVideo/height");
}

TEST(FactoriesTest, BuildsTheStoreAndAVideoReaderOverNanomsgFromConfiguration) {
  const std::string addr = "ipc:///tmp/kavo-factories-" + std::to_string(getpid());
  use_config({{"FrameReaderHisi/fromCameraNotVideo", "0"},
              {"ShareDataVideo/type", "nn"},
              {"ShareDataVideo/addr", addr},
              {"ShareDataVideo/asClient", "0"}});
  auto store = singleton_FrameResourceStore();
  EXPECT_EQ(store, singleton_FrameResourceStore());
  EXPECT_EQ(store->capacity(), 20);
  EXPECT_EQ(store->are_registered(127), 127u);
  auto claimed = store->tobe_written(0, 2 | 4, false, 0);
  EXPECT_EQ(claimed.at(2)->resName(), "RESOURCE_LARGE_IMAGE");
  EXPECT_EQ(std::dynamic_pointer_cast<ResourceImage>(claimed.at(4))->image()->width(), 0u);
  store->undo_written(0, 2 | 4);

  auto reader = singleton_FrameReader();
  EXPECT_FALSE(reader->from_camera());
  EXPECT_EQ(reader->get_large_image_dim(), std::make_pair(1920, 1080));
  EXPECT_EQ(singleton_ShareDataReader()->name(), "FrameReaderShareData_NN");
  EXPECT_EQ(singleton_ShareDataReader()->video_format(), "yuv");
}
