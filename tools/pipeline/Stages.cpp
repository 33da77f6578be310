#include "Stages.h"

#include <glog/logging.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <thread>

#include "FrameProtocol.h"
#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "nn/NetworkDetail.h"
#include "nn/NetworkWrapperBase.h"
#include "platform/Factories.h"
#include "platform/Mix.h"
#include "task/DetectorHandler.h"
#include "task/ObjectTrace.h"
#include "task/RoiResource.h"
#include "task/TaskResource.h"
#include "util/FrameReader.h"
#include "util/ProduceImage.h"

namespace {

// The (input, output) kinds of a task, as "TaskDependency/<TASK>" in the configuration lists them.
std::pair<unsigned long long, unsigned long long> task_kinds(const std::string& task) {
  return query_TaskResourceUnionGlobal(singleton_EnumStore()->get("TASK")->convert(task, "none"));
}

template <typename T>
std::shared_ptr<T> as(const MapResId2ResBasePtr& m, unsigned long long kind) {
  return std::dynamic_pointer_cast<T>(m.at(kind));
}

// The centred square of a width x height image, normalised: the whole image padded (`whole`), or
// the largest square inside it.
std::vector<float> square(int width, int height, bool whole) {
  const float side = static_cast<float>(whole ? std::max(width, height) : std::min(width, height));
  const float hx = side / width / 2, hy = side / height / 2;
  return {0.5f - hx, 0.5f - hy, 0.5f + hx, 0.5f + hy};
}

// A face detector network: fills its input tensor from a region of an image, runs one step and
// decodes the heads into faces in the image's normalised coordinates. One thread at a time.
class FaceDetector {
 public:
  explicit FaceDetector(const std::string& network)
      : name_(network),
        id_(singleton_EnumStore()->get("NETWORK")->convert(network, "none")),
        wrapper_(singleton_NetworkStore()->fetch(id_)),
        store_(get_FrameResourceStore(id_, true)) {
    const auto desc = singleton_NetworkDetail()->network_get(id_, true);
    in_ = desc->resUnionInput;
    out_ = desc->resUnionOutput;
    // The heads' tensors by their names in the model, whatever the network's resource zone.
    std::unordered_map<std::string, unsigned long long> tensor;
    for (unsigned long long r : singleton_EnumStore()->get("RESOURCE")->resolve(out_, desc->resZone))
      tensor[singleton_NetworkDetail()->blob_get(r, true, desc->resZone)->name] = r;
    handler_ = std::make_unique<DetectorHandler>(
        std::make_shared<ParamCfg>(singleton_ParamCfg(), "DetectorBlazeFace/"),
        std::unordered_map<std::string, unsigned long long>{{"HEAD_BLAZEFACE_16", 16},
                                                            {"HEAD_BLAZEFACE_8", 8}},
        std::unordered_map<unsigned long long, std::pair<unsigned long long, unsigned long long>>{
            {16, {tensor.at("conf16"), tensor.at("loc16")}}, {8, {tensor.at("conf8"), tensor.at("loc8")}}});
    faceCategory_ = singleton_EnumStore()->get("ROICATEGORY")->convert("ROICATEGORY_DET_face", "none");
  }

  const std::string& name() const { return name_; }

  // One step on a blank input under a frame id no reader hands out: a network's first step sets
  // up its layers and takes several times as long as the steps after it.
  void warm_up() {
    constexpr long long kBlank = -2;
    MapResId2ResBasePtr tensors = store_->tobe_written(kBlank, in_ | out_, true, 1);
    wrapper_->step(pick(tensors, in_), pick(tensors, out_));
    tensors.clear();
    store_->have_written(kBlank, in_ | out_);
  }

