#include "frss/ResourceBase.h"

#include <glog/logging.h>

#include <cstdio>

#include "base/EnumStore.h"

ResourceBase::ResourceBase(unsigned long long resId, std::string resName, std::string zone)
    : zone_(std::move(zone)), resId_(resId), resName_(std::move(resName)) {}

ResourceBase::~ResourceBase() = default;

std::string ResourceBase::print() const {
  char cnt[16];
  std::snprintf(cnt, sizeof(cnt), "%d", readCnt_);
  return "Zone: " + zone_ + ", resName: " + resName_ + ", readCnt: " + cnt;
}

void ResourceBase::clean_content() {}

MapResId2ResBasePtr pick(const MapResId2ResBasePtr& m, unsigned long long resunion) {
  MapResId2ResBasePtr result;
  for (const auto& item : m) {
    unsigned long long inside = item.first & resunion;
    if (inside == item.first) {
      result.insert(item);
      continue;
    }
    unsigned long long common = inside;
    CHECK(common == 0);
  }
  return result;
}

MapResId2ResBasePtr merge(const MapResId2ResBasePtr& a, const MapResId2ResBasePtr& b) {
  MapResId2ResBasePtr result = a;
  for (const auto& item : b) {
    CHECK(result.find(item.first) == result.end());
    result.insert(item);
  }
  return result;
}

std::string print_MapResId2ResBasePtr(const MapResId2ResBasePtr& m) {
  auto resources = singleton_EnumStore()->get("RESOURCE");
  std::string out;
  for (const auto& item : m) {
    out += resources->convert(item.first, "none") + ": ";
    out += item.second ? item.second->print() : std::string("(null)");
    out += "\n";
  }
  return out;
}

std::string print_CombFidMapResBase(const CombFidMapResBase& c) {
  return "FrameId: " + std::to_string(c.frameId) + "\n" + print_MapResId2ResBasePtr(c.mapRes);
}

std::string print_CombFidMapResBaseRW(const CombFidMapResBaseRW& c) {
  return "FrameId: " + std::to_string(c.frameId) + "\n" + "mapRead:\n" + print_MapResId2ResBasePtr(c.mapRead) +
         "\n" + "mapWrite:\n" + print_MapResId2ResBasePtr(c.mapWrite) + "\n";
}
