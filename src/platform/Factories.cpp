#include "platform/Factories.h"

#include <glog/logging.h>

#include <string>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "kbase/Subscriber.h"
#include "nn/NetworkDetail.h"
#include "task/RoiResource.h"
#include "util/BlobGeneral.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"
#include "util/ResourceImage.h"
#include "util/ShareData.h"

namespace {
FrameResourceStore::Producer image_producer(unsigned long long id, const char* name) {
  return [id, name] {
    return std::make_shared<ResourceImage>(id, name, "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  };
}
}  // namespace

const std::unordered_map<unsigned long long, FrameResourceStore::Producer>& mapResource2Producer() {
  static const std::unordered_map<unsigned long long, FrameResourceStore::Producer> producers{
      {1, FrameTime::producer()},
      {2, image_producer(2, "RESOURCE_LARGE_IMAGE")},
      {4, image_producer(4, "RESOURCE_SMALL_IMAGE")},
      {8, DetectorClassRois::producer()},
      {16, DetectorPartRois::producer()},
      {32, TrackerRois::producer()},
      {64, MarkedFaceRois::producer()},
  };
  return producers;
}

std::shared_ptr<FrameResourceStore> singleton_FrameResourceStore() {
  static const std::shared_ptr<FrameResourceStore> store = [] {
    LOG(WARNING) << "singleton_FrameResourceStore";
    const auto names = singleton_EnumStore()->mapId2String("RESOURCE", "none");
    const int memCnt = singleton_ParamCfg()->select_single<int>("memCntPreallocatedByLib_Global", true, 0);
    CHECK(memCnt <= 20);
    auto s = produce_FrameResourceStore(names, memCnt, 1, "zone");
    for (const auto& [id, producer] : mapResource2Producer()) s->register_resource(id, producer, true);
    return s;
  }();
  return store;
}

std::shared_ptr<FrameResourceStore> get_FrameResourceStore(unsigned long long networkId, bool failCheck) {
  using StoreMap = std::unordered_map<unsigned long long, std::shared_ptr<FrameResourceStore>>;
  static const StoreMap stores = [] {
    LOG(WARNING) << "get_FrameResourceStore";
    StoreMap m;
    const auto detail = singleton_NetworkDetail();
    for (unsigned long long id : detail->network_list()) {
      const auto desc = detail->network_get(id, true);
      const unsigned long long used = desc->resUnionInput | desc->resUnionOutput;
      std::unordered_map<unsigned long long, std::string> names;
      for (const auto& [resId, name] : singleton_EnumStore()->mapId2String("RESOURCE", desc->resZone))
        if ((resId & used) != 0) names.emplace(resId, name);
      const int memCnt = singleton_ParamCfg()->select_single<int>("memCntPreallocatedByLib_Single", true, 0);
      CHECK(memCnt <= 10);
      m.emplace(id, produce_FrameResourceStore(names, memCnt, 1, desc->resZone));
    }
    return m;
  }();
  auto it = stores.find(networkId);
  if (it != stores.end()) return it->second;
  CHECK(not failCheck) << "cannot find " << singleton_EnumStore()->convert("NETWORK", networkId, "none");
  return nullptr;
}

std::shared_ptr<ResourceBase> produce_FeatureMap(unsigned long long resId, const std::string& zone) {
  const auto pBlobDesc = singleton_NetworkDetail()->blob_get(resId, true, zone);
  CHECK(pBlobDesc->managed != BlobDescription::MANAGED_BY_LIBRARY)
      << singleton_EnumStore()->convert("RESOURCE", resId, zone) << " is managed by library, cannot produce";
  return std::make_shared<BlobGeneral<float>>(pBlobDesc->shape, false, resId, "UNKNOWN_BLOBGENERAL");
}

std::shared_ptr<ShareDataReader> singleton_ShareDataReader() {
  static const std::shared_ptr<ShareDataReader> reader = [] {
    LOG(WARNING) << "singleton_ShareDataReader";
    const auto cfg = singleton_ParamCfg();
    const bool fromCamera = cfg->select_single<bool>("FrameReaderHisi/fromCameraNotVideo", true, false);
    const std::string p = std::string("ShareData") + (fromCamera ? "Camera" : "Video");
    const std::string addr = cfg->select_single(p + "/addr", true, "");
    const bool asClient = cfg->select_single<bool>(p + "/asClient", true, false);
    const int gap = cfg->select_single<int>(p + "/gap", true, 0);
    const std::string type = cfg->select_single(p + "/type", true, "");
    const int height = cfg->select_single<int>(p + "/height", true, 0);
    const int width = cfg->select_single<int>(p + "/width", true, 0);
    if (type == "zmq")
      return std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr, asClient, gap, fromCamera,
                                               height, width, "FrameReaderShareData_ZMQ");
    return std::make_shared<ShareDataReader>(addr, asClient, gap, fromCamera, height, width,
                                             "FrameReaderShareData_NN");
  }();
  return reader;
}

std::shared_ptr<FrameReader> singleton_FrameReader() {
  static const std::shared_ptr<FrameReader> reader = [] {
    const auto cfg = singleton_ParamCfg();
    auto flag = [&](const char* key) {
      return cfg->select_single<bool>(std::string("FrameReaderHisi/") + key, true, false);
    };
    auto dim = [&](const char* key) {
      return cfg->select_single<int>(std::string("FrameReaderHisi/") + key, true, 0);
    };
    FrameReaderParam param;
    param.fromCameraNotVideo = flag("fromCameraNotVideo");
    param.copy = flag("copy");
    param.showDetail = flag("showDetail");
    param.showDeltaPts = flag("showDeltaPts");
    param.landscapeLargeDimW = dim("landscapeLargeDimW");
    param.landscapeLargeDimH = dim("landscapeLargeDimH");
    param.landscapeSmallDimW = dim("landscapeSmallDimW");
    param.landscapeSmallDimH = dim("landscapeSmallDimH");
    param.portraitLargeDimW = dim("portraitLargeDimW");
    param.portraitLargeDimH = dim("portraitLargeDimH");
    param.portraitSmallDimW = dim("portraitSmallDimW");
    param.portraitSmallDimH = dim("portraitSmallDimH");
    param.landscape = true;
    param.shareDataReader = singleton_ShareDataReader();
    return std::make_shared<FrameReaderHisi>(param);
  }();
  return reader;
}
