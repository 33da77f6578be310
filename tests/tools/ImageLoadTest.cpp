// kavo_imagetool's loading, run as a program: in NV12 mode a JPEG that the NV12 decoder refuses is
// decoded as RGB and converted, with one line saying so; a JPEG it cannot read is refused with why.
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ImageLoadTest, Nv12ModeConvertsJpegsItsDecoderRefusesAndSaysWhyItRefusesOthers) {
  char self[4096] = {};
  readlink("/proc/self/exe", self, sizeof(self) - 1);
  const std::string tool =
      std::string(self).substr(0, std::string(self).rfind('/')) + "/../../bin/kavo_imagetool";
  // Files of this process only: test runs of other builds share the temporary directory.
  const std::string prefix = testing::TempDir() + "/image_load_" + std::to_string(getpid()) + "_";
  const std::string log = prefix + "test.err";
  const struct {
    const char* name;
    int w, h, subsamp, exitCode;
    const char* says;
  } rows[] = {
      {"grey.jpg", 33, 17, TJSAMP_GRAY, 0,
       "is a greyscale JPEG of 33x17; NV12 decoding takes 4:2:0, 4:2:2 and "
       "4:4:4 colour JPEGs only, so it was decoded as RGB and converted to NV12\n"},
      {"odd422.jpg", 33, 17, TJSAMP_422, 0, "is a 4:2:2 YCbCr JPEG of 33x17; NV12 decoding takes"},
      {"s440.jpg", 32, 16, TJSAMP_440, 0, "is a 4:4:0 YCbCr JPEG of 32x16;"},
      {"s444.jpg", 31, 15, TJSAMP_444, 0, ""},     // decoded directly: nothing said
      {"truncated.jpg", 256, 256, TJSAMP_GRAY, 1,  // half of the bytes only
       "truncated.jpg: greyscale JPEG of 256x256, whose data is truncated or corrupt\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<unsigned char> rgb;  // noisy colours
    for (int i = 0; i < row.w * row.h; ++i)
      rgb.insert(rgb.end(), {static_cast<unsigned char>(i * 37 % 251), 90, 200});
    tjhandle handle = tjInitCompress();
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    tjCompress2(handle, rgb.data(), row.w, 0, row.h, TJPF_RGB, &jpeg, &size, row.subsamp, 95, 0);
    const std::string in = prefix + row.name;
    std::ofstream(in, std::ios::binary).write(reinterpret_cast<char*>(jpeg), size / (row.exitCode ? 2 : 1));
    tjFree(jpeg);
    tjDestroy(handle);
    const int status = std::system(
        (tool + " --nv12 " + in + " " + in + ".out.jpg resize=16,8 2>" + log + " >/dev/null").c_str());
    std::stringstream text;
    text << std::ifstream(log).rdbuf();
    const std::string err = text.str();
    EXPECT_EQ(WEXITSTATUS(status), row.exitCode);
    EXPECT_NE(err.find(row.says), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), *row.says ? 1 : 0) << err;  // one line, or none
  }
}

}  // namespace
