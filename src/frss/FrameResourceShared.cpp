#include "frss/FrameResourceShared.h"

#include <glog/logging.h>

namespace {

// True when `ptr` is the last reference. use_count() is a relaxed load and so does not order the
// former holders' accesses to the resource before the next writer's; copying the pointer is an
// acquire-release update of the same count, which does. Only then may the resource be reused.
bool sole_owner(const std::shared_ptr<ResourceBase>& ptr) {
  if (ptr.use_count() != 1) return false;
  std::shared_ptr<ResourceBase> acquire = ptr;
  return true;
}

}  // namespace

FrameResourceShared::FrameResourceShared(const std::string& name, int32_t size,
                                         const std::function<std::shared_ptr<ResourceBase>()>& producer)
    : resName_(name),
      resourcesize_(size),
      emptylist_(name + "'s emptylist", size, producer),
      aliveMap_(name + "'s aliveMap"),
      birthMap_(name + "'s birthMap"),
      deathMap_(name + "'s deathMap") {
  LOG(INFO) << "FrameResourceShared " << name << " ctor";
}

std::shared_ptr<ResourceBase> FrameResourceShared::tobe_written(long long frameId) {
  std::shared_ptr<ResourceBase> ptr = emptylist_.pop();
  // The base clean_content() is a no-op, so calling it unconditionally is the same as skipping it.
  ptr->clean_content();
  ptr->set_readCnt(-1);
  birthMap_.push(frameId, ptr);
  return ptr;
}

void FrameResourceShared::have_written(long long frameId) {
  std::shared_ptr<ResourceBase> ptr = birthMap_.pop(frameId);
  ptr->set_readCnt(0);
  aliveMap_.push(frameId, std::move(ptr));
}

std::shared_ptr<ResourceBase> FrameResourceShared::for_reading(long long frameId) {
  std::shared_ptr<ResourceBase> ptr = aliveMap_.find(frameId);
  if (ptr) ptr->set_readCnt(ptr->readCnt() + 1);
  return ptr;
}

void FrameResourceShared::tobe_cleared(long long frameId) { deathMap_.push(frameId, aliveMap_.pop(frameId)); }

bool FrameResourceShared::clear(long long frameId) {
  // Decided after the pointer left the map, so the only reference that may remain is this one.
  std::shared_ptr<ResourceBase> ptr = deathMap_.pop(frameId);
  if (sole_owner(ptr)) {
    emptylist_.push(std::move(ptr));
    return true;
  }
  deathMap_.push(frameId, std::move(ptr));
  return false;
}

std::vector<long long> FrameResourceShared::clear() {
  std::vector<long long> ids = deathMap_.accessing(1);
  for (long long frameId : ids) clear(frameId);
  return ids;
}

bool FrameResourceShared::check_recyclable(long long frameId) const {
  return birthMap_.id_access(frameId) < 2 && aliveMap_.id_access(frameId) < 2 &&
         deathMap_.id_access(frameId) < 2;
}

bool FrameResourceShared::check_alonealive(long long frameId) const {
  return aliveMap_.id_access(frameId) == 1;
}

bool FrameResourceShared::id_exist(long long frameId) const {
  return aliveMap_.id_exist(frameId) || birthMap_.id_exist(frameId) || deathMap_.id_exist(frameId);
}

int32_t FrameResourceShared::size() const { return resourcesize_ - static_cast<int32_t>(emptylist_.size()); }

std::string FrameResourceShared::print() const {
  return emptylist_.print() + "\n" + birthMap_.print() + "\n" + aliveMap_.print() + "\n" + deathMap_.print() +
         "\n";
}

void FrameResourceShared::debug() const {
  int32_t sz =
      static_cast<int32_t>(emptylist_.size() + aliveMap_.size() + birthMap_.size() + deathMap_.size());
  CHECK_EQ(sz, resourcesize_) << ", emptylist: " << emptylist_.size() << ", aliveMap: " << aliveMap_.size()
                              << ", birthMap: " << birthMap_.size() << ", deathMap: " << deathMap_.size();
}
