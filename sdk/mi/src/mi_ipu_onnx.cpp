// The "onnx" executor of the IPU stand-in: OpenCV dnn runs the ONNX payload. An input adapter turns
// input tensor 0 (NV12, or 3-channel U8 in BGR order as the library's IPU image blobs hold it) into
// the network's float input; output adapters write plain tensors quantised with their descriptor, or
// re-encode an anchor detector's outputs as SSD confidence and location heads (INT16) against
// configured priors, exactly inverting the library's prior-box decoding.
//
// params: {
//   "input":  {"name": "", "channelOrder": "RGB"|"BGR", "mean": [m0, m1, m2], "scale": s,
//              "layout": "NHWC"|"NCHW"},                      float = (pixel - mean) * scale
//   "outputs": [{"name": onnx output, "tensor": k}, ...],       plain: FP32, INT16, INT32, U8
//   "ssd": {"inputSize": S, "vars": [4], "heads": [{"scores": name, "boxes": name, "conf": k,
//           "loc": k, "fmap": g, "priors": P, "priorWidths": [P], "priorHeights": [P]}]}
// }
// The SSD adapter reads per anchor a score logit and (dx, dy, w, h) in input pixels, anchors at
// cell centres ((x + 0.5) / g, (y + 0.5) / g) in row-major cell order, P per cell.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <mutex>
#include <nlohmann/json.hpp>
#include <opencv2/dnn.hpp>
#include <opencv2/imgproc.hpp>

#include "mi_ipu_model.h"

namespace kavo_mi {
namespace ipu {
namespace {

struct PlainOutput {
  std::string name;
  std::size_t tensor;
};

struct SsdHead {
  std::string scores;
  std::string boxes;
  std::size_t conf;
  std::size_t loc;
  int fmap;
  int priors;
  std::vector<float> widths;
  std::vector<float> heights;
};

template <typename T>
T saturate(double v) {
  return cv::saturate_cast<T>(v);
}

class OnnxExecutor : public Executor {
 public:
  OnnxExecutor(const Model& model, const nlohmann::json& p, const std::string& payload)
      : inputs_(model.inputs), outputs_(model.outputs) {
    net_ = cv::dnn::readNetFromONNX(payload.data(), payload.size());
    const nlohmann::json in = p.value("input", nlohmann::json::object());
    inputName_ = in.value("name", std::string());
    bgr_ = in.value("channelOrder", std::string("RGB")) == "BGR";
    nhwc_ = in.value("layout", std::string("NHWC")) == "NHWC";
    mean_ = in.value("mean", std::vector<float>{0.f, 0.f, 0.f});
    scale_ = in.value("scale", 1.f);
    for (const auto& o : p.value("outputs", nlohmann::json::array())) {
      plain_.push_back({o.at("name").get<std::string>(), integer<std::size_t>(o.at("tensor"))});
    }
    if (p.contains("ssd")) {
      const nlohmann::json& s = p["ssd"];
      inputSize_ = s.at("inputSize").get<float>();
      vars_ = s.at("vars").get<std::vector<float>>();
      for (const auto& h : s.at("heads")) {
        heads_.push_back({h.at("scores").get<std::string>(), h.at("boxes").get<std::string>(),
                          integer<std::size_t>(h.at("conf")), integer<std::size_t>(h.at("loc")),
                          integer<int>(h.at("fmap")), integer<int>(h.at("priors")),
                          h.at("priorWidths").get<std::vector<float>>(),
                          h.at("priorHeights").get<std::vector<float>>()});
      }
    }
    for (const auto& o : plain_) names_.push_back(o.name);
    for (const auto& h : heads_) {
      names_.push_back(h.scores);
      names_.push_back(h.boxes);
    }
  }

  // Checks what the constructor could not: shapes and indices against the descriptors.
  bool valid(std::string* error) const {
    if (inputs_.empty() || mean_.size() != 3 || vars_.size() != (heads_.empty() ? 0u : 4u)) {
      *error = "onnx executor: bad input or vars";
      return false;
    }
    const MI_IPU_TensorDesc_t& d = inputs_[0];
    const std::uint32_t n = d.u32TensorDim;
    const std::uint64_t h = n >= 3 ? d.u32TensorShape[n - 3] : 0;
    const std::uint64_t need = d.eElmFormat == MI_IPU_FORMAT_NV12
                                   ? h * 3 / 2 * d.u32InnerMostStride
                                   : h * (n >= 3 ? d.u32TensorShape[n - 2] : 0) * 3;
    if (n < 3 || (d.eElmFormat != MI_IPU_FORMAT_NV12 && d.eElmFormat != MI_IPU_FORMAT_U8) ||
        (d.eElmFormat == MI_IPU_FORMAT_U8 && (d.u32TensorShape[n - 1] != 3 || d.u32InnerMostStride != 3)) ||
        need > d.u32AlignedBufSize) {
      *error = "onnx executor: input 0 must be NV12 or 3-channel U8 and hold its rows";
      return false;
    }
    for (const auto& o : plain_) {
      if (o.tensor >= outputs_.size()) {
        *error = "onnx executor: bad output tensor";
        return false;
      }
    }
    for (const auto& h : heads_) {
      const std::size_t n = static_cast<std::size_t>(h.priors);
      if (h.conf >= outputs_.size() || h.loc >= outputs_.size() || h.fmap <= 0 || h.priors <= 0 ||
          h.widths.size() != n || h.heights.size() != n ||
          outputs_[h.conf].eElmFormat != MI_IPU_FORMAT_INT16 ||
          outputs_[h.loc].eElmFormat != MI_IPU_FORMAT_INT16 || !cell_fits(outputs_[h.conf], h, 2) ||
          !cell_fits(outputs_[h.loc], h, 4)) {
        *error = "onnx executor: bad ssd head";
        return false;
      }
    }
    return true;
  }