  // Faces in `roi` {x1, y1, x2, y2} of `image` (normalised; beyond the image is black), in image
  // coordinates, clipped to the image. `stepMs` receives the time of the network step.
  std::vector<ScoredBBox<float>> detect(long long frameId, const ImageBase& image,
                                        const std::vector<float>& roi, double* stepMs) {
    // The network's tensors for this frame, claimed in its own store.
    MapResId2ResBasePtr tensors = store_->tobe_written(frameId, in_ | out_, true, 1);
    const MapResId2ResBasePtr inputs = pick(tensors, in_), outputs = pick(tensors, out_);
    // The input tensor is an NV12 image over the IPU buffer: the engine scales the ROI into it.
    const auto& input = as<ResourceImage>(inputs, inputs.begin()->first)->image();
    if (!scratch_ || scratchFor_ != std::make_pair(image.width(), image.height())) {
      scratch_ = produce_roi_resize_scratch(image, *input, roi);
      scratchFor_ = {image.width(), image.height()};
    }
    input->roi_resize_from(&image, roi, scratch_, 0, 0, 0, false, false);
    const auto t0 = std::chrono::steady_clock::now();
    wrapper_->step(inputs, outputs);
    *stepMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    // Decode within the part of the ROI that shows the image, then map back to the image.
    const float rw = roi[2] - roi[0], rh = roi[3] - roi[1];
    const BoundBox<float> inside((std::max(roi[0], 0.f) - roi[0]) / rw, (std::max(roi[1], 0.f) - roi[1]) / rh,
                                 (std::min(roi[2], 1.f) - roi[0]) / rw,
                                 (std::min(roi[3], 1.f) - roi[1]) / rh);
    std::vector<ScoredBBox<float>> faces = handler_->convert(outputs, inside)[faceCategory_];
    store_->have_written(frameId, in_ | out_);
    for (ScoredBBox<float>& f : faces)
      f.box.reset(roi[0] + f.box.xmin() * rw, roi[1] + f.box.ymin() * rh, roi[0] + f.box.xmax() * rw,
                  roi[1] + f.box.ymax() * rh);
    return faces;
  }

 private:
  std::string name_;
  unsigned long long id_;
  std::shared_ptr<NetworkWrapperBase> wrapper_;
  std::shared_ptr<FrameResourceStore> store_;  // the network's own store of tensors
  unsigned long long in_ = 0, out_ = 0;
  std::unique_ptr<DetectorHandler> handler_;
  unsigned long long faceCategory_ = 0;
  std::shared_ptr<MmzBlob> scratch_;  // engine scratch for the ROI resize
  std::pair<unsigned int, unsigned int> scratchFor_;
};

}  // namespace

void Context::announce(long long frameId, unsigned long long kinds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stopping_) depend.update(frameId, kinds);
}

bool Context::wait_newer(unsigned long long kind, long long last) {
  depend.wait_until(kind, [&](const long long& newest) { return newest > last || stopping_; });
  return !stopping_;
}

void Context::stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_.exchange(true)) return;
  // A last announcement wakes every waiter; none can follow it (announce() checks stopping_).
  depend.update(LLONG_MAX, frameTime | large | small | classRois | partRois | tracker | faceTracks);
}

void warm_up(const Settings& settings) {
  FaceDetector(settings.detector).warm_up();
  if (!settings.cropDetector.empty()) FaceDetector(settings.cropDetector).warm_up();
}

void source_stage(Context& ctx) {
  const auto reader = singleton_FrameReader();
  const auto store = singleton_FrameResourceStore();
  const unsigned long long kinds = task_kinds("TASK_GLOBAL").second;  // time, large and small image
  std::vector<long long> held = store->frame_ids();
  for (long long n = 0; !ctx.stopping() && (ctx.settings.count == 0 || n < ctx.settings.count);) {
    // Claim the next frame's resources first: the reader fills them in place.
    const long long next = reader->frameId() + 1;
    MapResId2ResBasePtr claimed = store->tobe_written(next, kinds, true, 1);
    // Frames the claim pushed out of the store (the lineage tells the unprocessed ones).
    const std::vector<long long> now = store->frame_ids();
    for (long long id : held)
      if (!std::binary_search(now.begin(), now.end(), id)) ctx.lineage.left_store(id);
    held = now;
    const std::shared_ptr<Buffer> extra =
        reader->grab_frame(as<ResourceImage>(claimed, ctx.large), as<ResourceImage>(claimed, ctx.small));
    if (reader->frameId() != next) {  // not the frame we claimed for: give the claim back
      store->undo_written(next, kinds);
      continue;
    }
    auto time = as<FrameTime>(claimed, ctx.frameTime);
    time->pts = reader->pts();
    time->time = frameproto::now_pts() * 1e-6;
    claimed.clear();
    store->have_written(next, kinds);
    // The sender's extra bytes (camera mode) tell its sequence number and when it sent the frame.
    frameproto::Extra e;
    if (extra && frameproto::decode(extra->toString(), &e))
      ctx.lineage.arrived(next, static_cast<long long>(e.seq), (frameproto::now_pts() - e.sendPts) * 1e-3);
    else
      ctx.lineage.arrived(next, -1, -1);
    ctx.announce(next, kinds);
    ++n;
  }
}

