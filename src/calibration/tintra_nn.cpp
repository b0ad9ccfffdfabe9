#include "hcf/calibration/tintra_nn.h"

#include <cerrno>
#include <cmath>
#include <fstream>
#include <sstream>

#include "../core/json_text.h"
#include "hcf/core/ht_utility.h"
#include "text_cache.h"

HCF_NAMESPACE_BEGIN

namespace {

// Bounds of a document we accept: far above any real network, far below what could exhaust
// memory.
constexpr std::size_t kMaxLayers = 64;
constexpr int kMaxNodes = 4096;
constexpr int kMaxSubNetworkDepth = 2;
// Input scaling of the colour.
constexpr double kLightnessScale = 100.0;
constexpr double kChromaOffset = 128.0;
constexpr double kChromaScale = 0.00390625;  // 1/256

HCFError invalid(const std::string& why) {
  return HTUtility::errWithMsg("Invalid network document: " + why,
                               error_code::kInvalidNetworkDocument);
}

NNLayer::Transfer transferOf(std::string_view type) {
  if (type.starts_with("LinearLayer")) return NNLayer::Transfer::Identity;
  if (type.starts_with("SigmoidLayer")) return NNLayer::Transfer::Sigmoid;
  if (type.starts_with("GaussianLayer")) return NNLayer::Transfer::Identity;  // passed through
  if (type.starts_with("TanhLayer")) return NNLayer::Transfer::Identity;      // passed through
  if (type.starts_with("ReluLayer")) return NNLayer::Transfer::Relu;
  return NNLayer::Transfer::Identity;
}

double transfer(NNLayer::Transfer t, double s) {
  switch (t) {
    case NNLayer::Transfer::Sigmoid:
      return 1.0 / (1.0 + std::exp(-s));
    case NNLayer::Transfer::Relu:
      if (std::isnan(s)) return s;
      return s > 0 ? s : 0.0;
    case NNLayer::Transfer::Identity:
      break;
  }
  return s;
}

Result<std::vector<double>> numbers(const JsonValue& v, std::size_t expected,
                                    const std::string& what) {
  if (!v.is_array() || v.size() != expected) {
    return invalid(what + " must hold " + std::to_string(expected) + " numbers");
  }
  std::vector<double> out;
  out.reserve(expected);
  for (const auto& x : v) {
    if (!x.is_number()) return invalid(what + " holds something that is not a number");
    out.push_back(x.get<double>());
  }
  return out;
}

TextCache<TintraNN>& networkCache() {
  static TextCache<TintraNN> cache;
  return cache;
}

}  // namespace

NNLayer NNLayer::initWithNumberOfNodes(int numberOfNodes, std::string type) {
  NNLayer l;
  l.numberOfNodes_ = numberOfNodes;
  l.transfer_ = transferOf(type);
  l.type_ = std::move(type);
  return l;
}

NNLayer NNLayer::initWithNumberOfNodes(int numberOfNodes, std::vector<std::vector<double>> weights,
                                       std::vector<double> biasWeights, std::string type) {
  NNLayer l = initWithNumberOfNodes(numberOfNodes, std::move(type));
  l.weights_ = std::move(weights);
  l.biasWeights_ = std::move(biasWeights);
  return l;
}

