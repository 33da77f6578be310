#include "platform/Iveproc.h"

#include <glog/logging.h>
#include <mi_ive.h>
#include <mi_scl.h>
#include <mi_sys.h>

#include <algorithm>
#include <bitset>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <utility>

#include "platform/Mmz.h"
#include "util/RgbChannel.h"

namespace {

// The engine reads at most this much source per call; larger sources are tiled.
constexpr int kEngineMaxWidth = 1920;
constexpr int kEngineMaxHeight = 1080;
// The scaler's "busy, call again" status.
constexpr MI_U32 kSclRetry = 0xA009201Fu;
// Largest reduction of one scaler call.
constexpr int kSclMaxReductionH = 6;
constexpr int kSclMaxReductionV = 4;
// Handle numbers of the image engine.
constexpr int kEngineHandles = 128;

inline MI_U32 hex_code(MI_S32 ret) { return static_cast<MI_U32>(ret); }
inline MI_U32 round_up_4096(MI_U32 size) { return (size + 4095u) & ~4095u; }
inline int align16(int v) { return (v + 15) / 16 * 16; }
// For the non-negative sizes and positions of the ROI paths.
inline int down_even(int v) { return v & ~1; }
inline int up_even(float v) { return (static_cast<int>(std::round(v)) + 1) & ~1; }
inline int round_down_even(float v) { return down_even(static_cast<int>(std::round(v))); }
inline MI_U32 byte_x4(int value) { return (static_cast<MI_U32>(value) & 0xffu) * 0x01010101u; }
inline unsigned char* offset(unsigned char* vir, size_t bytes) { return vir ? vir + bytes : nullptr; }

// One engine handle for the lifetime of one operation.
class EngineHandle {
 public:
  EngineHandle() : handle_(get_miive_handle_id()) {
    MI_S32 ok = MI_IVE_Create(handle_);
    CHECK(MI_SUCCESS == ok) << "MI_IVE_Create failed: " << static_cast<int>(handle_) << ", ret=0x" << std::hex
                            << hex_code(ok);
  }
  ~EngineHandle() {
    MI_S32 ok = MI_IVE_Destroy(handle_);
    CHECK(MI_SUCCESS == ok) << "MI_IVE_Destroy failed: " << static_cast<int>(handle_) << ", ret=0x"
                            << std::hex << hex_code(ok);
    release_miive_handle_id(handle_);
  }
  EngineHandle(const EngineHandle&) = delete;
  EngineHandle& operator=(const EngineHandle&) = delete;

  MI_IVE_HANDLE get() const { return handle_; }

