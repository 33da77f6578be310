#include "ImageOps.h"

#include <gtest/gtest.h>

#include "platform/Mmz.h"
#include "util/ImageBase.h"
#include "util/ProduceImage.h"

namespace {

using imagetool::Op;
using imagetool::parse_op;
using imagetool::UsageError;
using imagetool::validate;

TEST(ImageOpsTest, ParsesEveryOperationWithDefaults) {
  Op r = parse_op("resize=640,480");
  EXPECT_EQ(r.kind, Op::kResize);
  EXPECT_EQ(r.width, 640);
  EXPECT_EQ(r.height, 480);

  Op roi = parse_op("roi=-0.5,0,0.5,1,300,300,10,20,30");
  EXPECT_EQ(roi.kind, Op::kRoi);
  EXPECT_EQ(roi.coords, (std::vector<float>{-0.5f, 0.f, 0.5f, 1.f}));
  EXPECT_EQ(roi.colour.g, 20);
  EXPECT_EQ(parse_op("roi=0,0,1,1,8,8").colour.r, 0) << "pad colour defaults to black";

  Op pad = parse_op("pad=2,-4,0,6");
  EXPECT_EQ(pad.pad[1], -4);
  EXPECT_EQ(pad.pad[3], 6);

  Op box = parse_op("box=0.1,0.2,0.3,0.4,0,255,0,0.01");
  EXPECT_EQ(box.kind, Op::kBox);
  EXPECT_EQ(box.colour.g, 255);
  EXPECT_FLOAT_EQ(box.thickness, 0.01f);
  EXPECT_EQ(parse_op("line=0,0,1,1").colour.r, 255) << "drawing defaults to red";

  Op text = parse_op("text=0.1,0.9,1,2,3,0.1:A, B: C");
  EXPECT_EQ(text.kind, Op::kText);
  EXPECT_EQ(text.text, "A, B: C") << "only the first colon ends the arguments";
  EXPECT_FLOAT_EQ(text.thickness, 0.1f);
  EXPECT_EQ(parse_op("point=0.5,0.5").kind, Op::kPoint);
}

TEST(ImageOpsTest, RefusesMalformedOperations) {
  for (const char* bad : {"blur=3", "resize", "resize=640", "resize=a,b", "roi=0,0,1,1,8", "box=0,0,1,1,300,0,0",
                          "box=0,0,1,1,0,0", "point=0.5,nan", "text=0.1,0.1", "pad=1,2,3,4,5,6,7,8"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(parse_op(bad), UsageError);
  }
}

TEST(ImageOpsTest, ValidationKeepsOperationsWithinTheLibraryRules) {
  EXPECT_NO_THROW(validate(parse_op("resize=300,300"), 512, 512, true));
  EXPECT_THROW(validate(parse_op("resize=301,300"), 512, 512, true), UsageError) << "odd NV12 size";
  EXPECT_NO_THROW(validate(parse_op("resize=301,300"), 512, 512, false));
  EXPECT_THROW(validate(parse_op("resize=0,300"), 512, 512, false), UsageError);

  EXPECT_NO_THROW(validate(parse_op("roi=-0.5,0,0.5,1,300,300"), 512, 512, true));
  EXPECT_THROW(validate(parse_op("roi=0.5,0,0.5,1,300,300"), 512, 512, true), UsageError) << "empty ROI";
  EXPECT_THROW(validate(parse_op("roi=1.2,0,1.5,1,300,300"), 512, 512, true), UsageError) << "outside the image";
  EXPECT_THROW(validate(parse_op("roi=0,0,0.001,1,300,300"), 512, 512, true), UsageError) << "too thin";

  EXPECT_NO_THROW(validate(parse_op("pad=2,-4,0,6"), 64, 48, true));
  EXPECT_THROW(validate(parse_op("pad=1,0,0,0"), 64, 48, true), UsageError) << "odd NV12 amount";
  EXPECT_NO_THROW(validate(parse_op("pad=1,0,0,0"), 64, 48, false));
  EXPECT_THROW(validate(parse_op("pad=-64,0,0,0"), 64, 48, false), UsageError) << "crops everything";

  EXPECT_THROW(validate(parse_op("box=0,0,1,1,0,0,0,0"), 64, 48, true), UsageError) << "zero thickness";
  EXPECT_THROW(validate(parse_op("text=0,0:\x01"), 64, 48, true), UsageError);
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
