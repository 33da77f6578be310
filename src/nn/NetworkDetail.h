// The catalogue of the neural networks the pipeline may run and of the tensors (blobs) they read and
// write, built once from the network configuration file named in the main configuration. Network
// wrappers are made from its NetworkDescriptions; network stores and pipeline queries read its
// BlobDescriptions and resource unions.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/ParamCfg.h"

// One configured tensor resource. Plain value, shared as a pointer to const.
struct BlobDescription {
  // Who allocates the tensor's memory; the IPU wrappers support only the library.
  enum Managed { MANAGED_BY_APPLICATION = 0, MANAGED_AS_SHADOW = 1, MANAGED_BY_LIBRARY = 2 };
  // "application", "shadow", "library".
  static const std::unordered_map<std::string, Managed> mapName2Enum;

  unsigned long long id = 0;  // "RESOURCE" identifier of the key name in `zone`
  std::string name;           // the tensor's name in the model
  std::string zone;           // resource zone
  std::vector<int> shape;
  Managed managed = MANAGED_BY_APPLICATION;

  // Compares id, name, shape and zone (not managed).
  bool operator==(const BlobDescription& other) const;
  // "Zone: <zone>, resEnum: <name of id>, name: <name>\n" and the shape joined by ", ".
  std::string print() const;
};

// One configured network. Plain value, shared as a pointer to const.
struct NetworkDescription {
  std::string netName;
  std::string resZone;
  unsigned long long networkType = 0;        // "NETWORK" identifier of the key name (zone "none")
  unsigned long long compCore = 0;           // "COMPCORE" identifier (zone "none")
  int forwardPriority = 0;                   // smaller runs first on a shared compute core
  std::vector<std::string> netDescriptions;  // model files: installation root + "/" + entry
  unsigned long long resUnionInput = 0;      // "RESOURCE" union in resZone
  unsigned long long resUnionOutput = 0;
  std::shared_ptr<const ParamCfg> cfg;  // the network's keys: a view with prefix <NET> + "/"

  std::string print() const;
};

// Thread-safe: lookups may come from any thread.
class NetworkDetail {
 public:
  // Reads every enabled network matching "^NETWORK_\w+$" and every top-level "^RESOURCE_\w+$" key
  // of `cfg`. Missing or malformed values are fatal.
  explicit NetworkDetail(const std::shared_ptr<const ParamCfg>& cfg);
  NetworkDetail(const NetworkDetail&) = delete;
  NetworkDetail& operator=(const NetworkDetail&) = delete;

  // The network `id`; null when absent, fatal when absent and failCheck.
  std::shared_ptr<const NetworkDescription> network_get(unsigned long long id, bool failCheck) const;
  // Identifiers of the "NETWORK" type (zone "none") that have a description.
  std::unordered_set<unsigned long long> network_list() const;
  // The blob `id` of `zone` (the zone must be known); null when absent, fatal when absent and
  // failCheck.
  std::shared_ptr<const BlobDescription> blob_get(unsigned long long id, bool failCheck,
                                                  const std::string& zone) const;
  // The blob named `name` in `zone`, with the same rules.
  std::shared_ptr<const BlobDescription> blob_get_by_name(const std::string& name, bool failCheck,
                                                          const std::string& zone) const;
  // Registers `d` unless its id is registered in its zone; the registered one must equal `d`
  // (fatal otherwise). Name lookups do not see blobs added here.
  void blob_put(const BlobDescription& d);

 private:
  template <typename K>
  struct DataStore {
    std::mutex mutex;  // guards map
    std::unordered_map<K, std::shared_ptr<const BlobDescription>> map;
  };

  mutable std::mutex mutex_;  // guards networks_
  std::unordered_map<unsigned long long, std::shared_ptr<const NetworkDescription>> networks_;
  // The zone maps are filled by the constructor, but blob_put may add a zone while others look up.
  mutable std::mutex zonesMutex_;  // guards the two maps below (not the stores in them)
  std::unordered_map<std::string, std::shared_ptr<DataStore<unsigned long long>>> blobInfo_;
  std::unordered_map<std::string, std::shared_ptr<DataStore<std::string>>> blobNameInfo_;
};

// Builds the catalogue from the main configuration `mainCfg`: reads the network configuration file
// ("networkCfg/relativePath" under the installation root, decrypted with "networkCfg/secret_id"
// when "networkCfg/encrypt"), adds "networkEnabled", "rootDir" and the enabled networks'
// "/forwardPriority" from "networkForwardOrder/<NET>". A missing file is fatal.
std::shared_ptr<NetworkDetail> produce_NetworkDetail(const std::shared_ptr<const ParamCfg>& mainCfg);

// The process-wide catalogue, built from singleton_ParamCfg() on first call (thread-safe).
std::shared_ptr<NetworkDetail> singleton_NetworkDetail();
