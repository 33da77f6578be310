#include "task/DetectorHandler.h"

#include <glog/logging.h>

#include <algorithm>
#include <boost/regex.hpp>
#include <cmath>
#include <limits>
#include <set>

#include "base/EnumStore.h"
#include "base/ParamCfg.h"
#include "util/BlobHisi.h"

namespace {

// The quantised threshold of a confidence threshold: the 16-bit wrap of trunc(thr / scale) + zero
// point, so that q > threshold in the quantised domain means (q - zero point) x scale > thr.
int quantised_threshold(float thr, float scale, long long zeroPoint) {
  long long t = blobssc::trunc_to_i64(thr / scale);
  return blobssc::low16(static_cast<unsigned long long>(t) + static_cast<unsigned long long>(zeroPoint));
}

inline float dequantise(int q, long long zeroPoint, float scale) {
  return blobssc::dequantise(q, zeroPoint, scale);
}

// One 16-bit output tensor of a head as read in place: cells in raster order, cellStride values
// apart, with the quantisation of its descriptor.
struct QuantTensorView {
  const short* data;
  int cellStride;
  float scale;
  long long zeroPoint;
};

// Decodes every passing prior of one head into `out` (order group, class, row, column, prior).
void decode_head(const DetArg& arg, int H, int W, const QuantTensorView& conf, const QuantTensorView& loc,
                 MapLabel2ScoredBoxes* out) {
  int confOffset = 0;
  int locOffset = 0;
  for (int g = 0; g < arg.groupCount(); ++g) {
    const int P = arg.numPriors()[g];
    const int K = arg.numClasses()[g];
    const bool shared = arg.boxShared()[g];
    const int locPerPrior = shared ? 4 : K * 4;
    for (int c = 0; c < K; ++c) {
      const int label = arg.targetLabels()[g][c];
      const int qthr = quantised_threshold(arg.confThresholds()[g][c], conf.scale, conf.zeroPoint);
      std::vector<ScoredBBox<float>>* list = nullptr;
      const int locClass = shared ? 0 : c * 4;
      for (int row = 0; row < H; ++row) {
        for (int col = 0; col < W; ++col) {
          const long long cell = static_cast<long long>(row) * W + col;
          const short* confCell = conf.data + cell * conf.cellStride + confOffset + c + 1;
          for (int p = 0; p < P; ++p) {
            const int q = confCell[p * (K + 1)];
            if (q <= qthr) continue;
            const short* l = loc.data + cell * loc.cellStride + locOffset + p * locPerPrior + locClass;
            float values[4];
            for (int i = 0; i < 4; ++i) values[i] = dequantise(l[i], loc.zeroPoint, loc.scale);
            ScoredBBox<float> sb;
            sb.score = dequantise(q, conf.zeroPoint, conf.scale);
            if (!arg.try_decode_box(row, col, g, p, values, &sb.box)) continue;
            if (list == nullptr) list = &(*out)[label];
            list->push_back(sb);
          }
        }
      }
    }
    confOffset += P * (K + 1);
    locOffset += P * locPerPrior;
  }
}

// Orders boxes by score, highest first; a NaN score counts as the lowest so that the ordering stays
// a strict weak one.
std::vector<int> sort_by_score(const std::vector<ScoredBBox<float>>& boxes) {
  std::vector<std::pair<float, int>> keyed(boxes.size());
  for (size_t i = 0; i < boxes.size(); ++i) {
    float s = boxes[i].score;
    keyed[i] = {s == s ? s : -std::numeric_limits<float>::infinity(), static_cast<int>(i)};
  }
  std::sort(keyed.begin(), keyed.end(),
            [](const std::pair<float, int>& a, const std::pair<float, int>& b) { return a.first > b.first; });
  std::vector<int> order(boxes.size());
  for (size_t i = 0; i < keyed.size(); ++i) order[i] = keyed[i].second;
  return order;
}

// Greedy suppression: a box is dropped when its IoU with a kept box is greater than thr. Returns the
// kept indices in `order` order.
//
// IoU of two boxes that do not overlap is exactly 0, which never exceeds a threshold of 0 or more, so
// the exact IoU is only computed for kept boxes that overlap the candidate. The overlap test runs over
// the kept corners laid out as arrays, a block at a time, so that the compiler can vectorise it.
std::vector<int> suppress(const std::vector<ScoredBBox<float>>& boxes, const std::vector<int>& order,
                          float thr) {
  constexpr int kBlock = 64;
  const size_t n = order.size();
  std::vector<int> kept;
  kept.reserve(n);
  if (thr < 0) {
    // Every IoU is at least 0: the first box suppresses all others.
    if (n > 0) kept.push_back(order[0]);
    return kept;
  }
  std::vector<float> kx1(n), ky1(n), kx2(n), ky2(n);
  size_t nk = 0;
  for (int idx : order) {
    const BoundBox<float>& c = boxes[idx].box;
    const float cx1 = c.xmin(), cy1 = c.ymin(), cx2 = c.xmax(), cy2 = c.ymax();
    bool keep = true;
    for (size_t start = 0; start < nk && keep; start += kBlock) {
      const size_t m = std::min<size_t>(kBlock, nk - start);
      const float* x1 = kx1.data() + start;
      const float* y1 = ky1.data() + start;
      const float* x2 = kx2.data() + start;
      const float* y2 = ky2.data() + start;
      unsigned char hit[kBlock];
      int any = 0;
      for (size_t j = 0; j < m; ++j) {
        float iw = std::min(cx2, x2[j]) - std::max(cx1, x1[j]);
        float ih = std::min(cy2, y2[j]) - std::max(cy1, y1[j]);
        hit[j] = static_cast<unsigned char>((iw > 0.0f) & (ih > 0.0f));
        any |= hit[j];
      }
      if (!any) continue;
      for (size_t j = 0; j < m; ++j) {
        if (hit[j] && boxes[kept[start + j]].box.compute_iou(c) > thr) {
          keep = false;
          break;
        }
      }
    }
    if (!keep) continue;
    kx1[nk] = cx1;
    ky1[nk] = cy1;
    kx2[nk] = cx2;
    ky2[nk] = cy2;
    ++nk;
    kept.push_back(idx);
  }
  return kept;
}

// One voting cluster's box: the head's score, corners averaged with the members' scores as weights.
ScoredBBox<float> merge_cluster(const std::vector<ScoredBBox<float>>& scoredBoxVec) {
  CHECK(scoredBoxVec.size());
  float sum = 0, sx1 = 0, sy1 = 0, sx2 = 0, sy2 = 0;
  for (const ScoredBBox<float>& sb : scoredBoxVec) {
    sum += sb.score;
    sx1 += sb.score * sb.box.xmin();
    sy1 += sb.score * sb.box.ymin();
    sx2 += sb.score * sb.box.xmax();
    sy2 += sb.score * sb.box.ymax();
  }
  const float denom = std::max(sum, 1e-6f);
  const float x1 = sx1 / denom, y1 = sy1 / denom, x2 = sx2 / denom, y2 = sy2 / denom;
  ScoredBBox<float> result;
  result.score = scoredBoxVec[0].score;
  // Non-negative weights keep the means ordered; negative scores (possible with a negative threshold)
  // can invert them, and then the head's own box stands for the cluster.
  if (x1 <= x2 && y1 <= y2) {
    result.box = BoundBox<float>(x1, y1, x2, y2);
  } else {
    LOG_EVERY_T(WARNING, 1.0) << "voting cluster with non-positive scores, keeping its head box";
    result.box = scoredBoxVec[0].box;
  }
  return result;
}

// Clusters in sorted order: a box joins the first cluster whose head overlaps it by more than vot;
// failing that, it is discarded by the first head overlapping it by more than nms; else it starts a
// new cluster.
std::vector<ScoredBBox<float>> vote(const std::vector<ScoredBBox<float>>& boxes,
                                    const std::vector<int>& order, float nms, float vot) {
  std::vector<std::vector<ScoredBBox<float>>> clusters;
  for (int idx : order) {
    const ScoredBBox<float>& sb = boxes[idx];
    bool placed = false;
    for (auto& cluster : clusters) {
      float iou = sb.box.compute_iou(cluster[0].box);
      if (iou > vot) {
        cluster.push_back(sb);
        placed = true;
        break;
      }
      if (iou > nms) {
        placed = true;
        break;
      }
    }
    if (!placed) clusters.push_back({sb});
  }
  std::vector<ScoredBBox<float>> result;
  result.reserve(clusters.size());
  for (const auto& cluster : clusters) result.push_back(merge_cluster(cluster));
  return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------------
// DetArg

DetArg::DetArg(const std::string& name, const std::shared_ptr<const ParamCfg>& cfg) : name_(name) {
  LOG(INFO) << "DetArg ctor for " << name;
  fmapWidth_ = cfg->select_single<int>("fmapWidth", true, 0);
  fmapHeight_ = cfg->select_single<int>("fmapHeight", true, 0);
  numPriors_ = cfg->select_multi<int>("numPriors", true, {});
  boxShared_ = cfg->select_multi<bool>("boxShared", true, {});
  encodeByCenterSize_ = cfg->select_multi<bool>("encodeByCenterSize", true, {});
  numClasses_ = cfg->select_multi<int>("numClasses", true, {});
  vars_ = cfg->select_multi<float>("vars", true, {});

  std::vector<std::string> keys = cfg->subkeys("", true);
  std::sort(keys.begin(), keys.end());
  const boost::regex widths("^priorBoxWidthss\\d*$");
  const boost::regex heights("^priorBoxHeightss\\d*$");
  const boost::regex labels("^targetLabels\\d*$");
  const boost::regex thresholds("^confThresholds\\d*$");
  for (const std::string& key : keys) {
    if (!boost::regex_match(key, widths)) continue;
    LOG(INFO) << key;
    priorBoxWidthss_.push_back(cfg->select_multi<float>(key, true, {}));
  }
  for (const std::string& key : keys) {
    if (!boost::regex_match(key, heights)) continue;
    LOG(INFO) << key;
    priorBoxHeightss_.push_back(cfg->select_multi<float>(key, true, {}));
  }
  for (const std::string& key : keys) {
    if (!boost::regex_match(key, labels)) continue;
    LOG(INFO) << key;
    targetLabels_.push_back(cfg->select_multi<int>(key, true, {}));
  }
  for (const std::string& key : keys) {
    if (!boost::regex_match(key, thresholds)) continue;
    LOG(INFO) << key;
    confThresholds_.push_back(cfg->select_multi<float>(key, true, {}));
  }

  CHECK(numPriors_.size() == boxShared_.size()) << "for " << name_;
  CHECK(numPriors_.size() == encodeByCenterSize_.size()) << "for " << name_;
  CHECK(numPriors_.size() == numClasses_.size()) << "for " << name_;
  CHECK(numPriors_.size() == targetLabels_.size()) << "for " << name_;
  CHECK(numPriors_.size() == confThresholds_.size()) << "for " << name_;
  CHECK(numPriors_.size() == priorBoxWidthss_.size()) << "for " << name_;
  CHECK(numPriors_.size() == priorBoxHeightss_.size()) << "for " << name_;
  for (size_t i = 0; i < numPriors_.size(); ++i) {
    CHECK(numClasses_[i] == (int)targetLabels_[i].size()) << "for " << name_ << ", group " << i;
    CHECK(numClasses_[i] == (int)confThresholds_[i].size()) << "for " << name_ << ", group " << i;
  }
  for (size_t i = 0; i < numPriors_.size(); ++i) {
    CHECK(numPriors_[i] == (int)priorBoxWidthss_[i].size()) << "for " << name_ << ", group " << i;
    CHECK(numPriors_[i] == (int)priorBoxHeightss_[i].size()) << "for " << name_ << ", group " << i;
  }
  CHECK(vars_.size() == 4u) << "for " << name_;
  // A negative or non-finite prior size makes an inverted or meaningless prior box, and a negative or
  // non-finite variance scales every offset into nonsense; both come from the configuration, so they
  // stop the process here rather than at the first proposal of a running pipeline.
  for (size_t i = 0; i < numPriors_.size(); ++i) {
    for (size_t j = 0; j < priorBoxWidthss_[i].size(); ++j) {
      CHECK(std::isfinite(priorBoxWidthss_[i][j]) && priorBoxWidthss_[i][j] >= 0)
          << "for " << name_ << ", group " << i << ", prior " << j << ": " << priorBoxWidthss_[i][j];
      CHECK(std::isfinite(priorBoxHeightss_[i][j]) && priorBoxHeightss_[i][j] >= 0)
          << "for " << name_ << ", group " << i << ", prior " << j << ": " << priorBoxHeightss_[i][j];
    }
  }
  for (size_t i = 0; i < vars_.size(); ++i) {
    CHECK(std::isfinite(vars_[i]) && vars_[i] >= 0)
        << "for " << name_ << ", variance " << i << ": " << vars_[i];
  }

  int L = 0;
  int C = 0;
  for (size_t i = 0; i < numPriors_.size(); ++i) {
    L += boxShared_[i] ? numPriors_[i] * 4 : numPriors_[i] * numClasses_[i] * 4;
    C += numPriors_[i] * (numClasses_[i] + 1);
  }
  locShapeRequired_ = {1, fmapHeight_, fmapWidth_, L};
  confShapeRequired_ = {1, fmapHeight_, fmapWidth_, C};
  groupCount_ = static_cast<int>(numPriors_.size());
  LOG(INFO) << "DetArg ctor done for " << name;
}

BoundBox<float> DetArg::get_anchor(int row, int col, int group, int prior) const {
  float cx = (col + 0.5f) / fmapWidth_;
  float cy = (row + 0.5f) / fmapHeight_;
  float w = priorBoxWidthss_[group][prior];
  float h = priorBoxHeightss_[group][prior];
  return BoundBox<float>(cx - w * 0.5f, cy - h * 0.5f, w * 0.5f + cx, h * 0.5f + cy);
}

bool DetArg::try_decode_box(int row, int col, int group, int prior, const float* loc,
                            BoundBox<float>* box) const {
  const BoundBox<float> a = get_anchor(row, col, group, prior);
  const float* v = vars_.data();
  if (encodeByCenterSize_[group]) {
    float aw = a.xmax() - a.xmin();
    float ah = a.ymax() - a.ymin();
    float acx = (a.xmax() + a.xmin()) * 0.5f;
    float acy = (a.ymin() + a.ymax()) * 0.5f;
    float cx = acx + aw * loc[0] * v[0];
    float cy = acy + ah * loc[1] * v[1];
    float w = expf(loc[2] * v[2]) * aw;
    float h = expf(v[3] * loc[3]) * ah;
    // Non-negative sizes keep the box ordered; only values that are not numbers (an overflowing
    // size against a zero-sized prior, a non-finite scale) can break it.
    float x1 = cx - w * 0.5f, x2 = w * 0.5f + cx, y1 = cy - h * 0.5f, y2 = h * 0.5f + cy;
    if (!(x1 <= x2 && y1 <= y2)) {
      unsigned long long n = ++skipped_;
      LOG_IF(WARNING, n % 1000 == 1) << "skip proposal of " << name_ << " (row " << row << ", col " << col
                                     << ", group " << group << ", prior " << prior
                                     << "): centre-size offsets give no box; " << n << " skipped so far";
      return false;
    }
    box->reset({cx, cy, w, h}, false, true);
    return true;
  }
  float x1 = a.xmin() + v[0] * loc[0];
  float y1 = a.ymin() + v[1] * loc[1];
  float x2 = a.xmax() + v[2] * loc[2];
  float y2 = a.ymax() + v[3] * loc[3];
  if (!(x1 <= x2 && y1 <= y2)) {
    unsigned long long n = ++skipped_;
    LOG_IF(WARNING, n % 1000 == 1) << "skip proposal of " << name_ << " (row " << row << ", col " << col
                                   << ", group " << group << ", prior " << prior
                                   << "): corner offsets give an inverted box [" << x1 << ", " << y1 << ", "
                                   << x2 << ", " << y2 << "]; " << n << " skipped so far";
    return false;
  }
  box->reset(x1, y1, x2, y2);
  return true;
}

BoundBox<float> DetArg::decode_box(int row, int col, int group, int prior, const float* loc,
                                   int locNum) const {
  CHECK_EQ(locNum, 4);
  BoundBox<float> box;
  try_decode_box(row, col, group, prior, loc, &box);
  return box;
}

// ---------------------------------------------------------------------------------------------------------
// NmsArg

NmsArg::NmsArg(const std::shared_ptr<const ParamCfg>& cfg, bool single) {
  LOG(INFO) << "NmsArg ctor";
  if (single) {
    int numClass = cfg->select_single<int>("numClass", true, 0);
    int maxRois = cfg->select_single<int>("maxRoisPerCls", true, 0);
    float nmsThr = cfg->select_single<float>("nmsThreshold", true, 0.0f);
    float sizeThr = cfg->select_single<float>("sizeThreshold", true, 0.0f);
    bool voting = cfg->select_single<bool>("useVoting", true, false);
    float votThr = cfg->select_single<float>("votThreshold", true, 0.0f);
    for (int i = 0; i < numClass; ++i) {
      maxRoisPerCls_.push_back(maxRois);
      nmsThresholds_.push_back(nmsThr);
      sizeThresholds_.push_back(sizeThr);
      useVoting_.push_back(voting);
      votThreshold_.push_back(votThr);
    }
  } else {
    maxRoisPerCls_ = cfg->select_multi<int>("maxRoisPerCls", true, {});
    nmsThresholds_ = cfg->select_multi<float>("nmsThresholds", true, {});
    sizeThresholds_ = cfg->select_multi<float>("sizeThresholds", true, {});
    useVoting_ = cfg->select_multi<bool>("useVoting", true, {});
    votThreshold_ = cfg->select_multi<float>("votThreshold", true, {});
  }
  CHECK(maxRoisPerCls_.size() == nmsThresholds_.size());
  CHECK(maxRoisPerCls_.size() == sizeThresholds_.size());
  CHECK(maxRoisPerCls_.size() == useVoting_.size());
  CHECK(maxRoisPerCls_.size() == votThreshold_.size());
  LOG(INFO) << "NmsArg ctor done";
}

// ---------------------------------------------------------------------------------------------------------
// DetectorHandler

DetectorHandler::DetectorHandler(
    const std::shared_ptr<const ParamCfg>& cfg,
    const std::unordered_map<std::string, unsigned long long>& mapName2DetType,
    const std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>>&
        mapDetInfo)
    : mapDetInfo_(mapDetInfo) {
  std::shared_ptr<EnumBase> categories = singleton_EnumStore()->get("ROICATEGORY");
  for (const std::string& key : cfg->subkeys("MapLabel2Category", true)) {
    int label = 0;
    try {
      label = boost::lexical_cast<int>(key);
    } catch (const boost::bad_lexical_cast&) {
      LOG(FATAL) << "MapLabel2Category/" << key << ": a label must be a decimal number";
    }
    std::string value = cfg->select_single("MapLabel2Category/" + key, true, "none");
    mapLabel2Category_[label] = categories->convert("ROICATEGORY_DET_" + value, "none");
  }

  for (const std::string& K : cfg->subkeys("", true)) {
    if (cfg->select_multi_local(K + "/numClasses", true, {}).empty()) continue;
    auto it = mapName2DetType.find(K);
    CHECK(it != mapName2DetType.end()) << "cannot recognize " << K;
    auto view = std::make_shared<ParamCfg>(cfg, K + "/");
    mapDetType2Args_[it->second] = std::make_shared<DetArg>(K, view);
  }

  nmsArg_ =
      std::make_shared<NmsArg>(std::make_shared<ParamCfg>(cfg, std::string("NmsParameter") + "/"), false);

  std::set<int> labels_found;
  for (const auto& item : mapDetType2Args_) {
    for (const auto& groupLabels : item.second->targetLabels()) {
      labels_found.insert(groupLabels.begin(), groupLabels.end());
    }
  }
  // No heads at all means no labels: 0 .. -1.
  int label_min = labels_found.empty() ? 0 : *labels_found.begin();
  int label_max = labels_found.empty() ? -1 : *labels_found.rbegin();
  CHECK(label_min == 0) << "Label must defined from 0";
  CHECK((label_max + 1) == (int)labels_found.size()) << "Labels defined invalid.";
  size_t nms_labels = nmsArg_->sizeThresholds().size();
  CHECK(nms_labels == labels_found.size()) << " NMS arg length invalid.";
}

MapLabel2ScoredBoxes DetectorHandler::proposals(const MapResId2ResBasePtr& inout) {
  CHECK(not mapDetInfo_.empty());
  MapLabel2ScoredBoxes result;
  for (const auto& info : mapDetInfo_) {
    const unsigned long long detType = info.first;
    auto itConf = inout.find(info.second.first);
    auto itLoc = inout.find(info.second.second);
    CHECK(itConf != inout.end() and itLoc != inout.end());
    CHECK(mapDetType2Args_.find(detType) != mapDetType2Args_.end());
    const DetArg& arg = *mapDetType2Args_.at(detType);
    auto conf = std::dynamic_pointer_cast<BlobSSCInt16>(itConf->second);
    auto loc = std::dynamic_pointer_cast<BlobSSCInt16>(itLoc->second);
    CHECK(conf and loc);

    const std::vector<int>& loc_shape_required = arg.locShapeRequired();
    const std::vector<int>& conf_shape_required = arg.confShapeRequired();
    const std::vector<int> loc_shape_resource = loc->shape();
    const std::vector<int> conf_shape_resource = conf->shape();
    CHECK(loc_shape_required.size() == loc_shape_resource.size());
    CHECK(conf_shape_required.size() == conf_shape_resource.size());
    for (size_t i = 0; i < loc_shape_required.size(); ++i) {
      CHECK(loc_shape_required[i] == loc_shape_resource[i])
          << ", detType = " << arg.name() << ", shape_id = " << i;
    }
    for (size_t i = 0; i < conf_shape_required.size(); ++i) {
      CHECK(conf_shape_required[i] == conf_shape_resource[i])
          << ", detType = " << arg.name() << ", shape_id = " << i;
    }

    const int H = loc_shape_required[1];
    const int W = loc_shape_required[2];
    const KAVO_MODEL_BLOB_INFO_S& ci = *conf->pBlobInfo();
    const KAVO_MODEL_BLOB_INFO_S& li = *loc->pBlobInfo();
    QuantTensorView confView{static_cast<const short*>(ci.pVirAddr), static_cast<int>(ci.u32StrideBytes / 2),
                             ci.fScalar, static_cast<long long>(ci.s64ZeroPoint)};
    QuantTensorView locView{static_cast<const short*>(li.pVirAddr), static_cast<int>(li.u32StrideBytes / 2),
                            li.fScalar, static_cast<long long>(li.s64ZeroPoint)};
    decode_head(arg, H, W, confView, locView, &result);
  }
  return result;
}

MapCategory2ScoredBoxes DetectorHandler::nms_output(const MapLabel2ScoredBoxes& props) {
  MapCategory2ScoredBoxes result;
  const std::unordered_map<int, unsigned long long>& store = mapLabel2Category_;
  for (const auto& item : props) {
    const int label = item.first;
    auto it = store.find(label);
    if (it == store.end()) {
      std::string mappings;
      auto categories = singleton_EnumStore()->get("ROICATEGORY");
      for (const auto& m : store) {
        mappings +=
            "label: " + std::to_string(m.first) + " --> " + categories->convert(m.second, "none") + "\n";
      }
      CHECK(it != store.end()) << mappings << "\nlabel = " << label;
    }
    const std::vector<ScoredBBox<float>>& boxes = item.second;
    CHECK(label >= 0 && label < (int)nmsArg_->sizeThresholds().size())
        << "no NMS parameters for label " << label;
    const std::vector<int> order = sort_by_score(boxes);
    const float nmsThr = nmsArg_->nmsThresholds()[label];
    std::vector<ScoredBBox<float>> selected;
    if (!nmsArg_->useVoting()[label]) {
      std::vector<int> kept = suppress(boxes, order, nmsThr);
      selected.reserve(kept.size());
      for (int idx : kept) selected.push_back(boxes[idx]);
    } else {
      selected = vote(boxes, order, nmsThr, nmsArg_->votThreshold()[label]);
    }

    const float sizeThr = nmsArg_->sizeThresholds()[label];
    const int cap = nmsArg_->maxRoisPerCls()[label];
    std::vector<ScoredBBox<float>>* out = nullptr;
    int appended = 0;
    for (const ScoredBBox<float>& sb : selected) {
      const BoundBox<float>& b = sb.box;
      if (!((b.xmax() - b.xmin()) * (b.ymax() - b.ymin()) >= sizeThr)) continue;
      if (out == nullptr) out = &result[it->second];
      out->push_back(sb);
      if (++appended >= cap) break;
    }
  }
  return result;
}

MapCategory2ScoredBoxes DetectorHandler::convert(const MapResId2ResBasePtr& inout,
                                                 const BoundBox<float>& roi) {
  MapCategory2ScoredBoxes result = nms_output(proposals(inout));
  for (auto& item : result) {
    for (ScoredBBox<float>& sb : item.second) sb.box.clip(roi);
  }
  for (const auto& item : mapLabel2Category_) result[item.second];
  return result;
}
