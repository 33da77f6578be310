#include "ImageOps.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <sstream>

#include "platform/Iveproc.h"
#include "platform/Mmz.h"
#include "util/ImageBase.h"
#include "util/ProduceImage.h"
#include "util/RoiResize.h"

namespace imagetool {
namespace {

constexpr int kMaxSide = 8192;

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string item;
  std::istringstream in(s);
  while (std::getline(in, item, sep)) out.push_back(item);
  if (!s.empty() && s.back() == sep) out.push_back("");
  return out;
}

float to_float(const std::string& op, const std::string& s) {
  char* end = nullptr;
  float v = std::strtof(s.c_str(), &end);
  if (s.empty() || *end != '\0' || !std::isfinite(v))
    throw UsageError(op + ": \"" + s + "\" is not a number");
  return v;
}

int to_int(const std::string& op, const std::string& s) {
  char* end = nullptr;
  long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end != '\0' || v < -kMaxSide * 4 || v > kMaxSide * 4)
    throw UsageError(op + ": \"" + s + "\" is not an integer in range");
  return static_cast<int>(v);
}

// Reads the optional colour at args[at..at+2] and the optional float after it.
void optional_colour(const std::string& op, const std::vector<std::string>& args, size_t at, Colour* c,
                     float* extra) {
  if (args.size() == at) return;
  if (args.size() < at + 3) throw UsageError(op + ": a colour needs three values r,g,b");
  int* rgb[3] = {&c->r, &c->g, &c->b};
  for (int k = 0; k < 3; ++k) {
    *rgb[k] = to_int(op, args[at + k]);
    if (*rgb[k] < 0 || *rgb[k] > 255) throw UsageError(op + ": colour values are 0..255");
  }
  if (args.size() == at + 4 && extra) {
    *extra = to_float(op, args[at + 3]);
    return;
  }
  if (args.size() != at + 3) throw UsageError(op + ": too many values");
}

void need(const std::string& op, const std::vector<std::string>& args, size_t lo, size_t hi) {
  if (args.size() < lo || args.size() > hi) throw UsageError(op + ": wrong number of values (see --help)");
}

// The library's own verdict on the sizes, so that the tool refuses exactly what would stop it.
void refuse_if(const std::string& op, const std::string& refusal) {
  if (!refusal.empty()) throw UsageError(op + ": " + refusal);
}

}  // namespace

Op parse_op(const std::string& arg) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos) throw UsageError("unknown operation \"" + arg + "\" (see --help)");
  std::string name = arg.substr(0, eq);
  std::string rest = arg.substr(eq + 1);
  Op op;
  if (name == "text") {
    size_t colon = rest.find(':');
    if (colon == std::string::npos) throw UsageError("text: expected text=x,y[,r,g,b[,size]]:TEXT");
    op.text = rest.substr(colon + 1);
    rest = rest.substr(0, colon);
  }
  std::vector<std::string> args = split(rest, ',');
  if (name == "resize") {
    op.kind = Op::kResize;
    need(name, args, 2, 2);
    op.width = to_int(name, args[0]);
    op.height = to_int(name, args[1]);
  } else if (name == "roi") {
    op.kind = Op::kRoi;
    need(name, args, 6, 9);
    for (int k = 0; k < 4; ++k) op.coords.push_back(to_float(name, args[k]));
    op.width = to_int(name, args[4]);
    op.height = to_int(name, args[5]);
    op.colour = Colour{0, 0, 0};
    optional_colour(name, args, 6, &op.colour, nullptr);
  } else if (name == "pad") {
    op.kind = Op::kPad;
    need(name, args, 4, 7);
    for (int k = 0; k < 4; ++k) op.pad[k] = to_int(name, args[k]);
    op.colour = Colour{0, 0, 0};
    optional_colour(name, args, 4, &op.colour, nullptr);
  } else if (name == "box" || name == "line") {
    op.kind = name == "box" ? Op::kBox : Op::kLine;
    need(name, args, 4, 8);
    for (int k = 0; k < 4; ++k) op.coords.push_back(to_float(name, args[k]));
    optional_colour(name, args, 4, &op.colour, &op.thickness);
  } else if (name == "point") {
    op.kind = Op::kPoint;
    need(name, args, 2, 6);
    for (int k = 0; k < 2; ++k) op.coords.push_back(to_float(name, args[k]));
    op.thickness = 0.01f;
    optional_colour(name, args, 2, &op.colour, &op.thickness);
  } else if (name == "text") {
    op.kind = Op::kText;
    need(name, args, 2, 6);
    for (int k = 0; k < 2; ++k) op.coords.push_back(to_float(name, args[k]));
    op.thickness = 0.05f;
    optional_colour(name, args, 2, &op.colour, &op.thickness);
  } else {
    throw UsageError("unknown operation \"" + name + "\" (see --help)");
  }
  return op;
}

