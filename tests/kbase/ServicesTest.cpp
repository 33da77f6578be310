#include <gtest/gtest.h>
#include <unistd.h>

#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "kbase/Helper.h"
#include "kbase/Path.h"

namespace {

TEST(HelperTest, PrintsFixedNotationPaddedOnTheLeft) {
  EXPECT_EQ(helper::print(-2.25, 1), "-2.2");  // round half to even, as printf does
  EXPECT_EQ(helper::print(1234.5678, 0), "1235");
  EXPECT_EQ(helper::print_pretty(0.5, 2, 7), "   0.50");
  EXPECT_EQ(helper::print_pretty(123.456, 2, 3), "123.46");  // never truncates
}

TEST(FileBufferTest, RoundTripsBytesAndReportsFailures) {
  std::string path = testing::TempDir() + "/bytes.bin";
  std::vector<unsigned char> bytes = {0, 1, 2, 255, 0, 7}, back = {9};
  ASSERT_TRUE(filebuffer::write(path, bytes, true));
  ASSERT_TRUE(filebuffer::read(path, back, true));
  EXPECT_EQ(back, bytes);
  EXPECT_EQ(*filebuffer::read(path), std::string(bytes.begin(), bytes.end()));
  EXPECT_FALSE(filebuffer::read("/no/such/file", back, false));
  EXPECT_EQ(back, bytes) << "a failed read leaves the buffer alone";
  EXPECT_EQ(filebuffer::read("/no/such/file"), nullptr);
  EXPECT_FALSE(filebuffer::write("/no/such/dir/file", bytes, false));
}

TEST(PathTest, RootComesFromTheApplicationThenTheEnvironmentThenTheExecutable) {
  unsetenv("KAVO_ROOT");
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  std::string expected(exe, static_cast<size_t>(n));
  expected = expected.substr(0, expected.find_last_of('/'));
  EXPECT_EQ(GlobalPathCfg::get(0), expected.substr(0, expected.find_last_of('/')));
  setenv("KAVO_ROOT", "/opt/kavo", 1);
  EXPECT_EQ(GlobalPathCfg::get(0), "/opt/kavo");
  GlobalPathCfg::set(0, "/app/root");
  EXPECT_EQ(GlobalPathCfg::get(0), "/app/root");
  EXPECT_TRUE(helper::path_exists(expected));
  EXPECT_FALSE(helper::path_exists(expected + "/no-such-entry"));
}

TEST(DecryptTest, RoundTripsAndRefusesForeignData) {
  std::string plain("model bytes \0 with a zero", 25);
  std::string sealed = kavo_sym_encrypt(plain, 7);
  EXPECT_EQ(sealed.find("model"), std::string::npos);
  EXPECT_EQ(kavo_sym_decrypt(sealed, 7, 0), plain);
  EXPECT_NE(kavo_sym_decrypt(sealed, 8, 0), plain);
  EXPECT_EQ(kavo_sym_decrypt("plain text", 7, 0), "");
}

}  // namespace
