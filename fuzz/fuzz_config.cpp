// JSON configuration text through DatabaseJsonMem and every typed read of ParamCfg, directly, through
// a prefixed view and through an ordered copy.
//
// A value that does not convert, or a missing single value where exactly one is demanded, is a
// configuration error and stops the process by design (glog CHECK / LOG(FATAL)). The target asks
// only what such a caller could ask without that stop: a typed read is made only when
// boost::conversion::try_lexical_convert (the conversion ParamCfg itself uses) accepts every value,
// and exactOneValue only for keys with exactly one value. Any other stop, crash or sanitizer report
// is a finding. (Catching the designed stop instead is not sound: glog calls its failure function
// while it holds its own log mutex, so leaving it by longjmp would deadlock the next log line, and
// leaving it by exit ends the fuzzing process.)
#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCommon.h"

namespace {

template <typename T>
bool converts(const std::vector<std::string>& values) {
  for (const std::string& v : values) {
    T t;
    if (!boost::conversion::try_lexical_convert(v, t)) return false;
  }
  return true;
}

template <typename T>
void read_typed(const ParamCfg& cfg, const std::string& key, const std::vector<std::string>& values) {
  if (!converts<T>(values)) return;
  const T def{};
  if (values.size() == 1) {
    CHECK(cfg.select_single<T>(key, true, def) == boost::lexical_cast<T>(values[0]) ||
          std::is_floating_point<T>::value);  // NaN is not equal to itself
  }
  (void)cfg.select_single<T>(key, false, def);
  const std::vector<T> list = cfg.select_multi<T>(key, false, {def});
  CHECK_EQ(list.size(), values.empty() ? 1u : values.size());
}

// Every read of `key` and of its children, depth first; `depth` bounds the walk of a hostile tree.
void walk(const ParamCfg& cfg, const std::string& key, int depth) {
  const std::vector<std::string> values = cfg.select_multi_local(key, false, {});
  if (values.size() == 1) CHECK_EQ(cfg.select_single(key, true, ""), values[0]);
  const std::string single = cfg.select_single(key, false, "default");
  CHECK(values.size() == 1 ? single == values[0] : single == "default");
  read_typed<bool>(cfg, key, values);
  read_typed<int>(cfg, key, values);
  read_typed<unsigned int>(cfg, key, values);
  read_typed<float>(cfg, key, values);
  if (depth > 64) return;
  for (const std::string& child : cfg.subkeys(key, false))
    walk(cfg, key.empty() ? child : key + "/" + child, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto db = std::make_shared<DatabaseJsonMem>();
  if (!db->load_text(std::string(reinterpret_cast<const char*>(data), size))) {
    CHECK(!db->error().empty());
    return 0;
  }
  walk(*db, "", 0);
  const std::vector<std::string> top = db->subkeys("", false);
  if (!top.empty()) {
    // A view adds its prefix: what it reads under "k" is the storage's "<first>/k".
    ParamCfg view(db, top.front() + "/");
    for (const std::string& child : db->subkeys(top.front(), false)) walk(view, child, 1);
  }
  DatabaseOrdered ordered(db);
  (void)ordered.print();
  walk(ordered, "", 0);
  return 0;
}
