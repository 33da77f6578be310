// The image tool's operation chain: parsing of command-line operations and their application to an
// image in platform memory. Kept apart from main() so that tests can drive it.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

class ImageBase;

namespace imagetool {

// A command-line mistake (unknown operation, bad numbers, a ROI outside the rules).
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Colour {
  int r = 255, g = 0, b = 0;
};

// One operation of the chain. Coordinates are fractions of the current image size.
struct Op {
  enum Kind { kResize, kRoi, kPad, kBox, kLine, kPoint, kText };
  Kind kind = kResize;
  std::vector<float> coords;  // resize: -, roi: x1 y1 x2 y2, box/line: x1 y1 x2 y2, point/text: x y
  int width = 0, height = 0;  // resize, roi: output size
  int pad[4] = {0, 0, 0, 0};  // left, right, top, bottom (negative crops)
  Colour colour;              // drawing colour, or the pad colour of roi and pad
  float thickness = 0.004f;   // box/line/point stamp; text: cell height
  std::string text;
};

// Parses "name=args" (see usage()). Throws UsageError with a message naming the operation.
Op parse_op(const std::string& arg);
// Checks an operation against the current image size; throws UsageError when it breaks the rules
// of the library (which would otherwise stop the process).
void validate(const Op& op, unsigned int width, unsigned int height, bool nv12);
// Applies one validated operation; may replace the image with a new one.
void apply(const Op& op, std::shared_ptr<ImageBase>& image);
// The help text.
std::string usage();

}  // namespace imagetool
