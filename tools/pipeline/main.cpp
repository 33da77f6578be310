// kavo_pipeline: a face-detection pipeline over the library, as an application writes one. Frames
// come from a camera process (kavo_sender, or the camera on the chip) through the process-wide frame
// reader into the global store; a face network finds faces on every frame, a second network on the
// same compute core looks into the centre of every other frame at a lower priority, a tracker gives
// the faces track ids, and the output draws them on the large image and writes JPEGs. At the end
// (or on Ctrl-C) it reports what happened to every frame and how long each stage took.
#include <glog/logging.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <thread>

#include "Stages.h"
#include "base/EnumStore.h"
#include "kbase/Database.h"
#include "kbase/Path.h"
#include "nn/NetworkDetail.h"
#include "nn/NetworkWrapperBase.h"
#include "platform/Factories.h"
#include "platform/Mmz.h"
#include "util/FrameReader.h"
#include "util/ShareData.h"

namespace {

const char* kUsage = R"(usage: kavo_pipeline [options]
  --config PATH          configuration (KAVO_CONFIG, else config/pipeline.json under the
                         installation root: build/ in a build tree, which gets a copy)
  --out DIR              pictures and statistics (Pipeline/outputDir)
  --every N              write every N-th frame as a JPEG, 1 for all, 0 for none (Pipeline/writeEvery)
  --count N              stop after N frames, 0 when the sender stops (Pipeline/count)
  --detector NET         network of the detect stage, e.g. NETWORK_FACE_FULL (Pipeline/detector)
  --no-crop              no second network
  --mode camera|video    frames from a camera process or whole video frames (FrameReaderHisi)
  --transport zmq|nn     ZeroMQ or nanomsg (ShareData*/type)
  --addr ADDR            the sender's address (ShareData*/addr)
  --bind                 bind ADDR and let the sender connect (ShareData*/asClient 0)
  --format yuv|jpeg      video payload (ShareDataVideo/format)
Exit code 0 after a run, 2 for a usage or configuration error, 3 when no sender came.
)";

volatile std::sig_atomic_t gInterrupted = 0;

// Command-line options become configuration values, so the stages read one place.
bool parse(int argc, char** argv, std::string* config,
           std::vector<std::pair<std::string, std::string>>* sets) {
  const char* env = std::getenv("KAVO_CONFIG");
  *config = env ? env : GlobalPathCfg::get(0) + "/config/pipeline.json";
  std::string mode;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(a + " needs a value");
      return argv[++i];
    };
    if (a == "--config")
      *config = value();
    else if (a == "--out")
      sets->push_back({"Pipeline/outputDir", value()});
    else if (a == "--every")
      sets->push_back({"Pipeline/writeEvery", value()});
    else if (a == "--count")
      sets->push_back({"Pipeline/count", value()});
    else if (a == "--detector")
      sets->push_back({"Pipeline/detector", value()});
    else if (a == "--no-crop")
      sets->push_back({"Pipeline/cropDetector", ""});
    else if (a == "--mode")
      sets->push_back({"FrameReaderHisi/fromCameraNotVideo", value() == "video" ? "0" : "1"});
    else if (a == "--transport")
      sets->push_back({"*/type", value()});
    else if (a == "--addr")
      sets->push_back({"*/addr", value()});
    else if (a == "--bind")
      sets->push_back({"*/asClient", "0"});
    else if (a == "--format")
      sets->push_back({"ShareDataVideo/format", value()});
    else if (a == "--help" || a == "-h")
      return false;
    else
      throw std::invalid_argument("unknown option " + a + " (--help lists the options)");
  }
  return true;
}

// Loads the configuration, applies the options and installs it for the whole process.
void configure(const std::string& path, const std::vector<std::pair<std::string, std::string>>& sets) {
  auto db = std::make_shared<DatabaseJsonMem>();
  if (!db->load(path, false, 0))
    throw std::runtime_error("cannot load the configuration " + path + ": " + db->error());
  auto set = [&db](const std::string& key, const std::string& value) {
    db->store_multi_local(key, value.empty() ? std::vector<std::string>{} : std::vector<std::string>{value},
                          false);
  };
  for (const auto& s : sets)
    if (s.first.rfind("*/", 0) != 0) set(s.first, s.second);
  // "*/" keys belong to the socket of the mode in force, which an option may just have changed.
  const bool camera = db->select_single<bool>("FrameReaderHisi/fromCameraNotVideo", false, true);
  for (const auto& s : sets)
    if (s.first.rfind("*/", 0) == 0)
      set((camera ? "ShareDataCamera" : "ShareDataVideo") + s.first.substr(1), s.second);
  // The networks the stages name are enabled.
  std::vector<std::string> enabled = db->select_multi_local("networkEnabled", false, {});
  for (const char* key : {"Pipeline/detector", "Pipeline/cropDetector"}) {
    const std::string net = db->select_single(key, false, "");
    if (!net.empty() && std::find(enabled.begin(), enabled.end(), net) == enabled.end())
      enabled.push_back(net);
  }
  db->store_multi_local("networkEnabled", enabled, false);
  install_ParamCfg(db);
}

