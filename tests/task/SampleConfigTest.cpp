// The bundled configuration (config/kavo.json) is usable as it stands: its enums load and its
// detector section builds a handler.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "task/DetectorHandler.h"

TEST(SampleConfigTest, DetectorSectionBuildsAHandlerWithItsCategories) {
  setenv("KAVO_CONFIG", KAVO_CONFIG_FILE, 1);
  DetectorHandler handler(std::make_shared<ParamCfg>(singleton_ParamCfg(), "Detector/"), {{"HEAD_SSD_38", 1}},
                          {{1, {2, 4}}});
  auto categories = singleton_EnumStore()->get("ROICATEGORY");
  EXPECT_EQ(handler.mapLabel2Category().at(0), categories->convert("ROICATEGORY_DET_person", "none"));
  EXPECT_EQ(handler.mapLabel2Category().at(2), categories->convert("ROICATEGORY_DET_car", "none"));
  EXPECT_EQ(handler.mapDetType2Args().size(), 1u);
}
