// Camera messages: the envelope (ShareDataReader::decode), the frame records (BlobInfoWrapper) and
// the whole camera path of the frame reader, which maps the sender's frame buffers. Records that
// point anywhere but at live platform memory must be refused, never mapped or read.
//
// Input: one mode byte, then the message. Mode bit 0 adds the physical address of a live 64 KiB
// block to the four plane addresses of the records (so that small numbers in the input reach real
// frame buffers, and the rest of the address space stays reachable too); bit 1 chooses the reader
// that copies the frame over the one that uses it in place. Each message is followed by a
// known-good frame, so that grab_frame returns whether the input was accepted or dropped.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "FuzzCommon.h"
#include "FuzzPublisher.h"
#include "kbase/Subscriber.h"
#include "mi_sys.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"
#include "util/ShareData.h"

namespace {
constexpr int kWidth = 16, kHeight = 8;  // configured large size; small frames are half of it
constexpr unsigned int kBlockBytes = 1 << 16;
constexpr size_t kRecord = BlobInfoWrapper::kRecordSize;
constexpr size_t kPlaneFields[] = {8 + 80, 8 + 88, 8 + kRecord + 80, 8 + kRecord + 88};

struct State {
  std::unique_ptr<fuzz::Publisher> pub;
  std::shared_ptr<ShareDataReader> share;
  std::unique_ptr<FrameReaderHisi> readers[2];  // in place, copying
  std::shared_ptr<ResourceImage> large, small;
  MI_PHY block = 0;
  unsigned long long lastPts = 0;
};
State* gState = nullptr;

template <typename T>
void put(std::string& s, size_t at, T v) {
  std::memcpy(&s[at], &v, sizeof v);
}
std::string be32(size_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

// A valid message: one contiguous NV12 frame in the block, a pts newer than the last good one and
// other than `other` (the input's, which may have been delivered just before).
std::string good_message(State& s, unsigned long long other) {
  MI_U64 now = 0;
  CHECK_EQ(MI_SYS_GetCurPts(0, &now), MI_SUCCESS);
  s.lastPts = std::max<unsigned long long>(now - 1000, s.lastPts + 1);
  if (s.lastPts == other) ++s.lastPts;
  std::string r(kRecord, '\0');
  put<unsigned long long>(r, 0, s.lastPts);
  put<unsigned int>(r, 16, 1);   // a frame
  put<unsigned int>(r, 36, 11);  // NV12
  put<unsigned short>(r, 52, kWidth);
  put<unsigned short>(r, 54, kHeight);
  put<unsigned long long>(r, 80, s.block);
  put<unsigned long long>(r, 88, s.block + kWidth * kHeight);
  put<unsigned int>(r, 104, kWidth);
  put<unsigned int>(r, 108, kWidth);
  return be32(0) + be32(r.size()) + r + be32(4) + "good";
}

unsigned long long drops(const State& s, const FrameReaderHisi& reader) {
  unsigned long long n = s.share->dropped_total();
  for (int why = 0; why < static_cast<int>(FrameReaderDrop::kCount); ++why)
    n += reader.dropped(static_cast<FrameReaderDrop>(why));
  return n;
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  fuzz::install_config();
  auto* s = new State;
  CHECK_EQ(MI_SYS_Init(0), MI_SUCCESS);
  CHECK_EQ(MI_SYS_MMA_Alloc(0, nullptr, kBlockBytes, &s->block), MI_SUCCESS);
  const std::string addr = "inproc://kavo-fuzz-camera";
  s->pub = std::make_unique<fuzz::Publisher>(addr);
  s->share = std::make_shared<ShareDataReader>(singleton_ZmqContext(), addr, true, 1, true, 0, 0, "fuzz");
  s->pub->wait_joined();
  for (int copy = 0; copy < 2; ++copy) {
    FrameReaderParam p;
    p.copy = copy == 1;
    p.fromCameraNotVideo = true;
    p.landscapeLargeDimW = kWidth, p.landscapeLargeDimH = kHeight;
    p.landscapeSmallDimW = kWidth / 2, p.landscapeSmallDimH = kHeight / 2;
    p.shareDataReader = s->share;
    s->readers[copy] = std::make_unique<FrameReaderHisi>(p);
  }
  s->large = std::make_shared<ResourceImage>(2, "large", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  s->small = std::make_shared<ResourceImage>(4, "small", "none", produce_mmz_ImageYuv420sp(0, 0, nullptr));
  gState = s;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  State& s = *gState;
  const unsigned char mode = data[0];
  std::string message(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (mode & 1) {
    for (size_t at : kPlaneFields) {
      if (at + 8 > message.size()) break;
      unsigned long long phy;
      std::memcpy(&phy, &message[at], 8);
      put<unsigned long long>(message, at, phy + s.block);
    }
  }

  // The envelope and the records on their own.
  std::deque<signed char> bytes(message.begin(), message.end());
  const auto decoded = ShareDataReader::decode(bytes);
  const std::string& records = *decoded.second.first;
  CHECK(decoded.first != -1 || (records.empty() && decoded.second.second->empty()));
  CHECK_LE(records.size() + decoded.second.second->size(), message.size());
  BlobInfoWrapper wrapper(records.data(), static_cast<int>(records.size()));
  if (wrapper.error().empty()) {
    CHECK(wrapper.large.valid);
    (void)wrapper.print();
  }

  // The whole path: the input, then a good frame.
  FrameReaderHisi& reader = *s.readers[(mode >> 1) & 1];
  const unsigned long long dropsBefore = drops(s, reader);
  const long long idBefore = reader.frameId();
  s.pub->send(message);
  unsigned long long inputPts = 0;
  if (message.size() >= 16) std::memcpy(&inputPts, &message[8], 8);
  s.pub->send(good_message(s, inputPts));
  std::shared_ptr<Buffer> extra = reader.grab_frame(s.large, s.small);
  CHECK(extra);
  const bool accepted = drops(s, reader) == dropsBefore;
  if (accepted) {
    CHECK_EQ(extra->toString(), *decoded.second.second);
    CHECK_EQ(s.large->image()->width(), static_cast<unsigned int>(kWidth));
    CHECK_EQ(s.small->image()->height(), static_cast<unsigned int>(kHeight / 2));
    extra = reader.grab_frame(s.large, s.small);
    CHECK_EQ(drops(s, reader), dropsBefore);
  }
  CHECK_EQ(extra->toString(), "good");
  CHECK_EQ(reader.frameId(), idBefore + (accepted ? 2 : 1));
  return 0;
}
