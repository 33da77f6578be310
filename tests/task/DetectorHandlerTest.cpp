// Detector decoding and NMS: head configuration, prior boxes and both encodings, channel offsets over
// padded cells, quantised thresholds, suppression with and without voting, caps and size thresholds,
// category mapping, an end-to-end two-head decode in platform memory, and parity of the suppression
// with OpenCV's NMSBoxes on random boxes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <opencv2/dnn.hpp>
#include <random>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "platform/Mmz.h"
#include "task/DetectorHandler.h"
#include "testing/LogCapture.h"
#include "util/BlobHisi.h"

namespace {

const char* kEnums = R"({
  "EnumStore": {
    "RESOURCE": { "none": ["RESOURCE_FRAME_TIME", "RESOURCE_LARGE_IMAGE", "RESOURCE_SMALL_IMAGE",
                           "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS",
                           "RESOURCE_TRACKER_ROIS", "RESOURCE_MARKED_FACE_ROIS"] },
    "ROICATEGORY": { "none": ["ROICATEGORY_DET_person", "ROICATEGORY_DET_face", "ROICATEGORY_DET_car"] }
  }
})";

std::shared_ptr<DatabaseJsonMem> load_json(const std::string& text) {
  auto db = std::make_shared<DatabaseJsonMem>();
  EXPECT_TRUE(db->load_text(text)) << db->error() << "\n" << text;
  return db;
}

// The process-wide configuration (enum registry) is installed once, before its first use.
void install_enums() {
  static std::once_flag once;
  std::call_once(once, [] { install_ParamCfg(load_json(kEnums)); });
}

unsigned long long category(const std::string& name) {
  install_enums();
  return singleton_EnumStore()->get("ROICATEGORY")->convert("ROICATEGORY_DET_" + name, "none");
}

constexpr unsigned long long kDetA = 1, kDetB = 2;
constexpr unsigned long long kConfA = 1ULL << 10, kLocA = 1ULL << 11, kConfB = 1ULL << 12, kLocB = 1ULL << 13;

const std::unordered_map<std::string, unsigned long long> kName2DetType = {{"HEAD_A", kDetA},
                                                                           {"HEAD_B", kDetB}};

// A configuration holding the given heads, label map and NMS lists.
std::shared_ptr<const ParamCfg> config(const std::string& heads, const std::string& labels,
                                       const std::string& nms) {
  return load_json("{" + heads + ", \"MapLabel2Category\": {" + labels + "}, \"NmsParameter\": {" + nms +
                   "}}");
}

std::string nms_lists(const std::string& caps, const std::string& nms, const std::string& sizes,
                      const std::string& voting, const std::string& vot) {
  return "\"maxRoisPerCls\": [" + caps + "], \"nmsThresholds\": [" + nms + "], \"sizeThresholds\": [" +
         sizes + "], \"useVoting\": [" + voting + "], \"votThreshold\": [" + vot + "]";
}

// One head of one group: 1 prior, shared centre-size locations, the given labels and thresholds.
std::string simple_head(const std::string& name, int w, int h, const std::string& labels,
                        const std::string& thresholds, int numClasses) {
  return "\"" + name + "\": {\"fmapWidth\": " + std::to_string(w) + ", \"fmapHeight\": " + std::to_string(h) +
         ", \"numPriors\": [1], \"boxShared\": [1], \"encodeByCenterSize\": [1], \"numClasses\": [" +
         std::to_string(numClasses) +
         "], \"vars\": [0.1, 0.1, 0.2, 0.2], \"priorBoxWidthss\": [0.5], \"priorBoxHeightss\": [0.5], "
         "\"targetLabels\": [" +
         labels + "], \"confThresholds\": [" + thresholds + "]}";
}

std::unique_ptr<DetectorHandler> handler(const std::shared_ptr<const ParamCfg>& cfg) {
  install_enums();
  return std::make_unique<DetectorHandler>(
      cfg, kName2DetType,
      std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>>{
          {kDetA, {kConfA, kLocA}}});
}

ScoredBBox<float> sbox(float score, float x1, float y1, float x2, float y2) {
  ScoredBBox<float> sb;
  sb.score = score;
  sb.box = BoundBox<float>(x1, y1, x2, y2);
  return sb;
}

void expect_box(const BoundBox<float>& b, float x1, float y1, float x2, float y2, float tol = 1e-6f) {
  EXPECT_NEAR(b.xmin(), x1, tol);
  EXPECT_NEAR(b.ymin(), y1, tol);
  EXPECT_NEAR(b.xmax(), x2, tol);
  EXPECT_NEAR(b.ymax(), y2, tol);
}

// A 16-bit output tensor of shape [1, H, W, channels] in platform memory, cells strideElems values
// apart, every value `fill`.
struct Tensor16 {
  Tensor16(int H, int W, int channels, int strideElems, float scale, int64_t zeroPoint, short fill,
           unsigned long long id)
      : H(H), W(W), stride(strideElems), mem(std::make_shared<MmzMemory>(H * W * strideElems * 2)) {
    info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
    info->enBlobType = MI_IPU_FORMAT_INT16;
    info->u32ShapeVec = {1, static_cast<uint32_t>(H), static_cast<uint32_t>(W),
                         static_cast<uint32_t>(channels)};
    info->u32StrideBytes = strideElems * 2;
    info->u32AlignedBufSize = mem->capacity();
    info->fScalar = scale;
    info->s64ZeroPoint = zeroPoint;
    info->pVirAddr = mem->data();
    info->u64PhyAddr = mem->phy_addr();
    short* d = data();
    for (int i = 0; i < H * W * strideElems; ++i) d[i] = fill;
    blob = std::make_shared<BlobSSCInt16>(info, id, "tensor");
  }
  short* data() { return reinterpret_cast<short*>(mem->data()); }
  short& at(int row, int col, int channel) { return data()[(row * W + col) * stride + channel]; }

