#include "nn/NetworkWrapperSSC.h"

#include <glog/logging.h>

#include <boost/regex.hpp>
#include <chrono>
#include <set>
#include <sstream>

#include "base/EnumStore.h"
#include "kbase/Clock.h"
#include "kbase/Database.h"
#include "kbase/Path.h"
#include "platform/Factories.h"
#include "util/BlobHisi.h"

namespace {

using SteadyClock = Clock<std::chrono::steady_clock>;

std::string join_shape(const std::vector<int>& shape) {
  std::string out;
  for (size_t i = 0; i < shape.size(); ++i) out += (i > 0 ? ", " : "") + std::to_string(shape[i]);
  return out;
}

// Stops the process with a check failure that names `cond`, as CHECK(cond) would, when !ok. The
// input and output paths share their code, so their condition texts are passed in.
#define KAVO_CHECK_TEXT(ok, cond) LOG_IF(FATAL, !(ok)) << "Check failed: " << (cond) << " "

// Per tensor name, the descriptor descs[idxInfo] once for every buffer copy i < memCnt of mems[idxInfo].
void collect_copies(const std::vector<KAVO_MODEL_BLOB_INFO_S>& descs,
                    const std::vector<KAVO_MODEL_MEM_INFO_S>& mems, int memCnt, const std::string& memName,
                    std::unordered_map<std::string, std::vector<KAVO_MODEL_BLOB_INFO_S>>* out) {
  for (size_t idxInfo = 0; idxInfo < descs.size(); ++idxInfo) {
    auto& copies = (*out)[descs[idxInfo].name];
    for (int i = 0; i < memCnt; ++i) {
      KAVO_CHECK_TEXT(mems[idxInfo].pVirAddr[i] != nullptr, memName + "[idxInfo].pVirAddr[i]");
      KAVO_CHECK_TEXT(mems[idxInfo].u64PhyAddr[i] != 0, memName + "[idxInfo].u64PhyAddr[i]");
      KAVO_MODEL_BLOB_INFO_S info = descs[idxInfo];
      info.pVirAddr = mems[idxInfo].pVirAddr[i];
      info.u64PhyAddr = mems[idxInfo].u64PhyAddr[i];
      copies.push_back(info);
    }
  }
}

// The tensor descriptor of an IPU blob that a step accepts; null for any other resource (a U8
// tensor included: the IPU takes no plain U8 blob).
std::shared_ptr<KAVO_MODEL_BLOB_INFO_S> step_blob_info(const ResourceBase* res) {
  if (auto b = dynamic_cast<const BlobSSCInt32*>(res)) return b->pBlobInfo();
  if (auto b = dynamic_cast<const BlobSSCInt16*>(res)) return b->pBlobInfo();
  if (auto b = dynamic_cast<const BlobSSCFloat*>(res)) return b->pBlobInfo();
  if (auto b = dynamic_cast<const BlobSSCImage*>(res)) return b->pBlobInfo();
  if (auto b = dynamic_cast<const BlobSSCImageBGR*>(res)) return b->pBlobInfo();
  if (auto b = dynamic_cast<const BlobSSCARGB*>(res)) return b->pBlobInfo();
  if (auto b = dynamic_cast<const BlobSSCABGR*>(res)) return b->pBlobInfo();
  return nullptr;
}

std::shared_ptr<ResourceBase> make_blob(const std::shared_ptr<KAVO_MODEL_BLOB_INFO_S>& info,
                                        unsigned long long id, const std::string& name) {
  switch (info->enBlobType) {
    case MI_IPU_FORMAT_NV12:
      return std::make_shared<BlobSSCImage>(info, id, name);
    case MI_IPU_FORMAT_U8:
      return std::make_shared<BlobSSCImageBGR>(info, id, name);
    case MI_IPU_FORMAT_INT16:
      return std::make_shared<BlobSSCInt16>(info, id, name);
    case MI_IPU_FORMAT_INT32:
      return std::make_shared<BlobSSCInt32>(info, id, name);
    case MI_IPU_FORMAT_FP32:
      return std::make_shared<BlobSSCFloat>(info, id, name);
    case MI_IPU_FORMAT_ARGB8888:
      return std::make_shared<BlobSSCARGB>(info, id, name);
    case MI_IPU_FORMAT_ABGR8888:
      return std::make_shared<BlobSSCABGR>(info, id, name);
    default:
      LOG(FATAL) << "Unsupport Data Type: " << KAVO_IPU_DataType_Print(info->enBlobType);
  }
  return nullptr;
}

// Fills `array` (indexed by tensor index) from the IPU blobs of `resources`, counting the others off
// *sz, and checks that every index below the final count was filled. `what` is "input" or "output".
void fill_step(const MapResId2ResBasePtr& resources, const std::string& zone, const std::string& what,
               int* sz, std::vector<KAVO_MODEL_BLOB_INFO_S>* array) {
  std::set<int> pending;
  for (int k = 0; k < *sz; ++k) pending.insert(k);
  for (const auto& [r, res] : resources) {
    auto info = step_blob_info(res.get());
    if (info == nullptr) {
      LOG(WARNING) << "Found invalid resource : " << singleton_EnumStore()->convert("RESOURCE", r, zone);
      --*sz;
      continue;
    }
    const int idx = static_cast<int>(info->u32Index);
    auto it = pending.find(idx);
    KAVO_CHECK_TEXT(it != pending.end(), "it != " + what + "Idx.end()")
        << "cannot find idx " << idx << ": " << print_MapResId2ResBasePtr(resources);
    pending.erase(it);
    (*array)[idx] = *info;
  }
  for (int idx : pending) KAVO_CHECK_TEXT(idx >= *sz, "idx >= " + what + "sz") << idx << ", " << *sz;
}

}  // namespace

