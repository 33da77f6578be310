// Tests of MI_SYS in the platform SDK stand-in: arena allocation, mappings, DMA copies and fills
// against plain references, and the error codes of refused arguments. The call log and fault
// injection are exercised by every test of the platform layer that counts calls or fails one.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "mi/MiTestUtil.h"
#include "mi_sys.h"
#include "mi_test.h"

namespace {

[[maybe_unused]] const bool kPrivateArena = use_private_arena("MiSysTest");

MI_SYS_FrameData_t frame_i8(MI_PHY phy, uint16_t width, uint16_t height, uint32_t stride) {
  MI_SYS_FrameData_t f{};
  f.ePixelFormat = E_MI_SYS_PIXEL_FRAME_I8;
  f.u16Width = width;
  f.u16Height = height;
  f.u32Stride[0] = stride;
  f.u64PhyAddr[0] = phy;
  return f;
}

using MiSysTest = MiFaultTest;

TEST_F(MiSysTest, AllocatesPageAlignedDisjointBlocksAboveFourGiB) {
  MI_TEST_ArenaInfo_t before{}, after{};
  ASSERT_EQ(MI_TEST_GetArenaInfo(&before), MI_SUCCESS);
  MI_PHY a = 0, b = 0, c = 0;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 1, &a), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, "", 4097, &b), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &c), MI_SUCCESS);
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  EXPECT_EQ(after.u32OwnBlocks, before.u32OwnBlocks + 3);
  EXPECT_EQ(after.u64UsedBytes, before.u64UsedBytes + 16384);
  // 1 -> 4096, 4097 -> 8192, 4096 -> 4096 bytes; a 32-bit truncation of any address would show.
  const MI_PHY ends[3][2] = {{a, a + 4096}, {b, b + 8192}, {c, c + 4096}};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ends[i][0] % 4096, 0u);
    EXPECT_GT(ends[i][0] >> 32, 0u);
    for (int j = i + 1; j < 3; ++j) EXPECT_TRUE(ends[i][1] <= ends[j][0] || ends[j][1] <= ends[i][0]);
  }
  EXPECT_EQ(MI_SYS_MemsetPa(0, b + 8191, 0, 1), MI_SUCCESS);
  for (MI_PHY p : {a, b, c}) EXPECT_EQ(MI_SYS_MMA_Free(0, p), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MemsetPa(0, a, 0, 16), MI_ERR_SYS_UNEXIST) << "a freed block stays invalid";
  // Freed while its owner still maps it, a block stays for the engines until the mapping goes.
  void* vir = nullptr;
  ASSERT_EQ(MI_SYS_MMA_Alloc(0, nullptr, 4096, &a), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_Mmap(a, 4096, &vir, 1), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_MMA_Free(0, a), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MemsetPa(0, a, 0x07070707, 4096), MI_SUCCESS);
  EXPECT_EQ(static_cast<uint8_t*>(vir)[4095], 7);
  EXPECT_EQ(MI_SYS_Munmap(vir, 4096), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_MemsetPa(0, a, 0, 16), MI_ERR_SYS_UNEXIST);
  ASSERT_EQ(MI_TEST_GetArenaInfo(&after), MI_SUCCESS);
  EXPECT_EQ(after.u64UsedBytes, before.u64UsedBytes);
}

TEST_F(MiSysTest, MappingsOfOneBlockAreCoherentAndFlushStaysInsideThem) {
  TestBlock block(3 * 4096);
  void* part = nullptr;
  void* again = nullptr;
  ASSERT_EQ(MI_SYS_Mmap(block.phy() + 4099, 10, &part, 1), MI_SUCCESS);
  ASSERT_EQ(MI_SYS_Mmap(block.phy(), block.size(), &again, 0), MI_SUCCESS);
  block.data()[4108] = 43;
  static_cast<uint8_t*>(again)[4099] = 42;
  EXPECT_EQ(static_cast<uint8_t*>(part)[0], 42);
  EXPECT_EQ(static_cast<uint8_t*>(part)[9], 43);
  // `part` maps whole pages from 4096: a flush from its start fits up to 4096 - 3 bytes.
  EXPECT_EQ(MI_SYS_FlushInvCache(part, 4093), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_FlushInvCache(part, 4094), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Munmap(part, 10), MI_SUCCESS);
  EXPECT_EQ(MI_SYS_FlushInvCache(part, 1), MI_ERR_SYS_UNEXIST);
  EXPECT_EQ(MI_SYS_Munmap(again, block.size()), MI_SUCCESS);
}