  int H, W, stride;
  std::shared_ptr<MmzMemory> mem;
  std::shared_ptr<KAVO_MODEL_BLOB_INFO_S> info;
  std::shared_ptr<BlobSSCInt16> blob;
};

// ------------------------------------------------------------------------------------------------------
// Head configuration

TEST(DetArgTest, GroupsTakeMatchingKeysInStringOrder) {
  // targetLabels0 is listed first but sorts after targetLabels; priorBoxWidthss10 sorts before
  // priorBoxWidthss2.
  auto cfg = load_json(R"({"H": {
      "targetLabels0": [0, 1], "targetLabels": [2],
      "confThresholds": [0.5], "confThresholds0": [0.6, 0.7],
      "priorBoxWidthss2": [0.2, 0.3], "priorBoxWidthss10": [0.1],
      "priorBoxHeightss2": [0.4, 0.5], "priorBoxHeightss10": [0.6],
      "priorBoxWidthssX": [9], "xtargetLabels": [9],
      "fmapWidth": 3, "fmapHeight": 2, "numPriors": [1, 2], "boxShared": [1, 0],
      "encodeByCenterSize": [1, 0], "numClasses": [1, 2], "vars": [0.1, 0.1, 0.2, 0.2]}})");
  LogCapture log;
  DetArg arg("H", std::make_shared<ParamCfg>(cfg, "H/"));
  EXPECT_EQ(arg.targetLabels(), (std::vector<std::vector<int>>{{2}, {0, 1}}));
  EXPECT_EQ(arg.confThresholds(), (std::vector<std::vector<float>>{{0.5f}, {0.6f, 0.7f}}));
  EXPECT_EQ(arg.priorBoxWidthss(), (std::vector<std::vector<float>>{{0.1f}, {0.2f, 0.3f}}));
  EXPECT_EQ(arg.priorBoxHeightss(), (std::vector<std::vector<float>>{{0.6f}, {0.4f, 0.5f}}));
  EXPECT_EQ(arg.groupCount(), 2);
  // L = 1 prior x 4 (shared) + 2 priors x 2 classes x 4; C = 1 x 2 + 2 x 3.
  EXPECT_EQ(arg.locShapeRequired(), (std::vector<int>{1, 2, 3, 20}));
  EXPECT_EQ(arg.confShapeRequired(), (std::vector<int>{1, 2, 3, 8}));
  EXPECT_EQ(log.count("DetArg ctor for H"), 1);
  EXPECT_EQ(log.count("DetArg ctor done for H"), 1);
  EXPECT_EQ(log.count("priorBoxWidthss10"), 1);
}

TEST(DetArgTest, PriorNearTheBorderIsClippedBeforeDecoding) {
  auto cfg = load_json(R"({"fmapWidth": 2, "fmapHeight": 2, "numPriors": [1, 1], "boxShared": [1, 1],
      "encodeByCenterSize": [1, 0], "numClasses": [1, 1], "vars": [0.1, 0.1, 0.2, 0.2],
      "priorBoxWidthss0": [0.8], "priorBoxHeightss0": [0.4], "priorBoxWidthss1": [0.8], "priorBoxHeightss1": [0.4],
      "targetLabels0": [0], "targetLabels1": [0], "confThresholds0": [0.5], "confThresholds1": [0.5]})");
  DetArg arg("H", cfg);
  // Cell (0, 0): centre (0.25, 0.25); x from -0.15, clipped to 0.
  expect_box(arg.get_anchor(0, 0, 0, 0), 0.0f, 0.05f, 0.65f, 0.45f);
  expect_box(arg.get_anchor(1, 1, 0, 0), 0.35f, 0.55f, 1.0f, 0.95f);
  // Centre-size decoding sees the clipped width 0.65 (centre 0.325).
  const float shift[4] = {1.0f, 0.0f, 0.0f, 0.0f};  // centre + 0.65 x 1 x 0.1
  expect_box(arg.decode_box(0, 0, 0, 0, shift, 4), 0.065f, 0.05f, 0.715f, 0.45f);
  const float grow[4] = {0.0f, 0.0f, std::log(2.0f) / 0.2f, 0.0f};  // width doubles to 1.3
  expect_box(arg.decode_box(0, 0, 0, 0, grow, 4), 0.0f, 0.05f, 0.975f, 0.45f);
  // Corner offsets are scaled by the variances only, not by the prior size.
  const float corner[4] = {1.0f, -1.0f, 0.5f, 0.0f};
  expect_box(arg.decode_box(0, 0, 1, 0, corner, 4), 0.1f, 0.0f, 0.75f, 0.45f);
}

TEST(DetArgTest, InvertedCornerOffsetsGiveNoBoxAndAWarning) {
  auto cfg = load_json(R"({"fmapWidth": 1, "fmapHeight": 1, "numPriors": [1], "boxShared": [1],
      "encodeByCenterSize": [0], "numClasses": [1], "vars": [0.1, 0.1, 0.2, 0.2],
      "priorBoxWidthss": [0.5], "priorBoxHeightss": [0.5], "targetLabels": [0], "confThresholds": [0.5]})");
  DetArg arg("H", cfg);
  LogCapture log(google::GLOG_WARNING);
  const float inverted[4] = {0.0f, 0.0f, -5.0f, 0.0f};  // x2 = 0.75 - 1.0 < x1 = 0.25
  BoundBox<float> box(0.1f, 0.1f, 0.2f, 0.2f);
  EXPECT_FALSE(arg.try_decode_box(0, 0, 0, 0, inverted, &box));
  expect_box(box, 0.1f, 0.1f, 0.2f, 0.2f);
  expect_box(arg.decode_box(0, 0, 0, 0, inverted, 4), 0, 0, 0, 0);
  EXPECT_GE(log.count("corner offsets give an inverted box"), 1);
}

