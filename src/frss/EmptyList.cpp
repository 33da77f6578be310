#include "frss/EmptyList.h"

#include <glog/logging.h>

EmptyList::EmptyList(const std::string& name, int32_t size,
                     const std::function<std::shared_ptr<ResourceBase>()>& producer)
    : name_(name) {
  // Reserved once, so pushing back a released resource never reallocates.
  if (size > 0) emptyList_.reserve(static_cast<size_t>(size));
  for (int32_t i = 0; i < size; ++i) emptyList_.push_back(producer());
}

void EmptyList::push(std::shared_ptr<ResourceBase> ptr) { emptyList_.push_back(std::move(ptr)); }

std::shared_ptr<ResourceBase> EmptyList::pop() {
  CHECK(not emptyList_.empty()) << " for " << name_;
  std::shared_ptr<ResourceBase> ptr = std::move(emptyList_.back());
  emptyList_.pop_back();
  return ptr;
}

std::string EmptyList::print() const { return name_ + " size = " + std::to_string(emptyList_.size()); }
