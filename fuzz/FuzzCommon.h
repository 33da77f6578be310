// Shared set-up of the fuzz targets: quiet logging (only a fatal stop prints) and the bundled
// configuration installed as the process-wide one, with optional overrides.
#pragma once

#include <glog/logging.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "kbase/Database.h"

namespace fuzz {

// Once per process, before the first input.
inline void init_logging() {
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = std::getenv("KAVO_FUZZ_VERBOSE") ? google::GLOG_INFO : google::GLOG_FATAL;
  google::InitGoogleLogging("kavo_fuzz");
}

inline void install_config(const std::vector<std::pair<std::string, std::string>>& overrides = {}) {
  auto db = std::make_shared<DatabaseJsonMem>();
  CHECK(db->load(KAVO_CONFIG_FILE, false, 0)) << db->error();
  for (const auto& [key, value] : overrides) db->store_multi_local(key, {value}, false);
  install_ParamCfg(db);
}

}  // namespace fuzz
