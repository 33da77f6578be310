// Tests of the image tool's operations: parsing, validation that agrees with what the library can
// run, and a chain applied to platform images.
#include <gtest/gtest.h>

#include "ImageOps.h"
#include "platform/Mmz.h"
#include "util/ImageBase.h"
#include "util/ProduceImage.h"

namespace {

using imagetool::Op;
using imagetool::parse_op;
using imagetool::UsageError;
using imagetool::validate;

TEST(ImageOpsTest, ParsesOperationsWithTheirDefaults) {
  Op roi = parse_op("roi=-0.5,0,0.5,1,300,200,10,20,30");
  EXPECT_EQ(roi.coords, (std::vector<float>{-0.5f, 0.f, 0.5f, 1.f}));
  EXPECT_EQ(roi.height, 200);
  EXPECT_EQ(roi.colour.g, 20);
  EXPECT_EQ(parse_op("roi=0,0,1,1,8,8").colour.r, 0) << "pad colour defaults to black";
  EXPECT_EQ(parse_op("pad=2,-4,0,6").pad[1], -4);
  EXPECT_FLOAT_EQ(parse_op("box=0.1,0.2,0.3,0.4,0,255,0,0.01").thickness, 0.01f);
  EXPECT_EQ(parse_op("line=0,0,1,1").colour.r, 255) << "drawing defaults to red";
  EXPECT_EQ(parse_op("text=0.1,0.9,1,2,3,0.1:A, B: C").text, "A, B: C") << "the first colon ends the values";
  for (const char* bad :
       {"blur=3", "resize", "resize=640", "resize=a,b", "roi=0,0,1,1,8", "box=0,0,1,1,300,0,0",
        "box=0,0,1,1,0,0", "point=0.5,nan", "text=0.1,0.1", "pad=1,2,3,4,5,6,7,8"}) {
    EXPECT_THROW(parse_op(bad), UsageError) << bad;
  }
}

// Each row: an operation on an image of the given size and format; refused rows throw UsageError
// with the reason ("" for any), accepted ones run in the library (a refusal the tool misses would
// stop this test's process).
TEST(ImageOpsTest, RefusesExactlyWhatTheLibraryCannotRun) {
  MiSysInit();
  const char* const kTile = "an engine tile would be empty";
  struct Row {
    const char* op;
    unsigned width, height;
    bool nv12;
    const char* refusal;
  } rows[] = {
      {"resize=2,2", 2000, 100, true, kTile},  // two tiles across, each 0 columns wide
      {"resize=3,4", 2000, 100, false, kTile},
      {"resize=4,2", 2000, 100, true, nullptr},
      {"resize=301,300", 512, 512, true, ""},  // odd NV12 size
      {"resize=301,3", 512, 512, false, nullptr},
      {"resize=0,300", 512, 512, false, ""},
      // The part inside is 0.03 of the ROI: 1.5 output pixels, rounded to 1, down to even 0.
      {"roi=-0.97,0,0.03,1,50,50", 640, 480, true, "inside the image scales to under 2 pixels"},
      {"roi=-0.96,0,0.04,1,50,50", 640, 480, true, nullptr},
      // Scratch path: 640 * 0.504 = 322 -> 320 wide from -320: the copy has 0 columns.
      {"roi=-0.5,0,0.004,1,50,50", 640, 480, false, "the ROI does not overlap the image"},
      {"roi=-0.5,0,0.01,1,50,50", 640, 480, false, nullptr},
      {"roi=0,0,0.005,1,50,50", 640, 480, false, "the ROI is under 4 pixels a side"},
      {"roi=0.5,0,0.5,1,300,300", 512, 512, true, ""},  // the tool refuses it first
      {"roi=1.2,0,1.5,1,300,300", 512, 512, false, ""},
      {"roi=0,0,0.001,1,300,300", 512, 512, true, "inside the image is under 2 pixels a side"},
      {"pad=2,-4,0,6", 64, 48, true, nullptr},
      {"pad=1,0,0,0", 64, 48, true, ""},  // odd NV12 amount
      {"pad=1,0,0,0", 64, 48, false, nullptr},
      {"pad=-64,0,0,0", 64, 48, false, ""},
      {"box=0,0,1,1,0,0,0,0", 64, 48, true, ""},  // zero thickness
      {"text=0,0:\x01", 64, 48, true, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.op) + (row.nv12 ? " NV12 " : " RGB ") + std::to_string(row.width));
    Op op = parse_op(row.op);
    if (row.refusal != nullptr) {
      try {
        validate(op, row.width, row.height, row.nv12);
        ADD_FAILURE() << "accepted";
      } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(row.refusal), std::string::npos) << e.what();
      }
      continue;
    }
    validate(op, row.width, row.height, row.nv12);
    std::shared_ptr<ImageBase> image = row.nv12 ? produce_mmz_ImageYuv420sp(row.width, row.height, nullptr)
                                                : produce_mmz_ImageRgb(row.width, row.height, nullptr);
    imagetool::apply(op, image);
  }
}

TEST(ImageOpsTest, AppliesAChainToAPlatformImage) {
  MiSysInit();
  for (bool nv12 : {true, false}) {
    SCOPED_TRACE(nv12 ? "NV12" : "RGB");
    std::shared_ptr<ImageBase> image =
        nv12 ? produce_mmz_ImageYuv420sp(64, 48, nullptr) : produce_mmz_ImageRgb(64, 48, nullptr);
    image->reset(10, 20, 30);
    for (const char* arg : {"resize=32,24", "pad=2,2,-4,0,0,0,0", "roi=-0.5,0,0.5,1,16,16,255,255,255",
                            "box=0.1,0.1,0.9,0.9", "text=0,0:Hi"}) {
      Op op = parse_op(arg);
      validate(op, image->width(), image->height(), nv12);
      imagetool::apply(op, image);
    }
    EXPECT_EQ(image->width(), 16u);
    EXPECT_EQ(image->height(), 16u);
    auto jpeg = image->encode_jpg();
    ASSERT_NE(jpeg, nullptr);
    EXPECT_GT(jpeg->size(), 100u);
  }
}

}  // namespace
