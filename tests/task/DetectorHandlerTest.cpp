// Detector decoding and NMS: head configuration and its checks, channel offsets over padded cells
// (groups in key order, a zero-class group), both encodings over clipped priors, the quantised
// threshold, suppression with ties, voting, caps and size thresholds, category mapping, an end-to-end
// two-head decode in platform memory, and parity of the suppression with OpenCV's NMSBoxes.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <mutex>
#include <opencv2/dnn.hpp>
#include <random>
#include <sstream>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "platform/Mmz.h"
#include "task/DetectorHandler.h"
#include "util/BlobHisi.h"

namespace {

using DetInfo = std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>>;
constexpr unsigned long long kConfA = 1ULL << 10, kLocA = 1ULL << 11, kConfB = 1ULL << 12, kLocB = 1ULL << 13;

std::shared_ptr<DatabaseJsonMem> json(const std::string& text) {
  auto db = std::make_shared<DatabaseJsonMem>();
  EXPECT_TRUE(db->load_text(text)) << db->error() << "\n" << text;
  return db;
}

// The regular expression that matches `text` literally.
std::string lit(const std::string& text) {
  std::string re;
  for (char ch : text) re += std::string(std::strchr("\\^$.|?*+()[]{}", ch) ? "\\" : "") + ch;
  return re;
}

unsigned long long category(const std::string& name) {
  static std::once_flag once;  // the process-wide enum registry is installed before its first use
  std::call_once(once, [] {
    install_ParamCfg(
        json(R"({"EnumStore": {"RESOURCE": {"none": ["RESOURCE_FRAME_TIME", "RESOURCE_LARGE_IMAGE",
        "RESOURCE_SMALL_IMAGE", "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS", "RESOURCE_TRACKER_ROIS",
        "RESOURCE_MARKED_FACE_ROIS"]}, "ROICATEGORY": {"none": ["ROICATEGORY_DET_person", "ROICATEGORY_DET_face",
        "ROICATEGORY_DET_car"]}}})"));
  });
  return singleton_EnumStore()->get("ROICATEGORY")->convert("ROICATEGORY_DET_" + name, "none");
}

// A head: the given JSON members, and for every key they leave out a default: one 1 x 1 cell, one
// group of one 0.5 x 0.5 prior, shared centre-size locations, one class of label 0, threshold 0.5.
std::string head(const std::string& changes = "") {
  std::string s = "{" + changes;
  for (const char* d :
       {R"("fmapWidth": 1)", R"("fmapHeight": 1)", R"("numPriors": [1])", R"("boxShared": [1])",
        R"("encodeByCenterSize": [1])", R"("numClasses": [1])", R"("vars": [0.1, 0.1, 0.2, 0.2])",
        R"("priorBoxWidthss": [0.5])", R"("priorBoxHeightss": [0.5])", R"("targetLabels": [0])",
        R"("confThresholds": [0.5])"}) {
    if (changes.find(std::string(d, std::strchr(d, ':'))) == std::string::npos)
      s += (s.size() > 1 ? ", " : "") + std::string(d);
  }
  return s + "}";
}
std::string headA(const std::string& changes = "") { return "\"HEAD_A\": " + head(changes); }

// A handler over the heads, the label map and the NMS lists written "caps|nms|sizes|voting|vot".
std::unique_ptr<DetectorHandler> handler(const std::string& heads, const std::string& labels,
                                         const std::string& nms,
                                         const DetInfo& info = {{1, {kConfA, kLocA}}}) {
  category("person");
  std::string n = "\"maxRoisPerCls\": [" + nms + "]";
  for (const char* key : {"nmsThresholds", "sizeThresholds", "useVoting", "votThreshold"})
    n.replace(n.find('|'), 1, std::string("], \"") + key + "\": [");
  return std::make_unique<DetectorHandler>(
      json("{" + heads + ", \"MapLabel2Category\": {" + labels + "}, \"NmsParameter\": {" + n + "}}"),
      std::unordered_map<std::string, unsigned long long>{{"HEAD_A", 1}, {"HEAD_B", 2}}, info);
}

// Scored boxes written "score x1 y1 x2 y2, ...".
std::vector<ScoredBBox<float>> sboxes(const std::string& text) {
  std::vector<ScoredBBox<float>> v;
  std::istringstream in(text);
  for (float s, x1, y1, x2, y2; in >> s >> x1 >> y1 >> x2 >> y2; in.ignore(1))
    v.push_back({s, {x1, y1, x2, y2}});
  return v;
}

