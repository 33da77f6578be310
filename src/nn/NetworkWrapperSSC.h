// The IPU network wrapper and network store: a NetworkWrapperSSC loads its network's model into an IPU
// channel with preallocated buffer copies, registers one IPU-backed blob per tensor and buffer copy
// in the network's own frame resource store, and runs a step on the blobs a task has claimed there,
// so tensor data never passes through the CPU on the way to and from the IPU.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "frss/FrameResourceStore.h"
#include "nn/NetworkWrapperBase.h"
#include "nn/PriorityQueue.h"
#include "nn/ssc/kavo_ipu_network.h"

// Tensor name -> the descriptors of its buffer copies (copy k at position k), inputs then outputs.
using MapResName2BlobInfoVecs =
    std::pair<std::unordered_map<std::string, std::vector<KAVO_MODEL_BLOB_INFO_S>>,
              std::unordered_map<std::string, std::vector<KAVO_MODEL_BLOB_INFO_S>>>;

// One network on the IPU. Not thread-safe: one step at a time (the compute-core queue serialises the
// networks of one core).
class NetworkWrapperSSC : public NetworkWrapperBase {
 public:
  // Opens the channel with "memCntPreallocatedByLib_Single" buffer copies per tensor and registers
  // the blobs over them in get_FrameResourceStore(desc.networkType, true). `pq` is the queue of the
  // network's compute core. Configuration errors (model and blob shapes, formats, non-library blobs)
  // are fatal.
  NetworkWrapperSSC(const NetworkDescription& desc, const std::shared_ptr<PriorityQueue>& pq);
  ~NetworkWrapperSSC() override;

  std::pair<std::vector<KAVO_MODEL_BLOB_INFO_S>, std::vector<KAVO_MODEL_BLOB_INFO_S>> getInputOutputBlobDesc()
      const override;
  // Passes the buffers of the IPU blobs in `inputs` and `outputs` to the model, ordered by tensor
  // index, once this network's turn on the compute core comes. A resource that is no IPU blob is
  // skipped with a WARNING; duplicate indices and indices missing below the count are fatal.
  void step(const MapResId2ResBasePtr& inputs, const MapResId2ResBasePtr& outputs) override;

  // Diagnostic texts of a channel configuration and of per-name tensor maps.
  static std::string print(const KAVO_MODEL_CFG_S& cfg);
  static std::string print(const MapResName2BlobInfoVecs& maps);

 private:
  // Resource identifier -> the descriptors of its buffer copies, for every tensor of the network.
  std::unordered_map<unsigned long long, std::vector<KAVO_MODEL_BLOB_INFO_S>> collect_tensors();
  // Moves the tensors of `byName` named by the blobs of `resUnion` into `result`; every tensor must be
  // named. `side` ("first", "second") and `what` ("input", "output") name them in messages.
  void map_tensors(unsigned long long resUnion, const std::string& side, const std::string& what,
                   std::unordered_map<std::string, std::vector<KAVO_MODEL_BLOB_INFO_S>>* byName,
                   std::unordered_map<unsigned long long, std::vector<KAVO_MODEL_BLOB_INFO_S>>* result) const;
  // Registers one blob per copy of `infos` as the pool of resource `r` in `store`.
  void register_blobs(FrameResourceStore& store, unsigned long long r,
                      const std::vector<KAVO_MODEL_BLOB_INFO_S>& infos) const;

  std::shared_ptr<PriorityQueue> pq_;
  KAVO_MODEL_CFG_S modelCfg_;
  int memCnt_ = 0;
  std::shared_ptr<KavoIpuNetwork> net_;
};

// The network store of the IPU: one admission queue per compute core of "compCoreList", the device,
// then a wrapper for each network of "networkEnabled" that has a description. Thread-safe.
class NetworkStoreSSC : public NetworkStore {
 public:
  NetworkStoreSSC();
  ~NetworkStoreSSC() override;

  // Creates and puts the wrapper of `id`; a network without a description is logged and skipped.
  void init(unsigned long long id) override;
  void destroy(unsigned long long id) override;

 private:
  // Written by the constructor only, read by init().
  std::unordered_map<unsigned long long, std::shared_ptr<PriorityQueue>> pqCompCores_;
};
