#include "base/EnumStore.h"

#include <glog/logging.h>

#include <boost/lexical_cast.hpp>
#include <utility>
#include <vector>

#include "base/ParamCfg.h"
#include "kbase/Database.h"

namespace {
// Resource kinds every configuration must define in RESOURCE/none, with these identifiers.
const std::vector<std::pair<const char*, unsigned long long>> kBuiltinResources = {
    {"RESOURCE_FRAME_TIME", 1},          {"RESOURCE_LARGE_IMAGE", 2},         {"RESOURCE_SMALL_IMAGE", 4},
    {"RESOURCE_DETECTOR_CLASS_ROIS", 8}, {"RESOURCE_DETECTOR_PART_ROIS", 16}, {"RESOURCE_TRACKER_ROIS", 32},
    {"RESOURCE_MARKED_FACE_ROIS", 64},
};
}  // namespace

std::shared_ptr<EnumBase> EnumStore::get(const std::string& type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = _mapType2EnumBase.find(type);
  CHECK(_mapType2EnumBase.find(type) != _mapType2EnumBase.end()) << type;
  return it->second;
}

std::shared_ptr<EnumBase> EnumStore::add_type(const std::string& type) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& slot = _mapType2EnumBase[type];
  if (!slot) slot = std::make_shared<EnumBase>(type);
  return slot;
}

bool EnumStore::has_type(const std::string& type) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return _mapType2EnumBase.find(type) != _mapType2EnumBase.end();
}

std::string EnumStore::convert(const std::string& type, unsigned long long id,
                               const std::string& zone) const {
  return get(type)->convert(id, zone);
}

std::string EnumStore::print(const std::string& type, unsigned long long id, const std::string& zone) const {
  return get(type)->print(id, zone);
}

std::unordered_map<unsigned long long, std::string> EnumStore::mapId2String(const std::string& type,
                                                                            const std::string& zone) const {
  return get(type)->mapId2String(zone);
}

void EnumStore::load(const ParamCfg& cfg, const std::string& key) {
  for (const std::string& type : cfg.subkeys(key, false)) {
    auto base = add_type(type);
    for (const std::string& zone : cfg.subkeys(key + "/" + type, false)) {
      base->add_zone(zone);
      for (const std::string& entry : cfg.select_multi_local(key + "/" + type + "/" + zone, false, {})) {
        size_t eq = entry.find('=');
        if (eq == std::string::npos) {
          base->add_next(zone, entry);
          continue;
        }
        std::string name = entry.substr(0, eq);
        unsigned long long id = 0;
        try {
          id = boost::lexical_cast<unsigned long long>(entry.substr(eq + 1));
        } catch (const boost::bad_lexical_cast& e) {
          LOG(FATAL) << key << "/" << type << "/" << zone << " -> " << entry << ": " << e.what();
        }
        base->add(zone, id, name);
      }
    }
  }
  if (!has_type("RESOURCE")) return;
  auto resources = get("RESOURCE");
  for (const auto& [name, id] : kBuiltinResources) {
    CHECK(resources->has_zone("none")) << "EnumStore: RESOURCE/none must define the built-in kinds";
    CHECK_EQ(resources->convert(name, "none"), id) << "EnumStore: " << name << " must be " << id;
  }
}

std::shared_ptr<EnumStore> singleton_EnumStore() {
  static std::shared_ptr<EnumStore> store = [] {
    auto s = std::make_shared<EnumStore>();
    // A configuration without some type is not refused here: looking that type up is what fails
    // (get), so a process that never asks for it runs.
    s->load(*singleton_ParamCfg());
    return s;
  }();
  return store;
}
