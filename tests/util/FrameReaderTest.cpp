// The frame reader over a real socket, with frames in platform memory sent by physical address, and
// the task-dependency query it takes its unions from. One socket reader may exist per process, so
// every test builds at most one (ctest runs each test in its own process).
#include <unistd.h>

#include <cstring>
#include <zmq.hpp>

#include "base/EnumStore.h"
#include "gtest/gtest.h"
#include "kbase/Database.h"
#include "kbase/Subscriber.h"
#include "mi_sys.h"
#include "mi_test.h"
#include "platform/Mix.h"
#include "testing/FrameMessages.h"
#include "testing/LogCapture.h"
#include "util/FrameReader.h"
#include "util/ImageYuv420sp.h"
#include "util/ProduceImage.h"
#include "util/ShareData.h"

using namespace framemsg;

namespace {
// The bundled configuration with a camera frame buffer of 4 (a 100 ms latency budget).
void use_config(const std::string& key = "", const std::string& value = "") {
  auto db = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(db->load(KAVO_CONFIG_FILE, false, 0));
  if (!key.empty()) db->store_multi_local(key, {value}, false);
  install_ParamCfg(db);
}

std::shared_ptr<ResourceImage> image_resource(unsigned long long id) {
  return std::make_shared<ResourceImage>(id, "image", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
}

unsigned long long now_us() {
  MI_U64 pts = 0;
  MI_SYS_GetCurPts(0, &pts);
  return pts;
}

FrameReaderParam small_frames(std::shared_ptr<ShareDataReader> reader, bool camera) {
  FrameReaderParam p;
  p.fromCameraNotVideo = camera;
  p.landscapeLargeDimW = 16, p.landscapeLargeDimH = 8, p.landscapeSmallDimW = 8, p.landscapeSmallDimH = 4;
  p.portraitLargeDimW = 8, p.portraitLargeDimH = 16, p.portraitSmallDimW = 4, p.portraitSmallDimH = 8;
  p.shareDataReader = std::move(reader);
  return p;
}
}  // namespace

TEST(MixTest, TaskUnionsComeFromTheDependencyLists) {
  use_config();
  const auto tasks = singleton_EnumStore()->get("TASK");
  EXPECT_EQ(query_TaskResourceUnionGlobal(tasks->convert("TASK_DETECT", "none")), std::make_pair(4ull, 8ull));
  EXPECT_EQ(query_TaskResourceUnionGlobal(0), std::make_pair(0ull, 7ull));  // no input list: 0
}

TEST(FrameReaderTest, LatencyBeyondEightTenthsOfTheBudgetIsAnErrorBeyondHalfAWarning) {
  const float b = 3 * 33.333332f;  // the budget; exactly at eight tenths or at half is not beyond them
  for (const auto& [ms, severity] :
       {std::pair<float, int>{81, 2}, {.8f * b, 1}, {51, 1}, {.5f * b, 0}, {50, 0}, {0, 0}})
    EXPECT_EQ(latency_severity(ms, 4), severity) << ms;  // 4 buffers: a budget of 100 ms
}

TEST(FrameReaderTest, RecordsBreakingAFrameRuleAreRefusedWithTheRule) {
  auto with = [](std::string r, size_t at, unsigned int v) { return put<unsigned int>(r, at, v), r; };
  const std::string good = record(1, 16, 8, 0x10000), small = record(1, 8, 4, 0x20000);
  const std::pair<std::string, std::string> rows[] = {
      {good + small, ""},
      {good.substr(0, 271),
       "Check failed: id8data8desc.second.first->length() >= sizeof(MI_SYS_BufInfo_t)  recv data length = "
       "271"},
      {with(good, 16, 2), "Check failed: pmi_buf->eBufType == E_MI_SYS_BUFDATA_FRAME  eBufType = 2"},
      {good + with(small, 16, 0),
       "Check failed: pmi_small_buf->eBufType == E_MI_SYS_BUFDATA_FRAME  eBufType = 0"},
      {with(good, 36, 12),
       "Check failed: frame.ePixelFormat == E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420  ePixelFormat = 12"},
      {good + with(small, 108, 16),
       "Check failed: frame_small.u32Stride[1] == frame_small.u32Stride[0]  u32Stride[1]/u32Stride[0]=16/8"},
      {record(1, 15, 8, 0x10000), "frame is not an NV12 frame: w/h=15/8, stride=15"},
      {record(1, 16, 0, 0x10000), "frame is not an NV12 frame: w/h=16/0, stride=16"},
      {with(with(good, 104, 8), 108, 8), "frame is not an NV12 frame: w/h=16/8, stride=8"},
  };
  for (const auto& row : rows)
    EXPECT_EQ(BlobInfoWrapper(row.first.data(), static_cast<int>(row.first.size())).error(), row.second);
  // What a detailed reader logs of a frame: both frames' addresses, in hex.
  const std::string text = BlobInfoWrapper((good + small).data(), 544).print();
  EXPECT_NE(text.find("\nPHY        : 0x10000\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\nu64PhyAddrSmall   : 0x20000"), std::string::npos) << text;
}

TEST(FrameReaderTest, ViewModeChoosesTheDimensions) {
  use_config();
  FrameReader reader(small_frames(nullptr, false));
  EXPECT_EQ(reader.get_large_image_dim(), std::make_pair(16, 8));
  reader.set_view_mode(false);
  EXPECT_TRUE(reader.is_portrait());
  EXPECT_EQ(reader.get_large_image_dim(), std::make_pair(8, 16));
  EXPECT_EQ(reader.get_small_image_dim(), std::make_pair(4, 8));
}

TEST(FrameReaderTest, VideoFramesAreNumberedCopiedAndResized) {
  use_config();
  Publisher pub(ipc("video"));
  auto share =
      std::make_shared<ShareDataReader>(singleton_ZmqContext(), ipc("video"), true, 1, false, 8, 16, "v");
  ASSERT_TRUE(pub.joined());
  FrameReaderHisi reader(small_frames(share, false));
  auto header = [](size_t payload) { return video(0x768A359F, 0, 16, 8, payload); };
  pub.send(header(16 * 8 * 3 / 2 - 2));  // wrong size: dropped
  for (int i = 0; i < 3; ++i) pub.send(header(16 * 8 * 3 / 2));
  auto large = image_resource(2), small = image_resource(4);
  // Rows longer than the frame's (a tensor's padded rows) take it row by row; the padding stays.
  std::vector<unsigned char> padded(20 * 12, 0xEE);
  auto plane = std::make_shared<BlobPlane<unsigned char>>(padded.data(), 1, 12, 20, 16);
  auto strided =
      std::make_shared<ResourceImage>(2, "s", "none", std::make_shared<ImageYuv420sp>(plane, nullptr));
  LogCapture info(google::GLOG_INFO);
  for (auto* res : {&large, &large, &strided}) EXPECT_EQ(reader.grab_frame(*res, small), nullptr);
  EXPECT_EQ(info.count("Recv from video: width=16, height=8, frame_id=-1, size=192"), 3);
  EXPECT_EQ(info.count("[Time Cost] 10000: "), 3);  // the copy into the large image
  EXPECT_EQ(info.count("[Time Cost] 10001: "), 3);  // and the small image
  EXPECT_EQ(reader.frameId(), 2);
  EXPECT_EQ(reader.pts(), 200u);
  EXPECT_EQ(reader.dropped(FrameReaderDrop::kVideoSize), 1u);
  for (const ImageBase* img : {large->image().get(), strided->image().get()})
    for (unsigned int y = 0; y < 12; ++y)
      for (unsigned int x = 0; x < img->stride(); ++x)
        ASSERT_EQ(img->data()[y * img->stride() + x], x < 16 ? (y * 16 + x) & 0xff : 0xEE) << x << "," << y;
  auto want = produce_mmz_ImageYuv420sp(8, 4, nullptr);  // the last frame's large image resized
  want->resize_from(strided->image().get(), false, false);
  for (unsigned int y = 0, s = want->stride(); y < 6; ++y)
    EXPECT_EQ(std::memcmp(small->image()->data() + y * s, want->data() + y * s, 8), 0) << y;
  ASSERT_TRUE(singleton_FrameDetailDict()->get(2, std::chrono::milliseconds(0)));
}

TEST(FrameReaderTest, VideoJpegsThatDoNotDecodeToTheFrameSizeAreDropped) {
  use_config("ShareDataVideo/format", "jpeg");
  Publisher pub(ipc("jpeg"));
  auto share =
      std::make_shared<ShareDataReader>(singleton_ZmqContext(), ipc("jpeg"), true, 1, false, 8, 16, "v");
  ASSERT_TRUE(pub.joined());
  FrameReaderParam param = small_frames(share, false);
  param.landscapeLargeDimW = 8, param.landscapeLargeDimH = 4;  // the frame is resized into 8 x 4
  FrameReaderHisi reader(param);
  auto jpeg = [](unsigned w, unsigned h) {
    auto bytes = produce_ImageYuv420sp(w, h, nullptr)->encode_jpg();
    return video(0x768A359F, 0, 16, 8, 0) + std::string(bytes->begin(), bytes->end());
  };
  pub.send(video(0x768A359F, 0, 16, 8, 100));  // not a JPEG
  pub.send(jpeg(8, 8));
  pub.send(jpeg(16, 8));
  auto large = image_resource(2);
  EXPECT_EQ(reader.grab_frame(large, nullptr), nullptr);
  EXPECT_EQ(large->image()->width() * 100 + large->image()->height(), 804u);
  EXPECT_EQ(reader.frameId(), 0);
  EXPECT_EQ(reader.dropped(FrameReaderDrop::kVideoSize), 2u);
}

TEST(FrameReaderTest, CameraFramesAreUsedInPlaceAndBadOnesDropped) {
  use_config();
  Publisher pub(ipc("camera"));
  auto share =
      std::make_shared<ShareDataReader>(singleton_ZmqContext(), ipc("camera"), true, 1, true, 0, 0, "c");
  ASSERT_TRUE(pub.joined());
  FrameReaderHisi reader(small_frames(share, true));
  MI_PHY block = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &block), MI_SUCCESS);
  const MI_PHY smallFrame = block + 16 * 8 * 3 / 2;
  const unsigned long long t = now_us();
  std::string wraps = record(t - 40000, 16, 8, block);         // stride x height x 3 / 2 beyond 32 bits
  put<unsigned long long>(wraps, 104, 0x2000000220000002ull);  // both strides
  pub.send(camera(0, record(t - 81000, 16, 8, block) + "pad", "first"));  // 275 bytes: large only
  pub.send(camera(0, record(t - 81000, 16, 8, block), ""));               // same pts
  pub.send(camera(0, record(t - 40000, 8, 8, block), ""));                // wrong size
  pub.send(camera(0, record(t - 40000, 16, 8, block, 2), ""));            // not a frame
  pub.send(camera(0, wraps, ""));
  pub.send(camera(0, record(t - 40000, 16, 8, 0x10000), ""));  // outside platform memory
  pub.send(camera(0, record(t + 9000000, 16, 8, block), ""));  // from the future
  // a small frame of the wrong size
  pub.send(camera(0, record(t - 40000, 16, 8, block) + record(t - 40000, 4, 4, smallFrame), ""));
  pub.send(camera(0, record(t - 51000, 16, 8, block) + record(t - 51000, 8, 4, smallFrame), "second"));
  pub.send(camera(0, record(t - 40000, 16, 8, block), "3"));

  LogCapture errors(google::GLOG_ERROR);
  auto large = image_resource(2), small = image_resource(4);
  EXPECT_EQ(reader.grab_frame(large, small)->toString(), "first");
  EXPECT_EQ(reader.frameId(), 0);
  EXPECT_EQ(reader.pts(), t - 81000);
  EXPECT_EQ(large->image()->phy(), block);                              // in place: no pixel copied
  EXPECT_EQ(small->image()->width(), 8u);                               // made from the large frame
  EXPECT_EQ(errors.count("Frame Recv & Copy Latency too large: "), 1);  // 81 ms or more, always

  EXPECT_EQ(reader.grab_frame(large, small)->toString(), "second");
  EXPECT_EQ(small->image()->phy(), smallFrame);
  EXPECT_EQ(reader.delta_pts(), 30000u);
  EXPECT_EQ(reader.grab_frame(large, small)->toString(), "3");
  EXPECT_NEAR(reader.fps(), 1e6f / 20500, 0.01f);  // (t-40000 - (t-81000)) / 2 us per frame
  for (FrameReaderDrop why :
       {FrameReaderDrop::kStalePts, FrameReaderDrop::kDimension, FrameReaderDrop::kRecords,
        FrameReaderDrop::kAddress, FrameReaderDrop::kFuturePts})
    EXPECT_EQ(reader.dropped(why),
              why == FrameReaderDrop::kDimension || why == FrameReaderDrop::kRecords ? 2u : 1u)
        << static_cast<int>(why);
  EXPECT_EQ(errors.count("Check failed: pmi_buf->eBufType == E_MI_SYS_BUFDATA_FRAME  eBufType = 2"), 1);
  large.reset(), small.reset();
  EXPECT_EQ(MI_SYS_MMA_Free(0, block), MI_SUCCESS);
}

