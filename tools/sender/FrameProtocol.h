// What a frame sender puts on the wire, and what a receiver checks: the MI_SYS_BufInfo_t record of
// an NV12 frame buffer, the camera and video envelopes, and the extra bytes of a camera message
// (sequence number, send time, checksum and physical address of the large frame).
#pragma once

#include <cstdint>
#include <string>

class ImageBase;

namespace frameproto {

constexpr unsigned int kVideoMagic = 0x768A359F;

// One 272-byte little-endian record of the NV12 image `img` (platform memory, planes contiguous).
std::string record(const ImageBase& img, uint64_t pts);
// Camera envelope: frame type 0, the records, the extra bytes (lengths big-endian).
std::string camera_message(const std::string& records, const std::string& extra);
// Video message: the 12-byte header and the payload.
std::string video_message(int width, int height, const std::string& payload);

// The extra bytes of a camera message.
struct Extra {
  uint64_t seq = 0;
  uint64_t sendPts = 0;  // MI_SYS_GetCurPts when sent
  uint32_t checksum = 0;
  uint64_t phy = 0;  // physical address of the large frame
};
std::string encode(const Extra& e);
// False when `bytes` is not an encoded Extra.
bool decode(const std::string& bytes, Extra* e);

// FNV-1a over the visible NV12 bytes (width bytes of each of height * 3 / 2 rows).
uint32_t checksum(const ImageBase& img);
// The same over a tightly packed NV12 buffer.
uint32_t checksum(const unsigned char* nv12, int width, int height);

uint64_t now_pts();

// What the synthetic camera sees at frame `seq`: a rectangle of photo pixels, [x, x + w) x [y, y + h),
// all four even, with (nearly) the frame's aspect ratio; the frame is that rectangle scaled to the
// frame's size. It pans and zooms slowly around the upper middle of the photo, where a portrait's
// subject is: 0.54 to 0.70 of the photo's height, its centre within 6% of the width and 4% of the
// height of (0.5, 0.36). Parts of the rectangle beyond the photo are grey.
struct View {
  int x = 0, y = 0, w = 0, h = 0;
};
View synthetic_view(long long seq, int photoWidth, int photoHeight, int frameWidth, int frameHeight);

}  // namespace frameproto
