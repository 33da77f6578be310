// Enumerations of one type ("RESOURCE", "NETWORK", ...): per zone, a bijection between 64-bit
// identifiers (usually one bit each) and names. Identifiers of one zone form unions by OR.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// Thread-safe.
class EnumBase {
 public:
  explicit EnumBase(std::string type);
  EnumBase(const EnumBase&) = delete;
  EnumBase& operator=(const EnumBase&) = delete;

  const std::string& type() const { return type_; }

  // Registers `name` as `id` in `zone` (creating the zone). A name or identifier already present
  // in the zone is fatal.
  void add(const std::string& zone, unsigned long long id, const std::string& name);
  // Registers `name` with the lowest bit not yet used in `zone` and returns it. Fatal beyond 64 bits.
  unsigned long long add_next(const std::string& zone, const std::string& name);
  // Creates `zone` without entries (no-op when it exists).
  void add_zone(const std::string& zone);
  bool has_zone(const std::string& zone) const;

  // Name of `id` in `zone`; "UNKNOWN(<id>)" when the zone has no such identifier. Fatal for an
  // unknown zone.
  std::string convert(unsigned long long id, const std::string& zone) const;
  // Identifier of `name` in `zone`. Fatal for an unknown zone or name.
  unsigned long long convert(const std::string& name, const std::string& zone) const;
  // "Zone: " + zone + ", " + names joined by ",": the name of `id` when it is registered as it
  // stands (identifier 0 included), otherwise the names of the single-bit identifiers it contains.
  std::string print(unsigned long long id, const std::string& zone) const;
  // `resunion` split into its single-bit identifiers, ascending, whether or not `zone` names them.
  // Fatal for an unknown zone.
  std::vector<unsigned long long> resolve(unsigned long long resunion, const std::string& zone) const;
  // The union (OR) of the identifiers of `names` in `zone`. Fatal for an unknown name.
  unsigned long long collect(const std::vector<std::string>& names, const std::string& zone) const;
  // A copy of the identifier -> name map of `zone`. Fatal for an unknown zone.
  std::unordered_map<unsigned long long, std::string> mapId2String(const std::string& zone) const;

 private:
  void add_nolock(const std::string& zone, unsigned long long id, const std::string& name);
  void check_zone_nolock(const std::string& zone) const;
  // The registered non-zero identifiers of `zone` contained in `resunion`, ascending.
  std::vector<unsigned long long> registered_nolock(unsigned long long resunion,
                                                    const std::string& zone) const;

  const std::string type_;
  mutable std::mutex mutex_;  // guards the three maps below
  std::unordered_map<std::string, std::unordered_map<unsigned long long, std::string>> _mapZone8Id2String;
  std::unordered_map<std::string, std::unordered_set<unsigned long long>> _mapZone8setId;
  std::unordered_map<std::string, std::unordered_map<std::string, unsigned long long>> _mapZone8String2Id;
};
