#include "util/ResourceImage.h"

#include <cmath>
#include <map>
#include <sstream>

#include "kbase/Database.h"

ResourceImage::ResourceImage(unsigned long long id, const std::string& name, const std::string& zone,
                             const std::shared_ptr<ImageBase>& image)
    : ResourceBase(id, name, zone), image_(image) {}

ResourceImage::~ResourceImage() = default;

void ResourceImage::clean_content() {}

FrameDetail::FrameDetail(long long frameId, int width, int height)
    : frameId(frameId), width(width), height(height), ratio(match_resolution(width, height)) {}

FrameDetail::ResolutionRatio FrameDetail::match_resolution(int width, int height) {
  struct Entry {
    float ratio;
    ResolutionRatio value;
  };
  static const Entry kTable[] = {
      {16.f / 9.f, RATIO_16_TO_9}, {4.f / 3.f, RATIO_4_TO_3}, {9.f / 16.f, RATIO_9_TO_16},
      {3.f / 4.f, RATIO_3_TO_4},   {1.f, RATIO_1_TO_1},
  };
  const float ratio = static_cast<float>(width) / std::max(static_cast<float>(height), 0.000001f);
  for (const Entry& entry : kTable) {
    if (std::fabs(entry.ratio - ratio) < 0.01f) return entry.value;
  }
  return RATIO_UNKNOWN;
}

const std::string& FrameDetail::ratio_name(ResolutionRatio ratio) {
  static const std::map<ResolutionRatio, std::string> kNames = {
      {RATIO_UNKNOWN, "RATIO_UNKNOWN"}, {RATIO_16_TO_9, "RATIO_16_TO_9"}, {RATIO_9_TO_16, "RATIO_9_TO_16"},
      {RATIO_4_TO_3, "RATIO_4_TO_3"},   {RATIO_3_TO_4, "RATIO_3_TO_4"},   {RATIO_1_TO_1, "RATIO_1_TO_1"},
  };
  auto it = kNames.find(ratio);
  return it == kNames.end() ? kNames.at(RATIO_UNKNOWN) : it->second;
}

std::string FrameDetail::toString() const {
  std::ostringstream out;
  out << "FrameDetail: frameId=" << frameId << ", width/height=" << width << "/" << height
      << ", ratio=" << ratio_name(ratio) << ", " << box.print(false);
  return out.str();
}

std::shared_ptr<FrameDetailDict> singleton_FrameDetailDict() {
  static const std::shared_ptr<FrameDetailDict> dict = [] {
    std::shared_ptr<const ParamCfg> cfg = singleton_ParamCfg();
    const int memCntPreallocatedByLib = cfg->select_single<int>("memCntPreallocatedByLib_Global", true, 0);
    const int capacity = cfg->select_single<int>("ImageDetailDict/capacity", true, 0);
    CHECK(capacity >= memCntPreallocatedByLib)
        << "ImageDetailDict/capacity " << capacity << " < memCntPreallocatedByLib_Global "
        << memCntPreallocatedByLib;
    return std::make_shared<FrameDetailDict>(static_cast<size_t>(std::max(capacity, 1)));
  }();
  return dict;
}
