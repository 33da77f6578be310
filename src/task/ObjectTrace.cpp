#include "task/ObjectTrace.h"

#include <glog/logging.h>

#include <algorithm>
#include <limits>

ObjectTrace::ObjectTrace(const std::weak_ptr<ImageBase>& image, const BoundBox<float>& box, unsigned int id,
                         unsigned long long frameId, int maxLen, int confirmLen, int lostGap)
    : id_(id),
      lastFrameId_(frameId),
      maxLen_(maxLen),
      confirmLen_(confirmLen),
      lostGap_(lostGap),
      confirmed_(confirmLen == 0) {
  _boxArray.push_back(box);
  _weakedImageVec.push_back(image);
}

void ObjectTrace::append(const std::weak_ptr<ImageBase>& image, const BoundBox<float>& box,
                         unsigned long long frameId) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frameId - lastFrameId_ == 1) {
    consecutive_ += 1;
    if (consecutive_ >= confirmLen_) confirmed_ = true;
  } else {
    consecutive_ = 0;
  }
  lastFrameId_ = frameId;
  _boxArray.push_back(box);
  _weakedImageVec.push_back(image);
  const size_t limit = static_cast<size_t>(std::max(maxLen_, 0));
  if (_boxArray.size() > limit) _boxArray.erase(_boxArray.begin(), _boxArray.end() - limit);
  if (_weakedImageVec.size() > limit) {
    _weakedImageVec.erase(_weakedImageVec.begin(), _weakedImageVec.end() - limit);
  }
}

bool ObjectTrace::lost(unsigned long long frameId) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (frameId < lastFrameId_) return true;
  // The gap is sign-extended, so a negative gap wraps as the unsigned sum does.
  return frameId >= lastFrameId_ + static_cast<unsigned long long>(static_cast<long long>(lostGap_));
}

int ObjectTrace::size() {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<int>(_boxArray.size());
}

float ObjectTrace::meric(const std::function<float(const BoundBox<float>&)>& f, int n) {
  std::vector<BoundBox<float>> newest;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n > 0) {
      size_t take = std::min(_boxArray.size(), static_cast<size_t>(n));
      newest.assign(_boxArray.rbegin(), _boxArray.rbegin() + take);
    }
  }
  // f is the caller's code: run it outside the lock so that it may use this trace.
  float result = std::numeric_limits<float>::max();
  if (newest.empty()) return result;
  result = f(newest[0]);
  for (size_t i = 1; i < newest.size(); ++i) result = std::min(result, f(newest[i]));
  return result;
}

void ObjectTrace::keeplast() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (_boxArray.empty() || _weakedImageVec.empty()) return;
  _boxArray.erase(_boxArray.begin(), _boxArray.end() - 1);
  _weakedImageVec.erase(_weakedImageVec.begin(), _weakedImageVec.end() - 1);
}

std::vector<std::pair<BoundBox<float>, std::weak_ptr<ImageBase>>> ObjectTrace::getBox8ImageArray() {
  std::lock_guard<std::mutex> lock(mutex_);
  CHECK(_boxArray.size() == _weakedImageVec.size());
  std::vector<std::pair<BoundBox<float>, std::weak_ptr<ImageBase>>> result;
  result.reserve(_boxArray.size());
  for (size_t i = 0; i < _boxArray.size(); ++i) result.emplace_back(_boxArray[i], _weakedImageVec[i]);
  return result;
}

BoundBox<float> ObjectTrace::lastBox() {
  auto entries = getBox8ImageArray();
  return entries.empty() ? BoundBox<float>() : entries.back().first;
}

std::weak_ptr<ImageBase> ObjectTrace::lastImage() {
  auto entries = getBox8ImageArray();
  return entries.empty() ? std::weak_ptr<ImageBase>() : entries.back().second;
}

unsigned long long ObjectTrace::lastFrameId() {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastFrameId_;
}