  void run(const std::vector<std::uint8_t*>& inputs, const std::vector<std::uint8_t*>& outputs) override {
    cv::Mat blob = input_blob(inputs[0]);
    std::vector<cv::Mat> results;
    {
      // A dnn::Net is not re-entrant; channels of one model never share it, invocations do.
      std::lock_guard<std::mutex> lock(mutex_);
      net_.setInput(blob, inputName_);
      net_.forward(results, names_);
    }
    std::size_t r = 0;
    for (const auto& o : plain_) write_plain(results[r++], outputs_[o.tensor], outputs[o.tensor]);
    for (const auto& h : heads_) {
      write_ssd(h, results[r], results[r + 1], outputs[h.conf], outputs[h.loc]);
      r += 2;
    }
  }

 private:
  // The head's cells must be H x W rows of at least `per` values per prior, as DetectorHandler reads.
  static bool cell_fits(const MI_IPU_TensorDesc_t& d, const SsdHead& h, std::uint32_t per) {
    const std::uint32_t n = d.u32TensorDim;
    return n == 4 && d.u32TensorShape[1] == static_cast<std::uint32_t>(h.fmap) &&
           d.u32TensorShape[2] == static_cast<std::uint32_t>(h.fmap) &&
           d.u32TensorShape[3] >= per * static_cast<std::uint32_t>(h.priors) &&
           d.u32InnerMostStride >= 2 * d.u32TensorShape[3] &&
           static_cast<std::uint64_t>(d.u32InnerMostStride) * h.fmap * h.fmap <= d.u32AlignedBufSize;
  }

  cv::Mat input_blob(const std::uint8_t* data) const {
    const MI_IPU_TensorDesc_t& d = inputs_[0];
    const std::uint32_t n = d.u32TensorDim;
    const int h = static_cast<int>(d.u32TensorShape[n - 3]);
    const int w = static_cast<int>(d.u32TensorShape[n - 2]);
    cv::Mat rgb;
    if (d.eElmFormat == MI_IPU_FORMAT_NV12) {
      cv::Mat nv12(h * 3 / 2, w, CV_8UC1, const_cast<std::uint8_t*>(data), d.u32InnerMostStride);
      cv::cvtColor(nv12, rgb, bgr_ ? cv::COLOR_YUV2BGR_NV12 : cv::COLOR_YUV2RGB_NV12);
    } else {
      cv::Mat bgr(h, w, CV_8UC3, const_cast<std::uint8_t*>(data));
      if (bgr_) {
        rgb = bgr;
      } else {
        cv::cvtColor(bgr, rgb, cv::COLOR_BGR2RGB);
      }
    }
    cv::Mat f;
    rgb.convertTo(f, CV_32FC3);
    f -= cv::Scalar(mean_[0], mean_[1], mean_[2]);
    f *= scale_;
    if (!nhwc_) return cv::dnn::blobFromImage(f);
    const int sizes[] = {1, h, w, 3};
    cv::Mat blob(4, sizes, CV_32F);
    f.reshape(1, 1).copyTo(cv::Mat(1, h * w * 3, CV_32F, blob.ptr<float>()));
    return blob;
  }

  // Row-major values into the tensor's rows (innermost dimension per row, row pitch from the
  // descriptor), quantised as the library dequantises: (q - zero point) x scale.
  static void write_plain(const cv::Mat& result, const MI_IPU_TensorDesc_t& d, std::uint8_t* out) {
    std::memset(out, 0, d.u32AlignedBufSize);
    const float* v = result.ptr<float>();
    const std::size_t total = result.total();
    const std::uint32_t width = d.u32TensorShape[d.u32TensorDim - 1];
    std::size_t k = 0;
    for (std::uint64_t row = 0; k < total; ++row) {
      std::uint8_t* line = out + row * d.u32InnerMostStride;
      if ((row + 1) * d.u32InnerMostStride > d.u32AlignedBufSize) break;
      for (std::uint32_t i = 0; i < width && k < total; ++i, ++k) {
        const double q = d.fScalar != 0.f ? v[k] / d.fScalar + static_cast<double>(d.s64ZeroPoint) : v[k];
        switch (d.eElmFormat) {
          case MI_IPU_FORMAT_FP32:
            std::memcpy(line + 4 * i, &v[k], 4);
            break;
          case MI_IPU_FORMAT_INT32: {
            std::int32_t s = saturate<std::int32_t>(q);
            std::memcpy(line + 4 * i, &s, 4);
            break;
          }
          case MI_IPU_FORMAT_INT16: {
            std::int16_t s = saturate<std::int16_t>(q);
            std::memcpy(line + 2 * i, &s, 2);
            break;
          }
          default:
            line[i] = saturate<std::uint8_t>(q);
            break;
        }
      }
    }
  }