Settings read_settings() {
  const auto cfg = singleton_ParamCfg();
  Settings s;
  s.count = cfg->select_single<long long>("Pipeline/count", false, s.count);
  s.waitSenderSec = cfg->select_single<double>("Pipeline/waitSenderSec", false, s.waitSenderSec);
  s.idleSec = cfg->select_single<double>("Pipeline/idleSec", false, s.idleSec);
  s.detector = cfg->select_single("Pipeline/detector", true, "");
  s.detectWhole = cfg->select_single("Pipeline/detectRegion", false, "square") == "whole";
  s.cropDetector = cfg->select_single("Pipeline/cropDetector", false, "");
  s.cropEvery = std::max(1, cfg->select_single<int>("Pipeline/cropEvery", false, s.cropEvery));
  s.cropSize = cfg->select_single<float>("Pipeline/cropSize", false, s.cropSize);
  s.trackIou = cfg->select_single<float>("Pipeline/trackIou", false, s.trackIou);
  s.trackConfirm = cfg->select_single<int>("Pipeline/trackConfirm", false, s.trackConfirm);
  s.trackLost = cfg->select_single<int>("Pipeline/trackLost", false, s.trackLost);
  s.writeEvery = cfg->select_single<int>("Pipeline/writeEvery", false, s.writeEvery);
  s.outputDir = cfg->select_single("Pipeline/outputDir", false, s.outputDir);
  return s;
}

// A stage network must be enabled and its model built, or the network store would stop the
// process with a less helpful message.
void check_network(const std::string& name) {
  const auto enums = singleton_EnumStore()->get("NETWORK");
  const auto enabled = singleton_ParamCfg()->select_multi_local("networkEnabled", false, {});
  if (std::find(enabled.begin(), enabled.end(), name) == enabled.end())
    throw std::runtime_error("the network " + name + " is not in networkEnabled");
  const auto desc = singleton_NetworkDetail()->network_get(enums->convert(name, "none"), false);
  if (!desc) throw std::runtime_error("the network " + name + " has no description");
  for (const std::string& model : desc->netDescriptions)
    if (!std::filesystem::exists(model))
      throw std::runtime_error("the model " + model + " of " + name +
                               " is missing: build it with `cmake --build build --target kavo_models`");
}

// What never reached the store, by reason: lost on the way (sequence numbers never seen, less
// the frames the readers dropped) and dropped by the readers.
Lineage::Counts reader_drops(long long seqGaps) {
  const auto share = singleton_ShareDataReader();
  const auto reader = std::dynamic_pointer_cast<FrameReaderHisi>(singleton_FrameReader());
  unsigned long long malformed = share->dropped_total() - share->dropped(ShareDataDrop::kResolution);
  malformed += reader->dropped(FrameReaderDrop::kRecords) + reader->dropped(FrameReaderDrop::kAddress) +
               reader->dropped(FrameReaderDrop::kVideoSize);
  const unsigned long long dimension =
      share->dropped(ShareDataDrop::kResolution) + reader->dropped(FrameReaderDrop::kDimension);
  const unsigned long long pts =
      reader->dropped(FrameReaderDrop::kStalePts) + reader->dropped(FrameReaderDrop::kFuturePts);
  const long long lost = std::max(0LL, seqGaps - static_cast<long long>(malformed + dimension + pts));
  return {{"lost", static_cast<unsigned long long>(lost)},
          {"malformed", malformed},
          {"dimension", dimension},
          {"pts", pts}};
}

}  // namespace

