// Detector decoding and NMS: head configuration and its checks, channel offsets over padded cells
// (groups in key order, a zero-class group), both encodings over clipped priors, the quantised
// threshold, suppression with ties, voting, caps and size thresholds, category mapping, an end-to-end
// two-head decode in platform memory, and parity of the suppression with OpenCV's NMSBoxes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
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

// Matches the message of a failed check.
testing::Matcher<const std::string&> failed(const std::string& check) {
  return testing::HasSubstr("Check failed: " + check);
}

unsigned long long category(const std::string& name) {
  static std::once_flag once;  // the process-wide enum registry is installed before its first use
  std::call_once(once, [] {
    install_ParamCfg(json(R"({"EnumStore": {"ROICATEGORY": {"none": ["ROICATEGORY_DET_person",
        "ROICATEGORY_DET_face", "ROICATEGORY_DET_car"]}}})"));
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
        R"("confThresholds": [0.5])"})
    if (changes.find(std::string(d, std::strchr(d, ':'))) == std::string::npos)
      s += (s.size() > 1 ? ", " : "") + std::string(d);
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
  for (size_t i = 0; i < w.size(); ++i)
    for (int k = 0; k < 5; ++k)
      EXPECT_NEAR(k ? got[i].box.vec(true)[k - 1] : got[i].score, k ? w[i].box.vec(true)[k - 1] : w[i].score,
                  1e-5)
          << "box " << i << " value " << k;
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
  void set(std::initializer_list<std::array<int, 4>> values) {  // {row, col, channel, value}
    for (const auto& v : values) at(v[0], v[1], v[2]) = short(v[3]);
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
  for (const auto& row : rows) EXPECT_DEATH(DetArg("H", json(head(row.first))), failed(row.second));
  const float loc[3] = {};
  EXPECT_DEATH(DetArg("H", json(head())).decode_box(0, 0, 0, 0, loc, 3), failed("locNum == 4 (3 vs. 4)"));
}

// Prior [0.25, 0.25, 0.75, 0.75], variances that are powers of two, so that flat boxes come out exact.
TEST(DetArgTest, DecodesFlatBoxesAndGivesTheZeroBoxForAnInvertedOne) {
  const std::string vars = R"("vars": [0.5, 0.25, 2, 4])";
  DetArg centre("H", json(head(vars))), corner("H", json(head(vars + R"(, "encodeByCenterSize": [0])")));
  // Centre (0.5 + 0.5 x 1 x 0.5, 0.5 - 0.5 x 0.5 x 0.25), width 0.5 x 1.5 (x2 1.125 clipped to 1), height
  // 0.5 x exp(-4000) = 0.
  // The inverted box has x2 = 0.75 - 2 < x1. A zero-width prior times an overflowing size factor is not
  // a number: no box either.
  const float flatCentre[4] = {1, -0.5f, std::log(1.5f) / 2, -1000},
              flatCorner[4] = {0.25f, 1, -0.125f, -0.0625f}, inverted[4] = {0, 0, -1, 0},
              huge[4] = {0, 0, 1000, 0};
  expect_sboxes({{0, centre.decode_box(0, 0, 0, 0, flatCentre, 4)},
                 {0, corner.decode_box(0, 0, 0, 0, flatCorner, 4)},
                 {0, corner.decode_box(0, 0, 0, 0, inverted, 4)}},
                "0 0.375 0.4375 1 0.4375, 0 0.375 0.5 0.5 0.5, 0 0 0 0 0");
  BoundBox<float> box;
  EXPECT_FALSE(DetArg("H", json(head(R"("priorBoxWidthss": [0])"))).try_decode_box(0, 0, 0, 0, huge, &box));
}

