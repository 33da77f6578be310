#include <gtest/gtest.h>

#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "kbase/Helper.h"
#include "kbase/Path.h"

namespace {

TEST(ServicesTest, NumbersFilesPathsAndDecryption) {
  EXPECT_EQ(helper::print(-2.25, 1), "-2.2");  // round half to even, as printf does
  EXPECT_EQ(helper::print_pretty(123.456, 2, 7), " 123.46");
  EXPECT_EQ(helper::print_pretty(123.456, 2, 3), "123.46");  // never truncates
  const std::string path = testing::TempDir() + "/bytes.bin";
  std::vector<unsigned char> bytes = {0, 1, 255, 7}, back = {9};
  ASSERT_TRUE(filebuffer::write(path, bytes, true));
  ASSERT_TRUE(filebuffer::read(path, back, true));
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(*filebuffer::read(path), std::string(bytes.begin(), bytes.end()));
  EXPECT_FALSE(filebuffer::read("/no/such/file", back, false));
  EXPECT_EQ(filebuffer::read("/no/such/file"), nullptr);
  EXPECT_FALSE(filebuffer::write("/no/such/dir/file", bytes, false));
  EXPECT_TRUE(helper::path_exists(path));
  EXPECT_FALSE(helper::path_exists(path + "/no-such-entry"));
  GlobalPathCfg::set(0, "/app/root");
  EXPECT_EQ(GlobalPathCfg::get(0), "/app/root");
  const std::string plain("model bytes \0 with a zero", 25), sealed = kavo_sym_encrypt(plain, 7);
  EXPECT_EQ(sealed.find("model"), std::string::npos);
  EXPECT_EQ(kavo_sym_decrypt(sealed, 7, 0), plain);
  EXPECT_NE(kavo_sym_decrypt(sealed, 8, 0), plain);
  EXPECT_EQ(kavo_sym_decrypt("plain text", 7, 0), "");
}

}  // namespace
