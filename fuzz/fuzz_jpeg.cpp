// JPEG bytes (a file, or a video message's payload) decoded into an NV12 and a planar RGB image.
// Any input must either decode into an image of the header's size or be refused with false.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "FuzzCommon.h"
#include "util/ImageBase.h"
#include "util/ProduceImage.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::init_logging();
  fuzz::install_config();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<unsigned char> bytes(data, data + size);
  JpegInfo info;
  const bool header = read_jpeg_info(bytes, &info);

  auto yuv = produce_ImageYuv420sp(0, 0, nullptr);
  if (yuv->decode_jpg(bytes, ImageBase::DECODE_DEFAULT)) {
    CHECK(header && info.width > 0 && info.height > 0);
    // The decoder pads odd sides to even ones.
    CHECK_EQ(yuv->width(), static_cast<unsigned int>(info.width + 1) & ~1u);
    CHECK_EQ(yuv->height(), static_cast<unsigned int>(info.height + 1) & ~1u);
    volatile unsigned char last = yuv->data()[yuv->stride() * yuv->height() * 3 / 2 - 1];  // one host block
    (void)last;
  }
  auto rgb = produce_ImageRgb(0, 0, nullptr);
  if (rgb->decode_jpg(bytes, ImageBase::DECODE_DEFAULT)) {
    CHECK(header);
    CHECK_EQ(rgb->width(), static_cast<unsigned int>(info.width));
    CHECK_EQ(rgb->height(), static_cast<unsigned int>(info.height));
    volatile unsigned char last =
        rgb->data()[rgb->stride() * rgb->height() * 3 - 1];  // three planes, one block
    (void)last;
  }
  return 0;
}