TEST(DetectorHandlerDeathTest, ConfigurationAndTensorErrorsAreFatal) {
  const std::string labels = R"("0": "person", "1": "face")", nms2 = "1, 1|0.5, 0.5|0, 0|0, 0|0.5, 0.5";
  const std::string two = R"("numClasses": [2], "confThresholds": [0.5, 0.5], "targetLabels": )";
  const std::string rows[][4] = {
      {headA(two + "[1, 2]"), labels, nms2, "label_min == 0 Label must defined from 0"},
      {headA(two + "[0, 2]"), labels, nms2,
       "(label_max + 1) == (int)labels_found.size() Labels defined invalid."},
      {headA(), labels, nms2, "nms_labels == labels_found.size()  NMS arg length invalid."},
      {"\"HEAD_X\": " + head(), labels, nms2, "it != mapName2DetType.end() cannot recognize HEAD_X"},
      {headA(), R"("0": ["person", "face"])", "1|0|0|0|0",
       "! (exactOneValue && value.size() != 1) MapLabel2Category/0: "}};
  for (const auto& r : rows) EXPECT_DEATH(handler(r[0], r[1], r[2]), failed(r[3]));
  const std::string lists[] = {"nmsThresholds", "sizeThresholds", "useVoting", "votThreshold"};
  for (const std::string& shortList : lists) {
    std::string cfg = R"({"maxRoisPerCls": [1, 2])";
    for (const std::string& l : lists) cfg += ", \"" + l + "\": " + (l == shortList ? "[0]" : "[0, 0]");
    EXPECT_DEATH(NmsArg(json(cfg + "}"), false),
                 failed("maxRoisPerCls_.size() == " + shortList + "_.size() "));
  }
  MiSysInit();
  auto h = handler(headA(), R"("0": "person")", "1|0|0|0|0");
  Tensor16 conf(1, 1, 2, 2, 1.0f, 0, 0, kConfA), wrong(1, 1, 5, 5, 1.0f, 0, 0, kLocA);
  const std::pair<MapResId2ResBasePtr, std::string> tensorRows[] = {
      {{{kConfA, conf.blob}}, "itConf != inout.end() and itLoc != inout.end()"},
      {{{kConfA, conf.blob}, {kLocA, std::make_shared<ResourceBase>(kLocA, "x", "none")}}, "conf and loc"},
      {{{kConfA, conf.blob}, {kLocA, wrong.blob}},
       "loc_shape_required[i] == loc_shape_resource[i] , detType = HEAD_A, shape_id = 3"}};
  for (const auto& [inout, message] : tensorRows) EXPECT_DEATH(h->proposals(inout), failed(message));
  EXPECT_DEATH(handler(headA(), R"("0": "person")", "1|0|0|0|0", {{2, {kConfA, kLocA}}})
                   ->proposals({{kConfA, conf.blob}, {kLocA, wrong.blob}}),
               failed("mapDetType2Args_.find(detType) != mapDetType2Args_.end()"));
  EXPECT_DEATH(handler(headA(), R"("0": "person")", "1|0|0|0|0", {})->proposals({}),
               failed("not mapDetInfo_.empty()"));
}

// q passes when q > the 16-bit wrap of trunc(threshold / scale) + zero point. Cell 0 holds the largest
// rejected value, cell 1 the smallest accepted one: a clamped or floored threshold moves the line.
TEST(DetectorHandlerTest, ThresholdIsTruncatedShiftedAndWrappedTo16Bits) {
  MiSysInit();
  const float rows[][5] = {
      // threshold, scale, zero point, largest rejected q, smallest accepted q
      {0.5f, 1.0f / 256, 0, 128, 129},             // 0.5 x 256
      {-0.25f, 0.1f, 0, -2, -1},                   // -2.5 truncates toward zero
      {0.6f, 1.0f / 65536, 0, -26215, -26214},     // 39321.6 -> 39321, wraps to 39321 - 65536
      {0.5f, 1.0f / 256, 32700, -32708, -32707}};  // 128 + 32700 wraps
  for (const auto& row : rows) {
    SCOPED_TRACE(std::to_string(row[0]) + " zero point " + std::to_string(row[2]));
    auto h = handler(headA(R"("fmapWidth": 2, "confThresholds": [)" + std::to_string(row[0]) + "]"),
                     R"("0": "person")", "9|0.5|0|0|0");
    Tensor16 conf(1, 2, 2, 2, row[1], int64_t(row[2]), 0, kConfA), loc(1, 2, 4, 4, 1.0f, 0, 0, kLocA);
    conf.set({{0, 0, 1, int(row[3])}, {0, 1, 1, int(row[4])}});
    auto props = h->proposals({{kConfA, conf.blob}, {kLocA, loc.blob}});  // cell (0, 1): [0.5, 0.25, 1, 0.75]
    expect_sboxes(props[0], std::to_string((row[4] - row[2]) * row[1]) + " 0.5 0.25 1 0.75");
  }
}