Result<std::shared_ptr<const TintraNN>> TintraNN::build(const JsonValue& doc, int depth) {
  if (!doc.is_object()) return invalid("not a JSON object");
  const auto shapeIt = doc.find("shape");
  const auto typesIt = doc.find("layerTypes");
  if (shapeIt == doc.end() || !shapeIt->is_array() || shapeIt->empty() ||
      shapeIt->size() > kMaxLayers) {
    return invalid("\"shape\" must list 1 to 64 layer sizes");
  }
  auto net = std::make_shared<TintraNN>();
  for (const auto& s : *shapeIt) {
    if (!s.is_number_integer() || s.get<std::int64_t>() < 1 || s.get<std::int64_t>() > kMaxNodes) {
      return invalid("\"shape\" entries must be whole numbers from 1 to 4096");
    }
    net->shape_.push_back(s.get<int>());
  }
  const std::size_t layerCount = net->shape_.size();
  if (typesIt == doc.end() || !typesIt->is_array() || typesIt->size() != layerCount) {
    return invalid("\"layerTypes\" must name one type per layer");
  }
  for (const auto& t : *typesIt) {
    if (!t.is_string()) return invalid("\"layerTypes\" entries must be text");
  }
  net->layers_.push_back(
      NNLayer::initWithNumberOfNodes(net->shape_[0], (*typesIt)[0].get<std::string>()));
  if (layerCount > 1) {
    const auto wIt = doc.find("weights");
    const auto bIt = doc.find("biasWeights");
    if (wIt == doc.end() || !wIt->is_array() || wIt->size() != layerCount - 1) {
      return invalid("\"weights\" must hold one matrix per layer after the first");
    }
    if (bIt == doc.end() || !bIt->is_array() || bIt->size() != layerCount - 1) {
      return invalid("\"biasWeights\" must hold one vector per layer after the first");
    }
    for (std::size_t k = 1; k < layerCount; ++k) {
      const auto nodes = static_cast<std::size_t>(net->shape_[k]);
      const auto inputs = static_cast<std::size_t>(net->shape_[k - 1]);
      const JsonValue& w = (*wIt)[k - 1];
      // One row per node (weights[node][input]) or, as Keras writes its kernels, one row per
      // input (weights[input][node]); `predict` reads the matrix by the layout it is told.
      if (!w.is_array() || (w.size() != nodes && w.size() != inputs)) {
        return invalid("weights of layer " + std::to_string(k) + " must have " +
                       std::to_string(nodes) + " rows (one per node) or " + std::to_string(inputs) +
                       " (one per input)");
      }
      const std::size_t width = w.size() == nodes ? inputs : nodes;
      std::vector<std::vector<double>> matrix;
      matrix.reserve(w.size());
      for (std::size_t j = 0; j < w.size(); ++j) {
        auto row =
            numbers(w[j], width, "row " + std::to_string(j) + " of layer " + std::to_string(k));
        if (!row) return row.error();
        matrix.push_back(std::move(*row));
      }
      auto bias = numbers((*bIt)[k - 1], nodes, "the biases of layer " + std::to_string(k));
      if (!bias) return bias.error();
      net->layers_.push_back(NNLayer::initWithNumberOfNodes(
          net->shape_[k], std::move(matrix), std::move(*bias), (*typesIt)[k].get<std::string>()));
    }
  }
  for (const auto& [key, slot] : {std::pair{"degree_order_2", &net->nn2Degree_},
                                  std::pair{"degree_order_10", &net->nn10Degree_}}) {
    const auto it = doc.find(key);
    if (it == doc.end()) continue;
    if (depth >= kMaxSubNetworkDepth) return invalid("observer networks nest too deep");
    auto sub = build(*it, depth + 1);
    if (!sub) return invalid(std::string(key) + ": " + sub.error().localizedDescription);
    *slot = *sub;
  }
  return std::shared_ptr<const TintraNN>(std::move(net));
}

Result<std::shared_ptr<const TintraNN>> TintraNN::initFromDic(const JsonValue& document) {
  return build(document, 0);
}

Result<std::shared_ptr<const TintraNN>> TintraNN::initFromString(std::string_view json) {
  return networkCache().get(json,
                            [](std::string_view text) -> Result<std::shared_ptr<const TintraNN>> {
                              JsonValue doc;
                              try {
                                doc = json_text::parse(text);
                              } catch (const JsonValue::exception& e) {
                                return invalid(std::string("not JSON (") + e.what() + ")");
                              }
                              return initFromDic(doc);
                            });
}

Result<std::shared_ptr<const TintraNN>> TintraNN::initFromFile(const std::filesystem::path& path) {
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return HTUtility::fileReadError("Cannot read network file " + path.string(), errno);
  std::ostringstream text;
  text << in.rdbuf();
  return initFromString(text.str());
}

std::vector<double> TintraNN::predictOutput(double L, double a, double b,
                                            HCFStdObserver observer) const {
  if (observer == HCFStdObserver::TwoDegree && nn2Degree_)
    return nn2Degree_->predictOutput(L, a, b);
  if (observer == HCFStdObserver::TenDegree && nn10Degree_) {
    return nn10Degree_->predictOutput(L, a, b);
  }
  return predictOutput(L, a, b);
}

std::vector<double> TintraNN::predictOutput(double L, double a, double b) const {
  const double inputs[3] = {L / kLightnessScale, (a + kChromaOffset) * kChromaScale,
                            (b + kChromaOffset) * kChromaScale};
  return predict(inputs, false);
}

std::vector<double> TintraNN::predict(std::span<const double> inputs, bool isKerasAnn) const {
  if (layers_.size() < 2 || inputs.size() != static_cast<std::size_t>(shape_[0])) return {};
  std::vector<double> x(inputs.begin(), inputs.end());
  std::vector<double> next;
  for (std::size_t k = 1; k < layers_.size(); ++k) {
    const NNLayer& layer = layers_[k];
    const auto nodes = static_cast<std::size_t>(layer.numberOfNodes());
    const auto& w = layer.weights();
    // The matrix must be laid out as this reading takes it: [input][node] for Keras kernels,
    // else [node][input].
    const std::size_t rows = isKerasAnn ? x.size() : nodes;
    const std::size_t width = isKerasAnn ? nodes : x.size();
    if (w.size() != rows) return {};
    for (const auto& row : w) {
      if (row.size() != width) return {};
    }
    next.assign(nodes, 0.0);
    for (std::size_t j = 0; j < nodes; ++j) {
      double s = 0.0;
      for (std::size_t i = 0; i < x.size(); ++i) s += (isKerasAnn ? w[i][j] : w[j][i]) * x[i];
      s += layer.biasWeights()[j];
      next[j] = transfer(layer.transfer(), s);
    }
    x.swap(next);
  }
  return x;
}

double TintraNN::applyTransferFunction(std::string_view type, double input,
                                       bool /*useDerivative*/) {
  return transfer(transferOf(type), input);
}

HCF_NAMESPACE_END