 private:
  const unsigned char handle_;
};

// One tile of the engine grid: source and destination windows.
struct Tile {
  int srcX, srcY, srcW, srcH;
  int dstX, dstY, dstW, dstH;
};

// The engine reads at most 1920x1080 per call: the source is cut into ceil(w / 1920) by
// ceil(h / 1080) tiles, each side's share rounded down to even, and the destination into as many.
struct TileGrid {
  int nx, ny;
  int srcTileWidth, srcTileHeight;
  int dstTileWidth, dstTileHeight;
};

TileGrid tile_grid(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
  const int nx = std::max(1, (srcWidth + kEngineMaxWidth - 1) / kEngineMaxWidth);
  const int ny = std::max(1, (srcHeight + kEngineMaxHeight - 1) / kEngineMaxHeight);
  return TileGrid{nx,
                  ny,
                  down_even(srcWidth / nx),
                  down_even(srcHeight / ny),
                  down_even(dstWidth / nx),
                  down_even(dstHeight / ny)};
}

// Calls fn per tile, rows outer. Remainder columns and rows are left out on purpose: the engine
// wants even sizes and whole tiles.
template <typename Fn>
void for_each_tile(int srcWidth, int srcHeight, int dstWidth, int dstHeight, Fn fn) {
  const TileGrid g = tile_grid(srcWidth, srcHeight, dstWidth, dstHeight);
  for (int j = 0; j < g.ny; ++j) {
    for (int i = 0; i < g.nx; ++i) {
      fn(Tile{i * g.srcTileWidth, j * g.srcTileHeight, g.srcTileWidth, g.srcTileHeight, i * g.dstTileWidth,
              j * g.dstTileHeight, g.dstTileWidth, g.dstTileHeight});
    }
  }
}

MI_IVE_Image_t u8c1_image(uint64_t phy, unsigned char* vir, int stride, int x, int y, int w, int h) {
  MI_IVE_Image_t img{};
  img.eType = E_MI_IVE_IMAGE_TYPE_U8C1;
  const size_t off = static_cast<size_t>(y) * stride + x;
  img.u64PhyAddr[0] = phy + off;
  img.pu8VirAddr[0] = offset(vir, off);
  img.u16Stride[0] = static_cast<MI_U16>(stride);
  img.u16Width = static_cast<MI_U16>(w);
  img.u16Height = static_cast<MI_U16>(h);
  return img;
}

MI_IVE_Image_t u8c3_image(const uint64_t phy[3], unsigned char* const vir[3], const int stride[3], int x,
                          int y, int w, int h) {
  MI_IVE_Image_t img{};
  img.eType = E_MI_IVE_IMAGE_TYPE_U8C3_PLANAR;
  for (int k = 0; k < 3; ++k) {
    const size_t off = static_cast<size_t>(y) * stride[k] + x;
    img.u64PhyAddr[k] = phy[k] + off;
    img.pu8VirAddr[k] = offset(vir[k], off);
    img.u16Stride[k] = static_cast<MI_U16>(stride[k]);
  }
  img.u16Width = static_cast<MI_U16>(w);
  img.u16Height = static_cast<MI_U16>(h);
  return img;
}

// The UV window of an NV12 tile starts at row y / 2 of the UV plane (y is even).
MI_IVE_Image_t yuv420sp_image(uint64_t phyY, uint64_t phyUV, unsigned char* virY, unsigned char* virUV,
                              int strideY, int strideUV, int x, int y, int w, int h) {
  MI_IVE_Image_t img{};
  img.eType = E_MI_IVE_IMAGE_TYPE_YUV420SP;
  const size_t offY = static_cast<size_t>(y) * strideY + x;
  const size_t offUV = static_cast<size_t>(y / 2) * strideUV + x;
  img.u64PhyAddr[0] = phyY + offY;
  img.u64PhyAddr[1] = phyUV + offUV;
  img.pu8VirAddr[0] = offset(virY, offY);
  img.pu8VirAddr[1] = offset(virUV, offUV);
  img.u16Stride[0] = static_cast<MI_U16>(strideY);
  img.u16Stride[1] = static_cast<MI_U16>(strideUV);
  img.u16Width = static_cast<MI_U16>(w);
  img.u16Height = static_cast<MI_U16>(h);
  return img;
}

// Every engine call reports a failure the same way, with its name and the two tiles.
void check_engine(MI_S32 ok, const char* what, const MI_IVE_Image_t& src, const MI_IVE_Image_t& dst) {
  CHECK(MI_SUCCESS == ok) << what << " Failed: src height/width/stride=" << src.u16Height << "/"
                          << src.u16Width << "/" << src.u16Stride[0]
                          << ", dst height/width/stride=" << dst.u16Height << "/" << dst.u16Width << "/"
                          << dst.u16Stride[0] << ", ret=0x" << std::hex << hex_code(ok);
}

void engine_resize(const EngineHandle& handle, const MI_IVE_Image_t& src, const MI_IVE_Image_t& dst,
                   MI_IVE_ResizeMode_e mode) {
  MI_IVE_ResizeCtrl_t ctrl{};
  ctrl.eMode = mode;
  check_engine(MI_IVE_Resize(handle.get(), &src, &dst, &ctrl, 1), "MI_IVE_Resize", src, dst);
}

void engine_csc(const EngineHandle& handle, const MI_IVE_Image_t& src, const MI_IVE_Image_t& dst,
                MI_IVE_CscMode_e mode) {
  MI_IVE_CscCtrl_t ctrl{};
  ctrl.eMode = mode;
  check_engine(MI_IVE_Csc(handle.get(), &src, &dst, &ctrl, 1), "MI_IVE_Csc", src, dst);
}

// One plane of a group for the per-plane DMA calls. NV12's UV plane (rowShift 1) has half the rows,
// and a window on it half the row position and height.
struct DmaPlane {
  uint64_t phy;
  uint16_t stride;
  int rowShift;
};

// The same window filled on every plane of a group.
void fill_planes(std::initializer_list<DmaPlane> planes, uint16_t width, uint16_t height, uint16_t x,
                 uint16_t y, uint16_t w, uint16_t h, uint32_t value) {
  for (const DmaPlane& p : planes) {
    const int s = p.rowShift;
    misys_2d_u8c1_roi_memset(p.phy, p.stride, width, height >> s, x, y >> s, w, h >> s, value);
  }
}

// The same source window copied to the same destination window on every plane pair of two groups.
void copy_planes(std::initializer_list<std::pair<DmaPlane, DmaPlane>> planes, uint16_t srcWidth,
                 uint16_t srcHeight, uint16_t srcX, uint16_t srcY, uint16_t srcW, uint16_t srcH,
                 uint16_t dstWidth, uint16_t dstHeight, uint16_t dstX, uint16_t dstY, uint16_t dstW,
                 uint16_t dstH) {
  for (const auto& [src, dst] : planes) {
    const int s = src.rowShift;
    misys_2d_u8c1_roi_copy(src.phy, src.stride, srcWidth, srcHeight >> s, srcX, srcY >> s, srcW, srcH >> s,
                           dst.phy, dst.stride, dstWidth, dstHeight >> s, dstX, dstY >> s, dstW, dstH >> s);
  }
}

// Whole destination in the pad colour R, G, B. A grey colour (U == V) fills both planes by DMA;
// any other needs U,V pairs, which only the CPU can write, so the planes must be one contiguous
// block reachable through the Y mapping.
void fill_yuv420sp_colour(uint64_t dstPhy_y, uint64_t dstPhy_uv, unsigned char* dstVir_y,
                          unsigned char* dstVir_uv, int dstStride_y, int dstStride_uv, int dstWidth,
                          int dstHeight, int r, int g, int b) {
  const unsigned char rgb[3] = {static_cast<unsigned char>(r), static_cast<unsigned char>(g),
                                static_cast<unsigned char>(b)};
  unsigned char yuv[3];
  rgbchannel::rgb2yuv(rgb, yuv);
  if (yuv[1] == yuv[2]) {
    misys_1d_memset(dstPhy_y, byte_x4(yuv[0]), static_cast<MI_U32>(dstStride_y) * dstHeight);
    misys_1d_memset(dstPhy_uv, byte_x4(yuv[1]), static_cast<MI_U32>(dstStride_uv) * (dstHeight / 2));
    return;
  }
  CHECK(dstStride_y == dstStride_uv);
  CHECK(dstVir_uv == dstVir_y + dstHeight * dstStride_y);
  std::memset(dstVir_y, yuv[0], static_cast<size_t>(dstStride_y) * dstHeight);
  const size_t uvBytes = static_cast<size_t>(dstStride_uv) * (dstHeight / 2);
  for (size_t k = 0; k + 1 < uvBytes; k += 2) {
    dstVir_uv[k] = yuv[1];
    dstVir_uv[k + 1] = yuv[2];
  }
  MI_S32 ok =
      MI_SYS_FlushInvCache(dstVir_y, round_up_4096(static_cast<MI_U32>(dstStride_y) * dstHeight * 3 / 2));
  CHECK(ok == MI_SUCCESS) << "MI_SYS_FlushInvCache Failed: height/width/stride=" << dstHeight << "/"
                          << dstWidth << "/" << dstStride_y << ", ret=0x" << std::hex << hex_code(ok);
}

// Where a crop-pad copies from and to; shared by the three plane layouts.
struct CropPadWindow {
  int srcX, srcY, dstX, dstY, width, height;
  bool padded;
};

CropPadWindow crop_pad_geometry(int srcWidth, int srcHeight, int left, int right, int top, int bottom) {
  const int srcX = std::max(0, -left);
  const int srcY = std::max(0, -top);
  const bool padded = left > 0 || right > 0 || top > 0 || bottom > 0;
  return CropPadWindow{srcX,
                       srcY,
                       std::max(0, left),
                       std::max(0, top),
                       srcWidth - srcX + std::min(0, right),
                       srcHeight - srcY + std::min(0, bottom),
                       padded};
}

CropPadWindow crop_pad_window(int srcWidth, int srcHeight, int left, int right, int top, int bottom) {
  const CropPadWindow win = crop_pad_geometry(srcWidth, srcHeight, left, right, top, bottom);
  const int cp_width = win.width, cp_height = win.height;
  CHECK(cp_width > 0);
  CHECK(cp_height > 0);
  return win;
}

// The memory of the caller's scratch blob.
uint64_t scratch_phy(const std::shared_ptr<MmzBlob>& pMmz) { return pMmz->memory()->phy_addr(); }
unsigned char* scratch_vir(const std::shared_ptr<MmzBlob>& pMmz) {
  return static_cast<unsigned char*>(pMmz->memory()->data());
}

// Integer size of a normalised ROI through the scratch: truncated, then down to a multiple of 4.
struct ScratchRoi {
  int x0, y0, width, height;
};

ScratchRoi scratch_roi_geometry(int srcWidth, int srcHeight, const std::vector<float>& roi) {
  const float fwidth = roi[2] - roi[0];
  const float fheight = roi[3] - roi[1];
  const int width = static_cast<int>(srcWidth * fwidth) / 4 * 4;
  const int height = static_cast<int>(srcHeight * fheight) / 4 * 4;
  // Toward zero, also for origins left of or above the image.
  const int x0 = static_cast<int>(srcWidth * roi[0]) / 2 * 2;
  const int y0 = static_cast<int>(srcHeight * roi[1]) / 2 * 2;
  return ScratchRoi{x0, y0, width, height};
}

// The crop-pad that brings the ROI into the scratch.
CropPadWindow scratch_crop_pad(int srcWidth, int srcHeight, const ScratchRoi& s) {
  return crop_pad_geometry(srcWidth, srcHeight, -s.x0, s.x0 + s.width - srcWidth, -s.y0,
                           s.y0 + s.height - srcHeight);
}

ScratchRoi scratch_roi(int srcWidth, int srcHeight, const std::vector<float>& roi) {
  CHECK_EQ(roi.size(), 4u);
  const float fwidth = roi[2] - roi[0];
  const float fheight = roi[3] - roi[1];
  CHECK(fwidth > 0 && fheight > 0);
  const ScratchRoi s = scratch_roi_geometry(srcWidth, srcHeight, roi);
  const int width = s.width, height = s.height;
  CHECK(width > 0 && height > 0);
  return s;
}

// Geometry of an NV12 ROI resize that works only on the part of the ROI inside the image: the
// source crop, the size of its image in the destination, and where that goes.
struct InsidePart {
  int x, y, cw, ch;  // source crop
  int pw, ph;        // resized part
  int px, py;        // its place in the destination
};

bool is_whole_image(const std::vector<float>& roi) {
  return std::fabs(roi[0]) < 0.01f && std::fabs(roi[1]) < 0.01f && std::fabs(roi[2] - 1) < 0.01f &&
         std::fabs(roi[3] - 1) < 0.01f;
}

template <typename Round>
InsidePart inside_part_geometry(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                                const std::vector<float>& roi, Round even) {
  const float x1 = roi[0], y1 = roi[1], x2 = roi[2], y2 = roi[3];
  const float fwidth = x2 - x1, fheight = y2 - y1;
  const float cx1 = std::max(x1, 0.f), cy1 = std::max(y1, 0.f);
  const float cx2 = std::min(x2, 1.f), cy2 = std::min(y2, 1.f);
  const float fx = (cx1 - x1) / fwidth, fy = (cy1 - y1) / fheight;
  InsidePart p;
  p.x = even(srcWidth * cx1);
  p.y = even(srcHeight * cy1);
  p.cw = even((cx2 - cx1) * srcWidth);
  p.ch = even((cy2 - cy1) * srcHeight);
  p.pw = even(((cx2 - x1) / fwidth - fx) * dstWidth);
  p.ph = even(((cy2 - y1) / fheight - fy) * dstHeight);
  p.px = even(dstWidth * fx);
  p.py = even(dstHeight * fy);
  return p;
}

template <typename Round>
InsidePart inside_part(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                       const std::vector<float>& roi, Round even) {
  const float fwidth = roi[2] - roi[0], fheight = roi[3] - roi[1];
  CHECK(fwidth > 0 && fheight > 0);
  const InsidePart p = inside_part_geometry(srcWidth, srcHeight, dstWidth, dstHeight, roi, even);
  const int src_width = p.cw, src_height = p.ch;
  CHECK(src_width > 0 && src_height > 0);
  return p;
}

bool tiles_nonempty(int srcWidth, int srcHeight, int dstWidth, int dstHeight) {
  const TileGrid g = tile_grid(srcWidth, srcHeight, dstWidth, dstHeight);
  return g.srcTileWidth > 0 && g.srcTileHeight > 0 && g.dstTileWidth > 0 && g.dstTileHeight > 0;
}

MI_SCL_DirectBuf_t scl_buffer(uint64_t phyY, uint64_t phyUV, int strideY, int strideUV, int width,
                              int height) {
  MI_SCL_DirectBuf_t buf{};
  buf.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
  buf.u32Width = static_cast<MI_U32>(width);
  buf.u32Height = static_cast<MI_U32>(height);
  buf.u32Stride[0] = static_cast<MI_U32>(strideY);
  buf.u32Stride[1] = static_cast<MI_U32>(strideUV);
  buf.phyAddr[0] = phyY;
  buf.phyAddr[1] = phyUV;
  return buf;
}

void print_scl_buffer(std::ostream& os, const MI_SCL_DirectBuf_t& buf) {
  os << "\t ePixelFormat: " << static_cast<int>(buf.ePixelFormat) << "\n"
     << "\t w/h: " << buf.u32Width << "/" << buf.u32Height << "\n"
     << "\t stride: " << buf.u32Stride[0] << "/" << buf.u32Stride[1] << "\n"
     << "\t phyAddr: 0x" << std::hex << buf.phyAddr[0] << "/0x" << buf.phyAddr[1] << std::dec << "\n";
}

// One scaler call; a busy scaler is asked again until it takes the job.
void scl_stretch(const MI_SCL_DirectBuf_t& src, const MI_SYS_WindowRect_t& crop,
                 const MI_SCL_DirectBuf_t& dst) {
  MI_S32 ret = MI_SCL_StretchBuf(&src, &crop, &dst, E_MI_SCL_FILTER_TYPE_BILINEAR);
  for (int tries = 2; hex_code(ret) == kSclRetry; ++tries) {
    LOG(ERROR) << "MI_SCL_StretchBuf tries " << tries << " times due to return of 0xA009201F.";
    ret = MI_SCL_StretchBuf(&src, &crop, &dst, E_MI_SCL_FILTER_TYPE_BILINEAR);
  }
  if (ret == MI_SUCCESS) return;
  std::ostringstream dump;
  dump << "SRC: \n";
  print_scl_buffer(dump, src);
  dump << "CROP: \n"
       << "\t x/y: " << crop.u16X << "/" << crop.u16Y << "\n"
       << "\t w/h: " << crop.u16Width << "/" << crop.u16Height << "\n"
       << "DST: \n";
  print_scl_buffer(dump, dst);
  CHECK(ret == MI_SUCCESS) << "MI_SCL_StretchBuf Failed with ret = 0x" << std::hex << hex_code(ret) << "\n"
                           << dump.str();
}

}  // namespace

