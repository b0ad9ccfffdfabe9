// The network evaluator.
#include "hcf/calibration/tintra_nn.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "fixtures.h"

using namespace hcf;

namespace {

JsonValue identity3(const std::string& type = "LinearLayer") {
  return {{"shape", {3, 3}},
          {"layerTypes", {"input", type}},
          {"weights", {{{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}}},
          {"biasWeights", {{0, 0, 0}}}};
}

std::shared_ptr<const TintraNN> build(const JsonValue& doc) {
  auto r = TintraNN::initFromDic(doc);
  EXPECT_TRUE(r.ok()) << (r.ok() ? "" : r.error().localizedDescription);
  return r.ok() ? *r : nullptr;
}

}  // namespace

TEST(TintraNN, IdentityNetworkReturnsTheScaledInputs) {
  auto net = build(identity3());
  const auto out = net->predictOutput(50, 10, -20);
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0], 0.5);
  EXPECT_EQ(out[1], (10.0 + 128) * 0.00390625);
  EXPECT_EQ(out[2], (-20.0 + 128) * 0.00390625);
  EXPECT_EQ(net->layers().size(), 2u);
  EXPECT_EQ(net->shape(), (std::vector<int>{3, 3}));
}

TEST(TintraNN, ObserverSubNetworksWhenPresent) {
  const std::string doc = hcf_cloud::fixtures::offsetNetworkDocument({1, 2, 3}, {4, 5, 6});
  auto net = TintraNN::initFromString(doc);
  ASSERT_TRUE(net.ok());
  const auto two = (*net)->predictOutput(50, 10, -20, HCFStdObserver::TwoDegree);
  const auto ten = (*net)->predictOutput(50, 10, -20, HCFStdObserver::TenDegree);
  EXPECT_NEAR(two[0], 51, 1e-12);
  EXPECT_NEAR(two[1], 12, 1e-12);
  EXPECT_NEAR(ten[2], -14, 1e-12);
  // Without a 10° member the main network answers.
  auto plain = build(identity3());
  EXPECT_EQ(plain->predictOutput(50, 10, -20, HCFStdObserver::TenDegree),
            plain->predictOutput(50, 10, -20));
  // The same text gives the same shared network.
  EXPECT_EQ(*TintraNN::initFromString(doc), *net);
}

TEST(TintraNN, TransferFunctionsByTypePrefix) {
  EXPECT_EQ(TintraNN::applyTransferFunction("LinearLayer", -2.5, false), -2.5);
  EXPECT_DOUBLE_EQ(TintraNN::applyTransferFunction("SigmoidLayer", 0.0, true), 0.5);
  EXPECT_EQ(TintraNN::applyTransferFunction("GaussianLayer", 3.0, false), 3.0);  // pass-through
  EXPECT_EQ(TintraNN::applyTransferFunction("TanhLayer", 3.0, false), 3.0);      // pass-through
  EXPECT_EQ(TintraNN::applyTransferFunction("ReluLayer", -1.0, false), 0.0);
  EXPECT_EQ(TintraNN::applyTransferFunction("ReluLayerWithSuffix", -1.0, false), 0.0);
  EXPECT_TRUE(std::isnan(TintraNN::applyTransferFunction("ReluLayer", NAN, false)));
  EXPECT_EQ(TintraNN::applyTransferFunction("Softmax", -7.0, false), -7.0);
  auto relu = build(identity3("ReluLayer2"));
  EXPECT_EQ(relu->predict(std::vector<double>{-1, 0.5, 2}, false),
            (std::vector<double>{0, 0.5, 2}));
}