void validate(const Op& op, unsigned int width, unsigned int height, bool nv12) {
  auto check_size = [&](const char* what, long w, long h) {
    if (w < 2 || h < 2 || w > kMaxSide || h > kMaxSide)
      throw UsageError(std::string(what) + ": the result must be 2.." + std::to_string(kMaxSide) +
                       " pixels a side");
    if (nv12 && (w % 2 || h % 2)) throw UsageError(std::string(what) + ": NV12 sizes must be even");
  };
  switch (op.kind) {
    case Op::kResize:
      check_size("resize", op.width, op.height);
      refuse_if("resize", mi_resize_refusal(MiResizePath::kResize, width, height, op.width, op.height));
      break;
    case Op::kRoi: {
      check_size("roi", op.width, op.height);
      float x1 = op.coords[0], y1 = op.coords[1], x2 = op.coords[2], y2 = op.coords[3];
      if (!(x2 > x1) || !(y2 > y1)) throw UsageError("roi: needs x1 < x2 and y1 < y2");
      if (x1 < -4 || y1 < -4 || x2 > 5 || y2 > 5) throw UsageError("roi: corners must lie within -4..5");
      // The scratch the tool makes grows with the ROI.
      if ((x2 - x1) * width > kMaxSide || (y2 - y1) * height > kMaxSide)
        throw UsageError("roi: the ROI is too large");
      // NV12 images take the optimised path, planar RGB the scratch path (see apply()).
      refuse_if("roi", mi_resize_refusal(nv12 ? MiResizePath::kOptimizedNv12Roi : MiResizePath::kScratchRoi,
                                         width, height, op.width, op.height, op.coords));
      break;
    }
    case Op::kPad: {
      const int* p = op.pad;
      if (nv12 && (p[0] % 2 || p[1] % 2 || p[2] % 2 || p[3] % 2))
        throw UsageError("pad: NV12 pad and crop amounts must be even");
      check_size("pad", static_cast<long>(width) + p[0] + p[1], static_cast<long>(height) + p[2] + p[3]);
      long copyW = static_cast<long>(width) - std::max(0, -p[0]) + std::min(0, p[1]);
      long copyH = static_cast<long>(height) - std::max(0, -p[2]) + std::min(0, p[3]);
      if (copyW <= 0 || copyH <= 0) throw UsageError("pad: the crop leaves nothing of the image");
      break;
    }
    case Op::kBox:
    case Op::kLine:
    case Op::kPoint:
      if (!(op.thickness > 0 && op.thickness <= 1)) throw UsageError("drawing: thickness must be in (0, 1]");
      break;
    case Op::kText:
      if (!(op.thickness > 0 && op.thickness <= 1)) throw UsageError("text: size must be in (0, 1]");
      for (char c : op.text)
        if (c < 0x20 || c > 0x7E) throw UsageError("text: only printable ASCII characters are drawn");
      break;
  }
}

void apply(const Op& op, std::shared_ptr<ImageBase>& image) {
  auto u8 = [](int v) { return static_cast<unsigned char>(v); };
  const Colour& c = op.colour;
  switch (op.kind) {
    case Op::kResize: {
      auto out = image->produce();
      out->reshape(op.width, op.height);
      out->resize_from(image.get(), false, false);
      image = out;
      break;
    }
    case Op::kRoi: {
      auto out = image->produce();
      out->reshape(op.width, op.height);
      auto scratch = produce_roi_resize_scratch(*image, *out, op.coords);
      out->roi_resize_from(image.get(), op.coords, scratch, u8(c.r), u8(c.g), u8(c.b), false, false);
      image = out;
      break;
    }
    case Op::kPad: {
      auto out = image->produce();
      roiresize::PadSize pad(op.pad[0], op.pad[1], op.pad[2], op.pad[3]);
      out->pad_crop_from(image.get(), pad, u8(c.r), u8(c.g), u8(c.b), false, false);
      image = out;
      break;
    }
    case Op::kBox:
    case Op::kLine: {
      std::complex<float> p1(op.coords[0], op.coords[1]), p2(op.coords[2], op.coords[3]);
      if (op.kind == Op::kBox)
        image->draw_box(p1, p2, u8(c.r), u8(c.g), u8(c.b), op.thickness);
      else
        image->draw_line(p1, p2, u8(c.r), u8(c.g), u8(c.b), op.thickness);
      image->refresh();
      break;
    }
    case Op::kPoint:
      image->draw_point({op.coords[0], op.coords[1]}, u8(c.r), u8(c.g), u8(c.b), op.thickness);
      image->refresh();
      break;
    case Op::kText:
      image->draw_text({op.coords[0], op.coords[1]}, op.text, u8(c.r), u8(c.g), u8(c.b), op.thickness);
      image->refresh();
      break;
  }
}

std::string usage() {
  return R"(usage: kavo_imagetool [--nv12|--rgb] INPUT.jpg OUTPUT.jpg [OPERATION ...]

Loads a JPEG into platform memory as NV12 (default) or planar RGB, applies the operations in
order, and writes a JPEG. Coordinates are fractions of the current image size (0..1); colours are
r,g,b in 0..255 (default red for drawing, black for padding).

  resize=W,H                        resize the whole image to W x H pixels
  roi=X1,Y1,X2,Y2,W,H[,R,G,B]       resize the region X1,Y1-X2,Y2 to W x H; the part of the region
                                    outside the image takes the pad colour
  pad=L,R,T,B[,R,G,B]               add L,R,T,B pixels at the sides (negative amounts crop);
                                    NV12 amounts must be even
  box=X1,Y1,X2,Y2[,R,G,B[,T]]       draw a box (T: line thickness, default 0.004)
  line=X1,Y1,X2,Y2[,R,G,B[,T]]      draw a line
  point=X,Y[,R,G,B[,T]]             draw a point (default thickness 0.01)
  text=X,Y[,R,G,B[,S]]:TEXT         draw TEXT from top-left X,Y with the built-in font
                                    (S: cell height, default 0.05)
)";
}

}  // namespace imagetool
