// Tests of the network catalogue: which enabled names become networks, model paths under the
// installation root, priorities copied from the main configuration, blob lookups and registration,
// and the fatal checks with their messages. Own executable: the configuration is process-wide.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "kbase/Path.h"
#include "nn/NetworkDetail.h"

namespace {

const char* kMain = R"({
  "EnumStore": {
    "RESOURCE": { "zoneA": ["RESOURCE_IN", "RESOURCE_OUT", "RESOURCE_AUX"],
      "none": ["RESOURCE_FRAME_TIME", "RESOURCE_LARGE_IMAGE", "RESOURCE_SMALL_IMAGE",
        "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS", "RESOURCE_TRACKER_ROIS",
        "RESOURCE_MARKED_FACE_ROIS"] },
    "NETWORK": { "none": ["NETWORK_A", "NETWORK_B", "NETWORK", "NETWORKX"] },
    "COMPCORE": { "none": ["COMPCORE_IPU0", "COMPCORE_IPU1"] } },
  "networkCfg": { "relativePath": "nets/net.json", "encrypt": 0, "secret_id": 0 },
  "networkEnabled": ["NETWORK_A", "NETWORK", "NETWORKX", "NETWORK_A-1", "OTHER"],
  "networkForwardOrder": { "NETWORK_A": 3, "NETWORK": 1, "NETWORKX": 2 }
})";

// NETWORK_B is described but not enabled; NETWORK and NETWORKX are enabled but not described.
const char* kNetworks = R"({
  "NETWORK_A": { "netName": "netA", "resZone": "zoneA", "compCore": "COMPCORE_IPU1",
    "netDescriptions": ["a.json", "/abs/b.kavo"],
    "resUnionInput": ["RESOURCE_IN"], "resUnionOutput": ["RESOURCE_OUT", "RESOURCE_AUX"] },
  "NETWORK_B": { "netName": "netB" },
  "RESOURCE_IN": { "zone": "zoneA", "name": "in", "shape": [1, 2, 3], "managed": "library" },
  "RESOURCE_OUT": { "zone": "zoneA", "name": "out", "shape": [4], "managed": "shadow" },
  "RESOURCE_AUX-1": { "zone": "zoneA", "name": "aux", "shape": [4], "managed": "nobody" }
})";

std::shared_ptr<DatabaseJsonMem> json(const char* text) {
  auto db = std::make_shared<DatabaseJsonMem>();
  EXPECT_TRUE(db->load_text(text)) << db->error();
  return db;
}

// Installs the main configuration and an installation root holding nets/net.json; returns the root.
const std::string& root() {
  static const std::string dir = [] {
    std::string d = ::testing::TempDir() + "kavo_netdetail_" + std::to_string(getpid());
    mkdir(d.c_str(), 0700);
    mkdir((d + "/nets").c_str(), 0700);
    std::ofstream(d + "/nets/net.json") << kNetworks;
    GlobalPathCfg::set(0, d);
    install_ParamCfg(json(kMain));
    return d;
  }();
  return dir;
}

// The network configuration alone with NETWORK_A enabled, as the loader hands it over.
std::shared_ptr<DatabaseJsonMem> networks() {
  auto db = json(kNetworks);
  db->store_multi_local("networkEnabled", {"NETWORK_A"}, false);
  db->store_multi_local("NETWORK_A/forwardPriority", {"0"}, false);
  return db;
}

unsigned long long id_of(const char* type, const std::string& name, const std::string& zone) {
  return singleton_EnumStore()->get(type)->convert(name, zone);
}

TEST(NetworkDetailTest, LoaderDescribesEnabledNetworksWithRootedModelsAndCopiedPriority) {
  const std::string dir = root();
  auto detail = produce_NetworkDetail(singleton_ParamCfg());
  const unsigned long long a = id_of("NETWORK", "NETWORK_A", "none");
  EXPECT_EQ(detail->network_list(), std::unordered_set<unsigned long long>{a});
  auto d = detail->network_get(a, true);
  EXPECT_EQ(d->netName, "netA");
  EXPECT_EQ(d->compCore, id_of("COMPCORE", "COMPCORE_IPU1", "none"));
  EXPECT_EQ(d->forwardPriority, 3);
  EXPECT_EQ(d->netDescriptions, (std::vector<std::string>{dir + "/a.json", dir + "//abs/b.kavo"}));
  EXPECT_EQ(d->resUnionInput, id_of("RESOURCE", "RESOURCE_IN", "zoneA"));
  EXPECT_EQ(d->resUnionOutput,
            id_of("RESOURCE", "RESOURCE_OUT", "zoneA") | id_of("RESOURCE", "RESOURCE_AUX", "zoneA"));
  // Every enabled name beginning with NETWORK got its priority, described or not.
  EXPECT_EQ(d->cfg->underlying()->select_single<int>("NETWORKX/forwardPriority", true, 0), 2);
  EXPECT_EQ(d->cfg->underlying()->select_single<int>("NETWORK/forwardPriority", true, 0), 1);
}

