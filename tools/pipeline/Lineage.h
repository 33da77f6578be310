// The pipeline's record of every frame it received: when it arrived and when each stage was done
// with it, which faces it held, and why a frame never reached the output. At the end it reports
// frames received, processed and dropped by reason, per-stage latency (p50, p99, max) and
// throughput, as text and as JSON.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "util/BoundBox.h"

// One face of a frame as the tracker saw it.
struct FaceRecord {
  unsigned int track = 0;
  bool confirmed = false;
  float score = 0;
  BoundBox<float> box;
};

// Thread-safe: every stage records into it from its own thread.
class Lineage {
 public:
  enum Stage { kArrival, kDetect, kCrop, kTrack, kOutput, kStageCount };
  // Why a received frame did not reach the output.
  enum Drop { kNone, kLate, kEvicted, kStageDropCount };

  Lineage();

  // Milliseconds since the lineage began.
  double now_ms() const;
  // A frame the reader delivered: its sequence number from the sender (-1 when unknown) and the
  // time from sending to arrival in milliseconds (negative when unknown).
  void arrived(long long frameId, long long seq, double transportMs);
  void stamp(long long frameId, Stage stage);
  void faces(long long frameId, std::vector<FaceRecord> faces);
  // Frames (after, before) exclusive that `stage` passed over for a newer one: late.
  void skipped(long long after, long long before);
  // A frame that left the store: evicted, unless a stage had finished or passed it over.
  void left_store(long long frameId);
  // The time one network step took, queue wait included.
  void step_ms(const std::string& network, double ms);

  // Counts that come from outside the lineage, by name ("lost", "malformed", ...), in report order.
  using Counts = std::vector<std::pair<std::string, unsigned long long>>;
  // The text report and the JSON document (every frame's lineage included).
  std::string report(const Counts& readerDrops) const;
  std::string json(const Counts& readerDrops, const std::string& config) const;

  // Frames received so far, and processed (stamped by the output).
  long long received() const;
  long long processed() const;
  // True when every frame received so far was processed or dropped.
  bool settled() const;
  // Sequence numbers the sender used that never arrived (from 0 to the highest one seen).
  long long seq_gaps() const;

 private:
  struct Frame {
    long long seq = -1;
    double transportMs = -1;
    double at[kStageCount] = {-1, -1, -1, -1, -1};
    Drop drop = kNone;
    std::vector<FaceRecord> faces;
  };
  struct Summary {
    long long received = 0, processed = 0, unfinished = 0;
    long long drops[kStageDropCount] = {0, 0, 0};
    double seconds = 0;
    std::map<std::string, std::vector<double>> latencies;  // name -> milliseconds, sorted
  };
  Summary summarise_nolock() const;

  const std::chrono::steady_clock::time_point start_;
  mutable std::mutex mutex_;  // guards frames_ and steps_
  std::map<long long, Frame> frames_;
  std::map<std::string, std::vector<double>> steps_;
};
