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
/// The runtime of the kit's neural networks: dense ONNX models compiled into the kit's own form
/// and evaluated in double precision.
namespace ml {

/// The input feature name every model of the kit has.
inline constexpr const char* kInputFeature = "dense_1_input__0";
/// The output feature name every model of the kit has.
inline constexpr const char* kOutputFeature = "output_node0__0";
/// The extension of a compiled model (a folder).
inline constexpr const char* kCompiledExtension = ".mlmodelc";

/// A one-dimensional array of doubles (the framework's multi-array).
struct MultiArray {
  std::vector<std::int64_t> shape;  ///< the dimensions: one, the number of values
  std::vector<double> values;       ///< the values, in order

  /// The array of `v`, shaped as one dimension of its length.
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
  /// after the model with the extension ".mlmodelc", into `outputDirectory`.
  ///
  /// Accepted: one chain of nodes from the input "dense_1_input__0" (rank 1 or 2) to the output
  /// "output_node0__0", every value of rank 0 to 2, each node taking the previous node's value
  /// and otherwise only constants (initializers, or the values of Constant nodes given as
  /// "value", "value_float(s)" or "value_int(s)"), of element type float, double or int64 and
  /// all finite. The operators: MatMul and Add, Sub, Mul, Div with a constant on either side
  /// (numpy broadcasting), Gemm (alpha, beta, transA, transB; C broadcast to the result),
  /// BatchNormalization in inference form (folded into a per-channel factor and offset along
  /// the last dimension), Relu, Sigmoid, Tanh, Softmax (along one axis from operator set 13 on,
  /// over the dimensions from the axis on before), Identity, Reshape (shape as a constant or
  /// attribute) and Flatten (negative axes too). Tensors may be kept in external files: a
  /// relative path of plain names inside the model file's folder, not a link, with an offset
  /// and length within the file that match the tensor. The file and its external data are at
  /// most 64 MiB each. A symbolic input dimension is the batch (1) when it leads a rank-2 input;
  /// any other is the feature count fixed by the first MatMul or Gemm weight or
  /// BatchNormalization the input reaches through steps that keep its shape.
  ///
  /// Anything else is refused with an error naming the problem: another operator, a missing
  /// initializer, a value that is not finite, shapes that do not fit, an external file outside
  /// the folder, a symbolic dimension nothing fixes, a graph that is not one chain, or bytes
  /// that are not an ONNX model.
  static Result<std::filesystem::path> compileModelAtURL(
      const std::filesystem::path& modelFile, const std::filesystem::path& outputDirectory);
  /// Loads a compiled model folder (of this version or the one before). Damaged forms, values
  /// that are not finite numbers among them, are refused.
  static Result<std::shared_ptr<const Model>> initWithContentsOfURL(
      const std::filesystem::path& compiled);
  /// Validates ONNX bytes as `compileModelAtURL` does and builds the model in memory. Having
  /// no folder, it refuses tensors kept in external files.
  static Result<std::shared_ptr<const Model>> fromONNX(std::span<const std::uint8_t> onnx);

  /// The output for `input`; an input of another length than the model's is an error.
  Result<MultiArray> prediction(const MultiArray& input) const;
  /// How many values a prediction's input must have.
  std::size_t inputLength() const;
  /// How many values a prediction gives.
  std::size_t outputLength() const;

  /// One operation of the compiled chain.
  struct Step;
  /// The compiled chain and its sizes.
  struct Impl;
  /// For the loaders above: the model over the compiled `impl`.
  explicit Model(std::shared_ptr<const Impl> impl);
  ~Model();

 private:
  std::shared_ptr<const Impl> impl_;
};

}  // namespace ml
HCF_NAMESPACE_END