  // The detector's quantisation: real = (q + zero point) x scale.
  static std::int16_t head_value(const MI_IPU_TensorDesc_t& d, double v) {
    return saturate<std::int16_t>(v / d.fScalar - static_cast<double>(d.s64ZeroPoint));
  }

  void write_ssd(const SsdHead& h, const cv::Mat& scores, const cv::Mat& boxes, std::uint8_t* confOut,
                 std::uint8_t* locOut) const {
    const MI_IPU_TensorDesc_t& cd = outputs_[h.conf];
    const MI_IPU_TensorDesc_t& ld = outputs_[h.loc];
    std::memset(confOut, 0, cd.u32AlignedBufSize);
    std::memset(locOut, 0, ld.u32AlignedBufSize);
    const float* s = scores.ptr<float>();
    const float* b = boxes.ptr<float>();
    const std::size_t boxStride = boxes.total() / std::max<std::size_t>(1, scores.total());
    const std::size_t anchors = static_cast<std::size_t>(h.fmap) * h.fmap * h.priors;
    if (scores.total() < anchors || boxStride < 4) return;
    for (int row = 0; row < h.fmap; ++row) {
      for (int col = 0; col < h.fmap; ++col) {
        auto* conf = reinterpret_cast<std::int16_t*>(confOut + (row * h.fmap + col) * cd.u32InnerMostStride);
        auto* loc = reinterpret_cast<std::int16_t*>(locOut + (row * h.fmap + col) * ld.u32InnerMostStride);
        // The cell centre and its priors, computed and clipped as the decoder does.
        const float cx = (col + 0.5f) / h.fmap;
        const float cy = (row + 0.5f) / h.fmap;
        for (int k = 0; k < h.priors; ++k) {
          const std::size_t a = (static_cast<std::size_t>(row) * h.fmap + col) * h.priors + k;
          const float logit = std::min(100.f, std::max(-100.f, s[a]));
          const double p = 1.0 / (1.0 + std::exp(-static_cast<double>(logit)));
          conf[2 * k] = head_value(cd, 1.0 - p);
          conf[2 * k + 1] = head_value(cd, p);
          const float* r = b + a * boxStride;
          const double bx = cx + r[0] / inputSize_;
          const double by = cy + r[1] / inputSize_;
          const double bw = std::max(r[2] / inputSize_, 1e-6f);
          const double bh = std::max(r[3] / inputSize_, 1e-6f);
          const float pw = h.widths[k], ph = h.heights[k];
          const float x1 = std::min(1.f, std::max(0.f, cx - pw * 0.5f));
          const float y1 = std::min(1.f, std::max(0.f, cy - ph * 0.5f));
          const float x2 = std::min(1.f, std::max(0.f, pw * 0.5f + cx));
          const float y2 = std::min(1.f, std::max(0.f, ph * 0.5f + cy));
          const float aw = x2 - x1, ah = y2 - y1;
          const float acx = (x2 + x1) * 0.5f, acy = (y1 + y2) * 0.5f;
          loc[4 * k + 0] = head_value(ld, (bx - acx) / (aw * vars_[0]));
          loc[4 * k + 1] = head_value(ld, (by - acy) / (ah * vars_[1]));
          loc[4 * k + 2] = head_value(ld, std::log(bw / aw) / vars_[2]);
          loc[4 * k + 3] = head_value(ld, std::log(bh / ah) / vars_[3]);
        }
      }
    }
  }

  std::vector<MI_IPU_TensorDesc_t> inputs_;
  std::vector<MI_IPU_TensorDesc_t> outputs_;
  std::mutex mutex_;  // guards net_
  cv::dnn::Net net_;
  std::string inputName_;
  bool bgr_ = false;
  bool nhwc_ = true;
  std::vector<float> mean_;
  float scale_ = 1.f;
  std::vector<PlainOutput> plain_;
  float inputSize_ = 1.f;
  std::vector<float> vars_;
  std::vector<SsdHead> heads_;
  std::vector<std::string> names_;  // onnx outputs fetched per run: plain ones, then per head
};

}  // namespace

std::unique_ptr<Executor> make_onnx_executor(const std::string& params, const std::string& payload,
                                             const Model& model, std::string* error) {
  try {
    nlohmann::json p = nlohmann::json::parse(params);
    auto e = std::make_unique<OnnxExecutor>(model, p, payload);
    if (!e->valid(error)) return nullptr;
    return e;
  } catch (const std::exception& e) {
    // cv::Exception for a payload that is no network, nlohmann's for bad parameters.
    *error = e.what();
    return nullptr;
  }
}

}  // namespace ipu
}  // namespace kavo_mi
