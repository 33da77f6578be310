// The reference face detector for tests and benchmarks of the BlazeFace network, independent of the
// library and of the IPU stand-in: OpenCV dnn runs the short-range BlazeFace ONNX file on a 128 x 128
// RGB picture, the anchors are decoded as the model's authors publish them (cell centres, offsets and
// sizes in input pixels, sigmoid scores), cv::dnn::NMSBoxes keeps the best boxes and each kept box
// becomes the score-weighted mean of the boxes overlapping it (the authors' weighted suppression).
#pragma once

#include <cmath>
#include <opencv2/dnn.hpp>
#include <string>
#include <vector>

struct ReferenceFace {
  cv::Rect2d box;  // normalised to the picture
  float score;
};

// Faces in `rgb128` (8-bit RGB, 128 x 128, continuous) scoring at least 0.5, suppressed at IoU 0.3.
inline std::vector<ReferenceFace> blazeface_reference(cv::dnn::Net& net, const cv::Mat& rgb128) {
  cv::Mat f;
  rgb128.convertTo(f, CV_32FC3, 1.0 / 127.5, -1.0);
  const int nhwc[] = {1, 128, 128, 3};
  net.setInput(cv::Mat(4, nhwc, CV_32F, f.data));
  std::vector<cv::Mat> out;
  net.forward(out, std::vector<std::string>{"Identity:0", "Identity_1:0", "Identity_2:0", "Identity_3:0"});
  std::vector<cv::Rect2d> boxes;
  std::vector<float> scores;
  for (int head = 0; head < 2; ++head) {  // 16 x 16 cells of 2 anchors, 8 x 8 cells of 6
    const int g = head == 0 ? 16 : 8, priors = head == 0 ? 2 : 6;
    const size_t per = out[head + 2].total() / out[head].total();  // box, then landmarks
    for (int a = 0; a < g * g * priors; ++a) {
      const float score = 1.f / (1.f + std::exp(-out[head].ptr<float>()[a]));
      const float* b = out[head + 2].ptr<float>() + a * per;
      const int cell = a / priors;
      const double cx = (cell % g + 0.5) / g + b[0] / 128, cy = (cell / g + 0.5) / g + b[1] / 128;
      if (score < 0.5f) continue;
      boxes.emplace_back(cx - b[2] / 256, cy - b[3] / 256, b[2] / 128, b[3] / 128);
      scores.push_back(score);
    }
  }
  std::vector<int> keep;
  cv::dnn::NMSBoxes(boxes, scores, 0.5f, 0.3f, keep);
  std::vector<ReferenceFace> faces;
  for (int k : keep) {
    cv::Vec4d sum;
    double weight = 0;
    for (size_t i = 0; i < boxes.size(); ++i) {
      const double inter = (boxes[i] & boxes[k]).area();
      if (inter / (boxes[i].area() + boxes[k].area() - inter) <= 0.3) continue;
      sum += scores[i] * cv::Vec4d(boxes[i].x, boxes[i].y, boxes[i].width, boxes[i].height);
      weight += scores[i];
    }
    faces.push_back({cv::Rect2d(sum[0] / weight, sum[1] / weight, sum[2] / weight, sum[3] / weight), scores[k]});
  }
  return faces;
}
