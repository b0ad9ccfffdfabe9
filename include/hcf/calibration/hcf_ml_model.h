// One compiled model of a spectrometer's chain, with its input and output features.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/core/result.h"
#include "hcf/platform/ml/ml_model.h"

HCF_NAMESPACE_BEGIN

/// A one-dimensional multi-array of doubles from numbers (element i = entry i).
HCF_API ml::MultiArray mlmultiArray(const std::vector<double>& numbers);
/// The first shape[0] values of a multi-array.
HCF_API std::vector<double> arrayFromMulti(const ml::MultiArray& multi);

/// The input of a model: the feature "dense_1_input__0".
struct HCF_API HCFMLInput {
  ml::MultiArray dense_1_input__0;  ///< the model's input values
  /// The one feature name, "dense_1_input__0".
  std::set<std::string> featureNames() const { return {ml::kInputFeature}; }
  /// The multi-array of "dense_1_input__0"; empty for any other name.
  std::optional<ml::MultiArray> featureValueForName(const std::string& name) const;
};

/// The output of a model: the feature "output_node0__0".
struct HCF_API HCFMLOutput {
  ml::MultiArray output_node0__0;  ///< the model's output values
  /// The one feature name, "output_node0__0".
  std::set<std::string> featureNames() const { return {ml::kOutputFeature}; }
  /// The multi-array of "output_node0__0"; empty for any other name.
  std::optional<ml::MultiArray> featureValueForName(const std::string& name) const;
};

/// One loaded compiled model.
class HCF_API HCFMLModel {
 public:
  /// Loads a compiled model (a ".mlmodelc" folder); an error when it cannot be loaded.
  static Result<std::shared_ptr<const HCFMLModel>> initWithContentsOfURL(
      const std::filesystem::path& compiled);
  /// The model's output for `input`; an error when the input's length is not the model's.
  /// Any thread.
  Result<HCFMLOutput> predictionFromDense_1_input__0(const ml::MultiArray& input) const;
  /// The same for the input's feature.
  Result<HCFMLOutput> predictionFromFeatures(const HCFMLInput& input) const;
  /// The loaded model underneath.
  const ml::Model& model() const { return *model_; }

  /// Wraps a model already loaded.
  explicit HCFMLModel(std::shared_ptr<const ml::Model> model) : model_(std::move(model)) {}

 private:
  std::shared_ptr<const ml::Model> model_;
};

HCF_NAMESPACE_END