void expect_sboxes(const std::vector<ScoredBBox<float>>& got, const std::string& want) {
  const auto w = sboxes(want);
  ASSERT_EQ(got.size(), w.size()) << want;
  for (size_t i = 0; i < w.size(); ++i) {
    EXPECT_NEAR(got[i].score, w[i].score, 1e-5) << "box " << i;
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(got[i].box.vec(true)[k], w[i].box.vec(true)[k], 1e-5) << "box " << i;
  }
}

// A 16-bit output tensor [1, H, W, channels] in platform memory, cells `stride` values apart, every value
// `fill`; at() addresses one value.
struct Tensor16 {
  Tensor16(int H, int W, int channels, int stride, float scale, int64_t zeroPoint, short fill,
           unsigned long long id)
      : W(W), stride(stride), mem(std::make_shared<MmzMemory>(H * W * stride * 2)) {
    auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
    info->enBlobType = MI_IPU_FORMAT_INT16;
    info->u32ShapeVec = {1, uint32_t(H), uint32_t(W), uint32_t(channels)};
    info->u32StrideBytes = stride * 2;
    info->u32AlignedBufSize = mem->capacity();
    info->fScalar = scale;
    info->s64ZeroPoint = zeroPoint;
    info->pVirAddr = mem->data();
    std::fill_n(&at(0, 0, 0), H * W * stride, fill);
    blob = std::make_shared<BlobSSCInt16>(info, id, "tensor");
  }
  short& at(int row, int col, int ch) {
    return reinterpret_cast<short*>(mem->data())[(row * W + col) * stride + ch];
  }
  int W, stride;
  std::shared_ptr<MmzMemory> mem;
  std::shared_ptr<BlobSSCInt16> blob;
};

TEST(DetArgDeathTest, InconsistentOrInvalidHeadsAreFatal) {
  const std::pair<const char*, std::string> rows[] = {
      {R"("boxShared": [1, 1])", "numPriors_.size() == boxShared_.size() for H"},
      {R"("numPriors": [2])", "numPriors_[i] == (int)priorBoxWidthss_[i].size() for H, group 0"},
      {R"("vars": [1, 1, 1])", "vars_.size() == 4u for H"},
      {R"("priorBoxWidthss": [-0.5])",
       "std::isfinite(priorBoxWidthss_[i][j]) && priorBoxWidthss_[i][j] >= 0 for H, group 0, prior 0: -0.5"},
      {R"("priorBoxHeightss": ["nan"])",
       "std::isfinite(priorBoxHeightss_[i][j]) && priorBoxHeightss_[i][j] >= 0 for H, group 0, prior 0: nan"},
      {R"("vars": [0.1, 0.1, "inf", 0.2])",
       "std::isfinite(vars_[i]) && vars_[i] >= 0 for H, variance 2: inf"},
      {R"("vars": [0.1, 0.1, 0.2, -0.2])",
       "std::isfinite(vars_[i]) && vars_[i] >= 0 for H, variance 3: -0.2"}};
  for (const auto& row : rows)
    EXPECT_DEATH(DetArg("H", json(head(row.first))), lit("Check failed: " + row.second));
  const float loc[3] = {};
  EXPECT_DEATH(DetArg("H", json(head())).decode_box(0, 0, 0, 0, loc, 3),
               lit("Check failed: locNum == 4 (3 vs. 4)"));
}