TEST(FrameReaderDeathTest, MisuseAndBadTaskKeysAreFatal) {
  EXPECT_DEATH(
      {
        use_config("TaskDependency/TASK_DETECT/inputs", "RESOURCE_SMALL_IMAGE");
        query_TaskResourceUnionGlobal(singleton_EnumStore()->get("TASK")->convert("TASK_DETECT", "none"));
      },
      "Check failed: allowed.find\\(subKey\\) != allowed.end\\(\\) inputs写错了");
  EXPECT_DEATH(
      {
        use_config();
        auto share = std::make_shared<ShareDataReader>(ipc("d"), false, 1, false, 8, 16, "v");
        FrameReaderHisi(small_frames(share, false)).grab_frame(nullptr, nullptr);
      },
      "Read from Video must use large frame.");
  EXPECT_DEATH(
      {
        use_config();
        Publisher pub(ipc("dc"));
        auto share =
            std::make_shared<ShareDataReader>(singleton_ZmqContext(), ipc("dc"), true, 1, true, 0, 0, "c");
        FrameReaderHisi reader(small_frames(share, true));
        if (pub.joined()) pub.send(camera(0, record(now_us() - 1000, 16, 8, 0x10000), ""));
        MI_TEST_FailNext("MI_SYS_GetCurPts", MI_ERR_SYS_ILLEGAL_PARAM);
        reader.grab_frame(nullptr, nullptr);
      },
      "Check failed: MI_SYS_GetCurPts\\(0, &pts_after_copy\\) == 0 ");
}