void detect_stage(Context& ctx) {
  FaceDetector detector(ctx.settings.detector);
  const auto kinds = task_kinds("TASK_DETECT");  // the small (or large) image -> class ROIs
  const unsigned long long image = (kinds.first & ctx.large) ? ctx.large : ctx.small;
  for (long long last = -1; ctx.wait_newer(image, last);) {
    {
      // The newest frame after `last` with the image published and no class ROIs yet.
      TaskResource task(kinds.first, kinds.second, last, false);
      if (task.frameId() < 0) {  // gone meanwhile (evicted): wait for the next one
        last = ctx.depend.id_max(image);
        continue;
      }
      ctx.lineage.skipped(last, task.frameId());  // older frames came too late for this stage
      last = task.frameId();
      const ImageBase& picture = *as<ResourceImage>(task.mapRead(), image)->image();
      double stepMs = 0;
      const auto roi = square(picture.width(), picture.height(), ctx.settings.detectWhole);
      auto faces = detector.detect(last, picture, roi, &stepMs);
      as<DetectorClassRois>(task.mapWrite(), ctx.classRois)->put({{ctx.faceCategory, faces}});
      ctx.lineage.step_ms(detector.name(), stepMs);
      ctx.lineage.stamp(last, Lineage::kDetect);
    }  // destroying the binding publishes the class ROIs
    ctx.announce(last, ctx.classRois);
  }
}

void crop_stage(Context& ctx) {
  FaceDetector detector(ctx.settings.cropDetector);
  // The large image -> part ROIs, on frames whose class ROIs are out: the crop runs in the time
  // the full view leaves free, and only meets it on the core when frames come faster than both.
  const auto kinds = task_kinds("TASK_CROP");
  for (long long last = -1; ctx.wait_newer(ctx.classRois, last);) {
    {
      TaskResource task(kinds.first, kinds.second, last, false);
      if (task.frameId() < 0) {  // gone meanwhile (evicted): wait for the next one
        last = ctx.depend.id_max(ctx.classRois);
        continue;
      }
      last = task.frameId();
      if (last % ctx.settings.cropEvery != 0) {  // not this frame: release the claim unpublished
        task.cancel();
        continue;
      }
      const ImageBase& picture = *as<ResourceImage>(task.mapRead(), ctx.large)->image();
      // The centre square, cropSize of the frame's height.
      const float hy = ctx.settings.cropSize / 2, hx = hy * picture.height() / picture.width();
      double stepMs = 0;
      auto found = detector.detect(last, picture, {0.5f - hx, 0.5f - hy, 0.5f + hx, 0.5f + hy}, &stepMs);
      // Only faces wholly inside the crop: one cut by its edge is the full view's to find.
      const BoundBox<float> inner(0.5f - hx * 0.96f, 0.5f - hy * 0.96f, 0.5f + hx * 0.96f, 0.5f + hy * 0.96f);
      std::vector<ScoredBBox<float>> faces;
      for (const auto& f : found)
        if (f.box.compute_coverage_onself(inner) >= 0.999f) faces.push_back(f);
      as<DetectorPartRois>(task.mapWrite(), ctx.partRois)->put({{ctx.faceCategory, faces}});
      ctx.lineage.step_ms(detector.name(), stepMs);
      ctx.lineage.stamp(last, Lineage::kCrop);
    }
    ctx.announce(last, ctx.partRois);
  }
}