int main(int argc, char** argv) {
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = google::GLOG_ERROR;  // the library's start-up notes are warnings
  google::InitGoogleLogging(argv[0]);
  std::string configPath;
  std::vector<std::pair<std::string, std::string>> sets;
  Context ctx;
  try {
    if (!parse(argc, argv, &configPath, &sets)) {
      std::cout << kUsage;
      return 0;
    }
    configure(configPath, sets);
    ctx.settings = read_settings();
    const auto resources = singleton_EnumStore()->get("RESOURCE");
    const std::pair<unsigned long long*, const char*> kinds[] = {
        {&ctx.frameTime, "RESOURCE_FRAME_TIME"},        {&ctx.large, "RESOURCE_LARGE_IMAGE"},
        {&ctx.small, "RESOURCE_SMALL_IMAGE"},           {&ctx.classRois, "RESOURCE_DETECTOR_CLASS_ROIS"},
        {&ctx.partRois, "RESOURCE_DETECTOR_PART_ROIS"}, {&ctx.tracker, "RESOURCE_TRACKER_ROIS"},
        {&ctx.faceTracks, "RESOURCE_FACE_TRACKS"}};
    for (const auto& kind : kinds) *kind.first = resources->convert(kind.second, "none");
    ctx.faceCategory = singleton_EnumStore()->get("ROICATEGORY")->convert("ROICATEGORY_DET_face", "none");
    check_network(ctx.settings.detector);
    if (!ctx.settings.cropDetector.empty()) check_network(ctx.settings.cropDetector);
    std::filesystem::create_directories(ctx.settings.outputDir);
  } catch (const std::exception& e) {
    std::cerr << "kavo_pipeline: " << e.what() << "\n";
    return 2;
  }

  MiSysInit();
  // The pipeline's own kind joins the built-in ones in the global store.
  const auto faceTracks = ctx.faceTracks;
  singleton_FrameResourceStore()->register_resource(
      faceTracks, [faceTracks] { return std::make_shared<FaceTracks>(faceTracks); }, true);
  singleton_NetworkStore();  // loads every enabled network before the first frame
  warm_up(ctx.settings);
  const auto cfg = singleton_ParamCfg();
  const bool camera = cfg->select_single<bool>("FrameReaderHisi/fromCameraNotVideo", false, true);
  const std::string socket = camera ? "ShareDataCamera" : "ShareDataVideo";
  const std::string addr = cfg->select_single(socket + "/addr", false, "");
  try {
    singleton_FrameReader();
  } catch (const std::exception& e) {  // a bound address someone else holds, a bad address
    std::cerr << "kavo_pipeline: cannot "
              << (cfg->select_single<bool>(socket + "/asClient", false, true) ? "connect to " : "listen on ")
              << addr << ": " << e.what() << "\n";
    return 2;
  }
  ctx.depend.monitor(ctx.frameTime | ctx.large | ctx.small | ctx.classRois | ctx.partRois | ctx.tracker |
                     ctx.faceTracks);
  std::printf("kavo_pipeline: waiting for frames on %s (%s mode)\n", addr.c_str(),
              camera ? "camera" : "video");
  std::fflush(stdout);

  std::signal(SIGINT, [](int) { gInterrupted = 1; });
  std::signal(SIGTERM, [](int) { gInterrupted = 1; });
  std::thread source(source_stage, std::ref(ctx));
  std::vector<std::thread> stages;
  stages.emplace_back(detect_stage, std::ref(ctx));
  if (!ctx.settings.cropDetector.empty()) stages.emplace_back(crop_stage, std::ref(ctx));
  stages.emplace_back(track_stage, std::ref(ctx));
  stages.emplace_back(output_stage, std::ref(ctx));

  // Supervise: no sender, an idle sender, the frame count reached, Ctrl-C.
  int code = 0;
  long long seen = 0;
  double lastChange = ctx.lineage.now_ms();
  for (;;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const long long received = ctx.lineage.received();
    const double now = ctx.lineage.now_ms();
    if (received != seen) seen = received, lastChange = now;
    if (gInterrupted) break;
    if (received == 0 && now - lastChange > ctx.settings.waitSenderSec * 1000) {
      std::fprintf(stderr,
                   "kavo_pipeline: no frame on %s within %.0f s: is the sender running? (e.g. "
                   "build/bin/kavo_sender --addr %s)\n",
                   addr.c_str(), ctx.settings.waitSenderSec, addr.c_str());
      code = 3;
      break;
    }
    if (received > 0 && now - lastChange > ctx.settings.idleSec * 1000) break;
    if (ctx.settings.count > 0 && received >= ctx.settings.count) {
      // Let the last frames through every stage (bounded by the idle time).
      if (ctx.lineage.settled() || now - lastChange > ctx.settings.idleSec * 1000) break;
    }
  }
  ctx.stop();
  for (auto& t : stages) t.join();

  if (code == 0) {
    const Lineage::Counts drops = reader_drops(ctx.lineage.seq_gaps());
    const std::string text = ctx.lineage.report(drops);
    std::printf("%s", text.c_str());
    const std::string json = ctx.settings.outputDir + "/pipeline_stats.json";
    std::ofstream(json) << ctx.lineage.json(drops, configPath) << "\n";
    std::printf("statistics in %s\n", json.c_str());
  }
  std::fflush(stdout);
  // The source thread may be blocked in a receive that no sender will ever answer.
  if (ctx.settings.count > 0 && seen >= ctx.settings.count) {
    source.join();
    return code;
  }
  std::_Exit(code);
}
