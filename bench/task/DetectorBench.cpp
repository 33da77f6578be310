// Detector post-processing: NMS of 2,000 random boxes of one label beside OpenCV's NMSBoxes on the
// same boxes, and the per-frame cost of proposals + NMS for an SSD with six heads (38x38 down to 1x1
// cells, 4-6 priors, 3 classes) reading quantised tensors in platform memory.
#include <benchmark/benchmark.h>

#include <memory>
#include <opencv2/dnn.hpp>
#include <random>
#include <string>
#include <vector>

#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "platform/Mmz.h"
#include "task/DetectorHandler.h"
#include "util/BlobHisi.h"

namespace {

const char* kEnums = R"({"EnumStore": {
    "RESOURCE": { "none": ["RESOURCE_FRAME_TIME", "RESOURCE_LARGE_IMAGE", "RESOURCE_SMALL_IMAGE",
                           "RESOURCE_DETECTOR_CLASS_ROIS", "RESOURCE_DETECTOR_PART_ROIS",
                           "RESOURCE_TRACKER_ROIS", "RESOURCE_MARKED_FACE_ROIS"] },
    "ROICATEGORY": { "none": ["ROICATEGORY_DET_person", "ROICATEGORY_DET_face", "ROICATEGORY_DET_car"] }}})";

std::shared_ptr<DatabaseJsonMem> load_json(const std::string& text) {
  auto db = std::make_shared<DatabaseJsonMem>();
  db->load_text(text);
  return db;
}

void install_enums() {
  static bool done = [] {
    install_ParamCfg(load_json(kEnums));
    return true;
  }();
  (void)done;
}

struct Head {
  const char* name;
  int cells;
  int priors;
};
// A typical SSD300: 8,732 priors.
const Head kHeads[] = {{"HEAD_0", 38, 4}, {"HEAD_1", 19, 6}, {"HEAD_2", 10, 6},
                       {"HEAD_3", 5, 6},  {"HEAD_4", 3, 4},  {"HEAD_5", 1, 4}};
constexpr int kClasses = 3;

std::string head_json(const Head& h) {
  std::string widths, heights;
  for (int p = 0; p < h.priors; ++p) {
    float s = (1.0f + p) / (h.cells + 2.0f);
    widths += (p ? ", " : "") + std::to_string(s * (p % 2 ? 1.4f : 0.7f));
    heights += (p ? ", " : "") + std::to_string(s * (p % 2 ? 0.7f : 1.4f));
  }
  return "\"" + std::string(h.name) + "\": {\"fmapWidth\": " + std::to_string(h.cells) +
         ", \"fmapHeight\": " + std::to_string(h.cells) + ", \"numPriors\": [" + std::to_string(h.priors) +
         "], \"boxShared\": [1], \"encodeByCenterSize\": [1], \"numClasses\": [3], "
         "\"vars\": [0.1, 0.1, 0.2, 0.2], \"priorBoxWidthss\": [" +
         widths + "], \"priorBoxHeightss\": [" + heights +
         "], \"targetLabels\": [0, 1, 2], \"confThresholds\": [0.5, 0.5, 0.5]}";
}

// One quantised 16-bit tensor [1, cells, cells, channels] in platform memory, cells padded to 16 bytes.
struct Tensor {
  Tensor(int cells, int channels, float scale, unsigned long long id) {
    int stride = (channels + 7) / 8 * 8;
    mem = std::make_shared<MmzMemory>(cells * cells * stride * 2);
    auto info = std::make_shared<KAVO_MODEL_BLOB_INFO_S>();
    info->enBlobType = MI_IPU_FORMAT_INT16;
    info->u32ShapeVec = {1, static_cast<uint32_t>(cells), static_cast<uint32_t>(cells),
                         static_cast<uint32_t>(channels)};
    info->u32StrideBytes = stride * 2;
    info->u32AlignedBufSize = mem->capacity();
    info->fScalar = scale;
    info->pVirAddr = mem->data();
    info->u64PhyAddr = mem->phy_addr();
    blob = std::make_shared<BlobSSCInt16>(info, id, "bench");
    count = cells * cells * stride;
  }
  short* data() { return reinterpret_cast<short*>(mem->data()); }
  std::shared_ptr<MmzMemory> mem;
  std::shared_ptr<BlobSSCInt16> blob;
  int count = 0;
};