std::string mi_resize_refusal(MiResizePath path, int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                              const std::vector<float>& roi) {
  const char* const kTile = "an engine tile would be empty (the image is too small for its tiling)";
  if (path == MiResizePath::kResize)
    return tiles_nonempty(srcWidth, srcHeight, dstWidth, dstHeight) ? "" : kTile;
  if (roi.size() != 4) return "an ROI has four values";
  if (!(roi[2] - roi[0] > 0 && roi[3] - roi[1] > 0)) return "the ROI is empty";
  if (path == MiResizePath::kScratchRoi) {
    const ScratchRoi s = scratch_roi_geometry(srcWidth, srcHeight, roi);
    if (s.width <= 0 || s.height <= 0) return "the ROI is under 4 pixels a side";
    const CropPadWindow win = scratch_crop_pad(srcWidth, srcHeight, s);
    if (win.width <= 0 || win.height <= 0) return "the ROI does not overlap the image";
    return tiles_nonempty(s.width, s.height, dstWidth, dstHeight) ? "" : kTile;
  }
  if (is_whole_image(roi)) return tiles_nonempty(srcWidth, srcHeight, dstWidth, dstHeight) ? "" : kTile;
  const InsidePart p = inside_part_geometry(srcWidth, srcHeight, dstWidth, dstHeight, roi, round_down_even);
  if (p.cw <= 0 || p.ch <= 0) return "the part of the ROI inside the image is under 2 pixels a side";
  if (p.x + p.cw > srcWidth || p.y + p.ch > srcHeight) return "the crop of the ROI leaves the image";
  if (p.pw == dstWidth && p.ph == dstHeight) {
    return tiles_nonempty(p.cw, p.ch, dstWidth, dstHeight) ? "" : kTile;
  }
  if (p.pw <= 0 || p.ph <= 0) return "the part of the ROI inside the image scales to under 2 pixels";
  if (p.px + p.pw > dstWidth || p.py + p.ph > dstHeight) return "the scaled part leaves the output";
  return tiles_nonempty(p.cw, p.ch, p.pw, p.ph) ? "" : kTile;
}