NetworkWrapperSSC::NetworkWrapperSSC(const NetworkDescription& desc, const std::shared_ptr<PriorityQueue>& pq)
    : NetworkWrapperBase(desc), pq_(pq) {
  LOG(INFO) << "NetworkWrapperSSC ctor, create network: " << desc_.netName;
  auto store = get_FrameResourceStore(desc_.networkType, true);
  memCnt_ = singleton_ParamCfg()->select_single<int>("memCntPreallocatedByLib_Single", true, 0);
  LOG(WARNING) << desc_.netName << ": allocate " << memCnt_ << " inout copies.";
  const auto tensors = collect_tensors();
  unsigned long long libraryUnion = 0;
  for (const auto& [r, infos] : tensors) {
    register_blobs(*store, r, infos);
    libraryUnion |= r;
  }
  const auto enums = singleton_EnumStore();
  LOG(INFO) << "NetworkWrapperSSC ctor, init network: " << desc_.netName;
  LOG(WARNING) << desc_.netName
               << ", managedByLibrary: " << enums->print("RESOURCE", libraryUnion, desc_.resZone);
  LOG(WARNING) << desc_.netName << ", managedByApplication: " << enums->print("RESOURCE", 0, desc_.resZone);
  LOG(WARNING) << desc_.netName << ", managedAsShadow: " << enums->print("RESOURCE", 0, desc_.resZone);
}

NetworkWrapperSSC::~NetworkWrapperSSC() = default;

void NetworkWrapperSSC::register_blobs(FrameResourceStore& store, unsigned long long r,
                                       const std::vector<KAVO_MODEL_BLOB_INFO_S>& infos) const {
  const std::string name = singleton_EnumStore()->convert("RESOURCE", r, desc_.resZone);
  auto pResVec = std::make_shared<std::vector<std::shared_ptr<ResourceBase>>>();
  for (const KAVO_MODEL_BLOB_INFO_S& info : infos)
    pResVec->push_back(make_blob(std::make_shared<KAVO_MODEL_BLOB_INFO_S>(info), r, name));
  auto pBlobDesc = singleton_NetworkDetail()->blob_get(r, true, desc_.resZone);
  CHECK(pBlobDesc->managed == BlobDescription::MANAGED_BY_LIBRARY)
      << "Only Support Library in SSC. Blob Name: " << pBlobDesc->name;
  // Each blob is bound to one buffer copy for good: the pool hands out exactly these, one per seat.
  store.register_resource(
      r,
      [pResVec, name] {
        CHECK(pResVec->size() >= 1) << name << ", numCopies = 0, check your configuration.";
        auto res = pResVec->back();
        pResVec->pop_back();
        return res;
      },
      true);
}

