// The message-socket reader against real publishers. One reader may exist per process, so every
// test builds at most one (ctest runs each test in its own process).
#include <nanomsg/nn.h>
#include <nanomsg/pubsub.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <zmq.hpp>
#include <zmq_addon.hpp>

#include "gtest/gtest.h"
#include "kbase/Database.h"
#include "kbase/Subscriber.h"
#include "testing/FrameMessages.h"
#include "util/ShareData.h"

using namespace framemsg;

namespace {
void use_format(const char* format) {
  auto db = std::make_shared<DatabaseJsonMem>();
  ASSERT_TRUE(db->load_text(std::string(R"({"ShareDataVideo": {"format": ")") + format + "\"}}"));
  install_ParamCfg(db);
}
std::deque<signed char> bytes(const std::string& s) { return {s.begin(), s.end()}; }
}  // namespace

TEST(ShareDataTest, DecodeSplitsTheCameraEnvelopeAndRejectsBadLengthsAndAddresses) {
  const std::string good = camera(0, std::string(300, 'r'), "xy");
  struct Row {
    const char* name;
    std::string message;
    long long type;
  } rows[] = {
      {"3 bytes", "abc", -1},
      {"type only", be32(0), -1},
      {"7 bytes", be32(0) + "abc", -1},
      {"records beyond the data", be32(0) + be32(10) + "short", -1},
      {"extra beyond the data", good.substr(0, good.size() - 1), -1},
      {"good", good, 0},
      {"type 5", camera(5, "r", ""), 5},
  };
  for (auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto b = bytes(row.message);
    const auto result = ShareDataReader::decode(b);
    EXPECT_EQ(result.first, row.type);
    ASSERT_TRUE(result.second.first && result.second.second);
    if (row.type == -1) {
      EXPECT_TRUE(result.second.first->empty() && result.second.second->empty());
    }
  }
  EXPECT_THROW(NNSubscriber({"nosuch://x", true, "bad"}), std::runtime_error);
  auto b = bytes(good);
  const auto result = ShareDataReader::decode(b);
  EXPECT_EQ(*result.second.first, std::string(300, 'r'));
  EXPECT_EQ(*result.second.second, "xy");
}

TEST(ShareDataTest, VideoOverZmqSkipsAndCountsEveryMalformedMessage) {
  use_format("yuv");
  Publisher pub(ipc("video"));
  ShareDataReader reader(singleton_ZmqContext(), ipc("video"), true, 1, false, 2, 4, "video");
  ASSERT_TRUE(pub.joined());
  const unsigned int magic = 0x768A359F;
  for (const std::string& m :
       {video(magic, 0, 4, 2, 0), video(magic + 1, 0, 4, 2, 12), video(magic, 2, 4, 2, 12),
        video(magic, 0, 2, 4, 12), video(magic, 1, 4, 2, 1)})
    pub.send(m);
  zmq::multipart_t twoParts;
  twoParts.addstr(video(magic, 0, 4, 2, 12));
  twoParts.addstr("");
  twoParts.send(pub.pub);
  pub.send(video(magic, 0, 4, 2, 12));

  VideoFrame first = reader.read_from_video();  // the 13-byte message: a one-byte payload
  EXPECT_EQ(first.type, 1);
  EXPECT_EQ(first.frameId, -1);
  ASSERT_TRUE(first.pData);
  EXPECT_EQ(first.pData->size(), 1u);
  for (ShareDataDrop why :
       {ShareDataDrop::kShort, ShareDataDrop::kMagic, ShareDataDrop::kType, ShareDataDrop::kResolution})
    EXPECT_EQ(reader.dropped(why), 1u) << static_cast<int>(why);
  const VideoFrameView second = reader.read_video_in_place();  // the same checks, the payload in place
  EXPECT_EQ(reader.dropped(ShareDataDrop::kParts), 1u);
  EXPECT_EQ(reader.dropped_total(), 5u);
  EXPECT_EQ(second.width, 4);
  EXPECT_EQ(second.height, 2);
  EXPECT_EQ(std::string(second.payload, second.payload + second.size), video(magic, 0, 4, 2, 12).substr(12));
}

TEST(ShareDataTest, CameraOverNanomsgNumbersAcceptedFramesAndDropsTheRest) {
  const std::string addr = ipc("nncamera");
  ShareDataReader reader(addr, false, 1, true, 0, 0, "camera");
  const int pub = nn_socket(AF_SP, NN_PUB);
  ASSERT_GE(nn_connect(pub, addr.c_str()), 0);
  auto send = [&](const std::string& m) { nn_send(pub, m.data(), m.size(), 0); };
  // nanomsg has no subscription handshake: probe until one frame gets through.
  std::atomic<bool> joined{false};
  std::thread prober([&] {
    while (!joined) send(camera(0, "probe", "")), usleep(1000);
  });
  EXPECT_EQ(reader.read_from_camera().first, 0);
  joined = true;
  prober.join();

  for (const std::string& m : {std::string(), std::string("ab"), be32(0) + "abc", be32(0) + be32(99) + "x",
                               camera(1, "r", ""), camera(0, std::string(1100, 'r'), "")})
    send(m);
  send(camera(0, std::string(544, 'r'), std::string(468, 'x')));  // 1024 bytes: the whole buffer, kept
  send(camera(0, std::string(544, 'r'), "END"));
  std::pair<long long, ShareDataReader::DataDesc> frame;
  long long probes = 0;
  while (*(frame = reader.read_from_camera()).second.second != "END") ++probes;
  EXPECT_EQ(frame.first, 1 + probes);
  EXPECT_EQ(frame.second.first->size(), 544u);
  EXPECT_EQ(reader.dropped(ShareDataDrop::kEnvelope), 4u);
  EXPECT_EQ(reader.dropped(ShareDataDrop::kFrameType), 1u);
  EXPECT_EQ(reader.dropped(ShareDataDrop::kTruncated), 1u);
  nn_close(pub);
}

TEST(ShareDataDeathTest, ConfigurationErrorsAndASecondReaderAreFatal) {
  use_format("yuv");
  EXPECT_DEATH(ShareDataReader(ipc("d1"), false, 1, false, 0, 4, "v"), "videoWidth_ > 0 && videoHeight_ > 0");
  EXPECT_DEATH(ShareDataReader(ipc("d2"), false, 2, false, 2, 4, "v"),
               "gap_ == 1 In video mode, gap must be 1.");
  EXPECT_DEATH(
      {
        use_format("bmp");
        ShareDataReader(ipc("d3"), false, 1, false, 2, 4, "v");
      },
      "Shared Data Reader -> Video Image Format invalid: bmp");
  EXPECT_DEATH(
      {
        install_ParamCfg(std::make_shared<DatabaseJsonMem>());
        ShareDataReader(ipc("d6"), false, 1, false, 2, 4, "v");
      },
      "Check failed: ! \\(exactOneValue && value.size\\(\\) != 1\\) ShareDataVideo/format: ");
  EXPECT_DEATH(
      {
        ShareDataReader first(ipc("d4"), false, 1, true, 0, 0, "c");
        ShareDataReader second(ipc("d5"), false, 1, true, 0, 0, "c");
      },
      "too many instances of ShareDataReader");
}
