#include "frss/FrameId2Resource.h"

#include <glog/logging.h>

FrameId2Resource::FrameId2Resource(const std::string& name) : name_(name) {}

void FrameId2Resource::push(long long frameId, std::shared_ptr<ResourceBase> ptr) {
  auto it = dataMap_.lower_bound(frameId);
  if (it != dataMap_.end() && it->first == frameId) {
    CHECK(it == dataMap_.end()) << "frameId(" << frameId << ") already exist in " << name_;
  }
  if (spare_.empty()) {
    dataMap_.emplace_hint(it, frameId, std::move(ptr));
    return;
  }
  DataMap::node_type node = std::move(spare_.back());
  spare_.pop_back();
  node.key() = frameId;
  node.mapped() = std::move(ptr);
  dataMap_.insert(it, std::move(node));
}

std::shared_ptr<ResourceBase> FrameId2Resource::pop(long long frameId) {
  auto it = dataMap_.find(frameId);
  CHECK(it != dataMap_.end()) << "frameId(" << frameId << ") does not exist in " << name_;
  DataMap::node_type node = dataMap_.extract(it);
  std::shared_ptr<ResourceBase> ptr = std::move(node.mapped());
  spare_.push_back(std::move(node));
  return ptr;
}

std::shared_ptr<ResourceBase> FrameId2Resource::find(long long frameId) const {
  auto it = dataMap_.find(frameId);
  return it == dataMap_.end() ? std::shared_ptr<ResourceBase>() : it->second;
}

bool FrameId2Resource::id_exist(long long frameId) const { return dataMap_.count(frameId) != 0; }

int32_t FrameId2Resource::id_access(long long frameId) const {
  auto it = dataMap_.find(frameId);
  if (it == dataMap_.end()) return -1;
  return static_cast<int32_t>(it->second.use_count());
}

std::vector<long long> FrameId2Resource::accessing(int32_t n) const {
  std::vector<long long> ids;
  for (const auto& item : dataMap_) {
    if (item.second.use_count() == n) ids.push_back(item.first);
  }
  return ids;
}

std::string FrameId2Resource::print() const {
  std::string out = name_ + " size = " + std::to_string(dataMap_.size()) + ", IDs:";
  for (const auto& item : dataMap_) {
    // use_count() reads the count in place: copying the pointer here would add a holder.
    out += " " + std::to_string(item.first) + "(" + std::to_string(item.second.use_count() - 1) + ")";
  }
  return out;
}
