#include "hcf/calibration/hcf_ml_model.h"

#include <algorithm>

HCF_NAMESPACE_BEGIN

ml::MultiArray mlmultiArray(const std::vector<double>& numbers) {
  return ml::MultiArray::vector(numbers);
}

std::vector<double> arrayFromMulti(const ml::MultiArray& multi) {
  const std::size_t n =
      multi.shape.empty()
          ? multi.values.size()
          : std::min(multi.values.size(),
                     static_cast<std::size_t>(std::max<std::int64_t>(multi.shape[0], 0)));
  return std::vector<double>(multi.values.begin(), multi.values.begin() + static_cast<long>(n));
}

std::optional<ml::MultiArray> HCFMLInput::featureValueForName(const std::string& name) const {
  if (name != ml::kInputFeature) return std::nullopt;
  return dense_1_input__0;
}

std::optional<ml::MultiArray> HCFMLOutput::featureValueForName(const std::string& name) const {
  if (name != ml::kOutputFeature) return std::nullopt;
  return output_node0__0;
}

Result<std::shared_ptr<const HCFMLModel>> HCFMLModel::initWithContentsOfURL(
    const std::filesystem::path& compiled) {
  auto model = ml::Model::initWithContentsOfURL(compiled);
  if (!model) return model.error();
  return std::make_shared<const HCFMLModel>(*model);
}

Result<HCFMLOutput> HCFMLModel::predictionFromDense_1_input__0(const ml::MultiArray& input) const {
  auto out = model_->prediction(input);
  if (!out) return out.error();
  return HCFMLOutput{std::move(*out)};
}

Result<HCFMLOutput> HCFMLModel::predictionFromFeatures(const HCFMLInput& input) const {
  return predictionFromDense_1_input__0(input.dense_1_input__0);
}

HCF_NAMESPACE_END
