// The stages of kavo_pipeline, each a loop on its own thread that binds the newest frame it has not
// seen to its inputs and outputs in the global store, does its work and publishes:
//   source   (reader)             -> FRAME_TIME, LARGE_IMAGE, SMALL_IMAGE
//   detect   SMALL_IMAGE           -> DETECTOR_CLASS_ROIS  (face network, high priority)
//   crop     LARGE_IMAGE           -> DETECTOR_PART_ROIS   (same core, lower priority, centre crop)
//   track    DETECTOR_CLASS_ROIS   -> TRACKER_ROIS, FACE_TRACKS
//   output   LARGE_IMAGE, FRAME_TIME, TRACKER_ROIS, FACE_TRACKS -> annotated JPEGs
// A stage learns of new frames from the dependency monitor, which every stage updates after it
// publishes.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Lineage.h"
#include "frss/ResourceBase.h"
#include "frss/ResourceDepend.h"
#include "util/BoundBox.h"

// The pipeline's own resource kind (RESOURCE_FACE_TRACKS): every face of a frame with its track.
// Not thread-safe; written by the tracker before it publishes, read after.
class FaceTracks : public ResourceBase {
 public:
  explicit FaceTracks(unsigned long long resId) : ResourceBase(resId, "RESOURCE_FACE_TRACKS", "none") {}
  void clean_content() override { faces.clear(); }
  std::vector<FaceRecord> faces;
};

// What the stages are told by configuration ("Pipeline/..." keys, see config/pipeline.json).
struct Settings {
  long long count = 0;        // frames to receive, 0 for no limit
  double waitSenderSec = 10;  // give up when no first frame arrives within this time
  double idleSec = 3;         // end when no frame arrives for this long after the first
  std::string detector;       // network of the detect stage
  bool detectWhole = false;   // the whole image padded to a square; else its centre square
  std::string cropDetector;   // network of the crop stage; empty for none
  int cropEvery = 2;          // run the crop stage on every n-th frame
  float cropSize = 0.5f;      // side of the centre square, as a fraction of the frame height
  float trackIou = 0.3f;      // a face continues the track it overlaps at least this much
  int trackConfirm = 2;       // consecutive frames that confirm a track
  int trackLost = 10;         // frames without the face after which a track ends
  int writeEvery = 15;        // write every n-th frame as a JPEG, 0 for none
  std::string outputDir = "out";
};

// Everything the stage threads share. Thread-safe.
struct Context {
  Settings settings;
  Lineage lineage;
  ResourceDepend depend;  // newest published frame of every kind the stages wait for
  // Resource kinds of the global store (zone "none").
  unsigned long long frameTime = 0, large = 0, small = 0, classRois = 0, partRois = 0, tracker = 0,
                     faceTracks = 0;
  unsigned long long faceCategory = 0;  // ROICATEGORY_DET_face

  // Announces `frameId` for `kinds`, unless the pipeline is stopping.
  void announce(long long frameId, unsigned long long kinds);
  // Blocks until a frame newer than `last` has `kind`; false once the pipeline stops.
  bool wait_newer(unsigned long long kind, long long last);
  // Wakes every waiting stage for good.
  void stop();
  bool stopping() const { return stopping_; }

 private:
  std::mutex mutex_;  // orders announcements against stop()
  std::atomic<bool> stopping_{false};
};

// Runs each network once before the first frame, so that no frame waits for their set-up.
void warm_up(const Settings& settings);

// The stage loops; each returns when the pipeline stops (the source also after settings.count
// frames).
void source_stage(Context& ctx);
void detect_stage(Context& ctx);
void crop_stage(Context& ctx);
void track_stage(Context& ctx);
void output_stage(Context& ctx);
