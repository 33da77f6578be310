// The bundled network configuration (config/kavo.json naming config/network.json) builds the
// catalogue: the face detector with its model under the installation root and library-managed
// tensors for every input and output. Own executable: the catalogue is process-wide.
#include <gtest/gtest.h>
#include <stdlib.h>

#include "base/EnumStore.h"
#include "kbase/Path.h"
#include "nn/NetworkDetail.h"

namespace {

TEST(NetworkSampleConfigTest, FaceDetectorAndItsTensorsAreCatalogued) {
  setenv("KAVO_CONFIG", KAVO_SOURCE_DIR "/config/kavo.json", 1);
  GlobalPathCfg::set(0, KAVO_SOURCE_DIR);
  auto detail = singleton_NetworkDetail();
  auto enums = singleton_EnumStore();
  auto net = detail->network_get(enums->get("NETWORK")->convert("NETWORK_DETECTOR", "none"), true);
  EXPECT_EQ(net->forwardPriority, 1);
  EXPECT_EQ(net->netDescriptions,
            std::vector<std::string>{KAVO_SOURCE_DIR "/data/models/blazeface_128.kavo"});
  const auto ids = enums->get("RESOURCE")->resolve(net->resUnionInput | net->resUnionOutput, net->resZone);
  EXPECT_EQ(ids.size(), 5u);
  for (unsigned long long id : ids) {
    auto blob = detail->blob_get(id, true, net->resZone);
    SCOPED_TRACE(blob->name);
    EXPECT_EQ(blob->managed, BlobDescription::MANAGED_BY_LIBRARY);
    EXPECT_EQ(blob->shape.size(), 4u);
  }
  // Two priors of one class plus background per cell of the 16 x 16 head.
  EXPECT_EQ(detail->blob_get_by_name("conf16", true, "blazeface")->shape, (std::vector<int>{1, 16, 16, 4}));
}

}  // namespace
