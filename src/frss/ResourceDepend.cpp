#include "frss/ResourceDepend.h"

#include <glog/logging.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <vector>

#include "base/EnumStore.h"
#include "kbase/Clock.h"

namespace {

std::vector<unsigned long long> resolve_resources(unsigned long long resunion) {
  return singleton_EnumStore()->get("RESOURCE")->resolve(resunion, "none");
}

}  // namespace

ResourceDepend::ResourceDepend() {
  static std::atomic<int> cnt{0};
  CHECK(++cnt == 1) << "不能多次生成ResourceDepend";
}

void ResourceDepend::monitor(unsigned long long resunion) {
  const std::vector<unsigned long long> ids = resolve_resources(resunion);
  std::lock_guard<std::mutex> lock(mutex_);
  for (unsigned long long id : ids) {
    if (mapId2MutexCond_.count(id) == 0)
      mapId2MutexCond_.emplace(id, std::make_shared<MutexCond<long long>>(-1));
  }
}

void ResourceDepend::update(long long frameId, unsigned long long resunion) {
  const std::vector<unsigned long long> ids = resolve_resources(resunion);
  std::lock_guard<std::mutex> lock(mutex_);
  for (unsigned long long id : ids) {
    auto it = mapId2MutexCond_.find(id);
    if (it == mapId2MutexCond_.end()) continue;
    MutexCond<long long>& mc = *it->second;
    {
      std::lock_guard<std::mutex> inner(mc.mutex);
      const long long idInner = mc.value;
      CHECK(frameId > idInner) << ", prev=" << idInner << ", curr=" << frameId
                               << ", res=" << singleton_EnumStore()->get("RESOURCE")->convert(id, "none");
      mc.value = frameId;
      mc.notified = true;
    }
    mc.cond.notify_all();
  }
}

void ResourceDepend::wait_until(unsigned long long resunion,
                                const std::function<bool(const long long&)>& pred) {
  std::unordered_map<unsigned long long, std::shared_ptr<MutexCond<long long>>> kinds;
  for (;;) {
    const std::vector<unsigned long long> ids = resolve_resources(resunion);
    unsigned long long missing = 0;
    kinds.clear();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (unsigned long long id : ids) {
        auto it = mapId2MutexCond_.find(id);
        if (it == mapId2MutexCond_.end()) {
          missing |= id;
        } else {
          kinds.emplace(id, it->second);
        }
      }
    }
    if (missing == 0) break;
    LOG(WARNING) << singleton_EnumStore()->get("RESOURCE")->print(missing, "none")
                 << " have not been monitored";
    sleep_ms_from_now(10);
  }

  // Waiting kind by kind is enough: a frame id never goes back, so a kind already satisfied stays so
  // for any predicate that is monotonic in the frame id.
  for (auto& item : kinds) {
    MutexCond<long long>& mc = *item.second;
    std::unique_lock<std::mutex> lock(mc.mutex);
    while (!pred(mc.value)) {
      if (!mc.notified) mc.cond.wait(lock);
      mc.notified = false;
    }
  }
}

long long ResourceDepend::id_max(unsigned long long resunion) const {
  const std::vector<unsigned long long> ids = resolve_resources(resunion);
  long long result = LLONG_MIN;
  std::lock_guard<std::mutex> lock(mutex_);
  for (unsigned long long id : ids) {
    auto it = mapId2MutexCond_.find(id);
    if (it == mapId2MutexCond_.end()) continue;
    std::lock_guard<std::mutex> inner(it->second->mutex);
    result = std::max(result, it->second->value);
  }
  return result;
}

long long ResourceDepend::id_min(unsigned long long resunion) const {
  const std::vector<unsigned long long> ids = resolve_resources(resunion);
  long long result = LLONG_MAX;
  std::lock_guard<std::mutex> lock(mutex_);
  for (unsigned long long id : ids) {
    auto it = mapId2MutexCond_.find(id);
    if (it == mapId2MutexCond_.end()) continue;
    std::lock_guard<std::mutex> inner(it->second->mutex);
    result = std::min(result, it->second->value);
  }
  return result;
}