TEST(DetArgDeathTest, InconsistentHeadsAreFatal) {
  const std::string base = R"("fmapWidth": 1, "fmapHeight": 1, "encodeByCenterSize": [1],
      "priorBoxWidthss": [0.5], "priorBoxHeightss": [0.5], "confThresholds": [0.5])";
  EXPECT_DEATH(DetArg("H", load_json("{" + base + R"(, "numPriors": [1, 1], "boxShared": [1],
      "numClasses": [1], "vars": [1, 1, 1, 1], "targetLabels": [0]})")),
               "Check failed: numPriors_.size\\(\\) == boxShared_.size\\(\\)");
  EXPECT_DEATH(DetArg("H", load_json("{" + base + R"(, "numPriors": [1], "boxShared": [1],
      "numClasses": [2], "vars": [1, 1, 1, 1], "targetLabels": [0]})")),
               "Check failed: numClasses_\\[i\\] == \\(int\\)targetLabels_\\[i\\].size\\(\\)");
  EXPECT_DEATH(DetArg("H", load_json("{" + base + R"(, "numPriors": [2], "boxShared": [1],
      "numClasses": [1], "vars": [1, 1, 1, 1], "targetLabels": [0]})")),
               "Check failed: numPriors_\\[i\\] == \\(int\\)priorBoxWidthss_\\[i\\].size\\(\\)");
  EXPECT_DEATH(DetArg("H", load_json("{" + base + R"(, "numPriors": [1], "boxShared": [1],
      "numClasses": [1], "vars": [1, 1, 1], "targetLabels": [0]})")),
               "Check failed: vars_.size\\(\\) == 4u");
  auto ok = load_json("{" + base + R"(, "numPriors": [1], "boxShared": [1],
      "numClasses": [1], "vars": [1, 1, 1, 1], "targetLabels": [0]})");
  const float loc[3] = {};
  EXPECT_DEATH(DetArg("H", ok).decode_box(0, 0, 0, 0, loc, 3), "Check failed: locNum == 4 \\(3 vs. 4\\)");
}

TEST(NmsArgTest, SingleModeReplicatesScalarsOverTheLabels) {
  auto cfg = load_json(R"({"numClass": 3, "maxRoisPerCls": 5, "nmsThreshold": 0.4, "sizeThreshold": 0.01,
      "useVoting": 1, "votThreshold": 0.6})");
  LogCapture log;
  NmsArg arg(cfg, true);
  EXPECT_EQ(arg.maxRoisPerCls(), (std::vector<int>{5, 5, 5}));
  EXPECT_EQ(arg.nmsThresholds(), (std::vector<float>{0.4f, 0.4f, 0.4f}));
  EXPECT_EQ(arg.sizeThresholds(), (std::vector<float>{0.01f, 0.01f, 0.01f}));
  EXPECT_EQ(arg.useVoting(), (std::vector<bool>{true, true, true}));
  EXPECT_EQ(arg.votThreshold(), (std::vector<float>{0.6f, 0.6f, 0.6f}));
  EXPECT_EQ(log.count("NmsArg ctor"), 2);  // "NmsArg ctor" and "NmsArg ctor done"
  NmsArg none(load_json(R"({"numClass": 0, "maxRoisPerCls": 5, "nmsThreshold": 0.4, "sizeThreshold": 0.01,
      "useVoting": 1, "votThreshold": 0.6})"),
              true);
  EXPECT_TRUE(none.maxRoisPerCls().empty());
}

TEST(NmsArgDeathTest, ListsOfDifferentLengthsAreFatal) {
  auto cfg = load_json("{" + nms_lists("1, 2", "0.5, 0.5", "0, 0", "0", "0.5, 0.5") + "}");
  EXPECT_DEATH(NmsArg(cfg, false), "Check failed: maxRoisPerCls_.size\\(\\) == useVoting_.size\\(\\)");
}

// ------------------------------------------------------------------------------------------------------
// Handler construction

TEST(DetectorHandlerDeathTest, LabelsMustBeZeroToNMinusOneWithMatchingNmsLists) {
  const std::string nms2 = nms_lists("1, 1", "0.5, 0.5", "0, 0", "0, 0", "0.5, 0.5");
  const std::string labels = R"("0": "person", "1": "face")";
  EXPECT_DEATH(handler(config(simple_head("HEAD_A", 1, 1, "1, 2", "0.5, 0.5", 2), labels, nms2)),
               "Check failed: label_min == 0 Label must defined from 0");
  EXPECT_DEATH(
      handler(config(simple_head("HEAD_A", 1, 1, "0, 2", "0.5, 0.5", 2), labels, nms2)),
      "Check failed: \\(label_max \\+ 1\\) == \\(int\\)labels_found.size\\(\\) Labels defined invalid.");
  EXPECT_DEATH(handler(config(simple_head("HEAD_A", 1, 1, "0", "0.5", 1), labels, nms2)),
               "Check failed: nms_labels == labels_found.size\\(\\)  NMS arg length invalid.");
  EXPECT_DEATH(handler(config(simple_head("HEAD_X", 1, 1, "0, 1", "0.5, 0.5", 2), labels, nms2)),
               "Check failed: it != mapName2DetType.end\\(\\) cannot recognize HEAD_X");
  EXPECT_DEATH(handler(config(simple_head("HEAD_A", 1, 1, "0, 1", "0.5, 0.5", 2), R"("0": "bicycle")", nms2)),
               "ROICATEGORY_DET_bicycle");
}

