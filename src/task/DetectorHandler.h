// Detector post-processing: turns the quantised confidence and location tensors of single-shot
// detector heads into per-category lists of scored boxes. `proposals` decodes every prior whose class
// confidence passes its threshold (compared in the quantised domain), `nms_output` suppresses
// overlapping boxes per label (optionally merging them by score-weighted voting) and keys the result
// by ROI category, and `convert` chains both and clips the boxes into a region of the frame.
// Quantised values mean real = (q - zero point) x scale, for scores and locations alike.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "frss/ResourceBase.h"
#include "util/BoundBox.h"

class ParamCfg;

// One detector head: feature-map size, prior groups (priors per cell, sizes, encoding, classes,
// labels, confidence thresholds) and the four variances. Keys are read relative to the head's view:
// "fmapWidth", "fmapHeight", "numPriors", "boxShared", "encodeByCenterSize", "numClasses", "vars" and,
// one key per group taken in ascending string order of the key names, "priorBoxWidthss<N>",
// "priorBoxHeightss<N>", "targetLabels<N>", "confThresholds<N>".
// Immutable after construction (but for a counter of skipped proposals); thread-safe.
class DetArg {
 public:
  // Reads and checks the head configuration; any inconsistency, and any prior size or variance that
  // is negative or not finite, is fatal.
  DetArg(const std::string& name, const std::shared_ptr<const ParamCfg>& cfg);

  // The prior box of one cell, clipped to [0, 1].
  BoundBox<float> get_anchor(int row, int col, int group, int prior) const;
  // Decodes one location vector of `locNum` values (must be 4, fatal otherwise) against its prior,
  // by centre and size or by corner offsets as the group says; the result is clipped to [0, 1].
  // Offsets that cannot form a box (corner offsets that invert it, values that are not finite) are
  // data, not a fault: a rate-limited WARNING is logged and the zero box is returned.
  BoundBox<float> decode_box(int row, int col, int group, int prior, const float* loc, int locNum) const;
  // The same as decode_box, telling whether the offsets formed a box; on false `box` is unchanged.
  bool try_decode_box(int row, int col, int group, int prior, const float* loc, BoundBox<float>* box) const;
  // Number of proposals skipped so far for offsets that formed no box.
  unsigned long long skipped() const { return skipped_.load(); }

  const std::string& name() const { return name_; }
  const std::vector<int>& numPriors() const { return numPriors_; }
  const std::vector<bool>& boxShared() const { return boxShared_; }
  const std::vector<bool>& encodeByCenterSize() const { return encodeByCenterSize_; }
  const std::vector<int>& numClasses() const { return numClasses_; }
  const std::vector<std::vector<int>>& targetLabels() const { return targetLabels_; }
  const std::vector<std::vector<float>>& confThresholds() const { return confThresholds_; }
  int fmapWidth() const { return fmapWidth_; }
  int fmapHeight() const { return fmapHeight_; }
  const std::vector<float>& vars() const { return vars_; }
  const std::vector<std::vector<float>>& priorBoxWidthss() const { return priorBoxWidthss_; }
  const std::vector<std::vector<float>>& priorBoxHeightss() const { return priorBoxHeightss_; }
  // [1, fmapHeight, fmapWidth, L]: L location channels, 4 per prior (shared) or per prior and class.
  const std::vector<int>& locShapeRequired() const { return locShapeRequired_; }
  // [1, fmapHeight, fmapWidth, C]: C confidence channels, numClasses + 1 per prior (0 = background).
  const std::vector<int>& confShapeRequired() const { return confShapeRequired_; }
  int groupCount() const { return groupCount_; }

 private:
  std::string name_;
  std::vector<int> numPriors_;
  std::vector<bool> boxShared_;
  std::vector<bool> encodeByCenterSize_;
  std::vector<int> numClasses_;
  std::vector<std::vector<int>> targetLabels_;
  std::vector<std::vector<float>> confThresholds_;
  int fmapWidth_ = 0;
  int fmapHeight_ = 0;
  std::vector<float> vars_;
  std::vector<std::vector<float>> priorBoxWidthss_;
  std::vector<std::vector<float>> priorBoxHeightss_;
  std::vector<int> locShapeRequired_;
  std::vector<int> confShapeRequired_;
  int groupCount_ = 0;
  // Proposals skipped for bad offsets; the WARNING is logged for the first and every 1000th.
  mutable std::atomic<unsigned long long> skipped_{0};
};

