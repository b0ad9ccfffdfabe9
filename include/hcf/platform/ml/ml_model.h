// The compiled-model runtime: ONNX models of dense networks, validated and "compiled" into a
// compact form of the kit's, then evaluated in double precision.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN
namespace ml {

/// The input and output feature names every model of the kit has.
inline constexpr const char* kInputFeature = "dense_1_input__0";
inline constexpr const char* kOutputFeature = "output_node0__0";
/// The extension of a compiled model (a folder).
inline constexpr const char* kCompiledExtension = ".mlmodelc";

/// A one-dimensional array of doubles (the framework's multi-array).
struct MultiArray {
  std::vector<std::int64_t> shape;
  std::vector<double> values;

  static MultiArray vector(std::vector<double> v) {
    MultiArray m;
    m.shape = {static_cast<std::int64_t>(v.size())};
    m.values = std::move(v);
    return m;
  }
};

/// One loaded model. Immutable; predictions may run on any thread at once.
class HCF_API Model {
 public:
  /// Validates the ONNX model at `modelFile` and writes its compiled form, a folder named
  /// after the model with the extension ".mlmodelc", into `outputDirectory`. Refused with an
  /// error naming the problem: an operator outside MatMul, Gemm, Add, Relu, Sigmoid, Tanh,
  /// Identity, Reshape and Flatten, a missing initializer, a shape mismatch, a graph that does
  /// not lead as one chain from "dense_1_input__0" to "output_node0__0", or bytes that are not
  /// an ONNX model.
  static Result<std::filesystem::path> compileModelAtURL(
      const std::filesystem::path& modelFile, const std::filesystem::path& outputDirectory);
  /// Loads a compiled model folder.
  static Result<std::shared_ptr<const Model>> initWithContentsOfURL(
      const std::filesystem::path& compiled);
  /// Validates ONNX bytes and builds the model in memory.
  static Result<std::shared_ptr<const Model>> fromONNX(std::span<const std::uint8_t> onnx);

  /// The output for `input`; an input of another length than the model's is an error.
  Result<MultiArray> prediction(const MultiArray& input) const;
  std::size_t inputLength() const;
  std::size_t outputLength() const;

  struct Step;
  struct Impl;
  explicit Model(std::shared_ptr<const Impl> impl);
  ~Model();

 private:
  std::shared_ptr<const Impl> impl_;
};

}  // namespace ml
HCF_NAMESPACE_END