TEST(DetectorHandlerTest, MapsLabelsToCategoriesAndFindsHeads) {
  auto h = handler(config(simple_head("HEAD_A", 2, 3, "0, 1", "0.5, 0.5", 2), R"("0": "person", "1": "car")",
                          nms_lists("1, 1", "0.5, 0.5", "0, 0", "0, 0", "0.5, 0.5")));
  EXPECT_EQ(h->mapLabel2Category().at(0), category("person"));
  EXPECT_EQ(h->mapLabel2Category().at(1), category("car"));
  ASSERT_EQ(h->mapDetType2Args().count(kDetA), 1u);
  EXPECT_EQ(h->mapDetType2Args().at(kDetA)->name(), "HEAD_A");
  EXPECT_EQ(h->mapDetType2Args().at(kDetA)->fmapHeight(), 3);
  EXPECT_EQ(h->nmsArg()->maxRoisPerCls().size(), 2u);
}

// ------------------------------------------------------------------------------------------------------
// Proposals

TEST(DetectorHandlerTest, ThresholdIsStrictInTheQuantisedDomain) {
  MiSysInit();
  // Threshold 0.5 with scale 1/256: qthr = 128. Cells: 128 (rejected), 129 (accepted).
  auto h = handler(config(simple_head("HEAD_A", 2, 1, "0", "0.5", 1), R"("0": "person")",
                          nms_lists("10", "0.5", "0", "0", "0.5")));
  Tensor16 conf(1, 2, 2, 2, 1.0f / 256, 0, 0, kConfA);
  Tensor16 loc(1, 2, 4, 4, 0.01f, 0, 0, kLocA);
  conf.at(0, 0, 1) = 128;
  conf.at(0, 1, 1) = 129;
  auto props = h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}});
  ASSERT_EQ(props.size(), 1u);
  ASSERT_EQ(props[0].size(), 1u);
  EXPECT_FLOAT_EQ(props[0][0].score, 129.0f / 256);
  expect_box(props[0][0].box, 0.5f, 0.25f, 1.0f, 0.75f);  // cell (0, 1): prior 0.5 x 0.5 around (0.75, 0.5)
}

TEST(DetectorHandlerTest, ThresholdAndScoresFollowANonZeroZeroPoint) {
  MiSysInit();
  // real = (q - 10) / 256: qthr = 128 + 10 = 138. Location real = (q + 4) x 0.01.
  auto h = handler(config(simple_head("HEAD_A", 2, 1, "0", "0.5", 1), R"("0": "person")",
                          nms_lists("10", "0.5", "0", "0", "0.5")));
  Tensor16 conf(1, 2, 2, 2, 1.0f / 256, 10, 0, kConfA);
  Tensor16 loc(1, 2, 4, 4, 0.01f, -4, -4, kLocA);
  conf.at(0, 0, 1) = 138;
  conf.at(0, 1, 1) = 139;
  loc.at(0, 1, 0) = 96;  // real 1.0: centre moves by 0.5 x 1.0 x 0.1 = 0.05
  auto props = h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}});
  ASSERT_EQ(props[0].size(), 1u);
  EXPECT_FLOAT_EQ(props[0][0].score, 129.0f / 256);
  expect_box(props[0][0].box, 0.55f, 0.25f, 1.0f, 0.75f);
}

// Two groups in one head, odd feature map (2 x 3), padded cells:
//   group 0: 2 priors, 2 classes (labels 0, 1), shared centre-size locations;
//   group 1: 1 prior, 2 classes (labels 2, 1), per-class corner offsets.
// Confidence channels: g0 p0 [0..2], g0 p1 [3..5], g1 p0 [6..8]; 12 per cell.
// Location channels: g0 p0 [0..3], g0 p1 [4..7], g1 p0 c0 [8..11], g1 p0 c1 [12..15]; 20 per cell.
const char* kTwoGroupHead = R"("HEAD_A": {"fmapWidth": 3, "fmapHeight": 2, "numPriors": [2, 1],
    "boxShared": [1, 0], "encodeByCenterSize": [1, 0], "numClasses": [2, 2], "vars": [0.1, 0.1, 0.2, 0.2],
    "priorBoxWidthss0": [0.2, 0.4], "priorBoxHeightss0": [0.2, 0.6],
    "priorBoxWidthss1": [0.3], "priorBoxHeightss1": [0.3],
    "targetLabels0": [0, 1], "targetLabels1": [2, 1],
    "confThresholds0": [0.5, 0.5], "confThresholds1": [0.5, 0.5]})";

