// The enum registry: enumeration types ("RESOURCE", "NETWORK", "COMPCORE", "TASK", "ROICATEGORY")
// by name. The process-wide registry is populated from the main configuration's section
// "EnumStore/<TYPE>/<ZONE>": a list of names, each taking the next free bit of its zone, or
// "NAME=<id>" entries with an explicit identifier.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

#include "base/EnumBase.h"

class ParamCfg;

// Thread-safe.
class EnumStore {
 public:
  EnumStore() = default;
  EnumStore(const EnumStore&) = delete;
  EnumStore& operator=(const EnumStore&) = delete;

  // The enumeration of `type`. Fatal when the type is not registered.
  std::shared_ptr<EnumBase> get(const std::string& type) const;
  // The enumeration of `type`, created empty when absent.
  std::shared_ptr<EnumBase> add_type(const std::string& type);
  bool has_type(const std::string& type) const;

  std::string convert(const std::string& type, unsigned long long id, const std::string& zone) const;
  std::string print(const std::string& type, unsigned long long id, const std::string& zone) const;
  std::unordered_map<unsigned long long, std::string> mapId2String(const std::string& type,
                                                                   const std::string& zone) const;

  // Adds every type and zone listed under `key` of `cfg` (see the file comment). When the type
  // "RESOURCE" is loaded, its zone "none" must hold the built-in kinds with their fixed values.
  void load(const ParamCfg& cfg, const std::string& key = "EnumStore");

 private:
  mutable std::mutex mutex_;  // guards _mapType2EnumBase (the EnumBase objects lock themselves)
  std::unordered_map<std::string, std::shared_ptr<EnumBase>> _mapType2EnumBase;
};

// The process-wide registry, loaded from singleton_ParamCfg() on first use.
std::shared_ptr<EnumStore> singleton_EnumStore();
