#include "frss/FrameResourceStore.h"

CombFidMapResBaseRW FrameResourceStore::fetch_byunion(unsigned long long resunionInclude,
                                                      unsigned long long resunionExclude,
                                                      const std::unordered_set<long long>& excluded,
                                                      int32_t verbose) {
  // Captures a pointer only, so the function object needs no heap storage.
  const std::unordered_set<long long>* set = &excluded;
  FrameIdPredicate pred = [set](long long frameId) { return set->count(frameId) == 0; };
  return fetch_byunion(resunionInclude, resunionExclude, pred, verbose);
}

CombFidMapResBaseRW FrameResourceStore::fetch_byunion(unsigned long long resunionInclude,
                                                      unsigned long long resunionExclude, long long bound,
                                                      int32_t verbose) {
  FrameIdPredicate pred = [bound](long long frameId) { return frameId > bound; };
  return fetch_byunion(resunionInclude, resunionExclude, pred, verbose);
}