TEST(DetectorHandlerTest, ReadsGroupChannelsOverPaddedCells) {
  MiSysInit();
  auto h = handler(config(kTwoGroupHead, R"("0": "person", "1": "face", "2": "car")",
                          nms_lists("9, 9, 9", "0.5, 0.5, 0.5", "0, 0, 0", "0, 0, 0", "0.5, 0.5, 0.5")));
  // Confidence: real = (q + 20) / 128, qthr = 64 - 20 = 44. Location: real = (q - 5) x 0.01, so 5 is 0
  // and the poison 300 (2.95) would move any box read from a wrong channel.
  Tensor16 conf(2, 3, 9, 12, 1.0f / 128, -20, -128, kConfA);
  Tensor16 loc(2, 3, 16, 20, 0.01f, 5, 300, kLocA);
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) {
      for (int ch = 9; ch < 12; ++ch) conf.at(r, c, ch) = 127;  // padding above the threshold
    }
  }
  conf.at(1, 2, 5) = 100;  // g0 p1 class 1 -> label 1, score 120 / 128
  for (int ch = 4; ch < 8; ++ch) loc.at(1, 2, ch) = 5;
  conf.at(0, 1, 7) = 80;  // g1 p0 class 0 -> label 2, score 100 / 128
  for (int ch = 8; ch < 12; ++ch) loc.at(0, 1, ch) = 5;
  conf.at(0, 1, 8) = 44;  // g1 p0 class 1 at the threshold: rejected
  conf.at(1, 0, 8) = 45;  // g1 p0 class 1 -> label 1, score 65 / 128
  for (int ch = 12; ch < 16; ++ch) loc.at(1, 0, ch) = 5;
  loc.at(1, 0, 12) = 55;  // x1 offset 0.5 x 0.1

  auto props = h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}});
  ASSERT_EQ(props.size(), 2u);
  ASSERT_EQ(props[1].size(), 2u);
  // Group 0 comes first: cell (1, 2), prior 0.4 x 0.6 around (5/6, 0.75), clipped at 1.
  EXPECT_FLOAT_EQ(props[1][0].score, 120.0f / 128);
  expect_box(props[1][0].box, 2.5f / 3 - 0.2f, 0.45f, 1.0f, 1.0f);
  // Then group 1: cell (1, 0), prior 0.3 around (1/6, 0.75), x1 moved by 0.05.
  EXPECT_FLOAT_EQ(props[1][1].score, 65.0f / 128);
  expect_box(props[1][1].box, 0.5f / 3 - 0.15f + 0.05f, 0.6f, 0.5f / 3 + 0.15f, 0.9f);
  ASSERT_EQ(props[2].size(), 1u);
  EXPECT_FLOAT_EQ(props[2][0].score, 100.0f / 128);
  expect_box(props[2][0].box, 0.35f, 0.1f, 0.65f, 0.4f);
}

TEST(DetectorHandlerTest, ProposalWithInvertedCornerOffsetsIsSkipped) {
  MiSysInit();
  auto h = handler(config(kTwoGroupHead, R"("0": "person", "1": "face", "2": "car")",
                          nms_lists("9, 9, 9", "0.5, 0.5, 0.5", "0, 0, 0", "0, 0, 0", "0.5, 0.5, 0.5")));
  Tensor16 conf(2, 3, 9, 9, 1.0f / 128, 0, 0, kConfA);
  Tensor16 loc(2, 3, 16, 16, 0.01f, 0, 0, kLocA);
  conf.at(0, 0, 7) = 100;    // g1 class 0 at cell (0, 0)
  loc.at(0, 0, 10) = -1000;  // x2 offset -10 x 0.2 = -2: inverted
  conf.at(0, 1, 7) = 100;    // the same at cell (0, 1), valid
  LogCapture log(google::GLOG_WARNING);
  auto props = h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}});
  ASSERT_EQ(props[2].size(), 1u);
  expect_box(props[2][0].box, 0.35f, 0.1f, 0.65f, 0.4f);
  EXPECT_EQ(log.count("corner offsets give an inverted box"), 1);
}

TEST(DetectorHandlerDeathTest, TensorsMustBePresentInt16AndOfTheRequiredShape) {
  MiSysInit();
  auto h = handler(config(kTwoGroupHead, R"("0": "person", "1": "face", "2": "car")",
                          nms_lists("9, 9, 9", "0.5, 0.5, 0.5", "0, 0, 0", "0, 0, 0", "0.5, 0.5, 0.5")));
  Tensor16 conf(2, 3, 9, 9, 1.0f, 0, 0, kConfA);
  Tensor16 loc(2, 3, 16, 16, 1.0f, 0, 0, kLocA);
  Tensor16 wrong(2, 3, 15, 16, 1.0f, 0, 0, kLocA);
  Tensor16 flat(1, 6, 16, 16, 1.0f, 0, 0, kLocA);
  EXPECT_DEATH(h->proposals({{kConfA, conf.blob}}),
               "Check failed: itConf != inout.end\\(\\) and itLoc != inout.end\\(\\)");
  EXPECT_DEATH(
      h->proposals({{kConfA, conf.blob}, {kLocA, std::make_shared<ResourceBase>(kLocA, "x", "none")}}),
      "Check failed: conf and loc");
  EXPECT_DEATH(h->proposals({{kConfA, conf.blob}, {kLocA, wrong.blob}}),
               "Check failed: loc_shape_required\\[i\\] == loc_shape_resource\\[i\\] , detType = HEAD_A, "
               "shape_id = 3");
  flat.info->u32ShapeVec = {6, 16};
  auto flatBlob = std::make_shared<BlobSSCInt16>(flat.info, kLocA, "flat");
  EXPECT_DEATH(h->proposals({{kConfA, conf.blob}, {kLocA, flatBlob}}),
               "Check failed: loc_shape_required.size\\(\\) == loc_shape_resource.size\\(\\)");
  auto noHeads = std::make_unique<DetectorHandler>(
      config(kTwoGroupHead, R"("0": "person")",
             nms_lists("9, 9, 9", "0, 0, 0", "0, 0, 0", "0, 0, 0", "0, 0, 0")),
      kName2DetType,
      std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>>{});
  EXPECT_DEATH(noHeads->proposals({}), "Check failed: not mapDetInfo_.empty\\(\\)");
}

