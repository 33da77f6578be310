#include "Lineage.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace {
const char* kStageNames[] = {"arrival", "detect", "crop", "track", "output"};

// The value below which a fraction q of the sorted values lie (nearest rank).
double percentile(const std::vector<double>& sorted, double q) {
  if (sorted.empty()) return 0;
  const size_t rank = static_cast<size_t>(std::ceil(q * sorted.size()));
  return sorted[std::min(sorted.size() - 1, rank == 0 ? 0 : rank - 1)];
}
}  // namespace

Lineage::Lineage() : start_(std::chrono::steady_clock::now()) {}

double Lineage::now_ms() const {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count();
}

void Lineage::arrived(long long frameId, long long seq, double transportMs) {
  const double t = now_ms();
  std::lock_guard<std::mutex> lock(mutex_);
  Frame& f = frames_[frameId];
  f.seq = seq;
  f.transportMs = transportMs;
  f.at[kArrival] = t;
}

void Lineage::stamp(long long frameId, Stage stage) {
  const double t = now_ms();
  std::lock_guard<std::mutex> lock(mutex_);
  frames_[frameId].at[stage] = t;
}

void Lineage::faces(long long frameId, std::vector<FaceRecord> faces) {
  std::lock_guard<std::mutex> lock(mutex_);
  frames_[frameId].faces = std::move(faces);
}

void Lineage::skipped(long long after, long long before) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = frames_.upper_bound(after); it != frames_.end() && it->first < before; ++it)
    if (it->second.drop == kNone) it->second.drop = kLate;
}

void Lineage::left_store(long long frameId) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = frames_.find(frameId);
  if (it != frames_.end() && it->second.drop == kNone && it->second.at[kOutput] < 0)
    it->second.drop = kEvicted;
}

void Lineage::step_ms(const std::string& network, double ms) {
  std::lock_guard<std::mutex> lock(mutex_);
  steps_[network].push_back(ms);
}

long long Lineage::received() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<long long>(frames_.size());
}

long long Lineage::processed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::count_if(frames_.begin(), frames_.end(),
                       [](const auto& f) { return f.second.at[kOutput] >= 0; });
}

bool Lineage::settled() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return std::all_of(frames_.begin(), frames_.end(),
                     [](const auto& f) { return f.second.at[kOutput] >= 0 || f.second.drop != kNone; });
}

long long Lineage::seq_gaps() const {
  std::lock_guard<std::mutex> lock(mutex_);
  long long top = -1, seen = 0;
  for (const auto& f : frames_)
    if (f.second.seq >= 0) top = std::max(top, f.second.seq), ++seen;
  return top + 1 - seen;
}

Lineage::Summary Lineage::summarise_nolock() const {
  Summary s;
  double first = -1, last = -1;
  auto add = [&s](const std::string& name, double from, double to) {
    if (from >= 0 && to >= 0) s.latencies[name].push_back(to - from);
  };
  for (const auto& entry : frames_) {
    const Frame& f = entry.second;
    ++s.received;
    if (f.at[kOutput] >= 0) {
      ++s.processed;
      if (first < 0) first = f.at[kArrival];
      last = f.at[kOutput];
    } else if (f.drop != kNone) {
      ++s.drops[f.drop];
    } else {
      ++s.unfinished;
    }
    if (f.transportMs >= 0) s.latencies["send->arrival"].push_back(f.transportMs);
    add("arrival->detect", f.at[kArrival], f.at[kDetect]);
    add("arrival->crop", f.at[kArrival], f.at[kCrop]);
    add("detect->track", f.at[kDetect], f.at[kTrack]);
    add("track->output", f.at[kTrack], f.at[kOutput]);
    add("arrival->output", f.at[kArrival], f.at[kOutput]);
  }
  for (const auto& step : steps_) s.latencies["step " + step.first] = step.second;
  for (auto& l : s.latencies) std::sort(l.second.begin(), l.second.end());
  s.seconds = last > first ? (last - first) / 1000 : 0;
  return s;
}

std::string Lineage::report(const Counts& readerDrops) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Summary s = summarise_nolock();
  char line[256];
  std::string out;
  std::snprintf(line, sizeof line,
                "frames: received %lld, processed %lld, late %lld, evicted %lld, unfinished %lld\n",
                s.received, s.processed, s.drops[kLate], s.drops[kEvicted], s.unfinished);
  out += line;
  out += "dropped before the store:";
  for (const auto& d : readerDrops) out += " " + d.first + " " + std::to_string(d.second) + ",";
  out.back() = '\n';
  std::snprintf(line, sizeof line, "throughput: %.1f frames/s over %.2f s\n",
                s.seconds > 0 ? (s.processed - 1) / s.seconds : 0.0, s.seconds);
  out += line;
  out += "latency (ms)                p50      p99      max    count\n";
  for (const auto& l : s.latencies) {
    std::snprintf(line, sizeof line, "  %-24s %7.2f  %7.2f  %7.2f  %7zu\n", l.first.c_str(),
                  percentile(l.second, 0.5), percentile(l.second, 0.99), l.second.back(), l.second.size());
    out += line;
  }
  return out;
}

std::string Lineage::json(const Counts& readerDrops, const std::string& config) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Summary s = summarise_nolock();
  nlohmann::ordered_json j;
  j["config"] = config;
  j["received"] = s.received;
  j["processed"] = s.processed;
  j["dropped"]["late"] = s.drops[kLate];
  j["dropped"]["evicted"] = s.drops[kEvicted];
  for (const auto& d : readerDrops) j["dropped"][d.first] = d.second;
  j["unfinished"] = s.unfinished;
  j["seconds"] = s.seconds;
  j["throughput"] = s.seconds > 0 ? (s.processed - 1) / s.seconds : 0.0;
  for (const auto& l : s.latencies)
    j["latencyMs"][l.first] = {{"p50", percentile(l.second, 0.5)},
                               {"p99", percentile(l.second, 0.99)},
                               {"max", l.second.back()},
                               {"count", l.second.size()}};
  j["frames"] = nlohmann::ordered_json::array();
  for (const auto& entry : frames_) {
    const Frame& f = entry.second;
    nlohmann::ordered_json jf;
    jf["id"] = entry.first;
    jf["seq"] = f.seq;
    for (int stage = 0; stage < kStageCount; ++stage)
      if (f.at[stage] >= 0) jf[kStageNames[stage]] = std::round(f.at[stage] * 1000) / 1000;
    if (f.drop != kNone) jf["dropped"] = f.drop == kLate ? "late" : "evicted";
    jf["faces"] = nlohmann::ordered_json::array();
    for (const FaceRecord& face : f.faces)
      jf["faces"].push_back({{"track", face.track},
                             {"confirmed", face.confirmed},
                             {"score", face.score},
                             {"box", {face.box.xmin(), face.box.ymin(), face.box.xmax(), face.box.ymax()}}});
    j["frames"].push_back(jf);
  }
  return j.dump(1);
}