// Prior [0.25, 0.25, 0.75, 0.75], variances that are powers of two, so that flat boxes come out exact.
TEST(DetArgTest, DecodesFlatBoxesAndGivesTheZeroBoxForAnInvertedOne) {
  const std::string vars = R"("vars": [0.5, 0.25, 2, 4])";
  DetArg centre("H", json(head(vars))), corner("H", json(head(vars + R"(, "encodeByCenterSize": [0])")));
  // Centre (0.5 + 0.5 x 0.5 x 0.5, 0.5 - 0.5 x 0.5 x 0.25), width 0.5 x 1.5, height 0.5 x exp(-4000) = 0.
  const float flatCentre[4] = {0.5f, -0.5f, std::log(1.5f) / 2, -1000},
              flatCorner[4] = {0.25f, 1, -0.125f, -0.0625f};
  const float inverted[4] = {0, 0, -1, 0};  // x2 = 0.75 - 2 < x1
  expect_sboxes({{0, centre.decode_box(0, 0, 0, 0, flatCentre, 4)},
                 {0, corner.decode_box(0, 0, 0, 0, flatCorner, 4)},
                 {0, corner.decode_box(0, 0, 0, 0, inverted, 4)}},
                "0 0.25 0.4375 1 0.4375, 0 0.375 0.5 0.5 0.5, 0 0 0 0 0");
  // A zero-width prior times an overflowing size factor is not a number: no box either.
  const float huge[4] = {0, 0, 1000, 0};
  BoundBox<float> box;
  EXPECT_FALSE(DetArg("H", json(head(R"("priorBoxWidthss": [0])"))).try_decode_box(0, 0, 0, 0, huge, &box));
}

TEST(NmsArgTest, SingleModeReplicatesScalarsOverTheLabels) {
  const std::string s = R"("maxRoisPerCls": 5, "nmsThreshold": 0.4, "sizeThreshold": 0.01, "useVoting": 1,
      "votThreshold": 0.6})";
  NmsArg a(json(R"({"numClass": 3, )" + s), true);
  EXPECT_EQ(std::make_tuple(a.maxRoisPerCls(), a.nmsThresholds(), a.sizeThresholds(), a.useVoting(),
                            a.votThreshold()),
            std::make_tuple(std::vector<int>(3, 5), std::vector<float>(3, 0.4f), std::vector<float>(3, 0.01f),
                            std::vector<bool>(3, true), std::vector<float>(3, 0.6f)));
  EXPECT_TRUE(NmsArg(json(R"({"numClass": 0, )" + s), true).votThreshold().empty());
}

TEST(DetectorHandlerDeathTest, ConfigurationErrorsAreFatal) {
  const std::string labels = R"("0": "person", "1": "face")", nms2 = "1, 1|0.5, 0.5|0, 0|0, 0|0.5, 0.5";
  const std::string two = R"("numClasses": [2], "confThresholds": [0.5, 0.5], "targetLabels": )";
  EXPECT_DEATH(handler(headA(two + "[1, 2]"), labels, nms2),
               lit("Check failed: label_min == 0 Label must defined from 0"));
  EXPECT_DEATH(handler(headA(two + "[0, 2]"), labels, nms2),
               lit("Check failed: (label_max + 1) == (int)labels_found.size() Labels defined invalid."));
  EXPECT_DEATH(handler(headA(), labels, nms2),
               lit("Check failed: nms_labels == labels_found.size()  NMS arg length invalid."));
  EXPECT_DEATH(handler("\"HEAD_X\": " + head(), labels, nms2),
               lit("Check failed: it != mapName2DetType.end() cannot recognize HEAD_X"));
  EXPECT_DEATH(handler(headA(), R"("0": ["person", "face"])", "1|0|0|0|0"),
               lit("Check failed: ! (exactOneValue && value.size() != 1) MapLabel2Category/0: "));
  const std::string lists[] = {"nmsThresholds", "sizeThresholds", "useVoting", "votThreshold"};
  for (const std::string& shortList : lists) {
    std::string cfg = R"({"maxRoisPerCls": [1, 2])";
    for (const std::string& l : lists) cfg += ", \"" + l + "\": " + (l == shortList ? "[0]" : "[0, 0]");
    EXPECT_DEATH(NmsArg(json(cfg + "}"), false),
                 lit("Check failed: maxRoisPerCls_.size() == " + shortList + "_.size() "));
  }
}