namespace {
// Tracks of faces across frames by overlap: a face continues the track whose last box it overlaps
// most (at least `iou`), or starts a new one.
class FaceTracker {
 public:
  explicit FaceTracker(const Settings& s) : iou_(s.trackIou), confirm_(s.trackConfirm), lost_(s.trackLost) {}

  std::vector<FaceRecord> update(long long frameId, const std::vector<ScoredBBox<float>>& faces,
                                 const std::shared_ptr<ImageBase>& image) {
    traces_.erase(std::remove_if(traces_.begin(), traces_.end(),
                                 [&](const std::shared_ptr<ObjectTrace>& t) { return t->lost(frameId); }),
                  traces_.end());
    std::vector<FaceRecord> out;
    std::vector<bool> taken(traces_.size(), false);
    for (const auto& face : faces) {
      int best = -1;
      float bestIou = iou_;
      for (size_t i = 0; i < traces_.size(); ++i) {
        const float o = traces_[i]->lastBox().compute_iou(face.box);
        if (!taken[i] && o >= bestIou) best = static_cast<int>(i), bestIou = o;
      }
      std::shared_ptr<ObjectTrace> trace;
      if (best >= 0) {
        trace = traces_[best];
        taken[best] = true;
        trace->append(image, face.box, frameId);
      } else {
        trace = std::make_shared<ObjectTrace>(image, face.box, nextId_++, frameId, 30, confirm_, lost_);
        traces_.push_back(trace);
        taken.push_back(true);
      }
      out.push_back({trace->id(), trace->confirmed(), face.score, face.box});
    }
    return out;
  }

 private:
  float iou_;
  int confirm_, lost_;
  unsigned int nextId_ = 1;
  std::vector<std::shared_ptr<ObjectTrace>> traces_;
};
}  // namespace

void track_stage(Context& ctx) {
  FaceTracker tracker(ctx.settings);
  const auto store = singleton_FrameResourceStore();
  const auto kinds = task_kinds("TASK_TRACK");  // class ROIs -> tracker ROIs and face tracks
  for (long long last = -1; ctx.wait_newer(ctx.classRois, last);) {
    {
      TaskResource task(kinds.first, kinds.second, last, false);
      if (task.frameId() < 0) {  // gone meanwhile (evicted): wait for the next one
        last = ctx.depend.id_max(ctx.classRois);
        continue;
      }
      ctx.lineage.skipped(last, task.frameId());
      last = task.frameId();
      auto faces = as<DetectorClassRois>(task.mapRead(), ctx.classRois)->get()[ctx.faceCategory];
      // Small faces the crop stage found in this frame or the two before, unless the full view has them.
      const CombFidMapResBase crop = store->fetch_byframe_coarsely(last - 2, last, ctx.partRois, 0, 0, true);
      if (crop.frameId >= 0) {
        // A copy: get() returns a temporary map.
        const std::vector<ScoredBBox<float>> small =
            as<DetectorPartRois>(crop.mapRes, ctx.partRois)->get()[ctx.faceCategory];
        for (const auto& face : small) {
          if (std::none_of(faces.begin(), faces.end(), [&](const ScoredBBox<float>& f) {
                return f.box.compute_intersection(face.box) > 0;
              }))
            faces.push_back(face);
        }
      }
      // Each trace keeps a weak reference to the image its boxes were found in (when the task reads one).
      const auto image =
          task.mapRead().count(ctx.small) ? as<ResourceImage>(task.mapRead(), ctx.small)->image() : nullptr;
      std::vector<FaceRecord> tracked = tracker.update(last, faces, image);
      // TrackerRois: the largest face, the number of faces.
      auto summary = as<TrackerRois>(task.mapWrite(), ctx.tracker);
      summary->count_ = static_cast<int32_t>(tracked.size());
      for (const FaceRecord& f : tracked) {
        if (summary->flag_ && f.box.area() <= summary->box_.area()) continue;
        summary->flag_ = true;
        summary->tag_ = f.track;
        summary->box_ = f.box;
      }
      as<FaceTracks>(task.mapWrite(), ctx.faceTracks)->faces = tracked;
      ctx.lineage.faces(last, std::move(tracked));
      ctx.lineage.stamp(last, Lineage::kTrack);
    }
    ctx.announce(last, ctx.tracker | ctx.faceTracks);
  }
}

