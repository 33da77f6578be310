#include "nn/NetworkWrapperBase.h"

#include <glog/logging.h>

#include "base/EnumStore.h"
#include "nn/NetworkWrapperSSC.h"

NetworkWrapperBase::NetworkWrapperBase(const NetworkDescription& desc) : desc_(desc) {
  LOG(INFO) << "NetworkWrapperBase ctor";
}

NetworkWrapperBase::~NetworkWrapperBase() { LOG(INFO) << "NetworkWrapperBase dtor"; }

NetworkStore::NetworkStore() { LOG(INFO) << "NetworkStore ctor"; }

NetworkStore::~NetworkStore() { LOG(INFO) << "NetworkStore dtor"; }

void NetworkStore::init(unsigned long long) { LOG(FATAL) << "NotImplemented"; }

void NetworkStore::destroy(unsigned long long) { LOG(FATAL) << "NotImplemented"; }

std::shared_ptr<NetworkWrapperBase> NetworkStore::fetch(unsigned long long id) {
  return wrappers_.get(id, [id] {
    LOG(WARNING) << "Wait for " << singleton_EnumStore()->convert("NETWORK", id, "none")
                 << " to be initialized! Is it enabled???";
  });
}

std::shared_ptr<NetworkStore> singleton_NetworkStore() {
  static const std::shared_ptr<NetworkStore> store = [] {
    LOG(WARNING) << "singleton_NetworkStore";
    return std::make_shared<NetworkStoreSSC>();
  }();
  return store;
}
