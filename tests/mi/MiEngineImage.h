// An image of the stand-in's image engine in emulated physical memory, for the engine tests: planes
// lie one after another in one block; strides count elements of the image type.
#pragma once

#include <memory>

#include "mi/MiTestUtil.h"
#include "mi_ive.h"

class EngineImage {
 public:
  EngineImage(MI_IVE_ImageType_e type, uint16_t width, uint16_t height, uint16_t stride) : desc_{} {
    desc_.eType = type;
    desc_.u16Width = width;
    desc_.u16Height = height;
    int planes = type == E_MI_IVE_IMAGE_TYPE_YUV420SP ? 2 : type == E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR ? 3 : 1;
    elem_ = type == E_MI_IVE_IMAGE_TYPE_U32C1 ? 4 : 1;
    uint32_t offsets[3] = {};
    uint32_t total = 0;
    for (int k = 0; k < planes; ++k) {
      offsets[k] = total;
      total += static_cast<uint32_t>(stride) * rows(k) * elem_;
    }
    block_ = std::make_unique<TestBlock>(total);
    for (int k = 0; k < planes; ++k) {
      desc_.u16Stride[k] = stride;
      desc_.u64PhyAddr[k] = block_->phy() + offsets[k];
      desc_.pu8VirAddr[k] = block_->data() + offsets[k];
    }
    fill_random(block_->data(), total, width * 131 + height);
  }

  int rows(int plane) const {
    return desc_.eType == E_MI_IVE_IMAGE_TYPE_YUV420SP && plane == 1 ? desc_.u16Height / 2 : desc_.u16Height;
  }
  // Byte at (x, y) of an 8-bit plane; x counts bytes.
  uint8_t& at(int plane, int x, int y) { return desc_.pu8VirAddr[plane][y * desc_.u16Stride[plane] + x]; }
  uint32_t& at32(int x, int y) {
    return reinterpret_cast<uint32_t*>(desc_.pu8VirAddr[0])[y * desc_.u16Stride[0] + x];
  }
  const MI_IVE_Image_t* desc() const { return &desc_; }
  MI_IVE_Image_t copy() const { return desc_; }
  int width() const { return desc_.u16Width; }
  int height() const { return desc_.u16Height; }
  int stride() const { return desc_.u16Stride[0]; }

 private:
  MI_IVE_Image_t desc_;
  int elem_ = 1;
  std::unique_ptr<TestBlock> block_;
};
