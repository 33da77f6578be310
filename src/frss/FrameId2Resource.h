// The resources of one kind in one state (being written, published or released), by frame id: one
// of the three maps of a store's per-kind pool.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "frss/ResourceBase.h"

// All operations run under the store mutex.
class FrameId2Resource {
 public:
  using DataMap = std::map<long long, std::shared_ptr<ResourceBase>>;

  explicit FrameId2Resource(const std::string& name);
  FrameId2Resource(const FrameId2Resource&) = delete;
  FrameId2Resource& operator=(const FrameId2Resource&) = delete;

  // Fatal when `frameId` is already present.
  void push(long long frameId, std::shared_ptr<ResourceBase> ptr);
  // Takes out the entry of `frameId`. Fatal when absent.
  std::shared_ptr<ResourceBase> pop(long long frameId);
  // A copy of the stored pointer, or an empty pointer when `frameId` is absent.
  std::shared_ptr<ResourceBase> find(long long frameId) const;
  bool id_exist(long long frameId) const;
  // -1 when `frameId` is absent, otherwise the use count of the stored pointer (the pool's own
  // reference included). Reads the count without copying the pointer.
  int32_t id_access(long long frameId) const;
  // The frame ids, ascending, whose stored pointer has use count `n`.
  std::vector<long long> accessing(int32_t n) const;
  // name + " size = " + count + ", IDs:" + " id(holders outside the pool)" per entry, ascending.
  std::string print() const;

  size_t size() const { return dataMap_.size(); }
  const DataMap& dataMap() const { return dataMap_; }

 private:
  std::string name_;
  DataMap dataMap_;
  // Nodes of popped entries (with empty pointers), reused by push: resources move between maps on
  // every claim, publish and release, and this keeps those moves free of allocation.
  std::vector<DataMap::node_type> spare_;
};