// Fill and blit windows are compared with plain references through the platform layer's tests.
TEST_F(MiSysTest, DmaCopiesAndFillsMatchAPlainReference) {
  TestBlock src(4096), dst(8192);
  fill_random(src.data(), 4096, 1);
  std::memset(dst.data(), 0xEE, 8192);
  std::vector<uint8_t> want(dst.data(), dst.data() + 8192);
  ASSERT_EQ(MI_SYS_MemcpyPa(0, dst.phy() + 4095, src.phy() + 1, 4095), MI_SUCCESS);
  std::memcpy(want.data() + 4095, src.data() + 1, 4095);
  ASSERT_EQ(MI_SYS_MemcpyPa(0, dst.phy() + 3, dst.phy(), 1000), MI_SUCCESS);  // overlap: a memmove
  std::memmove(want.data() + 3, want.data(), 1000);
  ASSERT_EQ(MI_SYS_MemsetPa(0, dst.phy() + 2000, 0x04030201u, 7), MI_SUCCESS);  // byte i gets i % 4
  for (int i = 0; i < 7; ++i) want[2000 + i] = static_cast<uint8_t>(1 + i % 4);
  EXPECT_EQ(std::memcmp(dst.data(), want.data(), 8192), 0);
}

TEST_F(MiSysTest, RefusedArgumentsReturnTheirCodesAndWriteNothing) {
  TestBlock a(4096), b(4096);
  std::memset(a.data(), 1, 4096);
  void* v = reinterpret_cast<void*>(1);
  MI_PHY p = 12345;
  int onStack = 0;
  MI_SYS_FrameData_t f = frame_i8(a.phy(), 7, 5, 9), narrow = frame_i8(a.phy(), 7, 5, 6), nv12 = f;
  nv12.ePixelFormat = E_MI_SYS_PIXEL_FRAME_YUV_SEMIPLANAR_420;
  MI_SYS_FrameData_t tall = frame_i8(a.phy() + 1, 16, 256, 16);  // its last row ends one byte past a
  MI_SYS_WindowRect_t whole{0, 0, 7, 5}, outside{5, 0, 3, 1}, one{0, 0, 1, 1}, wider{0, 0, 5, 4},
      four{2, 0, 4, 4};
  struct Row {
    const char* name;
    std::function<MI_S32()> call;
    MI_S32 code;
  } rows[] = {
      {"alloc 0", [&] { return MI_SYS_MMA_Alloc(0, nullptr, 0, &p); }, MI_ERR_SYS_ILLEGAL_PARAM},
      {"alloc dev", [&] { return MI_SYS_MMA_Alloc(1, nullptr, 4096, &p); }, MI_ERR_SYS_INVALID_DEVID},
      {"alloc beyond arena", [&] { return MI_SYS_MMA_Alloc(0, nullptr, 0xFFFFF000u, &p); }, MI_ERR_SYS_NOMEM},
      {"free inside", [&] { return MI_SYS_MMA_Free(0, a.phy() + 1); }, MI_ERR_SYS_UNEXIST},
      {"free truncated", [&] { return MI_SYS_MMA_Free(0, a.phy() & 0xFFFFFFFFu); }, MI_ERR_SYS_UNEXIST},
      {"mmap past block", [&] { return MI_SYS_Mmap(a.phy() + 4095, 2, &v, 1); }, MI_ERR_SYS_UNEXIST},
      {"munmap size", [&] { return MI_SYS_Munmap(a.data(), 4095); }, MI_ERR_SYS_UNEXIST},
      {"flush heap", [&] { return MI_SYS_FlushInvCache(&onStack, 4); }, MI_ERR_SYS_UNEXIST},
      {"flush past", [&] { return MI_SYS_FlushInvCache(a.data(), 4097); }, MI_ERR_SYS_UNEXIST},
      {"memcpy past", [&] { return MI_SYS_MemcpyPa(0, a.phy() + 1, b.phy(), 4096); }, MI_ERR_SYS_UNEXIST},
      {"memset past", [&] { return MI_SYS_MemsetPa(0, a.phy() + 1, 0, 4096); }, MI_ERR_SYS_UNEXIST},
      {"fill outside", [&] { return MI_SYS_BufFillPa(0, &f, 0, &outside); }, MI_ERR_SYS_ILLEGAL_PARAM},
      {"fill stride", [&] { return MI_SYS_BufFillPa(0, &narrow, 0, &whole); }, MI_ERR_SYS_ILLEGAL_PARAM},
      {"fill nv12", [&] { return MI_SYS_BufFillPa(0, &nv12, 0, &whole); }, MI_ERR_SYS_NOT_SUPPORT},
      {"fill past", [&] { return MI_SYS_BufFillPa(0, &tall, 0, &one); }, MI_ERR_SYS_UNEXIST},
      {"blit sizes", [&] { return MI_SYS_BufBlitPa(0, &f, &wider, &f, &four); }, MI_ERR_SYS_ILLEGAL_PARAM},
  };
  for (const Row& row : rows) EXPECT_EQ(row.call(), row.code) << row.name;
  EXPECT_EQ(p, 12345u);
  EXPECT_EQ(v, reinterpret_cast<void*>(1));
  for (int i : {0, 4095}) EXPECT_EQ(a.data()[i], 1) << i;
}

}  // namespace