// ------------------------------------------------------------------------------------------------------
// Suppression

std::unique_ptr<DetectorHandler> nms_handler(const std::string& nms,
                                             const std::string& labels = R"("0": "person")",
                                             int numLabels = 1) {
  std::string list;
  std::string thr;
  for (int i = 0; i < numLabels; ++i) {
    list += (i ? ", " : "") + std::to_string(i);
    thr += (i ? ", " : "") + std::string("0.5");
  }
  return handler(config(simple_head("HEAD_A", 1, 1, list, thr, numLabels), labels, nms));
}

TEST(DetectorHandlerTest, BoxesAtExactlyTheThresholdAreBothKept) {
  // IoU of [0, 0, 0.5, 0.5] and [0, 0, 0.5, 0.25] is 0.125 / 0.25 = 0.5 exactly.
  MapLabel2ScoredBoxes props = {{0, {sbox(0.6f, 0, 0, 0.5f, 0.25f), sbox(0.9f, 0, 0, 0.5f, 0.5f)}}};
  auto kept = nms_handler(nms_lists("10", "0.5", "0", "0", "0"))->nms_output(props);
  ASSERT_EQ(kept[category("person")].size(), 2u);
  EXPECT_FLOAT_EQ(kept[category("person")][0].score, 0.9f) << "sorted by score";
  auto suppressed = nms_handler(nms_lists("10", "0.49", "0", "0", "0"))->nms_output(props);
  ASSERT_EQ(suppressed[category("person")].size(), 1u);
  EXPECT_FLOAT_EQ(suppressed[category("person")][0].score, 0.9f);
}

TEST(DetectorHandlerTest, SuppressionComparesWithKeptBoxesOnly) {
  // b overlaps a (suppressed); c overlaps b but not a, so c stays.
  MapLabel2ScoredBoxes props = {{0,
                                 {sbox(0.9f, 0.0f, 0.0f, 0.4f, 0.4f), sbox(0.8f, 0.2f, 0.0f, 0.6f, 0.4f),
                                  sbox(0.7f, 0.45f, 0.0f, 0.85f, 0.4f), sbox(0.6f, 0.0f, 0.0f, 0.4f, 0.4f)}}};
  auto out = nms_handler(nms_lists("10", "0.3", "0", "0", "0"))->nms_output(props)[category("person")];
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FLOAT_EQ(out[0].score, 0.9f);
  EXPECT_FLOAT_EQ(out[1].score, 0.7f);
}

TEST(DetectorHandlerTest, NegativeThresholdKeepsOnlyTheBest) {
  MapLabel2ScoredBoxes props = {{0, {sbox(0.5f, 0, 0, 0.1f, 0.1f), sbox(0.7f, 0.8f, 0.8f, 0.9f, 0.9f)}}};
  auto out = nms_handler(nms_lists("10", "-0.1", "0", "0", "0"))->nms_output(props)[category("person")];
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FLOAT_EQ(out[0].score, 0.7f);
}

TEST(DetectorHandlerTest, VotingJoinsTheFirstClusterAboveTheVotingThreshold) {
  // x overlaps head 1 by 0.108 and head 2 by 0.180; with voting threshold 0.1 it joins head 1's
  // cluster (created first) although head 2 overlaps it more.
  MapLabel2ScoredBoxes props = {{0,
                                 {sbox(0.7f, 0.2f, 0.2f, 0.7f, 0.7f), sbox(0.9f, 0.0f, 0.0f, 0.4f, 0.4f),
                                  sbox(0.8f, 0.45f, 0.45f, 0.85f, 0.85f)}}};
  auto out = nms_handler(nms_lists("10", "0.5", "0", "1", "0.1"))->nms_output(props)[category("person")];
  ASSERT_EQ(out.size(), 2u);
  EXPECT_FLOAT_EQ(out[0].score, 0.9f) << "the head's score";
  // (0.9 x 0 + 0.7 x 0.2) / 1.6 = 0.0875; (0.9 x 0.4 + 0.7 x 0.7) / 1.6 = 0.53125.
  expect_box(out[0].box, 0.0875f, 0.0875f, 0.53125f, 0.53125f);
  EXPECT_FLOAT_EQ(out[1].score, 0.8f);
  expect_box(out[1].box, 0.45f, 0.45f, 0.85f, 0.85f);
}

TEST(DetectorHandlerTest, VotingDiscardsBoxesBetweenTheTwoThresholds) {
  // With nms 0.3 and voting 0.7: IoU 0.6 with the head discards, IoU 0.8 joins, 0.1 starts a cluster.
  MapLabel2ScoredBoxes props = {{0,
                                 {sbox(1.0f, 0.0f, 0.0f, 1.0f, 0.5f), sbox(0.5f, 0.0f, 0.0f, 1.0f, 0.3f),
                                  sbox(0.25f, 0.0f, 0.0f, 1.0f, 0.4f), sbox(0.2f, 0.0f, 0.0f, 1.0f, 0.05f)}}};
  auto out = nms_handler(nms_lists("10", "0.3", "0", "1", "0.7"))->nms_output(props)[category("person")];
  ASSERT_EQ(out.size(), 2u);
  // Cluster of the head (y2 0.5) and the 0.8 box (y2 0.4): y2 = (0.5 + 0.25 x 0.4) / 1.25 = 0.48.
  expect_box(out[0].box, 0.0f, 0.0f, 1.0f, 0.48f);
  EXPECT_FLOAT_EQ(out[1].score, 0.2f);
}