// Per-label suppression parameters, every list indexed by label. With `single` one set of scalars
// ("maxRoisPerCls", "nmsThreshold", "sizeThreshold", "useVoting", "votThreshold") is replicated over
// "numClass" labels; otherwise the lists "maxRoisPerCls", "nmsThresholds", "sizeThresholds",
// "useVoting", "votThreshold" are read. Lists of different lengths are fatal.
// Immutable after construction; thread-safe.
class NmsArg {
 public:
  NmsArg(const std::shared_ptr<const ParamCfg>& cfg, bool single);

  const std::vector<int>& maxRoisPerCls() const { return maxRoisPerCls_; }
  const std::vector<float>& nmsThresholds() const { return nmsThresholds_; }
  const std::vector<float>& sizeThresholds() const { return sizeThresholds_; }
  const std::vector<bool>& useVoting() const { return useVoting_; }
  const std::vector<float>& votThreshold() const { return votThreshold_; }

 private:
  std::vector<int> maxRoisPerCls_;
  std::vector<float> nmsThresholds_;
  std::vector<float> sizeThresholds_;
  std::vector<bool> useVoting_;
  std::vector<float> votThreshold_;
};

using MapLabel2ScoredBoxes = std::unordered_map<int, std::vector<ScoredBBox<float>>>;
using MapCategory2ScoredBoxes = std::unordered_map<unsigned long long, std::vector<ScoredBBox<float>>>;

// The driver: detector heads by detector type, label -> ROI category map, suppression parameters
// and, per detector type, the identifiers of its confidence and location tensors.
// Configuration: "MapLabel2Category/<label>" (one category string each, resolved as
// "ROICATEGORY_DET_" + string in enum type "ROICATEGORY", zone "none"), one top-level key per head
// (recognised by its "numClasses" list) and "NmsParameter/...". Labels must be exactly 0 .. N-1 over
// all heads, with N entries in every suppression list.
// Not thread-safe; one owner at a time (the detector task's thread). Holds no lock.
class DetectorHandler {
 public:
  // `mapName2DetType`: every head name the application knows, with its detector type.
  // `mapDetInfo`: per detector type, (confidence resource id, location resource id).
  // Configuration errors are fatal.
  DetectorHandler(const std::shared_ptr<const ParamCfg>& cfg,
                  const std::unordered_map<std::string, unsigned long long>& mapName2DetType,
                  const std::unordered_map<unsigned long long,
                                           std::pair<unsigned long long, unsigned long long>>& mapDetInfo);

  // Every decoded box whose class confidence passes its threshold, by label; within a label in the
  // order group, class, row, column, prior. The tensors are taken from `inout` by identifier and must
  // be 16-bit IPU tensors (BlobSSCInt16) of the heads' required shapes (fatal otherwise). A proposal
  // whose offsets cannot form a box is skipped with a rate-limited WARNING.
  MapLabel2ScoredBoxes proposals(const MapResId2ResBasePtr& inout);
  // Suppression per label (see the class comment of NmsArg), keyed by ROI category; several labels
  // mapped to one category append to the same list. A label without a category is fatal.
  MapCategory2ScoredBoxes nms_output(const MapLabel2ScoredBoxes& props);
  // proposals, then nms_output, then every box clipped into `roi`; every configured category that
  // received no box is present with an empty list.
  MapCategory2ScoredBoxes convert(const MapResId2ResBasePtr& inout, const BoundBox<float>& roi);

  const std::unordered_map<int, unsigned long long>& mapLabel2Category() const { return mapLabel2Category_; }
  const std::unordered_map<unsigned long long, std::shared_ptr<DetArg>>& mapDetType2Args() const {
    return mapDetType2Args_;
  }
  const std::shared_ptr<NmsArg>& nmsArg() const { return nmsArg_; }

 private:
  std::unordered_map<int, unsigned long long> mapLabel2Category_;
  std::unordered_map<unsigned long long, std::shared_ptr<DetArg>> mapDetType2Args_;
  std::shared_ptr<NmsArg> nmsArg_;
  std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>> mapDetInfo_;
};
