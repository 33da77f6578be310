#include "FrameProtocol.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mi_sys.h"
#include "util/ImageBase.h"

namespace frameproto {
namespace {
template <typename T>
void put(std::string& s, size_t at, T v) {
  std::memcpy(&s[at], &v, sizeof v);  // little-endian host, like the records
}
template <typename T>
T get(const std::string& s, size_t at) {
  T v;
  std::memcpy(&v, &s[at], sizeof v);
  return v;
}
std::string be32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}
constexpr size_t kExtraSize = 28;
}  // namespace

std::string record(const ImageBase& img, uint64_t pts) {
  MI_SYS_BufInfo_t info{};
  info.u64Pts = pts;
  info.eBufType = E_MI_SYS_BUFDATA_FRAME;
  MI_SYS_FrameData_t& f = info.stFrameData;
  f.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
  f.u16Width = static_cast<MI_U16>(img.width());
  f.u16Height = static_cast<MI_U16>(img.height());
  const size_t luma = static_cast<size_t>(img.stride()) * img.height();  // chroma follows the luma plane
  f.pVirAddr[0] = img.data();
  f.pVirAddr[1] = img.data() + luma;
  f.u64PhyAddr[0] = img.phy();
  f.u64PhyAddr[1] = img.phy() + luma;
  f.u32Stride[0] = f.u32Stride[1] = img.stride();
  f.u32BufSize = static_cast<MI_U32>(luma * 3 / 2);
  return std::string(reinterpret_cast<const char*>(&info), sizeof info);
}

std::string camera_message(const std::string& records, const std::string& extra) {
  return be32(0) + be32(static_cast<uint32_t>(records.size())) + records +
         be32(static_cast<uint32_t>(extra.size())) + extra;
}

std::string video_message(int width, int height, const std::string& payload) {
  std::string m(12, '\0');
  put<uint32_t>(m, 0, kVideoMagic);
  put<uint16_t>(m, 8, static_cast<uint16_t>(width));
  put<uint16_t>(m, 10, static_cast<uint16_t>(height));
  return m + payload;
}

std::string encode(const Extra& e) {
  std::string s(kExtraSize, '\0');
  put(s, 0, e.seq);
  put(s, 8, e.sendPts);
  put(s, 16, e.checksum);
  put(s, 20, e.phy);
  return s;
}

bool decode(const std::string& bytes, Extra* e) {
  if (bytes.size() != kExtraSize) return false;
  e->seq = get<uint64_t>(bytes, 0);
  e->sendPts = get<uint64_t>(bytes, 8);
  e->checksum = get<uint32_t>(bytes, 16);
  e->phy = get<uint64_t>(bytes, 20);
  return true;
}

namespace {
uint32_t fnv(uint32_t h, const unsigned char* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
  return h;
}
}  // namespace

uint32_t checksum(const ImageBase& img) {
  uint32_t h = 2166136261u;
  for (unsigned int y = 0; y < img.height() * 3 / 2; ++y)
    h = fnv(h, img.data() + static_cast<size_t>(y) * img.stride(), img.width());
  return h;
}

uint32_t checksum(const unsigned char* nv12, int width, int height) {
  return fnv(2166136261u, nv12, static_cast<size_t>(width) * height * 3 / 2);
}

uint64_t now_pts() {
  MI_U64 pts = 0;
  MI_SYS_GetCurPts(0, &pts);
  return pts;
}

View synthetic_view(long long seq, int photoWidth, int photoHeight, int frameWidth, int frameHeight) {
  const double t = static_cast<double>(seq);
  const double h = photoHeight * (0.62 + 0.08 * std::sin(t * 0.02));
  const double w = h * frameWidth / frameHeight;
  const double cx = photoWidth * (0.5 + 0.06 * std::sin(t * 0.031));
  const double cy = photoHeight * (0.36 + 0.04 * std::cos(t * 0.023));
  auto even = [](double v) { return 2 * static_cast<int>(std::lround(v / 2)); };
  View v;
  v.w = std::max(2, even(w));
  v.h = std::max(2, even(h));
  v.x = even(cx - w / 2);
  v.y = even(cy - h / 2);
  return v;
}

}  // namespace frameproto