// Boxes sorted by score; greedy suppression when IoU > the NMS threshold; with voting, clusters merged
// by score-weighted means; then the size threshold and the cap.
TEST(DetectorHandlerTest, SuppressesVotesCapsAndFilters) {
  // Tie: one box twice. Voting, join: 0.7 overlaps the 0.9 head by 0.108 and the 0.8 head by 0.180 and
  // joins the first cluster: (0.9 x 0 + 0.7 x 0.2) / 1.6 = 0.0875, (0.9 x 0.4 + 0.7 x 0.7) / 1.6 = 0.53125.
  // Voting, discard: IoU with the head: 0.6 discards, 0.8 joins (y2 = (0.5 + 0.25 x 0.4) / 1.25), 0.1
  // starts a cluster. Size: the area at the threshold is output; one below does not use up the cap.
  const struct {
    const char *name, *nms, *in, *out;
  } rows[] = {
      // IoU of [0, 0, 0.5, 0.5] and [0, 0, 0.5, 0.25] is 0.125 / 0.25 = 0.5 exactly: both kept.
      {"IoU = thr", "9|0.5|0|0|0", "0.6 0 0 0.5 0.25, 0.9 0 0 0.5 0.5", "0.9 0 0 0.5 0.5, 0.6 0 0 0.5 0.25"},
      {"tie", "9|0.5|0|0|0", "0.5 0.1 0.1 0.3 0.3, 0.5 0.1 0.1 0.3 0.3", "0.5 0.1 0.1 0.3 0.3"},
      {"join", "9|0.5|0|1|0.1", "0.7 0.2 0.2 0.7 0.7, 0.9 0 0 0.4 0.4, 0.8 0.45 0.45 0.85 0.85",
       "0.9 0.0875 0.0875 0.53125 0.53125, 0.8 0.45 0.45 0.85 0.85"},
      {"discard", "9|0.3|0|1|0.7", "1 0 0 1 0.5, 0.5 0 0 1 0.3, 0.25 0 0 1 0.4, 0.2 0 0 1 0.05",
       "1 0 0 1 0.48, 0.2 0 0 1 0.05"},
      {"cap 0", "0|0.5|0|0|0", "0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6", "0.9 0 0 0.1 0.1"},
      {"cap 2", "2|0.5|0|0|0", "0.7 0.7 0.7 0.8 0.8, 0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6",
       "0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6"},
      {"size", "1|0.5|0.125|0|0", "0.9 0 0.5 0.2 0.6, 0.8 0 0.25 0.25 0.75, 0.7 0.5 0.5 1 1",
       "0.8 0 0.25 0.25 0.75"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto out = handler(headA(), R"("0": "person")", row.nms)->nms_output({{0, sboxes(row.in)}});
    expect_sboxes(out[category("person")], row.out);
  }
}

// Labels 0 and 1 share a category; label 2 has none.
TEST(DetectorHandlerDeathTest, LabelsSharingACategoryAppendToOneListALabelWithoutOneIsFatal) {
  auto h = handler(headA(R"("numClasses": [3], "targetLabels": [0, 1, 2], "confThresholds": [0, 0, 0])"),
                   R"("0": "face", "1": "face")", "1, 5, 1|0.5, 0.5, 0.5|0, 0, 0|0, 0, 0|0, 0, 0");
  auto out =
      h->nms_output({{0, sboxes("0.9 0 0 0.1 0.1, 0.8 0.5 0.5 0.6 0.6")}, {1, sboxes("0.7 0 0 0.1 0.1")}});
  const auto want = sboxes("0.9 0 0 0.1 0.1, 0.7 0 0 0.1 0.1");  // label 0 capped at 1, label 1 (any order)
  const auto& faces = out[category("face")];
  EXPECT_TRUE(out.size() == 1u && std::is_permutation(want.begin(), want.end(), faces.begin(), faces.end()));
  EXPECT_TRUE(h->nms_output({}).empty());
  EXPECT_DEATH(h->nms_output({{2, sboxes("0.9 0 0 0.1 0.1")}}),
               "Check failed: it != store.end\\(\\) (label: [01] --> ROICATEGORY_DET_face\n){2}\nlabel = 2");
}

TEST(DetectorHandlerTest, TwoHeadDetectorDecodesEndToEnd) {
  MiSysInit();
  // Head A: 2 x 2 cells, priors 0.5 x 0.5 and 1.0 x 0.5, classes person (0) and face (1), shared
  // centre-size locations. Head B: 1 cell, prior 0.6 x 0.6, classes person (0) and car (2), per-class
  // corner offsets.
  auto h =
      handler(headA(R"("fmapWidth": 2, "fmapHeight": 2, "numPriors": [2], "numClasses": [2],
                            "priorBoxWidthss": [0.5, 1.0], "priorBoxHeightss": [0.5, 0.5], "targetLabels": [0, 1],
                            "confThresholds": [0.5, 0.6])") +
                  R"(, "HEAD_B": {"fmapWidth": 1, "fmapHeight": 1, "numPriors": [1, 1], "boxShared": [1, 0],
      "encodeByCenterSize": [1, 0], "numClasses": [0, 2], "vars": [0.1, 0.1, 0.1, 0.1], "priorBoxWidthss10": [0.3],
      "priorBoxHeightss10": [0.3], "targetLabels10": [], "confThresholds10": [], "priorBoxWidthss2": [0.6],
      "priorBoxHeightss2": [0.6], "targetLabels2": [0, 2], "confThresholds2": [0.3, 0.3], "priorBoxWidthssX": [9]})",
              R"("0": "person", "1": "face", "2": "car")",
              "10, 10, 10|0.45, 0.45, 0.45|0.01, 0.01, 0.01|0, 0, 0|0, 0, 0",
              {{1, {kConfA, kLocA}}, {2, {kConfB, kLocB}}});
  // Head A: 6 confidence channels padded to 8, 8 location channels padded to 12. Head B: group "10"
  // (before "2") has no class: only background channel 0 and shared locations 0..3; their fills 125 and 40
  // are what a misplaced read would take.
  Tensor16 confA(2, 2, 6, 8, 1.0f / 100, 0, 0, kConfA), locA(2, 2, 8, 12, 0.1f, 0, 0, kLocA);
  Tensor16 confB(1, 1, 4, 4, 1.0f / 100, 50, 125, kConfB), locB(1, 1, 12, 12, 0.5f, 0, 40, kLocB);
  // Person, prior 0 at (0.25, 0.25): [0, 0, 0.5, 0.5], and at (0.75, 0.25): [0.5, 0, 1, 0.5]; prior 1 at
  // (0.75, 0.25): [0.25, 0, 1, 0.5], suppressed by 0.8. Face, prior 1 at (0.75, 0.75): [0.25, 0.5, 1, 1],
  // its centre moved by 0.75 x 1.0 x 0.1 in x and 0.5 x -0.4 x 0.1 in y; a face at its threshold 0.6.
  confA.set({{0, 0, 1, 90}, {0, 1, 1, 80}, {0, 1, 4, 70}, {1, 1, 5, 61}, {1, 0, 2, 60}});
  locA.set({{1, 1, 4, 10}, {1, 1, 5, -4}});
  // Head B: car (0 - 50) / 100 is below 0.3, person (125 - 50) / 100 = 0.75 above: [0.2, 0.2, 0.8, 0.8]
  // with x1 + 0.1 x 1.0 and y2 - 0.1 x 1.0.
  confB.set({{0, 0, 3, 0}});
  locB.set({{0, 0, 4, 2}, {0, 0, 5, 0}, {0, 0, 6, 0}, {0, 0, 7, -2}});
  auto out = h->convert({{kConfA, confA.blob}, {kLocA, locA.blob}, {kConfB, confB.blob}, {kLocB, locB.blob}},
                        BoundBox<float>(0.0f, 0.0f, 0.9f, 1.0f));
  EXPECT_TRUE(out.size() == 3u && out.at(category("car")).empty()) << "every configured category is listed";
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
  for (int n : {1, 2, 17, 100, 500, 2000})
    for (int rep = 0; rep < (n < 500 ? 10 : 3); ++rep) {
      SCOPED_TRACE("n = " + std::to_string(n) + ", rep " + std::to_string(rep));
      std::vector<float> scores;  // distinct, so that no ties need ordering
      for (int i = 1; i <= n; ++i) scores.push_back(float(i) / (n + 1));
      std::shuffle(scores.begin(), scores.end(), rng);
      std::vector<ScoredBBox<float>> boxes;
      std::vector<cv::Rect2d> rects;
      for (float s : scores) {
        float w = size(rng), hgt = size(rng), x = unit(rng) * (1 - w), y = unit(rng) * (1 - hgt);
        boxes.push_back({s, {x, y, x + w, y + hgt}});
        rects.emplace_back(x, y, (x + w) - x, (y + hgt) - y);  // in float, as the handler sees them
      }
      std::vector<int> expected, got;
      cv::dnn::NMSBoxes(rects, scores, 0.0f, 0.45f, expected);
      auto out = h->nms_output({{0, boxes}});
      for (const auto& b : out[category("person")])
        got.push_back(std::find(scores.begin(), scores.end(), b.score) - scores.begin());
      EXPECT_EQ(got, expected);
    }
}

}  // namespace