TEST(DetectorHandlerTest, SizeThresholdIsInclusive) {
  MapLabel2ScoredBoxes props = {{0, {sbox(0.9f, 0, 0, 0.25f, 0.5f), sbox(0.8f, 0.5f, 0.5f, 0.74f, 1.0f)}}};
  auto out = nms_handler(nms_lists("10", "0.5", "0.125", "0", "0"))->nms_output(props)[category("person")];
  ASSERT_EQ(out.size(), 1u) << "area 0.125 kept, 0.12 dropped";
  EXPECT_FLOAT_EQ(out[0].score, 0.9f);
}

TEST(DetectorHandlerTest, CapsOfZeroAndOneBothGiveOneBox) {
  MapLabel2ScoredBoxes props = {{0,
                                 {sbox(0.9f, 0, 0, 0.1f, 0.1f), sbox(0.8f, 0.2f, 0.2f, 0.3f, 0.3f),
                                  sbox(0.7f, 0.5f, 0.5f, 0.6f, 0.6f)}}};
  for (const auto& row :
       std::vector<std::pair<std::string, size_t>>{{"0", 1}, {"1", 1}, {"2", 2}, {"5", 3}}) {
    SCOPED_TRACE("cap " + row.first);
    auto out = nms_handler(nms_lists(row.first, "0.5", "0", "0", "0"))->nms_output(props)[category("person")];
    EXPECT_EQ(out.size(), row.second);
  }
  // The cap counts appended boxes: one too small is skipped without using up the cap.
  MapLabel2ScoredBoxes small = {{0, {sbox(0.9f, 0, 0, 0.01f, 0.01f), sbox(0.8f, 0.2f, 0.2f, 0.3f, 0.3f)}}};
  auto out = nms_handler(nms_lists("1", "0.5", "0.001", "0", "0"))->nms_output(small)[category("person")];
  ASSERT_EQ(out.size(), 1u);
  EXPECT_FLOAT_EQ(out[0].score, 0.8f);
}

TEST(DetectorHandlerTest, LabelsSharingACategoryAppendToOneList) {
  auto h =
      nms_handler(nms_lists("1, 5", "0.5, 0.5", "0, 0", "0, 0", "0, 0"), R"("0": "face", "1": "face")", 2);
  MapLabel2ScoredBoxes props = {{0, {sbox(0.9f, 0, 0, 0.1f, 0.1f), sbox(0.8f, 0.5f, 0.5f, 0.6f, 0.6f)}},
                                {1, {sbox(0.7f, 0, 0, 0.1f, 0.1f)}}};
  auto out = h->nms_output(props);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[category("face")].size(), 2u) << "one from label 0 (cap 1), one from label 1";
  EXPECT_TRUE(h->nms_output({}).empty());
}

TEST(DetectorHandlerDeathTest, LabelWithoutCategoryIsFatal) {
  auto h = nms_handler(nms_lists("1, 1", "0.5, 0.5", "0, 0", "0, 0", "0, 0"), R"("0": "face")", 2);
  EXPECT_DEATH(h->nms_output({{1, {sbox(0.9f, 0, 0, 0.1f, 0.1f)}}}),
               "Check failed: it != store.end\\(\\) label: 0 --> ROICATEGORY_DET_face\n\nlabel = 1");
}

// ------------------------------------------------------------------------------------------------------
// End to end