TEST(NetworkDetailTest, BlobsAreFoundByIdAndNameAndPutOnlyWhenNew) {
  root();
  NetworkDetail detail(networks());
  const unsigned long long in = id_of("RESOURCE", "RESOURCE_IN", "zoneA");
  const unsigned long long aux = id_of("RESOURCE", "RESOURCE_AUX", "zoneA");
  auto b = detail.blob_get(in, true, "zoneA");
  EXPECT_EQ(b->shape, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(b->managed, BlobDescription::MANAGED_BY_LIBRARY);
  EXPECT_EQ(detail.blob_get_by_name("out", true, "zoneA")->managed, BlobDescription::MANAGED_AS_SHADOW);
  EXPECT_EQ(detail.blob_get(aux, false, "zoneA"), nullptr);  // RESOURCE_AUX-1 is no resource key

  BlobDescription same = *b;
  same.managed = BlobDescription::MANAGED_BY_APPLICATION;
  detail.blob_put(same);  // equal apart from managed: the registered one stays
  EXPECT_EQ(detail.blob_get(in, true, "zoneA")->managed, BlobDescription::MANAGED_BY_LIBRARY);
  BlobDescription added = same;
  added.id = aux;
  added.name = "aux";
  detail.blob_put(added);
  EXPECT_EQ(detail.blob_get(aux, true, "zoneA")->name, "aux");
  EXPECT_EQ(detail.blob_get_by_name("aux", false, "zoneA"), nullptr);
  added.zone = "zoneNew";
  detail.blob_put(added);
  EXPECT_EQ(detail.blob_get(aux, true, "zoneNew")->zone, "zoneNew");
}

TEST(NetworkDetailDeathTest, LookupAndConfigurationFailuresAreFatal) {
  const std::string dir = root();
  auto unmanaged = json(kNetworks);
  for (const char* key : {"zone", "name", "shape", "managed"}) {
    unmanaged->store_multi_local(
        std::string("RESOURCE_AUX/") + key,
        unmanaged->select_multi_local(std::string("RESOURCE_AUX-1/") + key, false, {}), false);
  }
  EXPECT_DEATH(NetworkDetail{unmanaged}, "Check failed: it != mapName2Enum.end\\(\\) nobody");
  EXPECT_DEATH(NetworkDetail{json(R"({"networkEnabled": ["NETWORK_B"]})")},
               "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) NETWORK_B/netName: ");
  NetworkDetail detail(networks());
  EXPECT_DEATH(detail.network_get(id_of("NETWORK", "NETWORK_B", "none"), true),
               "Check failed: not \\(failCheck and not ptr\\) NETWORK_B may be not enabled");
  EXPECT_DEATH(detail.blob_get(id_of("RESOURCE", "RESOURCE_AUX", "zoneA"), true, "zoneA"),
               "Check failed: not \\(failCheck and not ptr\\) RESOURCE_AUX");
  EXPECT_DEATH(detail.blob_get(1, false, "zoneB"),
               "Check failed: blobInfo_.find\\(zone\\) != blobInfo_.end\\(\\) ");
  EXPECT_DEATH(detail.blob_get_by_name("nope", true, "zoneA"),
               "Check failed: not \\(failCheck and not ptr\\) Blob Name nope not found in zone: zoneA");
  EXPECT_DEATH(detail.blob_get_by_name("in", false, "zoneB"),
               "Check failed: blobNameInfo_.find\\(zone\\) != blobNameInfo_.end\\(\\) ");
  BlobDescription reshaped = *detail.blob_get(id_of("RESOURCE", "RESOURCE_IN", "zoneA"), true, "zoneA");
  reshaped.shape = {1, 3, 2};
  EXPECT_DEATH(detail.blob_put(reshaped), "Check failed: \\(\\*pBlobDesc\\) == blobDescription ");
  auto main = json(kMain);
  main->store_multi_local("networkCfg/relativePath", {"nets/missing.json"}, false);
  EXPECT_DEATH(produce_NetworkDetail(main), "cannot find network cfg: " + dir + "/nets/missing.json");
  std::ofstream(dir + "/nets/cut.json") << "{\"networkEnabled\": [";
  main->store_multi_local("networkCfg/relativePath", {"nets/cut.json"}, false);
  EXPECT_DEATH(produce_NetworkDetail(main),
               "cannot load network cfg: " + dir + "/nets/cut.json \\(key id 0\\): ");
}

}  // namespace
