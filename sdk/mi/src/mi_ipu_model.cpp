// Model file parsing and the test executors of the IPU stand-in.
#include "mi_ipu_model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>

namespace kavo_mi {
namespace ipu {
namespace {

constexpr char kMagic[8] = {'K', 'A', 'V', 'O', 'I', 'P', 'U', '1'};
constexpr std::uint32_t kPrefixBytes = 16;  // magic, header length, payload length
// Larger headers are not model headers: a sealed or foreign file must not make us allocate much.
constexpr std::uint32_t kMaxHeaderBytes = 1u << 20;
constexpr std::uint32_t kPayloadChunk = 1u << 20;

std::uint32_t le32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool parse_tensor(const nlohmann::json& j, MI_IPU_TensorDesc_t* d, std::string* error) {
  std::memset(d, 0, sizeof(*d));
  const std::string name = j.at("name").get<std::string>();
  std::vector<std::uint32_t> shape;
  for (const nlohmann::json& v : j.at("shape").get<std::vector<nlohmann::json>>())
    shape.push_back(integer<std::uint32_t>(v));
  const int format = integer<int>(j.at("format"));
  // Only a number in the enumeration's range is a value of its type; any other has no element size.
  const bool inRange = format >= MI_IPU_FORMAT_U8 && format <= MI_IPU_FORMAT_ABGR8888;
  if (inRange) d->eElmFormat = static_cast<MI_IPU_ELEMENT_FORMAT>(format);
  const std::uint32_t bytes = inRange ? element_bytes(d->eElmFormat) : 0;
  if (bytes == 0 || name.size() >= MI_IPU_MAX_TENSOR_NAME_LEN || shape.empty() ||
      shape.size() > MI_IPU_MAX_TENSOR_DIM ||
      std::any_of(shape.begin(), shape.end(), [](std::uint32_t v) { return v == 0; })) {
    *error = "bad tensor " + name;
    return false;
  }
  std::memcpy(d->name, name.data(), name.size());
  d->u32TensorDim = static_cast<MI_U32>(shape.size());
  std::copy(shape.begin(), shape.end(), d->u32TensorShape);
  const std::size_t n = shape.size();
  std::uint64_t aligned = 0;
  std::uint64_t rowBytes = 0;
  if (d->eElmFormat == MI_IPU_FORMAT_NV12) {
    // (N, H, W, C): a luma plane of H rows and a chroma plane of H / 2 rows, W bytes each.
    if (n < 3) {
      *error = "NV12 tensor " + name + " needs 3 dimensions";
      return false;
    }
    d->u32InnerMostStride = integer(j, "innerMostStride", shape[n - 2]);
    rowBytes = shape[n - 2];
    aligned = static_cast<std::uint64_t>(shape[n - 3]) * d->u32InnerMostStride * 3 / 2;
  } else {
    d->u32InnerMostStride = integer(j, "innerMostStride", shape[n - 1] * bytes);
    rowBytes = static_cast<std::uint64_t>(shape[n - 1]) * bytes;
    std::uint64_t rows = 1;
    for (std::size_t i = 0; i + 1 < n; ++i) rows *= shape[i];
    aligned = rows * d->u32InnerMostStride;
  }
  aligned = integer(j, "alignedBufSize", aligned);
  // Rows may be padded, never overlap; a buffer may be larger than its rows need, never smaller
  // than the executors read (NV12 may be exactly its planes, which the library checks).
  if (d->u32InnerMostStride < rowBytes || aligned == 0 || aligned > 0xFFFFFFFFull) {
    *error = "bad buffer size of tensor " + name;
    return false;
  }
  d->u32AlignedBufSize = static_cast<MI_U32>(aligned);
  d->fScalar = j.value("scale", 1.0f);
  d->s64ZeroPoint = integer(j, "zeroPoint", static_cast<std::int64_t>(0));
  return true;
}

class ZerosExecutor : public Executor {
 public:
  explicit ZerosExecutor(std::vector<std::uint32_t> outSizes) : outSizes_(std::move(outSizes)) {}
  void run(const std::vector<std::uint8_t*>&, const std::vector<std::uint8_t*>& outputs) override {
    for (std::size_t k = 0; k < outputs.size(); ++k) std::memset(outputs[k], 0, outSizes_[k]);
  }

