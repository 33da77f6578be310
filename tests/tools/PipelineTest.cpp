// End to end: kavo_sender pans a camera over the astronaut photo in one process, kavo_pipeline finds,
// tracks and reports the face in another. The face's box must follow the pan's geometry exactly
// enough, keep one track, and every frame sent must be accounted for.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "FrameProtocol.h"
#include "mi/MiTestUtil.h"
#include "util/BoundBox.h"

namespace {
const bool kPrivateArena = use_private_arena("PipelineTest", "512M");  // inherited by both programs
constexpr int kPhoto = 512;                                            // data/astronaut.jpg is 512 x 512
constexpr int kFrames = 60;

// `box` of the frame of sequence number `from`, seen in the frame of sequence number `to`.
BoundBox<float> follow(const BoundBox<float>& box, long long from, long long to) {
  const frameproto::View a = frameproto::synthetic_view(from, kPhoto, kPhoto, 1920, 1080);
  const frameproto::View b = frameproto::synthetic_view(to, kPhoto, kPhoto, 1920, 1080);
  auto x = [&](float v) { return (a.x + v * a.w - b.x) / b.w; };
  auto y = [&](float v) { return (a.y + v * a.h - b.y) / b.h; };
  return BoundBox<float>(x(box.xmin()), y(box.ymin()), x(box.xmax()), y(box.ymax()));
}
}  // namespace

TEST(PipelineTest, TheFaceFollowsTheSyntheticPanWithOneTrackOverEachTransport) {
  ASSERT_TRUE(kPrivateArena);
  for (const std::string transport : {"zmq", "nn"}) {
    SCOPED_TRACE(transport);
    const std::string addr = "ipc:///tmp/kavo-pipe-" + transport + std::to_string(getpid());
    const std::string out = ::testing::TempDir() + "pipeline-" + transport;
    std::filesystem::remove_all(out);
    const std::string count = " --count " + std::to_string(kFrames);
    // The pipeline binds the address; the sender starts once it says it is waiting for frames.
    FILE* pipeline =
        popen((std::string(KAVO_PIPELINE) + " --config " KAVO_PIPELINE_CONFIG " --every 20 --bind --addr " +
               addr + " --transport " + transport + " --out " + out + count + " 2>" + out + ".log")
                  .c_str(),
              "r");
    std::string log;
    for (char buf[512];
         log.find("waiting for frames") == std::string::npos && fgets(buf, sizeof buf, pipeline);)
      log += buf;
    EXPECT_EQ(
        std::system((KAVO_SENDER " --connect --quiet --fps 20 --ring 30 --addr " + addr + " --transport " +
                     transport + " --source synthetic:" KAVO_PHOTO + count + " >/dev/null")
                        .c_str()),
        0);
    for (char buf[512]; fgets(buf, sizeof buf, pipeline);) log += buf;
    ASSERT_EQ(WEXITSTATUS(pclose(pipeline)), 0) << log;
    nlohmann::json stats;
    std::ifstream(out + "/pipeline_stats.json") >> stats;
    long long dropped = 0;
    for (const char* why : {"lost", "malformed", "dimension", "pts"})
      dropped += stats["dropped"][why].get<long long>();
    EXPECT_EQ(stats["received"].get<long long>() + dropped, kFrames) << log;
    EXPECT_GE(stats["processed"].get<long long>(), kFrames / 4) << log;  // a busy machine skips some

    const nlohmann::json* first = nullptr;
    for (const auto& frame : stats["frames"]) {
      if (!frame.contains("output")) continue;
      SCOPED_TRACE("frame " + frame["id"].dump());
      char picture[32];
      std::snprintf(picture, sizeof picture, "/frame_%06lld.jpg", frame["id"].get<long long>());
      const bool written = std::ifstream(out + picture).good();
      EXPECT_EQ(written, frame["id"].get<long long>() % 20 == 0);
      const cv::Mat drawn = written ? cv::imread(out + picture) : cv::Mat();
      ASSERT_EQ(frame["faces"].size(), 1u);
      const auto& face = frame["faces"][0];
      const auto b = face["box"];
      const BoundBox<float> box(b[0], b[1], b[2], b[3]);
      if (!drawn.empty() &&
          face["confirmed"].get<bool>()) {  // green where the box's left edge crosses its middle
        const cv::Vec3b bgr =
            drawn.at<cv::Vec3b>(static_cast<int>(box.center_y() * 1080), static_cast<int>(box.xmin() * 1920));
        EXPECT_TRUE(bgr[1] > 180 && bgr[0] < 100 && bgr[2] < 100) << bgr;
      }
      if (!first) first = &frame;
      const auto& f0 = (*first)["faces"][0];
      EXPECT_EQ(face["track"], f0["track"]);
      const BoundBox<float> start(f0["box"][0], f0["box"][1], f0["box"][2], f0["box"][3]);
      EXPECT_GE(box.compute_iou(follow(start, (*first)["seq"], frame["seq"])), 0.9f);
    }
    ASSERT_NE(first, nullptr);
  }
}
