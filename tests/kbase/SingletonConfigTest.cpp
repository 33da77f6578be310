// singleton_ParamCfg: loaded from KAVO_CONFIG on first use, or installed by the application.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "kbase/Database.h"

namespace {

TEST(SingletonParamCfgDeathTest, MissingOrMalformedFileIsFatalAndNamesIt) {
  setenv("KAVO_CONFIG", "/no/such/kavo.json", 1);
  EXPECT_DEATH(singleton_ParamCfg(),
               "cannot load the configuration /no/such/kavo.json: cannot read the file");
  setenv("KAVO_CONFIG", KAVO_TEST_DATA "/malformed.json", 1);
  EXPECT_DEATH(singleton_ParamCfg(), "cannot load the configuration .*malformed.json: .*parse error");
}

}  // namespace