 private:
  std::vector<std::uint32_t> outSizes_;
};

// `value` in T's range (NaN gives 0): a double beyond an integer type's range does not convert.
template <typename T>
T saturated(double value) {
  if (std::isnan(value)) return 0;
  return static_cast<T>(
      std::clamp<double>(value, std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max()));
}

// Writes `value` to every element of every output, converted to the output's element format
// (saturated to the range of an integer format).
class ConstantExecutor : public Executor {
 public:
  ConstantExecutor(const Model& model, double value) {
    for (const MI_IPU_TensorDesc_t& d : model.outputs) {
      std::uint32_t bytes = element_bytes(d.eElmFormat);
      std::vector<std::uint8_t> pattern(bytes);
      switch (d.eElmFormat) {
        case MI_IPU_FORMAT_INT16: {
          std::int16_t v = saturated<std::int16_t>(value);
          std::memcpy(pattern.data(), &v, bytes);
          break;
        }
        case MI_IPU_FORMAT_INT32: {
          std::int32_t v = saturated<std::int32_t>(value);
          std::memcpy(pattern.data(), &v, bytes);
          break;
        }
        case MI_IPU_FORMAT_FP32: {
          float v = static_cast<float>(value);
          std::memcpy(pattern.data(), &v, bytes);
          break;
        }
        case MI_IPU_FORMAT_INT8:
          pattern[0] = static_cast<std::uint8_t>(saturated<std::int8_t>(value));
          break;
        default:
          pattern[0] = saturated<std::uint8_t>(value);
          break;
      }
      patterns_.push_back(std::move(pattern));
      sizes_.push_back(d.u32AlignedBufSize);
    }
  }
  // Fills each output with its pattern here, not from a copy made at creation: a model file may
  // declare outputs of up to 4 GiB, and opening it must not allocate them.
  void run(const std::vector<std::uint8_t*>&, const std::vector<std::uint8_t*>& outputs) override {
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      const std::vector<std::uint8_t>& pattern = patterns_[k];
      for (std::uint32_t i = 0; i < sizes_[k]; ++i) outputs[k][i] = pattern[i % pattern.size()];
    }
  }

 private:
  std::vector<std::vector<std::uint8_t>> patterns_;  // one element of each output
  std::vector<std::uint32_t> sizes_;                 // bytes of each output
};

// Output k gets the bytes of input k (as many as both hold; the rest zero); outputs without an
// input are zeroed.
class CopyExecutor : public Executor {
 public:
  explicit CopyExecutor(const Model& model) {
    for (const auto& d : model.inputs) inSizes_.push_back(d.u32AlignedBufSize);
    for (const auto& d : model.outputs) outSizes_.push_back(d.u32AlignedBufSize);
  }
  void run(const std::vector<std::uint8_t*>& inputs, const std::vector<std::uint8_t*>& outputs) override {
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      std::uint32_t n = k < inputs.size() ? std::min(inSizes_[k], outSizes_[k]) : 0;
      if (n > 0) std::memcpy(outputs[k], inputs[k], n);
      std::memset(outputs[k] + n, 0, outSizes_[k] - n);
    }
  }

 private:
  std::vector<std::uint32_t> inSizes_;
  std::vector<std::uint32_t> outSizes_;
};

// Every output is zeroed and starts with the sum of all input bytes (unsigned 32-bit, little-endian).
class ChecksumExecutor : public Executor {
 public:
  explicit ChecksumExecutor(const Model& model) {
    for (const auto& d : model.inputs) inSizes_.push_back(d.u32AlignedBufSize);
    for (const auto& d : model.outputs) outSizes_.push_back(d.u32AlignedBufSize);
  }
  void run(const std::vector<std::uint8_t*>& inputs, const std::vector<std::uint8_t*>& outputs) override {
    std::uint32_t sum = 0;
    for (std::size_t k = 0; k < inputs.size(); ++k) {
      for (std::uint32_t i = 0; i < inSizes_[k]; ++i) sum += inputs[k][i];
    }
    const unsigned char bytes[4] = {static_cast<unsigned char>(sum), static_cast<unsigned char>(sum >> 8),
                                    static_cast<unsigned char>(sum >> 16),
                                    static_cast<unsigned char>(sum >> 24)};
    for (std::size_t k = 0; k < outputs.size(); ++k) {
      std::memset(outputs[k], 0, outSizes_[k]);
      std::memcpy(outputs[k], bytes, std::min<std::uint32_t>(4, outSizes_[k]));
    }
  }

