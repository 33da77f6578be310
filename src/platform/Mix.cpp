#include "platform/Mix.h"

#include <glog/logging.h>

#include <set>
#include <string>

#include "base/EnumStore.h"
#include "base/ParamCfg.h"
#include "kbase/Database.h"
#include "nn/NetworkDetail.h"

std::pair<unsigned long long, unsigned long long> query_TaskResourceUnionGlobal(unsigned long long taskId) {
  const auto enums = singleton_EnumStore();
  const std::string name = enums->convert("TASK", taskId, "none");
  const auto view = std::make_shared<ParamCfg>(singleton_ParamCfg(), "TaskDependency/" + name + "/");
  static const std::set<std::string> allowed{"input", "output"};
  for (const std::string& subKey : view->subkeys("", false))
    CHECK(allowed.find(subKey) != allowed.end()) << subKey << "写错了";
  const auto resources = enums->get("RESOURCE");
  return {resources->collect(view->select_multi_local("input", false, {}), "none"),
          resources->collect(view->select_multi_local("output", false, {}), "none")};
}

std::pair<unsigned long long, unsigned long long> query_NetworkResourceUnionNetworkForward(
    unsigned long long networkId) {
  const auto desc = singleton_NetworkDetail()->network_get(networkId, true);
  return {desc->resUnionInput, desc->resUnionOutput};
}