std::unordered_map<unsigned long long, std::vector<KAVO_MODEL_BLOB_INFO_S>>
NetworkWrapperSSC::collect_tensors() {
  const NetworkDescription& desc = desc_;
  modelCfg_.modelName = desc.netName;
  CHECK(desc.netDescriptions.size() == 1);
  modelCfg_.modelFile = desc.netDescriptions[0];
  modelCfg_.maxRoiSize = desc.cfg ? desc.cfg->select_single<unsigned>("maxRoiNum", false, 0u) : 0u;
  modelCfg_.u32BlobCopies = static_cast<uint32_t>(memCnt_);
  LOG(INFO) << "\n\n" << desc.netName << " modelCfg:\n" << print(modelCfg_) << "\n\n";

  int keyId = -1;
  if (desc.cfg && desc.cfg->select_single<bool>("encrypt", true, false))
    keyId = desc.cfg->select_single<int>("secret_id", true, 0);
  net_ = std::make_shared<KavoIpuNetwork>(modelCfg_, keyId);
  const auto blobDescs = net_->getInputOutputBlobDesc();
  const auto mems = net_->getInputOutputBlobMem();
  MapResName2BlobInfoVecs mapResName2BlobInfoVecs;
  collect_copies(blobDescs.first, mems.first, memCnt_, "astInputMem", &mapResName2BlobInfoVecs.first);
  collect_copies(blobDescs.second, mems.second, memCnt_, "astOutputMem", &mapResName2BlobInfoVecs.second);
  VLOG(1) << print(mapResName2BlobInfoVecs);

  std::unordered_map<unsigned long long, std::vector<KAVO_MODEL_BLOB_INFO_S>> result;
  map_tensors(desc.resUnionInput, "first", "input", &mapResName2BlobInfoVecs.first, &result);
  map_tensors(desc.resUnionOutput, "second", "output", &mapResName2BlobInfoVecs.second, &result);
  return result;
}

void NetworkWrapperSSC::map_tensors(
    unsigned long long resUnion, const std::string& side, const std::string& what,
    std::unordered_map<std::string, std::vector<KAVO_MODEL_BLOB_INFO_S>>* byName,
    std::unordered_map<unsigned long long, std::vector<KAVO_MODEL_BLOB_INFO_S>>* result) const {
  const std::string mapName = "mapResName2BlobInfoVecs." + side;
  const auto detail = singleton_NetworkDetail();
  for (unsigned long long term : singleton_EnumStore()->get("RESOURCE")->resolve(resUnion, desc_.resZone)) {
    CHECK((*result)[term].empty());
    auto bd = detail->blob_get(term, true, desc_.resZone);
    auto it = byName->find(bd->name);
    KAVO_CHECK_TEXT(it != byName->end(), "it != " + mapName + ".end()")
        << bd->name << " for net " << desc_.netName << " unfound.";
    if (memCnt_ >= 1) {
      CHECK(not it->second.empty());
      const std::vector<int> shape(it->second[0].u32ShapeVec.begin(), it->second[0].u32ShapeVec.end());
      const bool match = shape == bd->shape;
      CHECK(match) << "network " << what << " " << bd->name << " required shape " << join_shape(shape)
                   << ", while blob desc is shape " << join_shape(bd->shape);
    }
    (*result)[term] = it->second;
    byName->erase(it);
  }
  std::string left;
  for (const auto& [name, vec] : *byName) left += (left.empty() ? "" : ", ") + name;
  KAVO_CHECK_TEXT(byName->empty(), mapName + ".empty()") << left;
}

std::pair<std::vector<KAVO_MODEL_BLOB_INFO_S>, std::vector<KAVO_MODEL_BLOB_INFO_S>>
NetworkWrapperSSC::getInputOutputBlobDesc() const {
  return net_->getInputOutputBlobDesc();
}