namespace {

// The engine's handle numbers. A number goes out only while nobody holds it, so an operation that
// runs long cannot see its number created a second time by others that come and go meanwhile.
struct HandleTable {
  std::mutex mutex;                  // guards next and busy
  std::condition_variable freed;     // signalled when a number comes back
  unsigned char next = 0;            // where the search for a free number starts; wraps at 256
  std::bitset<kEngineHandles> busy;  // numbers held by running operations
};

HandleTable& handle_table() {
  // Never destroyed: operations may still run in static destructors.
  static HandleTable* const table = new HandleTable;
  return *table;
}

}  // namespace

unsigned char get_miive_handle_id() {
  HandleTable& t = handle_table();
  std::unique_lock<std::mutex> lock(t.mutex);
  t.freed.wait(lock, [&t] { return !t.busy.all(); });
  // Numbers go round in turn from the last one handed out; busy ones are skipped.
  unsigned char id = t.next & 0x7f;
  while (t.busy.test(id)) id = static_cast<unsigned char>((id + 1) & 0x7f);
  t.busy.set(id);
  t.next = static_cast<unsigned char>(id + 1);
  return id;
}

void release_miive_handle_id(unsigned char id) {
  HandleTable& t = handle_table();
  {
    std::lock_guard<std::mutex> lock(t.mutex);
    CHECK(t.busy.test(id & 0x7f)) << "engine handle " << static_cast<int>(id) << " was not handed out";
    t.busy.reset(id & 0x7f);
  }
  t.freed.notify_one();
}

int misys_flush(void* addr, int size) {
  const MI_U32 rounded = round_up_4096(static_cast<MI_U32>(size));
  MI_S32 ok = MI_SYS_FlushInvCache(addr, rounded);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_FlushInvCache Failed: size=" << rounded << ", ret=0x" << std::hex
                          << hex_code(ok);
  return 0;
}

int misys_1d_copy(uint64_t dstPhy, uint64_t srcPhy, uint32_t len) {
  MI_S32 ok = MI_SYS_MemcpyPa(0, dstPhy, srcPhy, len);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_MemcpyPa Failed: len=" << len << ", ret=0x" << std::hex << hex_code(ok);
  return 0;
}

int misys_1d_memset(uint64_t phy, uint32_t value, uint32_t len) {
  MI_S32 ok = MI_SYS_MemsetPa(0, phy, value, len);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_MemsetPa Failed: len=" << len << ", val=" << value << ", ret=0x"
                          << std::hex << hex_code(ok);
  return 0;
}

int misys_2d_u8c1_roi_memset(uint64_t phy, uint16_t stride, uint16_t width, uint16_t height, uint16_t x,
                             uint16_t y, uint16_t w, uint16_t h, uint32_t value) {
  MI_SYS_FrameData_t frame{};
  frame.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  frame.u16Width = width;
  frame.u16Height = height;
  frame.u32Stride[0] = stride;
  frame.u64PhyAddr[0] = phy;
  MI_SYS_WindowRect_t roi{x, y, w, h};
  MI_S32 ok = MI_SYS_BufFillPa(0, &frame, value, &roi);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_BufFillPa Failed: image height/width/stride=" << height << "/" << width
                          << "/" << stride << ", roi=" << x << "/" << y << "/" << w << "/" << h << ", ret=0x"
                          << std::hex << hex_code(ok);
  return 0;
}

int misys_2d_yuv420sp_roi_memset(uint64_t phyY, uint64_t phyUV, uint16_t strideY, uint16_t strideUV,
                                 uint16_t width, uint16_t height, uint16_t x, uint16_t y, uint16_t w,
                                 uint16_t h, uint32_t value) {
  fill_planes({{phyY, strideY, 0}, {phyUV, strideUV, 1}}, width, height, x, y, w, h, value);
  return 0;
}

int misys_2d_u8c3_roi_memset(uint64_t phy0, uint64_t phy1, uint64_t phy2, uint16_t stride0, uint16_t stride1,
                             uint16_t stride2, uint16_t width, uint16_t height, uint16_t x, uint16_t y,
                             uint16_t w, uint16_t h, uint32_t value) {
  fill_planes({{phy0, stride0, 0}, {phy1, stride1, 0}, {phy2, stride2, 0}}, width, height, x, y, w, h, value);
  return 0;
}

int misys_2d_u8c1_roi_copy(uint64_t srcPhy, uint16_t srcStride, uint16_t srcWidth, uint16_t srcHeight,
                           uint16_t srcX, uint16_t srcY, uint16_t srcW, uint16_t srcH, uint64_t dstPhy,
                           uint16_t dstStride, uint16_t dstWidth, uint16_t dstHeight, uint16_t dstX,
                           uint16_t dstY, uint16_t dstW, uint16_t dstH) {
  MI_SYS_WindowRect_t roiSrc{srcX, srcY, srcW, srcH};
  MI_SYS_WindowRect_t roiDst{dstX, dstY, dstW, dstH};
  CHECK(roiSrc.u16Width == roiDst.u16Width) << "Roi Width not Matched: srcRoiWidth=" << roiSrc.u16Width
                                            << ", while dstRoiWidth=" << roiDst.u16Width;
  CHECK(roiSrc.u16Height == roiDst.u16Height) << "Roi Height not Matched: srcRoiHeight=" << roiSrc.u16Height
                                              << ", while dstRoiHeight=" << roiDst.u16Height;
  MI_SYS_FrameData_t src{};
  src.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  src.u16Width = srcWidth;
  src.u16Height = srcHeight;
  src.u32Stride[0] = srcStride;
  src.u64PhyAddr[0] = srcPhy;
  MI_SYS_FrameData_t dst{};
  dst.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  dst.u16Width = dstWidth;
  dst.u16Height = dstHeight;
  dst.u32Stride[0] = dstStride;
  dst.u64PhyAddr[0] = dstPhy;
  MI_S32 ok = MI_SYS_BufBlitPa(0, &dst, &roiDst, &src, &roiSrc);
  CHECK(ok == MI_SUCCESS) << "MI_SYS_BufBlitPa Failed: Src: height/width/stride=" << srcHeight << "/"
                          << srcWidth << "/" << srcStride << ", SrcROI=" << srcX << "/" << srcY << "/" << srcW
                          << "/" << srcH << ", Dst: height/width/stride=" << dstHeight << "/" << dstWidth
                          << "/" << dstStride << ", DstROI=" << dstX << "/" << dstY << "/" << dstW << "/"
                          << dstH << ", ret=0x" << std::hex << hex_code(ok);
  return 0;
}

