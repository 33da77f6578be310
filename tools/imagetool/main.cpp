// kavo_imagetool: loads a JPEG into platform memory, applies a chain of image operations given on
// the command line (resize, ROI resize, pad/crop, drawing) and writes a JPEG.
#include <glog/logging.h>

#include <iostream>
#include <string>
#include <vector>

#include "ImageOps.h"
#include "platform/Mmz.h"
#include "util/ImageBase.h"
#include "util/ProduceImage.h"

int main(int argc, char** argv) {
  FLAGS_logtostderr = true;
  FLAGS_minloglevel = google::GLOG_ERROR;
  google::InitGoogleLogging(argv[0]);

  bool nv12 = true;
  std::vector<std::string> positional;
  std::vector<imagetool::Op> ops;
  try {
    for (int i = 1; i < argc; ++i) {
      std::string arg = argv[i];
      if (arg == "--help" || arg == "-h") {
        std::cout << imagetool::usage();
        return 0;
      } else if (arg == "--nv12") {
        nv12 = true;
      } else if (arg == "--rgb") {
        nv12 = false;
      } else if (positional.size() < 2) {
        positional.push_back(arg);
      } else {
        ops.push_back(imagetool::parse_op(arg));
      }
    }
    if (positional.size() < 2) throw imagetool::UsageError("expected INPUT.jpg and OUTPUT.jpg");
  } catch (const imagetool::UsageError& e) {
    std::cerr << "kavo_imagetool: " << e.what() << "\n" << imagetool::usage();
    return 2;
  }

  MiSysInit();
  std::shared_ptr<ImageBase> image =
      nv12 ? produce_mmz_ImageYuv420sp(0, 0, nullptr) : produce_mmz_ImageRgb(0, 0, nullptr);
  if (!image->load(positional[0], ImageBase::DECODE_DEFAULT)) {
    std::cerr << "kavo_imagetool: cannot read a JPEG image from " << positional[0] << "\n";
    return 1;
  }
  std::cout << "loaded " << positional[0] << ": " << image->width() << "x" << image->height()
            << (nv12 ? " NV12" : " RGB") << "\n";

  for (size_t i = 0; i < ops.size(); ++i) {
    try {
      imagetool::validate(ops[i], image->width(), image->height(), nv12);
    } catch (const imagetool::UsageError& e) {
      std::cerr << "kavo_imagetool: operation " << i + 1 << ": " << e.what() << "\n";
      return 2;
    }
    imagetool::apply(ops[i], image);
  }

  if (!image->save(positional[1])) {
    std::cerr << "kavo_imagetool: cannot write " << positional[1] << "\n";
    return 1;
  }
  std::cout << "wrote " << positional[1] << ": " << image->width() << "x" << image->height() << " after "
            << ops.size() << " operation(s)\n";
  return 0;
}