 private:
  std::vector<std::uint32_t> inSizes_;
  std::vector<std::uint32_t> outSizes_;
};

}  // namespace

std::uint32_t element_bytes(MI_IPU_ELEMENT_FORMAT format) {
  switch (format) {
    case MI_IPU_FORMAT_U8:
    case MI_IPU_FORMAT_NV12:
    case MI_IPU_FORMAT_INT8:
    case MI_IPU_FORMAT_ARGB8888:
    case MI_IPU_FORMAT_ABGR8888:
      return 1;
    case MI_IPU_FORMAT_INT16:
      return 2;
    case MI_IPU_FORMAT_INT32:
    case MI_IPU_FORMAT_FP32:
      return 4;
    default:
      return 0;
  }
}

bool read_model_file(const Reader& read, std::string* header, std::string* payload, bool* readFailed) {
  *readFailed = false;
  unsigned char prefix[kPrefixBytes];
  if (!read(prefix, 0, kPrefixBytes)) {
    *readFailed = true;
    return false;
  }
  if (std::memcmp(prefix, kMagic, sizeof(kMagic)) != 0) return false;
  const std::uint32_t headerBytes = le32(prefix + 8);
  const std::uint32_t payloadBytes = le32(prefix + 12);
  if (headerBytes == 0 || headerBytes > kMaxHeaderBytes) return false;
  header->resize(headerBytes);
  if (!read(&(*header)[0], kPrefixBytes, headerBytes)) {
    *readFailed = true;
    return false;
  }
  // The payload length is only the file's word for it: grow the buffer as its bytes arrive, so that a
  // length beyond the end fails after reading what is there instead of first reserving up to 4 GiB.
  payload->clear();
  for (std::uint32_t done = 0; done < payloadBytes;) {
    const std::uint32_t n = std::min(kPayloadChunk, payloadBytes - done);
    payload->resize(done + n);
    if (!read(&(*payload)[done], kPrefixBytes + headerBytes + done, n)) {
      *readFailed = true;
      return false;
    }
    done += n;
  }
  return true;
}

bool parse_model(const std::string& header, const std::string& payload, Model* model, std::string* error) {
  nlohmann::json j = nlohmann::json::parse(header, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    *error = "header is not a JSON object";
    return false;
  }
  try {
    model->variableBufferSize = integer(j, "variableBufferSize", 0u);
    for (const char* dir : {"inputs", "outputs"}) {
      auto& list = dir[0] == 'i' ? model->inputs : model->outputs;
      const std::size_t max = dir[0] == 'i' ? MI_IPU_MAX_INPUT_TENSOR_CNT : MI_IPU_MAX_OUTPUT_TENSOR_CNT;
      const nlohmann::json& tensors = j.at(dir);
      if (!tensors.is_array() || tensors.size() > max) {
        *error = std::string("bad ") + dir;
        return false;
      }
      for (const nlohmann::json& t : tensors) {
        MI_IPU_TensorDesc_t d;
        if (!parse_tensor(t, &d, error)) return false;
        list.push_back(d);
      }
    }
    const std::string params = j.value("params", nlohmann::json::object()).dump();
    model->executor = make_executor(j.at("executor").get<std::string>(), params, payload, *model, error);
    return model->executor != nullptr;
  } catch (const nlohmann::json::exception& e) {
    *error = e.what();
    return false;
  }
}

std::unique_ptr<Executor> make_executor(const std::string& name, const std::string& params,
                                        const std::string& payload, const Model& model, std::string* error) {
  if (name == "zeros") {
    std::vector<std::uint32_t> sizes;
    for (const auto& d : model.outputs) sizes.push_back(d.u32AlignedBufSize);
    return std::make_unique<ZerosExecutor>(sizes);
  }
  if (name == "constant") {
    nlohmann::json p = nlohmann::json::parse(params, nullptr, false);
    if (p.is_discarded() || !p.contains("value") || !p["value"].is_number()) {
      *error = "constant executor needs params.value";
      return nullptr;
    }
    return std::make_unique<ConstantExecutor>(model, p["value"].get<double>());
  }
  if (name == "copy") return std::make_unique<CopyExecutor>(model);
  if (name == "checksum") return std::make_unique<ChecksumExecutor>(model);
  if (name == "onnx") return make_onnx_executor(params, payload, model, error);
  *error = "unknown executor " + name;
  return nullptr;
}

}  // namespace ipu
}  // namespace kavo_mi
