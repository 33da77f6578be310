#include "nn/NetworkDetail.h"

#include <glog/logging.h>

#include <boost/regex.hpp>
#include <sstream>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "kbase/Path.h"

const std::unordered_map<std::string, BlobDescription::Managed> BlobDescription::mapName2Enum = {
    {"application", BlobDescription::MANAGED_BY_APPLICATION},
    {"shadow", BlobDescription::MANAGED_AS_SHADOW},
    {"library", BlobDescription::MANAGED_BY_LIBRARY},
};

namespace {

std::string join_ints(const std::vector<int>& values) {
  std::ostringstream os;
  for (size_t i = 0; i < values.size(); ++i) os << (i == 0 ? "" : ", ") << values[i];
  return os.str();
}

}  // namespace

bool BlobDescription::operator==(const BlobDescription& other) const {
  return id == other.id && name == other.name && shape == other.shape && zone == other.zone;
}

std::string BlobDescription::print() const {
  return "Zone: " + zone + ", resEnum: " + singleton_EnumStore()->convert("RESOURCE", id, zone) +
         ", name: " + name + "\n" + join_ints(shape);
}

std::string NetworkDescription::print() const {
  auto enums = singleton_EnumStore();
  std::ostringstream os;
  os << "netName: " << netName << ", resZone: " << resZone
     << ", networkType: " << enums->convert("NETWORK", networkType, "none")
     << ", compCore: " << enums->convert("COMPCORE", compCore, "none") << "\n"
     << "netDescriptions: " << ParamCfg::join(netDescriptions) << "\n"
     << "resunionInput: " << enums->get("RESOURCE")->print(resUnionInput, resZone) << "\n"
     << "resunionOutput: " << enums->get("RESOURCE")->print(resUnionOutput, resZone) << "\n"
     << "parameters:\n"
     << DatabaseOrdered(cfg).print() << "\n";
  return os.str();
}

NetworkDetail::NetworkDetail(const std::shared_ptr<const ParamCfg>& cfg) {
  const std::string root = GlobalPathCfg::get(0);
  auto enums = singleton_EnumStore();
  auto networks = enums->get("NETWORK");
  auto cores = enums->get("COMPCORE");
  auto resources = enums->get("RESOURCE");
  const boost::regex networkName("^NETWORK_\\w+$");
  for (const std::string& net : cfg->select_multi_local("networkEnabled", true, {})) {
    if (!boost::regex_match(net, networkName)) continue;
    LOG(INFO) << "NETWORK: " << net;
    auto d = std::make_shared<NetworkDescription>();
    d->netName = cfg->select_single(net + "/netName", true, "");
    d->resZone = cfg->select_single(net + "/resZone", true, "");
    d->networkType = networks->convert(net, "none");
    d->compCore = cores->convert(cfg->select_single(net + "/compCore", true, ""), "none");
    d->forwardPriority = cfg->select_single<int>(net + "/forwardPriority", true, 0);
    // Joined even when an entry is absolute: entries are always relative to the installation.
    for (const std::string& entry : cfg->select_multi_local(net + "/netDescriptions", true, {})) {
      d->netDescriptions.push_back(root + "/" + entry);
    }
    d->resUnionInput =
        resources->collect(cfg->select_multi_local(net + "/resUnionInput", true, {}), d->resZone);
    d->resUnionOutput =
        resources->collect(cfg->select_multi_local(net + "/resUnionOutput", true, {}), d->resZone);
    d->cfg = std::make_shared<ParamCfg>(cfg, net + "/");
    std::lock_guard<std::mutex> lock(mutex_);
    networks_[d->networkType] = d;
  }
  const boost::regex resourceName("^RESOURCE_\\w+$");
  for (const std::string& key : cfg->subkeys("", true)) {
    if (!boost::regex_match(key, resourceName)) continue;
    LOG(INFO) << "RESOURCE: " << key;
    auto b = std::make_shared<BlobDescription>();
    b->zone = cfg->select_single(key + "/zone", true, "");
    b->id = resources->convert(key, b->zone);
    b->name = cfg->select_single(key + "/name", true, "");
    b->shape = cfg->select_multi<int>(key + "/shape", true, {});
    const std::string managed = cfg->select_single(key + "/managed", true, "");
    const auto& mapName2Enum = BlobDescription::mapName2Enum;
    auto it = mapName2Enum.find(managed);
    CHECK(it != mapName2Enum.end()) << managed;
    b->managed = it->second;
    std::lock_guard<std::mutex> lock(zonesMutex_);
    auto& byId = blobInfo_[b->zone];
    if (!byId) byId = std::make_shared<DataStore<unsigned long long>>();
    auto& byName = blobNameInfo_[b->zone];
    if (!byName) byName = std::make_shared<DataStore<std::string>>();
    {
      std::lock_guard<std::mutex> storeLock(byId->mutex);
      byId->map[b->id] = b;
    }
    std::lock_guard<std::mutex> storeLock(byName->mutex);
    byName->map[b->name] = b;
  }
}

