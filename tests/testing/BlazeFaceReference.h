// The reference face detector for tests and benchmarks of the BlazeFace network: OpenCV dnn runs the
// short-range BlazeFace ONNX file on a 128 x 128 RGB picture, the anchors are decoded as the model's
// authors publish them (cell centres, offsets and sizes in input pixels, sigmoid scores) and
// cv::dnn::NMSBoxes keeps the best boxes. Independent of the library and of the IPU stand-in's adapter.
#pragma once

#include <algorithm>
#include <cmath>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

struct ReferenceFace {
  cv::Rect2d box;  // normalised to the picture: x, y, width, height
  float score = 0.f;
};

class BlazeFaceReference {
 public:
  explicit BlazeFaceReference(const std::string& onnxFile) : net_(cv::dnn::readNetFromONNX(onnxFile)) {}

  // Faces in `rgb128` (8-bit RGB, 128 x 128) scoring at least `minScore`, after NMS at `nmsIou`; with
  // `blend` each kept box is the score-weighted mean of the boxes overlapping it by more than nmsIou
  // (the authors' weighted suppression), else the top box itself.
  std::vector<ReferenceFace> detect(const cv::Mat& rgb128, bool blend, float minScore = 0.5f,
                                    float nmsIou = 0.3f) {
    cv::Mat f;
    rgb128.convertTo(f, CV_32FC3, 1.0 / 127.5, -1.0);
    const int sizes[] = {1, 128, 128, 3};
    cv::Mat blob(4, sizes, CV_32F);
    f.reshape(1, 1).copyTo(cv::Mat(1, 128 * 128 * 3, CV_32F, blob.ptr<float>()));
    net_.setInput(blob);
    std::vector<cv::Mat> out;
    net_.forward(out, std::vector<std::string>{"Identity:0", "Identity_1:0", "Identity_2:0", "Identity_3:0"});
    std::vector<cv::Rect2d> boxes;
    std::vector<float> scores;
    decode(out[0], out[2], 16, 2, minScore, &boxes, &scores);
    decode(out[1], out[3], 8, 6, minScore, &boxes, &scores);
    std::vector<int> keep;
    cv::dnn::NMSBoxes(boxes, scores, minScore, nmsIou, keep);
    std::vector<ReferenceFace> faces;
    for (int k : keep)
      faces.push_back({blend ? blended(boxes, scores, boxes[k], nmsIou) : boxes[k], scores[k]});
    return faces;
  }

 private:
  static cv::Rect2d blended(const std::vector<cv::Rect2d>& boxes, const std::vector<float>& scores,
                            const cv::Rect2d& top, float iou) {
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0, sum = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const double inter = (boxes[i] & top).area();
      if (inter / (boxes[i].area() + top.area() - inter) <= iou) continue;
      x1 += scores[i] * boxes[i].x;
      y1 += scores[i] * boxes[i].y;
      x2 += scores[i] * boxes[i].br().x;
      y2 += scores[i] * boxes[i].br().y;
      sum += scores[i];
    }
    return cv::Rect2d(cv::Point2d(x1 / sum, y1 / sum), cv::Point2d(x2 / sum, y2 / sum));
  }

  // Anchors at the centres of a g x g grid, `priors` per cell in row-major cell order; per anchor a
  // score logit and (dx, dy, w, h, landmarks...) in input pixels.
  static void decode(const cv::Mat& logits, const cv::Mat& regs, int g, int priors, float minScore,
                     std::vector<cv::Rect2d>* boxes, std::vector<float>* scores) {
    const float* s = logits.ptr<float>();
    const float* r = regs.ptr<float>();
    const size_t per = regs.total() / logits.total();
    for (int a = 0; a < g * g * priors; ++a) {
      const float score = 1.f / (1.f + std::exp(-std::max(-100.f, std::min(100.f, s[a]))));
      if (score < minScore) continue;
      const int cell = a / priors;
      const double cx = (cell % g + 0.5) / g + r[a * per] / 128.0;
      const double cy = (cell / g + 0.5) / g + r[a * per + 1] / 128.0;
      const double w = r[a * per + 2] / 128.0, h = r[a * per + 3] / 128.0;
      boxes->emplace_back(cx - w / 2, cy - h / 2, w, h);
      scores->push_back(score);
    }
  }

  cv::dnn::Net net_;
};