void NetworkWrapperSSC::step(const MapResId2ResBasePtr& inputs, const MapResId2ResBasePtr& outputs) {
  int nIn = static_cast<int>(inputs.size());
  int nOut = static_cast<int>(outputs.size());
  std::vector<KAVO_MODEL_BLOB_INFO_S> inputArray(nIn), outputArray(nOut);
  fill_step(inputs, desc_.resZone, "input", &nIn, &inputArray);
  fill_step(outputs, desc_.resZone, "output", &nOut, &outputArray);
  // Held until the model has run: the next network on this core starts when the ticket goes.
  auto ticket = pq_->request(desc_.forwardPriority);
  net_->run(inputArray.data(), nIn, outputArray.data(), nOut);
}

std::string NetworkWrapperSSC::print(const KAVO_MODEL_CFG_S& cfg) {
  std::ostringstream os;
  os << "modelName(" << cfg.modelName << "): \n"
     << "modelFile(" << cfg.modelFile << "): \n"
     << "maxRoiSize = " << cfg.maxRoiSize << "\n"
     << "numBlobCopies = " << cfg.u32BlobCopies;
  return os.str();
}

std::string NetworkWrapperSSC::print(const MapResName2BlobInfoVecs& maps) {
  std::ostringstream os;
  const auto part = [&os](const char* title, const auto& m) {
    os << "****** " << title << " ******\n";
    for (const auto& [name, vec] : m) os << "blobname = " << name << ", size = " << vec.size() << "\n";
    os << "****** " << title << " detail ******\n";
    for (const auto& [name, vec] : m) {
      os << "------ 资源名称:" << name << " ------\n";
      for (const auto& info : vec) os << KAVO_IPU_BLOB_Print(info) << "\n";
    }
  };
  part("input", maps.first);
  part("output", maps.second);
  return os.str();
}

NetworkStoreSSC::NetworkStoreSSC() {
  pqCompCores_.max_load_factor(1.0f);
  const auto cfg = singleton_ParamCfg();
  const auto enums = singleton_EnumStore();
  for (const std::string& name : cfg->select_multi_local("compCoreList", true, {}))
    pqCompCores_[enums->get("COMPCORE")->convert(name, "none")] = std::make_shared<PriorityQueue>(true);
  LOG(INFO) << "NetworkStoreSSC ctor";

  static const boost::regex kNetwork("^NETWORK_");
  std::vector<unsigned long long> ids;
  std::vector<std::string> models;
  for (const std::string& name : cfg->select_multi_local("networkEnabled", true, {})) {
    if (!boost::regex_search(name, kNetwork)) continue;
    const unsigned long long id = enums->get("NETWORK")->convert(name, "none");
    auto pDetail = singleton_NetworkDetail()->network_get(id, false);
    if (!pDetail) continue;
    ids.push_back(id);
    CHECK(pDetail->netDescriptions.size() > 0);
    models.push_back(pDetail->netDescriptions[0]);
  }
  const std::string firmware = GlobalPathCfg::get(0) + "/" + cfg->select_single("IPU_FirmWare", true, "");
  SteadyClock clock;
  KAVO_IPU_Init(firmware, models);
  LOG(WARNING) << "[Time Cost] IPU Init: " << clock.elapsed_ms() << " ms.";
  for (unsigned long long id : ids) init(id);
}

NetworkStoreSSC::~NetworkStoreSSC() { LOG(INFO) << "NetworkStoreSSC dtor"; }

void NetworkStoreSSC::init(unsigned long long id) {
  auto desc = singleton_NetworkDetail()->network_get(id, false);
  if (!desc) {
    LOG(ERROR) << "Cannot find detail for " << singleton_EnumStore()->convert("NETWORK", id, "none");
    return;
  }
  auto pqIt = pqCompCores_.find(desc->compCore);
  CHECK(pqIt != pqCompCores_.end()) << "cannot find comp core: "
                                    << singleton_EnumStore()->convert("COMPCORE", desc->compCore, "none");
  SteadyClock clock;
  auto wrapper = std::make_shared<NetworkWrapperSSC>(*desc, pqIt->second);
  LOG(WARNING) << "NetworkWrapperSSC ctor for " << desc->netName << " costs " << clock.elapsed_ms() << " ms.";
  wrappers_.put(id, wrapper);
}

void NetworkStoreSSC::destroy(unsigned long long id) { wrappers_.erase(id); }