// q passes when q > the 16-bit wrap of trunc(threshold / scale) + zero point. Cell 0 holds the largest
// rejected value, cell 1 the smallest accepted one: a clamped or floored threshold moves the line.
TEST(DetectorHandlerTest, ThresholdIsTruncatedShiftedAndWrappedTo16Bits) {
  MiSysInit();
  const float rows[][5] = {
      // threshold, scale, zero point, largest rejected q, smallest accepted q
      {0.5f, 1.0f / 256, 0, 128, 129},             // 0.5 x 256
      {0.5f, 1.0f / 256, 10, 138, 139},            // plus the zero point
      {-0.25f, 0.1f, 0, -2, -1},                   // -2.5 truncates toward zero
      {0.6f, 1.0f / 65536, 0, -26215, -26214},     // 39321.6 -> 39321, wraps to 39321 - 65536
      {0.5f, 1.0f / 256, 32700, -32708, -32707}};  // 128 + 32700 wraps
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row[0]) + " zero point " + std::to_string(row[2]));
    auto h = handler(headA(R"("fmapWidth": 2, "confThresholds": [)" + std::to_string(row[0]) + "]"),
                     R"("0": "person")", "9|0.5|0|0|0");
    Tensor16 conf(1, 2, 2, 2, row[1], int64_t(row[2]), 0, kConfA), loc(1, 2, 4, 4, 1.0f, 0, 0, kLocA);
    conf.at(0, 0, 1) = short(row[3]);
    conf.at(0, 1, 1) = short(row[4]);
    expect_sboxes(
        h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}})[0],  // cell (0, 1): [0.5, 0.25, 1, 0.75]
        std::to_string((row[4] - row[2]) * row[1]) + " 0.5 0.25 1 0.75");
  }
}

// One head, 2 x 3 cells, groups in string order of their keys ("", "10", "2"; "X" matches no pattern):
//   g0: 2 priors, classes 0 and 1, shared centre-size locations;
//   g1: 1 prior, no class: only its background and shared location channels;
//   g2: 1 prior, classes 2 and 1, per-class corner offsets.
// Confidence channels: g0 p0 [0..2], g0 p1 [3..5], g1 [6], g2 [7..9]; 10 used, 12 per cell.
// Location channels: g0 p0 [0..3], g0 p1 [4..7], g1 [8..11], g2 c0 [12..15], g2 c1 [16..19]; 20 of 22.
TEST(DetectorHandlerTest, ReadsEveryGroupsChannelsOverPaddedCells) {
  MiSysInit();
  auto h =
      handler(R"("HEAD_A": {"fmapWidth": 3, "fmapHeight": 2, "numPriors": [2, 1, 1], "boxShared": [1, 1, 0],
      "encodeByCenterSize": [1, 1, 0], "numClasses": [2, 0, 2], "vars": [0.1, 0.1, 0.2, 0.2],
      "priorBoxWidthss2": [0.3], "priorBoxHeightss2": [0.3], "targetLabels2": [2, 1], "confThresholds2": [0.5, 0.5],
      "priorBoxWidthss10": [0.3], "priorBoxHeightss10": [0.3], "targetLabels10": [], "confThresholds10": [],
      "priorBoxWidthss": [0.2, 0.4], "priorBoxHeightss": [0.2, 0.6], "targetLabels": [0, 1],
      "confThresholds": [0.5, 0.5], "priorBoxWidthssX": [9], "xtargetLabels": [9]})",
              R"("0": "person", "1": "face", "2": "car")", "9, 9, 9|1, 1, 1|0, 0, 0|0, 0, 0|0, 0, 0");
  // Confidence real = (q + 20) / 128: threshold 64 - 20 = 44; background and padding hold 127, which a
  // misplaced read would take for a detection. Location real = (q - 5) x 0.01: 5 is 0, the fill 300 is 2.95.
  Tensor16 conf(2, 3, 10, 12, 1.0f / 128, -20, -128, kConfA), loc(2, 3, 20, 22, 0.01f, 5, 300, kLocA);
  for (int cell = 0; cell < 6; ++cell)
    for (int ch : {0, 3, 6, 7, 10, 11}) conf.at(0, cell, ch) = 127;
  auto set_loc = [&](int r, int c, int from, std::vector<short> v) {
    std::copy(v.begin(), v.end(), &loc.at(r, c, from));
  };
  conf.at(1, 2, 5) = 100;              // g0 p1 class 1 -> label 1, score 120 / 128
  set_loc(1, 2, 4, {5, 5, -95, 105});  // width x exp(-0.2), height x exp(0.2)
  conf.at(0, 1, 8) = 80;               // g2 class 0 -> label 2, score 100 / 128
  set_loc(0, 1, 12, {5, 5, 5, 5});
  conf.at(0, 1, 9) = 44;                  // g2 class 1 at the threshold: rejected
  conf.at(1, 0, 9) = 45;                  // g2 class 1 -> label 1, score 65 / 128
  set_loc(1, 0, 16, {55, -45, 30, -20});  // corners + 0.05, - 0.05, + 0.05, - 0.05
  conf.at(0, 0, 8) = 100;                 // g2 class 0 with x2 offset -10 x 0.2: inverted, skipped
  set_loc(0, 0, 12, {5, 5, -995, 5});

  auto props = h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}});
  EXPECT_EQ(props.size(), 2u);
  // Group 0 first: cell (1, 2), prior 0.4 x 0.6 around (5/6, 0.75) clipped to [0.6333, 0.45, 1, 1], so
  // width 0.36667 x 0.81873 and height 0.55 x 1.22140 around (0.81667, 0.725). Then group 2: cell (1, 0),
  // prior 0.3 around (1/6, 0.75).
  expect_sboxes(props[1], "0.9375 0.666566 0.389114 0.966767 1, 0.5078125 0.0666667 0.55 0.3666667 0.85");
  expect_sboxes(props[2], "0.78125 0.35 0.1 0.65 0.4");
}

