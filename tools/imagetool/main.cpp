// kavo_imagetool: loads a JPEG into platform memory, applies a chain of image operations given on
// the command line (resize, ROI resize, pad/crop, drawing) and writes a JPEG.
#include <glog/logging.h>

#include <algorithm>
#include <iostream>
#include <string>
#include <vector>

#include "ImageOps.h"
#include "kbase/FileBuffer.h"
#include "platform/Mmz.h"
#include "util/ImageBase.h"
#include "util/ImageRgb.h"
#include "util/ProduceImage.h"
#include "util/RgbChannel.h"

namespace {

// The NV12 image of a decoded RGB image, in platform memory. NV12 needs even sizes: an odd last
// column or row is repeated, as the NV12 decoder's own padding does.
std::shared_ptr<ImageBase> nv12_from_rgb(const ImageRgb& rgb) {
  const unsigned int w = rgb.width(), h = rgb.height();
  const unsigned int w2 = (w + 1) & ~1u, h2 = (h + 1) & ~1u;
  std::vector<unsigned char> planar(static_cast<size_t>(w2) * h2 * 3);
  for (int k = 0; k < 3; ++k)
    for (unsigned int y = 0; y < h2; ++y) {
      const unsigned char* row = rgb.plane_data(k) + static_cast<size_t>(std::min(y, h - 1)) * rgb.stride();
      unsigned char* out = planar.data() + (static_cast<size_t>(k) * h2 + y) * w2;
      for (unsigned int x = 0; x < w2; ++x) out[x] = row[std::min(x, w - 1)];
    }
  std::shared_ptr<ImageBase> host = produce_ImageYuv420sp(w2, h2, nullptr);
  rgbchannel::rgb2yuv420sp(planar.data(), host->data(), w2, h2, false);
  std::shared_ptr<ImageBase> image = produce_mmz_ImageYuv420sp(0, 0, nullptr);
  image->copy_from(host.get(), false, false);
  return image;
}

// Decodes the JPEG file at `path` into a platform image (NV12 or RGB). The NV12 decoder takes colour
// JPEGs in 4:2:0, 4:2:2 and 4:4:4 only; any other JPEG that decodes as RGB is converted to NV12, and
// one line on stderr says so. On failure returns null with the reason in *why.
std::shared_ptr<ImageBase> load_image(const std::string& path, bool nv12, std::string* why) {
  std::vector<unsigned char> bytes;
  if (!filebuffer::read(path, bytes, false)) {
    *why = "cannot read the file";
    return nullptr;
  }
  std::shared_ptr<ImageBase> image =
      nv12 ? produce_mmz_ImageYuv420sp(0, 0, nullptr) : produce_mmz_ImageRgb(0, 0, nullptr);
  // The library's own ERROR lines would only repeat, less clearly, what this function says.
  auto decode = [&bytes](ImageBase& img) {
    const int logLevel = FLAGS_minloglevel;
    FLAGS_minloglevel = google::GLOG_FATAL;
    const bool decoded = img.decode_jpg(bytes, ImageBase::DECODE_DEFAULT);
    FLAGS_minloglevel = logLevel;
    return decoded;
  };
  if (decode(*image)) return image;

  JpegInfo info;
  if (!read_jpeg_info(bytes, &info)) {
    *why = "no JPEG header (not a JPEG, or cut short)";
    return nullptr;
  }
  // "greyscale JPEG of 33x17", "4:2:2 YCbCr JPEG of 641x481", "4:4:4 CMYK JPEG of ..."
  const std::string kind =
      (info.sampling == "greyscale" ? info.sampling : info.sampling + " " + info.colorspace) + " JPEG of " +
      std::to_string(info.width) + "x" + std::to_string(info.height);
  if (info.width > ImageBase::kMaxJpegSide || info.height > ImageBase::kMaxJpegSide) {
    *why = kind + ", larger than " + std::to_string(ImageBase::kMaxJpegSide) + " pixels a side";
    return nullptr;
  }
  std::shared_ptr<ImageRgb> rgb = std::dynamic_pointer_cast<ImageRgb>(produce_ImageRgb(0, 0, nullptr));
  if (!nv12 || !decode(*rgb)) {
    *why = kind + (info.colorspace == "CMYK" || info.colorspace == "YCCK"
                       ? ", whose colour space does not convert to RGB"
                       : ", whose data is truncated or corrupt");
    return nullptr;
  }
  std::cerr << "kavo_imagetool: " << path << " is a " << kind
            << "; NV12 decoding takes 4:2:0, 4:2:2 and 4:4:4 colour JPEGs only, so it was decoded as RGB "
               "and converted to NV12\n";
  return nv12_from_rgb(*rgb);
}

}  // namespace

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
  std::string why;
  std::shared_ptr<ImageBase> image = load_image(positional[0], nv12, &why);
  if (!image) {
    std::cerr << "kavo_imagetool: cannot read a JPEG image from " << positional[0] << ": " << why << "\n";
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
