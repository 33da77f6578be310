// The free resources of one kind in a store's pool: a stack of pre-made resources that are handed
// out for writing and come back once nobody outside the pool holds them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "frss/ResourceBase.h"

// All operations run under the store mutex.
class EmptyList {
 public:
  // Calls `producer` `size` times and keeps the results (none for a size below 1). An empty
  // `producer` throws std::bad_function_call.
  EmptyList(const std::string& name, int32_t size,
            const std::function<std::shared_ptr<ResourceBase>()>& producer);
  EmptyList(const EmptyList&) = delete;
  EmptyList& operator=(const EmptyList&) = delete;

  void push(std::shared_ptr<ResourceBase> ptr);
  // Takes out the most recently pushed resource. Fatal when the list is empty.
  std::shared_ptr<ResourceBase> pop();
  // name + " size = " + count.
  std::string print() const;

  size_t size() const { return emptyList_.size(); }

 private:
  std::string name_;
  std::vector<std::shared_ptr<ResourceBase>> emptyList_;
};