int misys_2d_yuv420sp_roi_copy(uint64_t srcPhyY, uint64_t srcPhyUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                               uint16_t srcWidth, uint16_t srcHeight, uint16_t srcX, uint16_t srcY,
                               uint16_t srcW, uint16_t srcH, uint64_t dstPhyY, uint64_t dstPhyUV,
                               uint16_t dstStrideY, uint16_t dstStrideUV, uint16_t dstWidth,
                               uint16_t dstHeight, uint16_t dstX, uint16_t dstY, uint16_t dstW,
                               uint16_t dstH) {
  copy_planes({{{srcPhyY, srcStrideY, 0}, {dstPhyY, dstStrideY, 0}},
               {{srcPhyUV, srcStrideUV, 1}, {dstPhyUV, dstStrideUV, 1}}},
              srcWidth, srcHeight, srcX, srcY, srcW, srcH, dstWidth, dstHeight, dstX, dstY, dstW, dstH);
  return 0;
}

int misys_2d_u8c3_roi_copy(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, uint16_t srcStride0,
                           uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                           uint16_t srcX, uint16_t srcY, uint16_t srcW, uint16_t srcH, uint64_t dstPhy0,
                           uint64_t dstPhy1, uint64_t dstPhy2, uint16_t dstStride0, uint16_t dstStride1,
                           uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight, uint16_t dstX,
                           uint16_t dstY, uint16_t dstW, uint16_t dstH) {
  copy_planes({{{srcPhy0, srcStride0, 0}, {dstPhy0, dstStride0, 0}},
               {{srcPhy1, srcStride1, 0}, {dstPhy1, dstStride1, 0}},
               {{srcPhy2, srcStride2, 0}, {dstPhy2, dstStride2, 0}}},
              srcWidth, srcHeight, srcX, srcY, srcW, srcH, dstWidth, dstHeight, dstX, dstY, dstW, dstH);
  return 0;
}

int miive_u8c1_resize(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                      uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                      uint16_t dstWidth, uint16_t dstHeight) {
  EngineHandle handle;
  for_each_tile(srcWidth, srcHeight, dstWidth, dstHeight, [&](const Tile& t) {
    engine_resize(handle, u8c1_image(srcPhy, srcVir, srcStride, t.srcX, t.srcY, t.srcW, t.srcH),
                  u8c1_image(dstPhy, dstVir, dstStride, t.dstX, t.dstY, t.dstW, t.dstH),
                  E_MI_IVE_RESIZE_TYPE_U8C1);
  });
  return 0;
}

int miive_u8c3_resize(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                      unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0,
                      uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                      uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                      unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0,
                      uint16_t dstStride1, uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight) {
  const uint64_t srcPhy[3] = {srcPhy0, srcPhy1, srcPhy2};
  unsigned char* const srcVir[3] = {srcVir0, srcVir1, srcVir2};
  const int srcStride[3] = {srcStride0, srcStride1, srcStride2};
  const uint64_t dstPhy[3] = {dstPhy0, dstPhy1, dstPhy2};
  unsigned char* const dstVir[3] = {dstVir0, dstVir1, dstVir2};
  const int dstStride[3] = {dstStride0, dstStride1, dstStride2};
  EngineHandle handle;
  for_each_tile(srcWidth, srcHeight, dstWidth, dstHeight, [&](const Tile& t) {
    engine_resize(handle, u8c3_image(srcPhy, srcVir, srcStride, t.srcX, t.srcY, t.srcW, t.srcH),
                  u8c3_image(dstPhy, dstVir, dstStride, t.dstX, t.dstY, t.dstW, t.dstH),
                  E_MI_IVE_RESIZE_TYPE_U8C3_PLANAR);
  });
  return 0;
}

int miive_yuv420sp_resize(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                          unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                          uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                          unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                          uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight) {
  EngineHandle handle;
  for_each_tile(srcWidth, srcHeight, dstWidth, dstHeight, [&](const Tile& t) {
    engine_resize(handle,
                  yuv420sp_image(srcPhyY, srcPhyUV, srcVirY, srcVirUV, srcStrideY, srcStrideUV, t.srcX,
                                 t.srcY, t.srcW, t.srcH),
                  yuv420sp_image(dstPhyY, dstPhyUV, dstVirY, dstVirUV, dstStrideY, dstStrideUV, t.dstX,
                                 t.dstY, t.dstW, t.dstH),
                  E_MI_IVE_RESIZE_TYPE_YUV420SP);
  });
  return 0;
}

int miive_u8c1_integ(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                     uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                     uint16_t dstWidth, uint16_t dstHeight) {
  CHECK(dstHeight == srcHeight);
  CHECK(dstWidth == 4 * srcWidth);
  CHECK(dstStride == 4 * srcStride);
  CHECK(srcHeight <= 1080);
  CHECK(srcWidth <= 1920);
  EngineHandle handle;
  MI_IVE_Image_t src = u8c1_image(srcPhy, srcVir, srcStride, 0, 0, srcWidth, srcHeight);
  // The engine counts 32-bit elements where the caller counts bytes.
  MI_IVE_Image_t dst{};
  dst.eType = E_MI_IVE_IMAGE_TYPE_U32C1;
  dst.u64PhyAddr[0] = dstPhy;
  dst.pu8VirAddr[0] = dstVir;
  dst.u16Stride[0] = static_cast<MI_U16>(dstStride / 4);
  dst.u16Width = static_cast<MI_U16>(dstWidth / 4);
  dst.u16Height = dstHeight;
  MI_IVE_IntegCtrl_t ctrl{};
  ctrl.eOutCtrl = E_MI_IVE_INTEG_OUT_CTRL_SUM;
  MI_S32 ok = MI_IVE_Integ(handle.get(), &src, &dst, &ctrl, 1);
  CHECK(MI_SUCCESS == ok) << "MI_IVE_Integ Failed: src height/width/stride=" << srcHeight << "/" << srcWidth
                          << "/" << srcStride << ", dst height/width/stride=" << dstHeight << "/" << dstWidth
                          << "/" << dstStride << ", ret=0x" << std::hex << hex_code(ok);
  return 0;
}

int miive_u8c3_integ(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                     unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0, uint16_t srcStride1,
                     uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhy0,
                     uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0, unsigned char* dstVir1,
                     unsigned char* dstVir2, uint16_t dstStride0, uint16_t dstStride1, uint16_t dstStride2,
                     uint16_t dstWidth, uint16_t dstHeight) {
  miive_u8c1_integ(srcPhy0, srcVir0, srcStride0, srcWidth, srcHeight, dstPhy0, dstVir0, dstStride0, dstWidth,
                   dstHeight);
  miive_u8c1_integ(srcPhy1, srcVir1, srcStride1, srcWidth, srcHeight, dstPhy1, dstVir1, dstStride1, dstWidth,
                   dstHeight);
  miive_u8c1_integ(srcPhy2, srcVir2, srcStride2, srcWidth, srcHeight, dstPhy2, dstVir2, dstStride2, dstWidth,
                   dstHeight);
  return 0;
}

