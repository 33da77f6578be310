// Uses the installed library: the configuration, the enum registry and the resource vocabulary.
#include <glog/logging.h>

#include <iostream>

#include "base/EnumStore.h"
#include "frss/ResourceBase.h"
#include "frss/ResourceDef.h"
#include "kbase/Database.h"

int main(int, char** argv) {
  google::InitGoogleLogging(argv[0]);
  auto names = singleton_EnumStore()->mapId2String("RESOURCE", "none");
  ResourceIdStore ids({names.begin(), names.end()}, "none");
  auto small = std::make_shared<ResourceBase>(4, names.at(4), "none");
  MapResId2ResBasePtr m = pick({{4, small}}, ids.resUnion());
  std::cout << print_MapResId2ResBasePtr(m);
  return m.size() == 1 ? 0 : 1;
}
