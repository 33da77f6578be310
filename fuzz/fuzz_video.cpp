// Video messages (envelope and NV12 or JPEG payload, KAVO_FUZZ_VIDEO_FORMAT) through the socket
// reader and the frame reader into the large and small image resources. Each input is published as
// one message, followed by a known-good frame so that grab_frame returns whether the input was
// accepted or dropped; an accepted input must have filled both images at their configured sizes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "FuzzCommon.h"
#include "FuzzPublisher.h"
#include "kbase/Subscriber.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"
#include "util/ShareData.h"

namespace {
constexpr int kWidth = 16, kHeight = 8;  // configured video size; small images are half of it

struct State {
  std::unique_ptr<fuzz::Publisher> pub;
  std::shared_ptr<ShareDataReader> share;
  std::unique_ptr<FrameReaderHisi> reader;
  std::shared_ptr<ResourceImage> large, small;
  std::string good;  // a valid message of the configured size
};
State* gState = nullptr;

std::string header(int w, int h) {
  std::string m(12, '\0');
  const unsigned int magic = 0x768A359F;
  std::memcpy(&m[0], &magic, 4);
  m[8] = static_cast<char>(w), m[9] = static_cast<char>(w >> 8);
  m[10] = static_cast<char>(h), m[11] = static_cast<char>(h >> 8);
  return m;
}

unsigned long long drops(const State& s) {
  unsigned long long n = s.share->dropped_total();
  for (int why = 0; why < static_cast<int>(FrameReaderDrop::kCount); ++why)
    n += s.reader->dropped(static_cast<FrameReaderDrop>(why));
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  fuzz::install_config({{"ShareDataVideo/format", KAVO_FUZZ_VIDEO_FORMAT}});
  auto* s = new State;
  const std::string addr = "inproc://kavo-fuzz-video";
  s->pub = std::make_unique<fuzz::Publisher>(addr);
  s->share = std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr, true, 1, false, kHeight, kWidth,
                                               "fuzz");
  s->pub->wait_joined();
  FrameReaderParam p;
  p.landscapeLargeDimW = kWidth, p.landscapeLargeDimH = kHeight;
  p.landscapeSmallDimW = kWidth / 2, p.landscapeSmallDimH = kHeight / 2;
  p.shareDataReader = s->share;
  s->reader = std::make_unique<FrameReaderHisi>(p);
  s->large = std::make_shared<ResourceImage>(2, "large", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  s->small = std::make_shared<ResourceImage>(4, "small", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  auto image = produce_ImageYuv420sp(kWidth, kHeight, nullptr);
  image->reset(10, 200, 30);
  if (s->share->video_format() == "jpeg") {
    auto jpeg = image->encode_jpg();
    CHECK(jpeg);
    s->good = header(kWidth, kHeight) + std::string(jpeg->begin(), jpeg->end());
  } else {
    s->good = header(kWidth, kHeight) + std::string(image->data(), image->data() + kWidth * kHeight * 3 / 2);
  }
  gState = s;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  State& s = *gState;
  const unsigned long long dropsBefore = drops(s);
  const long long idBefore = s.reader->frameId();
  s.pub->send(data, size);
  s.pub->send(s.good);
  CHECK(s.reader->grab_frame(s.large, s.small) == nullptr);
  const bool accepted = drops(s) == dropsBefore;
  if (accepted) {
    CHECK_EQ(s.large->image()->width(), static_cast<unsigned int>(kWidth));
    CHECK_EQ(s.large->image()->height(), static_cast<unsigned int>(kHeight));
    CHECK_EQ(s.small->image()->width(), static_cast<unsigned int>(kWidth / 2));
    CHECK(s.reader->grab_frame(s.large, s.small) == nullptr);  // the good frame
    CHECK_EQ(drops(s), dropsBefore);
  }
  CHECK_EQ(s.reader->frameId(), idBefore + (accepted ? 2 : 1));
  return 0;
}