TEST(DetectorHandlerDeathTest, TensorsMustBePresentInt16AndOfTheRequiredShape) {
  MiSysInit();
  auto h = handler(headA(), R"("0": "person")", "1|0|0|0|0");
  Tensor16 conf(1, 1, 2, 2, 1.0f, 0, 0, kConfA), wrong(1, 1, 5, 5, 1.0f, 0, 0, kLocA);
  EXPECT_DEATH(h->proposals({{kConfA, conf.blob}}),
               lit("Check failed: itConf != inout.end() and itLoc != inout.end()"));
  EXPECT_DEATH(
      h->proposals({{kConfA, conf.blob}, {kLocA, std::make_shared<ResourceBase>(kLocA, "x", "none")}}),
      lit("Check failed: conf and loc"));
  EXPECT_DEATH(
      h->proposals({{kConfA, conf.blob}, {kLocA, wrong.blob}}),
      lit("Check failed: loc_shape_required[i] == loc_shape_resource[i] , detType = HEAD_A, shape_id = 3"));
  EXPECT_DEATH(handler(headA(), R"("0": "person")", "1|0|0|0|0", {{2, {kConfA, kLocA}}})
                   ->proposals({{kConfA, conf.blob}, {kLocA, wrong.blob}}),
               lit("Check failed: mapDetType2Args_.find(detType) != mapDetType2Args_.end()"));
  EXPECT_DEATH(handler(headA(), R"("0": "person")", "1|0|0|0|0", {})->proposals({}),
               lit("Check failed: not mapDetInfo_.empty()"));
}

