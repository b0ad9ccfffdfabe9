// Small fully connected networks that correct a CIELAB colour, loaded from JSON documents.
#pragma once

#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "hcf/color/color_enums.h"
#include "hcf/core/export.h"
#include "hcf/core/json.h"
#include "hcf/core/result.h"

HCF_NAMESPACE_BEGIN

/// One layer: its node count, its weights and biases, and its type. The weights are a matrix
/// of one row per node of this layer with one weight per node of the layer before
/// (weights[node][input]), or, as Keras writes its kernels, the transpose (weights[input][node]).
/// The input layer has neither.
class HCF_API NNLayer {
 public:
  /// An input layer.
  static NNLayer initWithNumberOfNodes(int numberOfNodes, std::string type);
  /// A layer with weights and biases (not checked here; `TintraNN` checks them).
  static NNLayer initWithNumberOfNodes(int numberOfNodes, std::vector<std::vector<double>> weights,
                                       std::vector<double> biasWeights, std::string type);

  /// How many nodes the layer has.
  int numberOfNodes() const { return numberOfNodes_; }
  /// The weights, in either layout (see above); empty for an input layer.
  const std::vector<std::vector<double>>& weights() const { return weights_; }
  /// One bias a node; empty for an input layer.
  const std::vector<double>& biasWeights() const { return biasWeights_; }
  /// The layer type as the document names it ("SigmoidLayer", ...).
  const std::string& type() const { return type_; }

  /// How the layer's type maps to its transfer function (by prefix, in this order):
  /// "LinearLayer" s, "SigmoidLayer" 1/(1+e^−s), "GaussianLayer" s, "TanhLayer" s,
  /// "ReluLayer" max(s, 0) with NaN kept, anything else s.
  enum class Transfer { Identity, Sigmoid, Relu };
  /// The transfer function of the layer's type.
  Transfer transfer() const { return transfer_; }

 private:
  int numberOfNodes_ = 0;
  std::vector<std::vector<double>> weights_;
  std::vector<double> biasWeights_;
  std::string type_;
  Transfer transfer_ = Transfer::Identity;
};

/// A network document: "shape" (nodes per layer), "layerTypes", "weights", "biasWeights", and
/// optionally complete sub-networks "degree_order_2" and "degree_order_10" for the two
/// observers. Evaluation is plain double-precision arithmetic on the caller's thread.
class HCF_API TintraNN {
 public:
  /// Builds a network from a parsed document. Each layer's weights may be in either layout of
  /// `NNLayer`. A document with missing keys, ragged or mis-sized matrices, or weights that
  /// disagree with "shape" in both layouts is refused with an error.
  static Result<std::shared_ptr<const TintraNN>> initFromDic(const JsonValue& document);
  /// Parses JSON text, then as `initFromDic`. Networks built from the same text are shared, so
  /// rebuilding one for every measurement costs a look-up.
  static Result<std::shared_ptr<const TintraNN>> initFromString(std::string_view json);
  /// Reads and parses a JSON file.
  static Result<std::shared_ptr<const TintraNN>> initFromFile(const std::filesystem::path& path);

  /// The corrected L, a, b for `observer`: the observer's sub-network when the document has one,
  /// else this network.
  std::vector<double> predictOutput(double L, double a, double b, HCFStdObserver observer) const;
  /// This network's outputs for inputs L/100, (a+128)/256, (b+128)/256.
  std::vector<double> predictOutput(double L, double a, double b) const;
  /// The last layer's outputs for `inputs`: weights read as weights[node][input], or as
  /// weights[input][node] (Keras kernels) when `isKerasAnn`. Empty when the inputs do not fit,
  /// when a layer's matrix is not laid out as that reading takes it (a square matrix fits
  /// both), and for a network of one layer.
  std::vector<double> predict(std::span<const double> inputs, bool isKerasAnn) const;
  /// The transfer function of a layer type (the derivative flag has no effect).
  static double applyTransferFunction(std::string_view type, double input, bool useDerivative);

  /// The layers, input layer first.
  const std::vector<NNLayer>& layers() const { return layers_; }
  /// The nodes of each layer, as the document's "shape".
  const std::vector<int>& shape() const { return shape_; }
  /// The 2° observer's sub-network ("degree_order_2"); null when the document has none.
  const std::shared_ptr<const TintraNN>& nn2Degree() const { return nn2Degree_; }
  /// The 10° observer's sub-network ("degree_order_10"); null when the document has none.
  const std::shared_ptr<const TintraNN>& nn10Degree() const { return nn10Degree_; }

 private:
  static Result<std::shared_ptr<const TintraNN>> build(const JsonValue& document, int depth);

  std::vector<NNLayer> layers_;
  std::vector<int> shape_;
  std::shared_ptr<const TintraNN> nn2Degree_;
  std::shared_ptr<const TintraNN> nn10Degree_;
};

HCF_NAMESPACE_END