TEST(DetectorHandlerTest, TwoHeadDetectorDecodesEndToEnd) {
  MiSysInit();
  // Head A: 2 x 2 cells, 2 priors (0.5 x 0.5 and 1.0 x 0.5), classes person (0) and face (1), shared
  // centre-size locations. Head B: 1 cell, 1 prior 0.6 x 0.6, class person (0), corner offsets.
  const std::string heads = R"("HEAD_A": {"fmapWidth": 2, "fmapHeight": 2, "numPriors": [2], "boxShared": [1],
      "encodeByCenterSize": [1], "numClasses": [2], "vars": [0.1, 0.1, 0.2, 0.2],
      "priorBoxWidthss": [0.5, 1.0], "priorBoxHeightss": [0.5, 0.5], "targetLabels": [0, 1],
      "confThresholds": [0.5, 0.6]},
    "HEAD_B": {"fmapWidth": 1, "fmapHeight": 1, "numPriors": [1], "boxShared": [0],
      "encodeByCenterSize": [0], "numClasses": [1], "vars": [0.1, 0.1, 0.1, 0.1],
      "priorBoxWidthss": [0.6], "priorBoxHeightss": [0.6], "targetLabels": [0], "confThresholds": [0.3]})";
  install_enums();
  DetectorHandler h(config(heads, R"("0": "person", "1": "face")",
                           nms_lists("10, 10", "0.45, 0.45", "0.01, 0.01", "0, 0", "0, 0")),
                    kName2DetType, {{kDetA, {kConfA, kLocA}}, {kDetB, {kConfB, kLocB}}});
  // Head A tensors: 6 confidence channels padded to 8, 8 location channels padded to 12.
  Tensor16 confA(2, 2, 6, 8, 1.0f / 100, 0, 0, kConfA);
  Tensor16 locA(2, 2, 8, 12, 0.1f, 0, 0, kLocA);
  Tensor16 confB(1, 1, 2, 2, 1.0f / 100, 50, 0, kConfB);
  Tensor16 locB(1, 1, 4, 8, 0.5f, 0, 0, kLocB);
  confA.at(0, 0, 1) = 90;   // person, prior 0 at (0.25, 0.25): [0, 0, 0.5, 0.5]
  confA.at(0, 1, 1) = 80;   // person, prior 0 at (0.75, 0.25): [0.5, 0, 1, 0.5]
  confA.at(0, 1, 4) = 70;   // person, prior 1 at (0.75, 0.25): [0.25, 0, 1, 0.5], suppressed by 0.8
  confA.at(1, 1, 5) = 61;   // face, prior 1 at (0.75, 0.75): [0.25, 0.5, 1, 1]
  confA.at(1, 0, 2) = 60;   // face at its threshold 0.6: rejected
  locA.at(1, 1, 4) = 10;    // face: centre x moves by 0.75 x 1.0 x 0.1
  confB.at(0, 0, 1) = 125;  // (125 - 50) / 100 = 0.75 > 0.3: [0.2, 0.2, 0.8, 0.8] shifted
  locB.at(0, 0, 0) = 2;     // x1 + 0.1 x 1.0
  locB.at(0, 0, 3) = -2;    // y2 - 0.1 x 1.0

  MapResId2ResBasePtr inout = {
      {kConfA, confA.blob}, {kLocA, locA.blob}, {kConfB, confB.blob}, {kLocB, locB.blob}};
  auto out = h.convert(inout, BoundBox<float>(0.0f, 0.0f, 0.9f, 1.0f));
  ASSERT_EQ(out.size(), 2u);
  const auto& person = out[category("person")];
  // Person candidates by score: A (0,0) 0.9, A (0,1) 0.8, B 0.75 [0.3, 0.2, 0.8, 0.7], A p1 0.7.
  // The first two only touch; B overlaps them by 0.06 / 0.44 and 0.09 / 0.41 and is kept; A p1
  // [0.25, 0, 1, 0.5] overlaps the 0.8 box by 0.25 / 0.375 = 0.667 and is suppressed.
  ASSERT_EQ(person.size(), 3u);
  EXPECT_FLOAT_EQ(person[0].score, 0.9f);
  expect_box(person[0].box, 0.0f, 0.0f, 0.5f, 0.5f);
  EXPECT_FLOAT_EQ(person[1].score, 0.8f);
  expect_box(person[1].box, 0.5f, 0.0f, 0.9f, 0.5f);  // clipped into the roi
  EXPECT_FLOAT_EQ(person[2].score, 0.75f);
  expect_box(person[2].box, 0.3f, 0.2f, 0.8f, 0.7f);
  const auto& face = out[category("face")];
  ASSERT_EQ(face.size(), 1u);
  EXPECT_FLOAT_EQ(face[0].score, 0.61f);
  // Prior [0.25, 0.5, 1, 1] (width 0.75, centre 0.625) -> centre 0.7, x from 0.325 to 1.075 -> 1 -> 0.9.
  expect_box(face[0].box, 0.325f, 0.5f, 0.9f, 1.0f);
}

TEST(DetectorHandlerTest, ConvertListsEveryConfiguredCategory) {
  MiSysInit();
  auto h = handler(config(simple_head("HEAD_A", 1, 1, "0, 1", "0.5, 0.5", 2), R"("0": "person", "1": "car")",
                          nms_lists("1, 1", "0.5, 0.5", "0, 0", "0, 0", "0, 0")));
  Tensor16 conf(1, 1, 3, 3, 1.0f / 256, 0, 0, kConfA);
  Tensor16 loc(1, 1, 4, 4, 1.0f, 0, 0, kLocA);
  auto out = h->convert({{kConfA, conf.blob}, {kLocA, loc.blob}}, BoundBox<float>(0, 0, 1, 1));
  ASSERT_EQ(out.size(), 2u);
  EXPECT_TRUE(out.at(category("person")).empty());
  EXPECT_TRUE(out.at(category("car")).empty());
}

// ------------------------------------------------------------------------------------------------------
// Parity with OpenCV

TEST(DetectorHandlerTest, SuppressionMatchesOpenCvNmsBoxes) {
  auto h = nms_handler(nms_lists("100000", "0.45", "0", "0", "0"));
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> size(0.02f, 0.25f), unit(0.0f, 1.0f);
  int trials = 0;
  for (int n : {1, 2, 17, 100, 500, 2000}) {
    for (int rep = 0; rep < (n < 500 ? 10 : 3); ++rep, ++trials) {
      SCOPED_TRACE("n = " + std::to_string(n) + ", rep " + std::to_string(rep));
      std::vector<ScoredBBox<float>> boxes;
      std::vector<cv::Rect2d> rects;
      std::vector<float> scores;
      std::map<float, int> indexOfScore;
      while (static_cast<int>(boxes.size()) < n) {
        float w = size(rng), hgt = size(rng);
        float x = unit(rng) * (1 - w), y = unit(rng) * (1 - hgt);
        float s = unit(rng);
        if (s <= 0 || indexOfScore.count(s)) continue;  // distinct positive scores: no ties to order
        indexOfScore[s] = static_cast<int>(boxes.size());
        boxes.push_back(sbox(s, x, y, x + w, y + hgt));
        const BoundBox<float>& b = boxes.back().box;
        rects.emplace_back(b.xmin(), b.ymin(), b.xmax() - b.xmin(), b.ymax() - b.ymin());
        scores.push_back(s);
      }
      std::vector<int> expected;
      cv::dnn::NMSBoxes(rects, scores, 0.0f, 0.45f, expected);
      auto out = h->nms_output({{0, boxes}})[category("person")];
      std::vector<int> got;
      for (const auto& sb : out) got.push_back(indexOfScore.at(sb.score));
      EXPECT_EQ(got, expected);
    }
  }
  EXPECT_EQ(trials, 46);
}

}  // namespace