namespace {
// Writes pictures on its own thread, so that encoding a JPEG never holds up the output stage. A
// picture offered while the previous one is still being written is refused.
class PictureWriter {
 public:
  PictureWriter() : thread_([this] { run(); }) {}
  // Writes the picture still pending, then ends the thread.
  ~PictureWriter() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cond_.notify_one();
    thread_.join();
  }
  bool idle() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return !image_ && !writing_;
  }
  void write(std::shared_ptr<ImageBase> image, std::string path) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      image_ = std::move(image);
      path_ = std::move(path);
    }
    cond_.notify_one();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      cond_.wait(lock, [this] { return image_ || done_; });
      if (!image_) return;
      const auto image = std::move(image_);
      const std::string path = path_;
      writing_ = true;
      lock.unlock();
      if (!image->save(path)) LOG(ERROR) << "cannot write " << path;
      lock.lock();
      writing_ = false;
    }
  }
  mutable std::mutex mutex_;  // guards the four members below
  std::condition_variable cond_;
  std::shared_ptr<ImageBase> image_;
  std::string path_;
  bool writing_ = false, done_ = false;
  std::thread thread_;
};

// Draws the frame's faces and a caption on `canvas`.
void annotate(ImageBase& canvas, const std::vector<FaceRecord>& faces, const std::string& caption) {
  for (const FaceRecord& f : faces) {
    // Confirmed tracks green, new ones yellow.
    const unsigned char r = f.confirmed ? 0 : 255, g = 255;
    canvas.draw_box({f.box.xmin(), f.box.ymin()}, {f.box.xmax(), f.box.ymax()}, r, g, 0, 0.003f);
    char label[64];
    std::snprintf(label, sizeof label, "#%u %.2f", f.track, f.score);
    canvas.draw_text({f.box.xmin(), std::max(0.f, f.box.ymin() - 0.035f)}, label, r, g, 0, 0.025f);
  }
  canvas.draw_text({0.02f, 0.02f}, caption, 255, 255, 255, 0.025f);
}
}  // namespace

void output_stage(Context& ctx) {
  const auto reader = singleton_FrameReader();
  const auto kinds = task_kinds("TASK_OUTPUT");  // large image, frame time, tracks -> nothing
  PictureWriter writer;
  for (long long last = -1; ctx.wait_newer(ctx.faceTracks, last);) {
    {
      TaskResource task(kinds.first, kinds.second, last, false);
      if (task.frameId() < 0) {  // gone meanwhile (evicted): wait for the next one
        last = ctx.depend.id_max(ctx.faceTracks);
        continue;
      }
      ctx.lineage.skipped(last, task.frameId());
      last = task.frameId();
      const int every = ctx.settings.writeEvery;
      if (every > 0 && last % every == 0 && writer.idle()) {
        // The large image may lie in the sender's own frame buffer: draw on a copy.
        auto canvas = produce_mmz_ImageYuv420sp(0, 0, nullptr);
        canvas->copy_from(as<ResourceImage>(task.mapRead(), ctx.large)->image().get(), false, false);
        char caption[96];
        std::snprintf(caption, sizeof caption, "FRAME %lld  %.1f FPS  FACES %d", last, reader->fps(),
                      as<TrackerRois>(task.mapRead(), ctx.tracker)->count_);
        annotate(*canvas, as<FaceTracks>(task.mapRead(), ctx.faceTracks)->faces, caption);
        char path[256];
        std::snprintf(path, sizeof path, "%s/frame_%06lld.jpg", ctx.settings.outputDir.c_str(), last);
        writer.write(canvas, path);
      }
      ctx.lineage.stamp(last, Lineage::kOutput);
    }
  }
}
