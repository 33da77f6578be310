// The registry of the resource identifiers of one store: identifier -> name, the set of
// identifiers and their union. Identifiers must be pairwise disjoint bit patterns.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Immutable after construction, hence thread-safe; shared by a store and its ledger.
class ResourceIdStore {
 public:
  // Copies the map and the zone; overlapping identifiers are fatal.
  ResourceIdStore(const std::unordered_map<unsigned long long, std::string>& mapId2Name, const std::string& zone);

  // Bitwise OR of `ids`; 0 for none.
  static unsigned long long assemble(const std::vector<unsigned long long>& ids);
  // Every registered identifier sharing a bit with `resunion`, in no promised order.
  std::vector<unsigned long long> resolve(unsigned long long resunion) const;
  // "Zone: " + zone + ", " + the names of resolve(resunion) joined by `sep`.
  std::string print(unsigned long long resunion, const std::string& sep) const;

  const std::string& zone() const { return zone_; }
  unsigned long long resUnion() const { return resUnion_; }
  const std::unordered_map<unsigned long long, std::string>& mapId2Name() const { return mapId2Name_; }
  const std::unordered_set<unsigned long long>& resIdSet() const { return resIdSet_; }

 private:
  std::string zone_;
  std::unordered_map<unsigned long long, std::string> mapId2Name_;
  std::unordered_set<unsigned long long> resIdSet_;
  unsigned long long resUnion_ = 0;
};