int miive_yuv2rgb(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY, unsigned char* srcVirUV,
                  uint16_t srcStrideY, uint16_t srcStrideUV, uint16_t srcWidth, uint16_t srcHeight,
                  uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                  unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0, uint16_t dstStride1,
                  uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight) {
  CHECK(srcHeight == dstHeight);
  CHECK(srcWidth == dstWidth);
  const uint64_t dstPhy[3] = {dstPhy0, dstPhy1, dstPhy2};
  unsigned char* const dstVir[3] = {dstVir0, dstVir1, dstVir2};
  const int dstStride[3] = {dstStride0, dstStride1, dstStride2};
  EngineHandle handle;
  for_each_tile(srcWidth, srcHeight, dstWidth, dstHeight, [&](const Tile& t) {
    engine_csc(handle,
               yuv420sp_image(srcPhyY, srcPhyUV, srcVirY, srcVirUV, srcStrideY, srcStrideUV, t.srcX, t.srcY,
                              t.srcW, t.srcH),
               u8c3_image(dstPhy, dstVir, dstStride, t.dstX, t.dstY, t.dstW, t.dstH),
               E_MI_IVE_CSC_TYPE_YUV2RGB);
  });
  return 0;
}

int miive_rgb2yuv(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                  unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0, uint16_t srcStride1,
                  uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY,
                  uint64_t dstPhyUV, unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                  uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight) {
  CHECK(srcHeight == dstHeight);
  CHECK(srcWidth == dstWidth);
  const uint64_t srcPhy[3] = {srcPhy0, srcPhy1, srcPhy2};
  unsigned char* const srcVir[3] = {srcVir0, srcVir1, srcVir2};
  const int srcStride[3] = {srcStride0, srcStride1, srcStride2};
  EngineHandle handle;
  for_each_tile(srcWidth, srcHeight, dstWidth, dstHeight, [&](const Tile& t) {
    engine_csc(handle, u8c3_image(srcPhy, srcVir, srcStride, t.srcX, t.srcY, t.srcW, t.srcH),
               yuv420sp_image(dstPhyY, dstPhyUV, dstVirY, dstVirUV, dstStrideY, dstStrideUV, t.dstX, t.dstY,
                              t.dstW, t.dstH),
               E_MI_IVE_CSC_TYPE_RGB2YUV);
  });
  return 0;
}

int mi_u8c1_crop_padding(uint64_t srcPhy, unsigned char* /*srcVir*/, uint16_t srcStride, uint16_t srcWidth,
                         uint16_t srcHeight, uint64_t dstPhy, unsigned char* /*dstVir*/, uint16_t dstStride,
                         uint16_t dstWidth, uint16_t dstHeight, int left, int right, int top, int bottom,
                         int value) {
  const int dstWidthReq = srcWidth + left + right;
  const int dstHeightReq = srcHeight + top + bottom;
  CHECK(dstWidthReq == dstWidth && dstHeightReq == dstHeight);
  const CropPadWindow win = crop_pad_window(srcWidth, srcHeight, left, right, top, bottom);
  if (win.padded) misys_1d_memset(dstPhy, byte_x4(value), static_cast<MI_U32>(dstStride) * dstHeight);
  misys_2d_u8c1_roi_copy(srcPhy, srcStride, srcWidth, srcHeight, win.srcX, win.srcY, win.width, win.height,
                         dstPhy, dstStride, dstWidth, dstHeight, win.dstX, win.dstY, win.width, win.height);
  return 0;
}

int mi_u8c3_crop_padding(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* /*srcVir0*/,
                         unsigned char* /*srcVir1*/, unsigned char* /*srcVir2*/, uint16_t srcStride0,
                         uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                         uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* /*dstVir0*/,
                         unsigned char* /*dstVir1*/, unsigned char* /*dstVir2*/, uint16_t dstStride0,
                         uint16_t dstStride1, uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight,
                         int left, int right, int top, int bottom, int value0, int value1, int value2) {
  const int dstWidthReq = srcWidth + left + right;
  const int dstHeightReq = srcHeight + top + bottom;
  CHECK(dstWidthReq == dstWidth && dstHeightReq == dstHeight);
  const CropPadWindow win = crop_pad_window(srcWidth, srcHeight, left, right, top, bottom);
  if (win.padded) {
    misys_1d_memset(dstPhy0, byte_x4(value0), static_cast<MI_U32>(dstStride0) * dstHeight);
    misys_1d_memset(dstPhy1, byte_x4(value1), static_cast<MI_U32>(dstStride1) * dstHeight);
    misys_1d_memset(dstPhy2, byte_x4(value2), static_cast<MI_U32>(dstStride2) * dstHeight);
  }
  misys_2d_u8c3_roi_copy(srcPhy0, srcPhy1, srcPhy2, srcStride0, srcStride1, srcStride2, srcWidth, srcHeight,
                         win.srcX, win.srcY, win.width, win.height, dstPhy0, dstPhy1, dstPhy2, dstStride0,
                         dstStride1, dstStride2, dstWidth, dstHeight, win.dstX, win.dstY, win.width,
                         win.height);
  return 0;
}

int mi_yuv420sp_crop_padding(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* /*srcVirY*/,
                             unsigned char* /*srcVirUV*/, uint16_t srcStrideY, uint16_t srcStrideUV,
                             uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                             unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                             uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight, int left, int right,
                             int top, int bottom, int r, int g, int b) {
  const int dstWidthReq = srcWidth + left + right;
  const int dstHeightReq = srcHeight + top + bottom;
  CHECK(dstWidthReq == dstWidth && dstHeightReq == dstHeight)
      << "dstWidthReq/dstHeightReq=" << dstWidthReq << "/" << dstHeightReq
      << ", dstWidth/dstHeight=" << dstWidth << "/" << dstHeight;
  const CropPadWindow win = crop_pad_window(srcWidth, srcHeight, left, right, top, bottom);
  if (win.padded) {
    fill_yuv420sp_colour(dstPhyY, dstPhyUV, dstVirY, dstVirUV, dstStrideY, dstStrideUV, dstWidth, dstHeight,
                         r, g, b);
  }
  misys_2d_yuv420sp_roi_copy(srcPhyY, srcPhyUV, srcStrideY, srcStrideUV, srcWidth, srcHeight, win.srcX,
                             win.srcY, win.width, win.height, dstPhyY, dstPhyUV, dstStrideY, dstStrideUV,
                             dstWidth, dstHeight, win.dstX, win.dstY, win.width, win.height);
  return 0;
}

int mi_u8c1_roi_resize(uint64_t srcPhy, unsigned char* srcVir, uint16_t srcStride, uint16_t srcWidth,
                       uint16_t srcHeight, uint64_t dstPhy, unsigned char* dstVir, uint16_t dstStride,
                       uint16_t dstWidth, uint16_t dstHeight, std::shared_ptr<MmzBlob>& pMmz,
                       const std::vector<float>& roi, int value) {
  const ScratchRoi s = scratch_roi(srcWidth, srcHeight, roi);
  const int width = s.width, height = s.height;
  CHECK(pMmz);
  CHECK(pMmz->stride() >= width);
  CHECK(pMmz->height() >= height);
  const int stride = pMmz->stride();
  const uint64_t phy = scratch_phy(pMmz);
  unsigned char* vir = scratch_vir(pMmz);
  mi_u8c1_crop_padding(srcPhy, srcVir, srcStride, srcWidth, srcHeight, phy, vir, stride, width, height, -s.x0,
                       s.x0 + width - srcWidth, -s.y0, s.y0 + height - srcHeight, value);
  pMmz->memory()->flush();
  miive_u8c1_resize(phy, vir, stride, width, height, dstPhy, dstVir, dstStride, dstWidth, dstHeight);
  return 0;
}

