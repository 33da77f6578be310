#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "kbase/Clock.h"
#include "kbase/Decrypt.h"
#include "kbase/FileBuffer.h"
#include "kbase/Helper.h"
#include "kbase/Path.h"

namespace {

TEST(HelperTest, PrintUsesFixedNotationWithTheGivenDecimals) {
  EXPECT_EQ(helper::print(0.5, 3), "0.500");
  EXPECT_EQ(helper::print(-2.25, 1), "-2.2");  // round half to even, as printf does
  EXPECT_EQ(helper::print(1234.5678, 0), "1235");
  EXPECT_EQ(helper::print(1e20, 1), "100000000000000000000.0");
}

TEST(HelperTest, PrintPrettyPadsOnTheLeftToTheWidth) {
  EXPECT_EQ(helper::print_pretty(0.5, 2, 7), "   0.50");
  EXPECT_EQ(helper::print_pretty(123.456, 2, 3), "123.46");  // never truncates
  EXPECT_EQ(helper::print_pretty(1, 0, 0), "1");
}

TEST(FileBufferTest, RoundTripsBytesAndReportsFailures) {
  std::string path = testing::TempDir() + "/bytes.bin";
  std::vector<unsigned char> bytes = {0, 1, 2, 255, 0, 7};
  ASSERT_TRUE(filebuffer::write(path, bytes, true));
  std::vector<unsigned char> back = {9};
  ASSERT_TRUE(filebuffer::read(path, back, true));
  EXPECT_EQ(back, bytes);
  auto shared = filebuffer::read(path);
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->size(), 6u);

  EXPECT_FALSE(filebuffer::read("/no/such/file", back, false));
  EXPECT_EQ(back, bytes) << "a failed read leaves the buffer alone";
  EXPECT_EQ(filebuffer::read("/no/such/file"), nullptr);
  EXPECT_FALSE(filebuffer::write("/no/such/dir/file", bytes, false));

  std::vector<unsigned char> empty;
  ASSERT_TRUE(filebuffer::write(path, empty, false));
  ASSERT_TRUE(filebuffer::read(path, back, false));
  EXPECT_TRUE(back.empty());
}

TEST(PathTest, RootComesFromTheApplicationThenTheEnvironment) {
  unsetenv("KAVO_ROOT");
  std::string fromExe = GlobalPathCfg::get(0);
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  std::string expected(exe);
  expected = expected.substr(0, expected.find_last_of('/'));
  expected = expected.substr(0, expected.find_last_of('/'));
  EXPECT_EQ(fromExe, expected);

  setenv("KAVO_ROOT", "/opt/kavo", 1);
  EXPECT_EQ(GlobalPathCfg::get(0), "/opt/kavo");
  GlobalPathCfg::set(0, "/app/root");
  EXPECT_EQ(GlobalPathCfg::get(0), "/app/root");
  GlobalPathCfg::set(0, "");
  unsetenv("KAVO_ROOT");
  EXPECT_TRUE(helper::path_exists(fromExe));
  EXPECT_FALSE(helper::path_exists(fromExe + "/no-such-entry"));
  EXPECT_FALSE(helper::path_exists(""));
}

TEST(DecryptTest, RoundTripsAndRefusesForeignData) {
  std::string plain("model bytes \0 with a zero", 25);
  std::string sealed = kavo_sym_encrypt(plain, 7);
  EXPECT_NE(sealed.substr(8), plain);
  EXPECT_EQ(kavo_sym_decrypt(sealed, 7, 0), plain);
  EXPECT_NE(kavo_sym_decrypt(sealed, 8, 0), plain);
  EXPECT_EQ(kavo_sym_decrypt("plain text", 7, 0), "");
  EXPECT_EQ(kavo_sym_decrypt(sealed, 7, 1), "");
}

TEST(ClockTest, ElapsedGrowsAndResetRestarts) {
  Clock<std::chrono::steady_clock> clock;
  sleep_ms_from_now(2.0);
  double first = clock.elapsed_ms();
  EXPECT_GE(first, 2.0);
  clock.reset();
  EXPECT_LT(clock.elapsed_ms(), first + 1000.0);
  sleep_ms_from_now(-1.0);  // returns at once
}

}  // namespace
