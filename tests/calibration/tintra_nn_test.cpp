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

TEST(TintraNN, KerasLayoutReadsRowsPerInput) {
  JsonValue doc = {{"shape", {2, 2}},
                   {"layerTypes", {"in", "LinearLayer"}},
                   {"weights", {{{1, 2}, {3, 4}}}},
                   {"biasWeights", {{0.5, -0.5}}}};
  auto net = build(doc);
  const std::vector<double> x = {10, 100};
  EXPECT_EQ(net->predict(x, false), (std::vector<double>{210.5, 429.5}));  // w[j][i]
  EXPECT_EQ(net->predict(x, true), (std::vector<double>{310.5, 419.5}));   // w[i][j]
  // Not a square matrix: the Keras reading does not fit and gives nothing.
  JsonValue wide = {{"shape", {3, 2}},
                    {"layerTypes", {"in", "LinearLayer"}},
                    {"weights", {{{1, 2, 3}, {4, 5, 6}}}},
                    {"biasWeights", {{0, 0}}}};
  auto w = build(wide);
  EXPECT_EQ(w->predict(std::vector<double>{1, 1, 1}, false).size(), 2u);
  EXPECT_TRUE(w->predict(std::vector<double>{1, 1, 1}, true).empty());
  EXPECT_TRUE(w->predict(std::vector<double>{1, 1}, false).empty());  // wrong input count
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