int mi_u8c3_roi_resize(uint64_t srcPhy0, uint64_t srcPhy1, uint64_t srcPhy2, unsigned char* srcVir0,
                       unsigned char* srcVir1, unsigned char* srcVir2, uint16_t srcStride0,
                       uint16_t srcStride1, uint16_t srcStride2, uint16_t srcWidth, uint16_t srcHeight,
                       uint64_t dstPhy0, uint64_t dstPhy1, uint64_t dstPhy2, unsigned char* dstVir0,
                       unsigned char* dstVir1, unsigned char* dstVir2, uint16_t dstStride0,
                       uint16_t dstStride1, uint16_t dstStride2, uint16_t dstWidth, uint16_t dstHeight,
                       std::shared_ptr<MmzBlob>& pMmz, const std::vector<float>& roi, int value0, int value1,
                       int value2) {
  const ScratchRoi s = scratch_roi(srcWidth, srcHeight, roi);
  const int width = s.width, height = s.height;
  CHECK(pMmz);
  CHECK(pMmz->stride() >= width);
  CHECK(pMmz->height() >= height * 3);
  const int stride = pMmz->stride();
  const size_t plane = static_cast<size_t>(stride) * height;
  const uint64_t phy = scratch_phy(pMmz);
  unsigned char* vir = scratch_vir(pMmz);
  mi_u8c3_crop_padding(srcPhy0, srcPhy1, srcPhy2, srcVir0, srcVir1, srcVir2, srcStride0, srcStride1,
                       srcStride2, srcWidth, srcHeight, phy, phy + plane, phy + 2 * plane, vir, vir + plane,
                       vir + 2 * plane, stride, stride, stride, width, height, -s.x0, s.x0 + width - srcWidth,
                       -s.y0, s.y0 + height - srcHeight, value0, value1, value2);
  pMmz->memory()->flush();
  miive_u8c3_resize(phy, phy + plane, phy + 2 * plane, vir, vir + plane, vir + 2 * plane, stride, stride,
                    stride, width, height, dstPhy0, dstPhy1, dstPhy2, dstVir0, dstVir1, dstVir2, dstStride0,
                    dstStride1, dstStride2, dstWidth, dstHeight);
  return 0;
}

int mi_yuv420sp_roi_resize(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                           unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                           uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                           unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                           uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight,
                           std::shared_ptr<MmzBlob>& pMmz, const std::vector<float>& roi, int r, int g,
                           int b) {
  const ScratchRoi s = scratch_roi(srcWidth, srcHeight, roi);
  const int width = s.width, height = s.height;
  CHECK(pMmz);
  CHECK(pMmz->stride() >= width);
  CHECK(pMmz->height() >= height * 3 / 2);
  const int stride = pMmz->stride();
  const size_t plane = static_cast<size_t>(stride) * height;
  const uint64_t phy = scratch_phy(pMmz);
  unsigned char* vir = scratch_vir(pMmz);
  mi_yuv420sp_crop_padding(srcPhyY, srcPhyUV, srcVirY, srcVirUV, srcStrideY, srcStrideUV, srcWidth, srcHeight,
                           phy, phy + plane, vir, vir + plane, stride, stride, width, height, -s.x0,
                           s.x0 + width - srcWidth, -s.y0, s.y0 + height - srcHeight, r, g, b);
  pMmz->memory()->flush();
  miive_yuv420sp_resize(phy, phy + plane, vir, vir + plane, stride, stride, width, height, dstPhyY, dstPhyUV,
                        dstVirY, dstVirUV, dstStrideY, dstStrideUV, dstWidth, dstHeight);
  return 0;
}

int mi_yuv420sp_roi_resize_optimized(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* srcVirY,
                                     unsigned char* srcVirUV, uint16_t srcStrideY, uint16_t srcStrideUV,
                                     uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY,
                                     uint64_t dstPhyUV, unsigned char* dstVirY, unsigned char* dstVirUV,
                                     uint16_t dstStrideY, uint16_t dstStrideUV, uint16_t dstWidth,
                                     uint16_t dstHeight, std::shared_ptr<MmzBlob>& pMmz,
                                     const std::vector<float>& roi, int r, int g, int b) {
  CHECK_EQ(roi.size(), 4u);
  if (is_whole_image(roi)) {
    return miive_yuv420sp_resize(srcPhyY, srcPhyUV, srcVirY, srcVirUV, srcStrideY, srcStrideUV, srcWidth,
                                 srcHeight, dstPhyY, dstPhyUV, dstVirY, dstVirUV, dstStrideY, dstStrideUV,
                                 dstWidth, dstHeight);
  }
  const InsidePart p = inside_part(srcWidth, srcHeight, dstWidth, dstHeight, roi, round_down_even);
  CHECK(pMmz);
  // Crop A and resized part B, one after the other in the scratch; B's room is demanded even when
  // the part fills the destination, so a scratch that suffices once suffices for every ROI.
  const int strideA = align16(p.cw), strideB = align16(p.pw);
  const size_t sizeA = static_cast<size_t>(strideA) * p.ch * 3 / 2;
  const size_t sizeB = static_cast<size_t>(strideB) * p.ph * 3 / 2;
  const size_t required_mmz_size = sizeA + sizeB;
  CHECK(pMmz->capacity() >= required_mmz_size)
      << "required " << required_mmz_size << " bytes, while pMmz only has " << pMmz->capacity() << " bytes.";
  const uint64_t phyA = scratch_phy(pMmz);
  unsigned char* virA = scratch_vir(pMmz);
  const uint64_t phyAuv = phyA + static_cast<size_t>(strideA) * p.ch;
  unsigned char* virAuv = virA + static_cast<size_t>(strideA) * p.ch;
  misys_2d_yuv420sp_roi_copy(srcPhyY, srcPhyUV, srcStrideY, srcStrideUV, srcWidth, srcHeight, p.x, p.y, p.cw,
                             p.ch, phyA, phyAuv, strideA, strideA, p.cw, p.ch, 0, 0, p.cw, p.ch);
  misys_flush(virA, static_cast<int>(sizeA));
  if (p.pw == dstWidth && p.ph == dstHeight) {
    return miive_yuv420sp_resize(phyA, phyAuv, virA, virAuv, strideA, strideA, p.cw, p.ch, dstPhyY, dstPhyUV,
                                 dstVirY, dstVirUV, dstStrideY, dstStrideUV, dstWidth, dstHeight);
  }
  const uint64_t phyB = phyA + sizeA;
  unsigned char* virB = virA + sizeA;
  const uint64_t phyBuv = phyB + static_cast<size_t>(strideB) * p.ph;
  unsigned char* virBuv = virB + static_cast<size_t>(strideB) * p.ph;
  miive_yuv420sp_resize(phyA, phyAuv, virA, virAuv, strideA, strideA, p.cw, p.ch, phyB, phyBuv, virB, virBuv,
                        strideB, strideB, p.pw, p.ph);
  // B rarely ends on a page, and a flush rounded up from B's start could leave the scratch block;
  // from A's start it stays inside.
  misys_flush(virA, static_cast<int>(sizeA + sizeB));
  fill_yuv420sp_colour(dstPhyY, dstPhyUV, dstVirY, dstVirUV, dstStrideY, dstStrideUV, dstWidth, dstHeight, r,
                       g, b);
  misys_2d_yuv420sp_roi_copy(phyB, phyBuv, strideB, strideB, p.pw, p.ph, 0, 0, p.pw, p.ph, dstPhyY, dstPhyUV,
                             dstStrideY, dstStrideUV, dstWidth, dstHeight, p.px, p.py, p.pw, p.ph);
  return 0;
}

