#include "frss/ResourceDef.h"

#include <glog/logging.h>

#include <cstdio>

ResourceIdStore::ResourceIdStore(const std::unordered_map<unsigned long long, std::string>& mapId2Name,
                                 const std::string& zone)
    : zone_(zone), mapId2Name_(mapId2Name) {
  std::vector<unsigned long long> ids;
  for (const auto& item : mapId2Name_) {
    resIdSet_.insert(item.first);
    ids.push_back(item.first);
  }
  resUnion_ = assemble(ids);

  unsigned long long resUnion = 0;
  for (unsigned long long resEnum : resIdSet_) {
    if (resUnion & resEnum) {
      std::string listing;
      for (const auto& item : mapId2Name_) {
        char id[32];
        std::snprintf(id, sizeof(id), "%llu", item.first);
        listing += std::string(id) + ":" + item.second;
      }
      CHECK(not(resUnion & resEnum)) << "invalid resources, please check (" << zone_ << ") " << listing;
    }
    resUnion |= resEnum;
  }
}

unsigned long long ResourceIdStore::assemble(const std::vector<unsigned long long>& ids) {
  unsigned long long result = 0;
  for (unsigned long long id : ids) result |= id;
  return result;
}

std::vector<unsigned long long> ResourceIdStore::resolve(unsigned long long resunion) const {
  std::vector<unsigned long long> result;
  for (unsigned long long id : resIdSet_) {
    if (id & resunion) result.push_back(id);
  }
  return result;
}

std::string ResourceIdStore::print(unsigned long long resunion, const std::string& sep) const {
  std::string out = "Zone: " + zone_ + ", ";
  bool first = true;
  for (unsigned long long id : resolve(resunion)) {
    if (!first) out += sep;
    out += mapId2Name_.at(id);
    first = false;
  }
  return out;
}