// Boxes sorted by score; greedy suppression when IoU > the NMS threshold; with voting, clusters merged
// by score-weighted means; then the size threshold and the cap.
TEST(DetectorHandlerTest, SuppressesVotesCapsAndFilters) {
  const struct {
    const char *name, *nms, *in, *out;
  } rows[] = {
      // IoU of [0, 0, 0.5, 0.5] and [0, 0, 0.5, 0.25] is 0.125 / 0.25 = 0.5 exactly.
      {"IoU at the threshold keeps both", "9|0.5|0|0|0", "0.6 0 0 0.5 0.25, 0.9 0 0 0.5 0.5",
       "0.9 0 0 0.5 0.5, 0.6 0 0 0.5 0.25"},
      {"a tie on one box leaves one", "9|0.5|0|0|0", "0.5 0.1 0.1 0.3 0.3, 0.5 0.1 0.1 0.3 0.3",
       "0.5 0.1 0.1 0.3 0.3"},
      {"a negative threshold keeps the best", "9|-0.1|0|0|0", "0.5 0 0 0.1 0.1, 0.7 0.8 0.8 0.9 0.9",
       "0.7 0.8 0.8 0.9 0.9"},
      // 0.7 overlaps the 0.9 head by 0.108 and the 0.8 head by 0.180 and joins the first cluster:
      // (0.9 x 0 + 0.7 x 0.2) / 1.6 = 0.0875, (0.9 x 0.4 + 0.7 x 0.7) / 1.6 = 0.53125.
      {"voting joins the first cluster above the voting threshold", "9|0.5|0|1|0.1",
       "0.7 0.2 0.2 0.7 0.7, 0.9 0 0 0.4 0.4, 0.8 0.45 0.45 0.85 0.85",
       "0.9 0.0875 0.0875 0.53125 0.53125, 0.8 0.45 0.45 0.85 0.85"},
      // IoU with the head: 0.6 discards, 0.8 joins (y2 = (0.5 + 0.25 x 0.4) / 1.25), 0.1 starts a cluster.
      {"voting discards between the two thresholds", "9|0.3|0|1|0.7",
       "1 0 0 1 0.5, 0.5 0 0 1 0.3, 0.25 0 0 1 0.4, 0.2 0 0 1 0.05", "1 0 0 1 0.48, 0.2 0 0 1 0.05"},
      {"cap 0 gives one box", "0|0.5|0|0|0", "0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6", "0.9 0 0 0.1 0.1"},
      {"cap 2 of 3", "2|0.5|0|0|0", "0.7 0.7 0.7 0.8 0.8, 0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6",
       "0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6"},
      {"area at the size threshold is output; one below does not use up the cap", "1|0.5|0.125|0|0",
       "0.9 0 0.5 0.2 0.6, 0.8 0 0.25 0.25 0.75, 0.7 0.5 0.5 1 1", "0.8 0 0.25 0.25 0.75"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto out = handler(headA(), R"("0": "person")", row.nms)->nms_output({{0, sboxes(row.in)}});
    EXPECT_EQ(out.size(), 1u);
    expect_sboxes(out[category("person")], row.out);
  }
}

// Labels 0 and 1 share a category; label 2 has none.
TEST(DetectorHandlerDeathTest, LabelsSharingACategoryAppendToOneListALabelWithoutOneIsFatal) {
  auto h = handler(headA(R"("numClasses": [3], "targetLabels": [0, 1, 2], "confThresholds": [0, 0, 0])"),
                   R"("0": "face", "1": "face")", "1, 5, 1|0.5, 0.5, 0.5|0, 0, 0|0, 0, 0|0, 0, 0");
  auto out =
      h->nms_output({{0, sboxes("0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6")}, {1, sboxes("0.7 0 0 0.1 0.1")}});
  EXPECT_EQ(out.size(), 1u);
  EXPECT_EQ(out[category("face")].size(), 2u) << "one from label 0 (cap 1), one from label 1";
  EXPECT_TRUE(h->nms_output({}).empty());
  EXPECT_DEATH(h->nms_output({{2, sboxes("0.9 0 0 0.1 0.1")}}),
               "Check failed: it != store.end\\(\\) (label: [01] --> ROICATEGORY_DET_face\n){2}\nlabel = 2");
}

TEST(DetectorHandlerTest, TwoHeadDetectorDecodesEndToEnd) {
  MiSysInit();
  // Head A: 2 x 2 cells, priors 0.5 x 0.5 and 1.0 x 0.5, classes person (0) and face (1), shared
  // centre-size locations. Head B: 1 cell, prior 0.6 x 0.6, classes person (0) and car (2), per-class
  // corner offsets.
  auto h = handler(
      headA(R"("fmapWidth": 2, "fmapHeight": 2, "numPriors": [2], "numClasses": [2],
                            "priorBoxWidthss": [0.5, 1.0], "priorBoxHeightss": [0.5, 0.5], "targetLabels": [0, 1],
                            "confThresholds": [0.5, 0.6])") +
          ", \"HEAD_B\": " +
          head(
              R"("boxShared": [0], "encodeByCenterSize": [0], "numClasses": [2], "vars": [0.1, 0.1, 0.1, 0.1],
                            "priorBoxWidthss": [0.6], "priorBoxHeightss": [0.6], "targetLabels": [0, 2],
                            "confThresholds": [0.3, 0.3])"),
      R"("0": "person", "1": "face", "2": "car")",
      "10, 10, 10|0.45, 0.45, 0.45|0.01, 0.01, 0.01|0, 0, 0|0, 0, 0",
      {{1, {kConfA, kLocA}}, {2, {kConfB, kLocB}}});
  // Head A: 6 confidence channels padded to 8, 8 location channels padded to 12.
  Tensor16 confA(2, 2, 6, 8, 1.0f / 100, 0, 0, kConfA), locA(2, 2, 8, 12, 0.1f, 0, 0, kLocA);
  Tensor16 confB(1, 1, 3, 3, 1.0f / 100, 50, 0, kConfB), locB(1, 1, 8, 8, 0.5f, 0, 0, kLocB);
  confA.at(0, 0, 1) = 90;   // person, prior 0 at (0.25, 0.25): [0, 0, 0.5, 0.5]
  confA.at(0, 1, 1) = 80;   // person, prior 0 at (0.75, 0.25): [0.5, 0, 1, 0.5]
  confA.at(0, 1, 4) = 70;   // person, prior 1 at (0.75, 0.25): [0.25, 0, 1, 0.5], suppressed by 0.8
  confA.at(1, 1, 5) = 61;   // face, prior 1 at (0.75, 0.75): [0.25, 0.5, 1, 1]
  confA.at(1, 0, 2) = 60;   // face at its threshold 0.6: rejected
  locA.at(1, 1, 4) = 10;    // face: centre x moves by 0.75 x 1.0 x 0.1
  locA.at(1, 1, 5) = -4;    // and centre y by 0.5 x -0.4 x 0.1
  confB.at(0, 0, 1) = 125;  // (125 - 50) / 100 = 0.75 > 0.3: [0.2, 0.2, 0.8, 0.8] shifted
  locB.at(0, 0, 0) = 2;     // x1 + 0.1 x 1.0
  locB.at(0, 0, 3) = -2;    // y2 - 0.1 x 1.0
  auto out = h->convert({{kConfA, confA.blob}, {kLocA, locA.blob}, {kConfB, confB.blob}, {kLocB, locB.blob}},
                        BoundBox<float>(0.0f, 0.0f, 0.9f, 1.0f));
  EXPECT_EQ(out.size(), 3u);
  EXPECT_TRUE(out[category("car")].empty()) << "every configured category is listed";
  // Person by score: A (0,0) 0.9, A (0,1) 0.8, B 0.75 [0.3, 0.2, 0.8, 0.7], A p1 0.7. The first two
  // only touch; B overlaps them by 0.06 / 0.44 and 0.09 / 0.41 and is kept; A p1 overlaps the 0.8 box
  // by 0.25 / 0.375 and is suppressed. The roi clips x to 0.9.
  expect_sboxes(out[category("person")], "0.9 0 0 0.5 0.5, 0.8 0.5 0 0.9 0.5, 0.75 0.3 0.2 0.8 0.7");
  // Prior [0.25, 0.5, 1, 1] (0.75 x 0.5, centre (0.625, 0.75)) -> centre (0.7, 0.73): x from 0.325 to
  // 1.075 -> 1 -> 0.9, y from 0.48 to 0.98.
  expect_sboxes(out[category("face")], "0.61 0.325 0.48 0.9 0.98");
}

TEST(DetectorHandlerTest, SuppressionMatchesOpenCvNmsBoxes) {
  auto h = handler(headA(), R"("0": "person")", "100000|0.45|0|0|0");
  std::mt19937 rng(20240611);
  std::uniform_real_distribution<float> size(0.02f, 0.25f), unit(0.0f, 1.0f);
  for (int n : {1, 2, 17, 100, 500, 2000}) {
    for (int rep = 0; rep < (n < 500 ? 10 : 3); ++rep) {
      SCOPED_TRACE("n = " + std::to_string(n) + ", rep " + std::to_string(rep));
      std::vector<ScoredBBox<float>> boxes;
      std::vector<cv::Rect2d> rects;
      std::vector<float> scores;
      std::map<float, int> indexOfScore;  // distinct positive scores: no ties to order
      while (static_cast<int>(boxes.size()) < n) {
        float w = size(rng), hgt = size(rng), x = unit(rng) * (1 - w), y = unit(rng) * (1 - hgt),
              s = unit(rng);
        if (s <= 0 || !indexOfScore.emplace(s, static_cast<int>(boxes.size())).second) continue;
        boxes.push_back({s, {x, y, x + w, y + hgt}});
        const BoundBox<float>& b = boxes.back().box;
        rects.emplace_back(b.xmin(), b.ymin(), b.xmax() - b.xmin(), b.ymax() - b.ymin());
        scores.push_back(s);
      }
      std::vector<int> expected, got;
      cv::dnn::NMSBoxes(rects, scores, 0.0f, 0.45f, expected);
      auto out = h->nms_output({{0, boxes}});
      for (const auto& b : out[category("person")]) got.push_back(indexOfScore.at(b.score));
      EXPECT_EQ(got, expected);
    }
  }
}

}  // namespace
