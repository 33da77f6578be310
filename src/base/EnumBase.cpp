#include "base/EnumBase.h"

#include <glog/logging.h>

#include <algorithm>

EnumBase::EnumBase(std::string type) : type_(std::move(type)) {}

void EnumBase::add(const std::string& zone, unsigned long long id, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  add_nolock(zone, id, name);
}

void EnumBase::add_nolock(const std::string& zone, unsigned long long id, const std::string& name) {
  auto& ids = _mapZone8setId[zone];
  auto& names = _mapZone8String2Id[zone];
  CHECK(ids.find(id) == ids.end()) << type_ << "/" << zone << ": identifier " << id << " of " << name
                                   << " is already used by " << _mapZone8Id2String[zone][id];
  CHECK(names.find(name) == names.end())
      << type_ << "/" << zone << ": name " << name << " is already defined";
  ids.insert(id);
  names[name] = id;
  _mapZone8Id2String[zone][id] = name;
}

unsigned long long EnumBase::add_next(const std::string& zone, const std::string& name) {
  // The free bit is chosen and taken under one lock: two callers must never pick the same bit.
  std::lock_guard<std::mutex> lock(mutex_);
  const auto& ids = _mapZone8setId[zone];
  int bit = 0;
  while (bit < 64 && ids.count(1ull << bit)) ++bit;
  CHECK_LT(bit, 64) << type_ << "/" << zone << ": no free bit left for " << name;
  const unsigned long long id = 1ull << bit;
  add_nolock(zone, id, name);
  return id;
}

void EnumBase::add_zone(const std::string& zone) {
  std::lock_guard<std::mutex> lock(mutex_);
  _mapZone8setId[zone];
  _mapZone8Id2String[zone];
  _mapZone8String2Id[zone];
}

bool EnumBase::has_zone(const std::string& zone) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return _mapZone8setId.find(zone) != _mapZone8setId.end();
}

void EnumBase::check_zone_nolock(const std::string& zone) const {
  CHECK(_mapZone8setId.find(zone) != _mapZone8setId.end()) << zone;
}

std::string EnumBase::convert(unsigned long long id, const std::string& zone) const {
  std::lock_guard<std::mutex> lock(mutex_);
  check_zone_nolock(zone);
  const auto& names = _mapZone8Id2String.at(zone);
  auto it = names.find(id);
  return it == names.end() ? "UNKNOWN(" + std::to_string(id) + ")" : it->second;
}

unsigned long long EnumBase::convert(const std::string& name, const std::string& zone) const {
  std::lock_guard<std::mutex> lock(mutex_);
  check_zone_nolock(zone);
  const auto& ids = _mapZone8String2Id.at(zone);
  auto it = ids.find(name);
  CHECK(it != ids.end()) << type_ << "/" << zone << ": unknown name " << name;
  return it->second;
}

std::vector<unsigned long long> EnumBase::registered_nolock(unsigned long long resunion,
                                                            const std::string& zone) const {
  std::vector<unsigned long long> result;
  for (unsigned long long id : _mapZone8setId.at(zone)) {
    if (id != 0 && (id & resunion) == id) result.push_back(id);
  }
  std::sort(result.begin(), result.end());
  return result;
}

std::vector<unsigned long long> EnumBase::resolve(unsigned long long resunion,
                                                  const std::string& zone) const {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    check_zone_nolock(zone);
  }
  // Every bit, named or not: a caller that waits on or monitors a kind must see it even when the
  // configuration does not name it, rather than have it vanish from the union.
  std::vector<unsigned long long> result;
  for (int bit = 0; bit < 64; ++bit) {
    if (resunion & (1ull << bit)) result.push_back(1ull << bit);
  }
  return result;
}

std::string EnumBase::print(unsigned long long id, const std::string& zone) const {
  std::lock_guard<std::mutex> lock(mutex_);
  check_zone_nolock(zone);
  const auto& names = _mapZone8Id2String.at(zone);
  std::string out = "Zone: " + zone + ", ";
  auto exact = names.find(id);
  if (exact != names.end()) return out + exact->second;
  unsigned long long covered = 0;
  bool first = true;
  for (unsigned long long one : registered_nolock(id, zone)) {
    if (!first) out += ",";
    out += names.at(one);
    covered |= one;
    first = false;
  }
  // Bits without a name still show, so that a log line never hides part of a union.
  for (int bit = 0; bit < 64; ++bit) {
    unsigned long long one = 1ull << bit;
    if ((id & one) && !(covered & one)) {
      if (!first) out += ",";
      out += "UNKNOWN(" + std::to_string(one) + ")";
      first = false;
    }
  }
  return out;
}

unsigned long long EnumBase::collect(const std::vector<std::string>& names, const std::string& zone) const {
  unsigned long long result = 0;
  for (const std::string& name : names) result |= convert(name, zone);
  return result;
}

std::unordered_map<unsigned long long, std::string> EnumBase::mapId2String(const std::string& zone) const {
  std::lock_guard<std::mutex> lock(mutex_);
  CHECK(_mapZone8Id2String.find(zone) != _mapZone8Id2String.end()) << zone;
  return _mapZone8Id2String.at(zone);
}