// The SSD handler with its tensors: confidences 1/4096 per step (threshold 0.5 is q > 2048), about
// `passRate` of the prior-class pairs above the threshold, location offsets within +-0.5.
struct Ssd {
  explicit Ssd(double passRate) {
    MiSysInit();
    install_enums();
    std::string cfg = "{";
    std::unordered_map<std::string, unsigned long long> name2Type;
    std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>> info;
    std::mt19937 rng(7);
    tensors.reserve(12);
    std::uniform_int_distribution<int> low(-4096, 1800), high(2100, 4095), off(-500, 500);
    std::bernoulli_distribution pass(passRate);
    for (int i = 0; i < 6; ++i) {
      const Head& h = kHeads[i];
      cfg += head_json(h) + ", ";
      unsigned long long type = 1ULL << i, confId = 1ULL << (10 + 2 * i), locId = confId << 1;
      name2Type[h.name] = type;
      info[type] = {confId, locId};
      tensors.emplace_back(h.cells, h.priors * (kClasses + 1), 1.0f / 4096, confId);
      Tensor& conf = tensors.back();
      for (int k = 0; k < conf.count; ++k)
        conf.data()[k] = static_cast<short>(pass(rng) ? high(rng) : low(rng));
      inout[confId] = conf.blob;
      tensors.emplace_back(h.cells, h.priors * 4, 1.0f / 1000, locId);
      Tensor& loc = tensors.back();
      for (int k = 0; k < loc.count; ++k) loc.data()[k] = static_cast<short>(off(rng));
      inout[locId] = loc.blob;
    }
    cfg += R"("MapLabel2Category": {"0": "person", "1": "face", "2": "car"},
        "NmsParameter": {"maxRoisPerCls": [100, 100, 100], "nmsThresholds": [0.45, 0.45, 0.45],
        "sizeThresholds": [0, 0, 0], "useVoting": [0, 0, 0], "votThreshold": [0, 0, 0]}})";
    handler = std::make_unique<DetectorHandler>(load_json(cfg), name2Type, info);
  }
  std::vector<Tensor> tensors;
  MapResId2ResBasePtr inout;
  std::unique_ptr<DetectorHandler> handler;
};

// 2,000 boxes of one label, sides uniform in [0.02, 0.25], distinct scores.
struct RandomBoxes {
  RandomBoxes() {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> size(0.02f, 0.25f), unit(0.0f, 1.0f);
    for (int i = 0; i < 2000; ++i) {
      float w = size(rng), h = size(rng);
      float x = unit(rng) * (1 - w), y = unit(rng) * (1 - h);
      ScoredBBox<float> sb;
      sb.score = 0.001f + unit(rng);
      sb.box = BoundBox<float>(x, y, x + w, y + h);
      boxes.push_back(sb);
      rects.emplace_back(sb.box.xmin(), sb.box.ymin(), sb.box.width(), sb.box.height());
      scores.push_back(sb.score);
    }
  }
  std::vector<ScoredBBox<float>> boxes;
  std::vector<cv::Rect2d> rects;
  std::vector<float> scores;
};

void BM_NmsOutput2000(benchmark::State& state) {
  install_enums();
  std::string cfg = "{" + head_json({"HEAD_0", 1, 1}) + R"(, "MapLabel2Category": {"0": "person", "1": "face",
      "2": "car"}, "NmsParameter": {"maxRoisPerCls": [100000, 1, 1], "nmsThresholds": [0.45, 0.45, 0.45],
      "sizeThresholds": [0, 0, 0], "useVoting": [0, 0, 0], "votThreshold": [0, 0, 0]}})";
  DetectorHandler handler(load_json(cfg), {{"HEAD_0", 1}}, {{1, {2, 4}}});
  RandomBoxes input;
  MapLabel2ScoredBoxes props = {{0, input.boxes}};
  size_t kept = 0;
  for (auto _ : state) {
    auto out = handler.nms_output(props);
    kept = out.begin()->second.size();
    benchmark::DoNotOptimize(out);
  }
  state.counters["kept"] = static_cast<double>(kept);
  state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_NmsOutput2000)->Unit(benchmark::kMicrosecond);

void BM_OpenCvNmsBoxes2000(benchmark::State& state) {
  RandomBoxes input;
  std::vector<int> indices;
  for (auto _ : state) {
    cv::dnn::NMSBoxes(input.rects, input.scores, 0.0f, 0.45f, indices);
    benchmark::DoNotOptimize(indices.data());
  }
  state.counters["kept"] = static_cast<double>(indices.size());
  state.SetItemsProcessed(state.iterations() * 2000);
}
BENCHMARK(BM_OpenCvNmsBoxes2000)->Unit(benchmark::kMicrosecond);

// Per frame: proposals over the six heads (8,732 priors x 3 classes), then NMS. The argument is the
// share of prior-class pairs above the threshold, in 1/10000.
void BM_SsdProposalsNms(benchmark::State& state) {
  Ssd ssd(state.range(0) / 10000.0);
  size_t proposals = 0, kept = 0;
  for (auto _ : state) {
    auto props = ssd.handler->proposals(ssd.inout);
    auto out = ssd.handler->nms_output(props);
    proposals = 0;
    for (const auto& item : props) proposals += item.second.size();
    kept = 0;
    for (const auto& item : out) kept += item.second.size();
    benchmark::DoNotOptimize(out);
  }
  state.counters["proposals"] = static_cast<double>(proposals);
  state.counters["kept"] = static_cast<double>(kept);
}
BENCHMARK(BM_SsdProposalsNms)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

void BM_SsdProposals(benchmark::State& state) {
  Ssd ssd(state.range(0) / 10000.0);
  for (auto _ : state) {
    auto props = ssd.handler->proposals(ssd.inout);
    benchmark::DoNotOptimize(props);
  }
}
BENCHMARK(BM_SsdProposals)->Arg(10)->Arg(100)->Unit(benchmark::kMicrosecond);

}  // namespace