// A matrix in either layout builds; each reading takes only its own layout (a square matrix
// fits both).
TEST(TintraNN, WeightsInEitherLayoutArePredictedOnlyByTheirReading) {
  struct Row {
    const char* name;
    JsonValue shape;
    JsonValue weights;
    std::vector<double> x;
    std::vector<double> plain;  // weights[node][input]; empty: no answer
    std::vector<double> keras;  // weights[input][node]
  };
  const Row rows[] = {
      {"square", {2, 2}, {{{1, 2}, {3, 4}}}, {10, 100}, {210.5, 430.5}, {310.5, 420.5}},
      {"3 -> 2, [node][input]", {3, 2}, {{{1, 2, 3}, {4, 5, 6}}}, {1, 10, 100}, {321.5, 654.5}, {}},
      {"3 -> 2, [input][node]",
       {3, 2},
       {{{1, 4}, {2, 5}, {3, 6}}},
       {1, 10, 100},
       {},
       {321.5, 654.5}},
      {"2 -> 3, [node][input]",
       {2, 3},
       {{{1, 4}, {2, 5}, {3, 6}}},
       {1, 10},
       {41.5, 52.5, 63.5},
       {}},
      {"2 -> 3, [input][node]", {2, 3}, {{{1, 2, 3}, {4, 5, 6}}}, {1, 10}, {}, {41.5, 52.5, 63.5}},
      {"3 -> 2 -> 1, [input][node]",
       {3, 2, 1},
       {{{1, 4}, {2, 5}, {3, 6}}, {{1}, {-1}}},
       {1, 10, 100},
       {},
       {321.5 - 654.5 + 0.5}},
  };
  for (const auto& r : rows) {
    JsonValue types = JsonValue::array();
    JsonValue biases = JsonValue::array();
    for (const auto& n : r.shape) {
      types.push_back("LinearLayer");
      if (types.size() > 1) biases.push_back(std::vector<double>(n.get<std::size_t>(), 0.5));
    }
    auto net = build({{"shape", r.shape},
                      {"layerTypes", types},
                      {"weights", r.weights},
                      {"biasWeights", biases}});
    ASSERT_TRUE(net) << r.name;
    EXPECT_EQ(net->predict(r.x, false), r.plain) << r.name;
    EXPECT_EQ(net->predict(r.x, true), r.keras) << r.name;
    EXPECT_TRUE(net->predict(std::vector<double>(r.x.size() + 1, 1), false).empty()) << r.name;
  }
}

TEST(TintraNN, OneLayerNetworkHasNoOutput) {
  auto net = build({{"shape", {3}}, {"layerTypes", {"in"}}});
  EXPECT_TRUE(net->predictOutput(1, 2, 3).empty());
}

TEST(TintraNN, MalformedDocumentsAreRefused) {
  const char* bad[] = {
      R"([1,2,3])",
      R"({"layerTypes":["a","b"]})",
      R"({"shape":[3,3],"layerTypes":["a"],"weights":[[[1,0,0],[0,1,0],[0,0,1]]],"biasWeights":[[0,0,0]]})",
      R"({"shape":[3,3],"layerTypes":["a","b"],"weights":[[[1,0,0],[0,1],[0,0,1]]],"biasWeights":[[0,0,0]]})",
      R"({"shape":[3,3],"layerTypes":["a","b"],"weights":[[[1,0,0],[0,1,0]]],"biasWeights":[[0,0,0]]})",
      // 3 -> 2 in neither layout, and ragged in the Keras one.
      R"({"shape":[3,2],"layerTypes":["a","b"],"weights":[[[1,0,0],[0,1,0],[0,0,1]]],"biasWeights":[[0,0]]})",
      R"({"shape":[3,2],"layerTypes":["a","b"],"weights":[[[1,0],[0,1],[0]]],"biasWeights":[[0,0]]})",
      R"({"shape":[3,3],"layerTypes":["a","b"],"weights":[[[1,0,0],[0,1,0],[0,0,1]]],"biasWeights":[[0,0]]})",
      R"({"shape":[3,3],"layerTypes":["a","b"],"weights":[[[1,0,"x"],[0,1,0],[0,0,1]]],"biasWeights":[[0,0,0]]})",
      R"({"shape":[3,0],"layerTypes":["a","b"],"weights":[[]],"biasWeights":[[]]})",
      R"({"shape":[3,999999999],"layerTypes":["a","b"],"weights":[],"biasWeights":[]})",
      R"({"shape":[3,3],"layerTypes":["a","b"],"biasWeights":[[0,0,0]]})",
      R"({"shape":[3,3],"layerTypes":["a","b"],"weights":[[[1,0,0],[0,1,0],[0,0,1]]],"biasWeights":[[0,0,0]],"degree_order_10":{"shape":[]}})",
      "not json at all",
  };
  for (const char* doc : bad) {
    auto r = TintraNN::initFromString(doc);
    ASSERT_FALSE(r.ok()) << doc;
    EXPECT_EQ(r.error().localizedDescription.rfind("Invalid network document: ", 0), 0u) << doc;
  }
  EXPECT_FALSE(TintraNN::initFromFile("/nonexistent/network.json").ok());
}

TEST(TintraNN, LoadsFromAFile) {
  const auto path =
      std::filesystem::temp_directory_path() / ("hcf-nn-" + std::to_string(::getpid()) + ".json");
  std::ofstream(path) << identity3().dump();
  auto net = TintraNN::initFromFile(path);
  std::filesystem::remove(path);
  ASSERT_TRUE(net.ok());
  EXPECT_EQ((*net)->predictOutput(100, -128, 128)[0], 1.0);
}