int mi_yuv420sp_roi_resize_scl(uint64_t srcPhyY, uint64_t srcPhyUV, unsigned char* /*srcVirY*/,
                               unsigned char* /*srcVirUV*/, uint16_t srcStrideY, uint16_t srcStrideUV,
                               uint16_t srcWidth, uint16_t srcHeight, uint64_t dstPhyY, uint64_t dstPhyUV,
                               unsigned char* dstVirY, unsigned char* dstVirUV, uint16_t dstStrideY,
                               uint16_t dstStrideUV, uint16_t dstWidth, uint16_t dstHeight,
                               std::shared_ptr<MmzBlob>& pMmz, const std::vector<float>& roi, int r, int g,
                               int b) {
  CHECK_EQ(roi.size(), 4u);
  InsidePart p;
  if (is_whole_image(roi)) {
    p = InsidePart{0, 0, srcWidth, srcHeight, dstWidth, dstHeight, 0, 0};
  } else {
    p = inside_part(srcWidth, srcHeight, dstWidth, dstHeight, roi, up_even);
  }
  // The cascade divides by the part size; a part under one pixel cannot be scaled to.
  const int part_width = p.pw, part_height = p.ph;
  CHECK(part_width > 0 && part_height > 0)
      << "[ROI-RESIZE-SCL] roi " << roi[0] << "/" << roi[1] << "/" << roi[2] << "/" << roi[3];
  const MI_SCL_DirectBuf_t dst = scl_buffer(dstPhyY, dstPhyUV, dstStrideY, dstStrideUV, dstWidth, dstHeight);
  const bool direct = p.pw == dstWidth && p.ph == dstHeight;
  const bool needsScratch = !direct || p.cw > kSclMaxReductionH * p.pw || p.ch > kSclMaxReductionV * p.ph;
  if (needsScratch) CHECK(pMmz);

  // The scaler crops by itself, so the first pass reads the source in place.
  MI_SCL_DirectBuf_t cur = scl_buffer(srcPhyY, srcPhyUV, srcStrideY, srcStrideUV, srcWidth, srcHeight);
  MI_SYS_WindowRect_t crop{static_cast<MI_U16>(p.x), static_cast<MI_U16>(p.y), static_cast<MI_U16>(p.cw),
                           static_cast<MI_U16>(p.ch)};
  int curW = p.cw, curH = p.ch;
  size_t mmz_idx = 0;
  int passes = 0;
  while (curW > kSclMaxReductionH * p.pw || curH > kSclMaxReductionV * p.ph) {
    const float factor = std::max((curH * 0.25f) / p.ph, (curW / 6.f) / p.pw);
    const int nextH = down_even(static_cast<int>(factor * p.ph) + 1);
    const int nextW = align16(static_cast<int>(factor * p.pw));
    // A part of 2 pixels cannot go below the 16-pixel step of the intermediate widths.
    CHECK(nextW < curW || nextH < curH)
        << "[ROI-RESIZE-SCL] no progress from " << curW << "x" << curH << " to " << p.pw << "x" << p.ph;
    const size_t mmz_required = static_cast<size_t>(nextW) * nextH * 3 / 2;
    CHECK(mmz_idx + mmz_required <= pMmz->capacity())
        << "required " << mmz_idx + mmz_required << " bytes, while pMmz only has " << pMmz->capacity()
        << " bytes.";
    const uint64_t phy = scratch_phy(pMmz) + mmz_idx;
    const MI_SCL_DirectBuf_t next =
        scl_buffer(phy, phy + static_cast<size_t>(nextW) * nextH, nextW, nextW, nextW, nextH);
    scl_stretch(cur, crop, next);
    mmz_idx += mmz_required;
    ++passes;
    cur = next;
    crop = MI_SYS_WindowRect_t{0, 0, static_cast<MI_U16>(nextW), static_cast<MI_U16>(nextH)};
    curW = nextW;
    curH = nextH;
  }
  if (passes > 1) LOG(ERROR) << "[ROI-RESIZE-SCL] convert " << passes << " times.";
  if (direct) {
    scl_stretch(cur, crop, dst);
    return 0;
  }
  const int strideB = align16(p.pw);
  const size_t required_mmz_size = static_cast<size_t>(strideB) * p.ph * 3 / 2;
  CHECK(mmz_idx + required_mmz_size <= pMmz->capacity())
      << "required " << mmz_idx + required_mmz_size << " bytes, while pMmz only has " << pMmz->capacity()
      << " bytes.";
  const uint64_t phyB = scratch_phy(pMmz) + mmz_idx;
  const uint64_t phyBuv = phyB + static_cast<size_t>(strideB) * p.ph;
  scl_stretch(cur, crop, scl_buffer(phyB, phyBuv, strideB, strideB, p.pw, p.ph));
  fill_yuv420sp_colour(dstPhyY, dstPhyUV, dstVirY, dstVirUV, dstStrideY, dstStrideUV, dstWidth, dstHeight, r,
                       g, b);
  misys_2d_yuv420sp_roi_copy(phyB, phyBuv, strideB, strideB, p.pw, p.ph, 0, 0, p.pw, p.ph, dstPhyY, dstPhyUV,
                             dstStrideY, dstStrideUV, dstWidth, dstHeight, p.px, p.py, p.pw, p.ph);
  return 0;
}

namespace {

struct IntegScratchBlock {
  std::mutex mutex;             // guards the block's contents while a lease holds it
  MmzMemory* memory = nullptr;  // created on first lease, kept until process exit
};

IntegScratchBlock& integ_scratch_block(IntegScratch which) {
  // Never destroyed: a lease may still be used by a static destructor, and the platform may have
  // gone already when static destructors run.
  static IntegScratchBlock* const blocks = new IntegScratchBlock[3];
  return blocks[static_cast<int>(which)];
}

int integ_scratch_size(IntegScratch which) {
  switch (which) {
    case IntegScratch::kRgbSums:
      return 0x17bb000;  // 3 * 4 * 1920 * 1080
    case IntegScratch::kYuvSums:
      return 0x7e9000;  // 4 * 1920 * 1080
    case IntegScratch::kRgbMap:
      return 0x5eec00;  // 3 * 1920 * 1080
  }
  return 0;
}

}  // namespace

IntegScratchLease::IntegScratchLease(IntegScratch which) {
  IntegScratchBlock& block = integ_scratch_block(which);
  lock_ = std::unique_lock<std::mutex>(block.mutex);
  if (!block.memory) block.memory = new MmzMemory(integ_scratch_size(which));
  memory_ = block.memory;
}