std::shared_ptr<const NetworkDescription> NetworkDetail::network_get(unsigned long long id,
                                                                     bool failCheck) const {
  std::shared_ptr<const NetworkDescription> ptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = networks_.find(id);
    if (it != networks_.end()) ptr = it->second;
  }
  // clang-format off
  CHECK(not (failCheck and not ptr)) << singleton_EnumStore()->convert("NETWORK", id, "none")
                                     << " may be not enabled";
  // clang-format on
  return ptr;
}

std::unordered_set<unsigned long long> NetworkDetail::network_list() const {
  std::unordered_set<unsigned long long> out;
  for (const auto& entry : singleton_EnumStore()->mapId2String("NETWORK", "none")) {
    if (network_get(entry.first, false)) out.insert(entry.first);
  }
  return out;
}

std::shared_ptr<const BlobDescription> NetworkDetail::blob_get(unsigned long long id, bool failCheck,
                                                               const std::string& zone) const {
  std::shared_ptr<DataStore<unsigned long long>> store;
  {
    std::lock_guard<std::mutex> lock(zonesMutex_);
    CHECK(blobInfo_.find(zone) != blobInfo_.end());
    store = blobInfo_.at(zone);
  }
  std::shared_ptr<const BlobDescription> ptr;
  {
    std::lock_guard<std::mutex> lock(store->mutex);
    auto it = store->map.find(id);
    if (it != store->map.end()) ptr = it->second;
  }
  // clang-format off
  CHECK(not (failCheck and not ptr)) << singleton_EnumStore()->convert("RESOURCE", id, zone);
  // clang-format on
  return ptr;
}

std::shared_ptr<const BlobDescription> NetworkDetail::blob_get_by_name(const std::string& name,
                                                                       bool failCheck,
                                                                       const std::string& zone) const {
  std::shared_ptr<DataStore<std::string>> store;
  {
    std::lock_guard<std::mutex> lock(zonesMutex_);
    CHECK(blobNameInfo_.find(zone) != blobNameInfo_.end());
    store = blobNameInfo_.at(zone);
  }
  std::shared_ptr<const BlobDescription> ptr;
  {
    std::lock_guard<std::mutex> lock(store->mutex);
    auto it = store->map.find(name);
    if (it != store->map.end()) ptr = it->second;
  }
  // clang-format off
  CHECK(not (failCheck and not ptr)) << "Blob Name " << name << " not found in zone: " << zone;
  // clang-format on
  return ptr;
}

void NetworkDetail::blob_put(const BlobDescription& blobDescription) {
  std::shared_ptr<DataStore<unsigned long long>> store;
  {
    std::lock_guard<std::mutex> lock(zonesMutex_);
    auto& slot = blobInfo_[blobDescription.zone];
    if (!slot) slot = std::make_shared<DataStore<unsigned long long>>();
    store = slot;
  }
  {
    std::lock_guard<std::mutex> lock(store->mutex);
    store->map.emplace(blobDescription.id, std::make_shared<const BlobDescription>(blobDescription));
  }
  auto pBlobDesc = blob_get(blobDescription.id, true, blobDescription.zone);
  CHECK((*pBlobDesc) == blobDescription);
}

std::shared_ptr<NetworkDetail> produce_NetworkDetail(const std::shared_ptr<const ParamCfg>& mainCfg) {
  const std::string path = mainCfg->select_single("networkCfg/relativePath", true, "");
  LOG(WARNING) << "Network Detail Path: " << path;
  const bool encrypt = mainCfg->select_single<bool>("networkCfg/encrypt", true, false);
  const int secretId = mainCfg->select_single<int>("networkCfg/secret_id", true, 0);
  const std::string root = GlobalPathCfg::get(0);
  const std::string file = root + "/" + path;
  if (!helper::path_exists(file)) LOG(FATAL) << "cannot find network cfg: " << file;
  LOG(WARNING) << "find network cfg: " << file;
  auto db = std::make_shared<DatabaseJsonMem>();
  if (!db->load(file, encrypt, secretId)) {
    LOG(FATAL) << "cannot load network cfg: " << file << " (key id " << secretId << "): " << db->error();
  }
  const std::vector<std::string> enabled = mainCfg->select_multi_local("networkEnabled", true, {});
  db->store_multi_local("networkEnabled", enabled, false);
  db->store_multi_local("rootDir", {root}, false);
  for (const std::string& net : enabled) {
    if (net.size() < 7 || net.compare(0, 7, "NETWORK") != 0) continue;
    db->store_multi_local(net + "/forwardPriority",
                          mainCfg->select_multi_local("networkForwardOrder/" + net, true, {}), false);
  }
  return std::make_shared<NetworkDetail>(db);
}

std::shared_ptr<NetworkDetail> singleton_NetworkDetail() {
  static std::shared_ptr<NetworkDetail> detail = produce_NetworkDetail(singleton_ParamCfg());
  return detail;
}
