// Networks as pipeline stages: a wrapper runs one configured network on the tensors a task has bound
// for a frame, and the network store creates every enabled network once at start-up and hands the
// wrappers out by network identifier. The IPU implementation is in nn/NetworkWrapperSSC.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "base/MapGuard.h"
#include "frss/ResourceBase.h"
#include "nn/NetworkDetail.h"
#include "nn/ssc/kavo_ipu_common.h"

// One network. Not thread-safe: one step at a time per wrapper (networks sharing a compute core are
// serialised by its queue).
class NetworkWrapperBase {
 public:
  // Keeps a copy of `desc`.
  explicit NetworkWrapperBase(const NetworkDescription& desc);
  NetworkWrapperBase(const NetworkWrapperBase&) = delete;
  NetworkWrapperBase& operator=(const NetworkWrapperBase&) = delete;

  // The model's input and output tensor descriptors, in model order.
  virtual std::pair<std::vector<KAVO_MODEL_BLOB_INFO_S>, std::vector<KAVO_MODEL_BLOB_INFO_S>>
  getInputOutputBlobDesc() const = 0;
  // Runs the network once on the tensors of `inputs`, writing those of `outputs` in place. Blocks
  // while other networks hold the compute core. Misuse is fatal.
  virtual void step(const MapResId2ResBasePtr& inputs, const MapResId2ResBasePtr& outputs) = 0;
  virtual ~NetworkWrapperBase();

  const NetworkDescription& description() const { return desc_; }

 protected:
  const NetworkDescription desc_;
};

// The wrappers by network identifier. Thread-safe.
class NetworkStore {
 public:
  NetworkStore();
  NetworkStore(const NetworkStore&) = delete;
  NetworkStore& operator=(const NetworkStore&) = delete;

  // Creates the wrapper of network `id` and puts it into the store. The base is fatal
  // ("NotImplemented").
  virtual void init(unsigned long long id);
  // Removes the wrapper of `id` (its users keep it alive). The base is fatal ("NotImplemented").
  virtual void destroy(unsigned long long id);
  virtual ~NetworkStore();

  // The wrapper of network `id`. Blocks until it exists, logging a WARNING every 100 ms of waiting:
  // a network that is never created (not enabled, not described) blocks the caller for good.
  std::shared_ptr<NetworkWrapperBase> fetch(unsigned long long id);

 protected:
  MapGuard<unsigned long long, std::shared_ptr<NetworkWrapperBase>> wrappers_{100, "MapGuard"};
};

// The process-wide network store (a NetworkStoreSSC), made on first call (thread-safe): the compute
// core queues, the IPU device and a wrapper for every enabled and described network.
std::shared_ptr<NetworkStore> singleton_NetworkStore();
