// Compiled models of the IPU stand-in: parsing of the model file (magic, JSON header, payload) into
// tensor descriptors and an executor, the software that plays the NPU for one model.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "mi_ipu.h"

namespace kavo_mi {
namespace ipu {

// Runs one model on buffers given by CPU address (views of the emulated physical memory), each as
// large as its tensor's aligned size. Implementations are stateless or lock themselves: channels of
// different threads may run at once.
class Executor {
 public:
  virtual ~Executor() = default;
  virtual void run(const std::vector<std::uint8_t*>& inputs, const std::vector<std::uint8_t*>& outputs) = 0;
};

struct Model {
  std::uint32_t variableBufferSize = 0;
  std::vector<MI_IPU_TensorDesc_t> inputs;
  std::vector<MI_IPU_TensorDesc_t> outputs;
  std::unique_ptr<Executor> executor;
};

// Reads `size` bytes at `offset` of the model file into dst; false on failure.
using Reader = std::function<bool(void* dst, std::uint32_t offset, std::uint32_t size)>;

// An integer of a model header or of its executor's parameters. nlohmann converts a floating-point
// number to an integer type with a plain cast, undefined beyond the type's range, so integer fields
// take integers only: anything else throws nlohmann's type_error, which the parsers turn into a
// refusal. The second form gives `def` when `key` is absent.
template <typename T>
T integer(const nlohmann::json& j) {
  if (!j.is_number_integer())
    throw nlohmann::json::type_error::create(302, "integer expected: " + j.dump(), &j);
  return j.get<T>();
}
template <typename T>
T integer(const nlohmann::json& j, const char* key, T def) {
  return j.contains(key) ? integer<T>(j.at(key)) : def;
}

// Bytes of one element of `format`; 0 for an unknown format.
std::uint32_t element_bytes(MI_IPU_ELEMENT_FORMAT format);

// Reads the whole model file through `read`: the fixed prefix, then the header, then the payload.
// False (with *readFailed set when a read failed, not the format) when it is not a model file.
bool read_model_file(const Reader& read, std::string* header, std::string* payload, bool* readFailed);

// Parses the header and builds the executor over the payload. False with a reason on bad input.
bool parse_model(const std::string& header, const std::string& payload, Model* model, std::string* error);

// Builds the executor `name` for a model (its descriptors already parsed); null with a reason when
// the name is unknown or its parameters are invalid. `params` is the JSON text of "params".
std::unique_ptr<Executor> make_executor(const std::string& name, const std::string& params,
                                        const std::string& payload, const Model& model, std::string* error);

// The "onnx" executor (OpenCV dnn over the payload); see mi_ipu_onnx.cpp for its parameters.
std::unique_ptr<Executor> make_onnx_executor(const std::string& params, const std::string& payload,
                                             const Model& model, std::string* error);

}  // namespace ipu
}  // namespace kavo_mi
