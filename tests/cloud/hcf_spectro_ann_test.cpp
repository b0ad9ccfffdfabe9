// Model packages kept per serial: unpacking, compiling, storing, loading in chain order.
#include "hcf/cloud/hcf_spectro_ann.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "../support/store_test_support.h"
#include "hcf/store/hcf_realm_manager.h"
#include "package_builder.h"

using namespace hcf;
namespace fs = std::filesystem;
namespace fx = hcf_cloud::fixtures;

namespace {

// An ONNX model y = x·diag(scale) (n inputs), or with an operator the runtime refuses.
std::string scaleModel(std::size_t n, double scale, const char* op = "MatMul") {
  const auto dim = static_cast<std::int64_t>(n);
  std::vector<double> w(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) w[i * (n + 1)] = scale;
  fx::OnnxGraph g({dim});
  g.weights("W", {dim, dim}, w).node(op, {"dense_1_input__0", "W"}, "output_node0__0");
  return g.bytes();
}

using SpectroANNTest = hcf_test::StoreTest;

}  // namespace

TEST_F(SpectroANNTest, PackageUnpacksCompilesStoresAndLoadsInChainOrder) {
  const Bytes package = fx::zipArchive(
      {{"info.json", R"({"ann_order":["first","second"],"model":"Irisel-1","batch":"3"})"},
       {"first.mlmodel", scaleModel(3, 2.0)},
       {"second.mlmodel", scaleModel(3, 10.0)}});
  auto folder = HCFSpectroANN::saveZipData(package, "IRS000001");
  ASSERT_TRUE(folder);
  EXPECT_EQ(*folder, dir_ / "IRS000001");
  EXPECT_FALSE(fs::exists(dir_ / "IRS000001.zip")) << "only the unpacked package is kept";
  std::vector<std::string> relative;
  for (const char* name : {"first", "second"}) {
    auto compiled =
        HCFSpectroANN::compileAndSave(*folder / (std::string(name) + ".mlmodel"), *folder);
    ASSERT_TRUE(compiled) << name;
    EXPECT_EQ(compiled->filename(), std::string(name) + ".mlmodelc");
    relative.push_back(HCFSpectroANN::absoluteURL2relativeFor(*compiled, "IRS000001"));
  }
  EXPECT_EQ(relative[0], "/IRS000001/first.mlmodelc");
  HCFRealmManager::storeSpectro("IRS000001", "Irisel-1", "3", JsonValue::object(), relative);

  std::optional<std::vector<std::shared_ptr<const HCFMLModel>>> chain;
  std::optional<std::string> model;
  HCFSpectroANN::getLocalANNs("IRS000001", [&](auto m, auto name, auto error) {
    ASSERT_FALSE(error) << error->localizedDescription;
    chain = std::move(m);
    model = std::move(name);
  });
  ASSERT_TRUE(chain);
  ASSERT_EQ(chain->size(), 2u);
  EXPECT_EQ(model, "Irisel-1");
  auto x = mlmultiArray({1, 2, 3});
  for (const auto& m : *chain) x = m->predictionFromDense_1_input__0(x)->output_node0__0;
  EXPECT_EQ(arrayFromMulti(x), (std::vector<double>{20, 40, 60}));
  // Compiling again replaces the compiled model in place.
  EXPECT_TRUE(HCFSpectroANN::compileAndSave(*folder / "first.mlmodel", *folder));
}

TEST_F(SpectroANNTest, SerialsThatAreNotPlainNamesAndUnsafePackagesAreRefused) {
  const Bytes package = fx::zipArchive({{"info.json", "{}"}});
  for (const std::string bad : {"", "/", "..", ".", "a/b", "..\\x"}) {
    EXPECT_FALSE(HCFSpectroANN::saveZipData(package, bad)) << bad;
  }
  const Bytes slip = fx::zipArchive({{"info.json", "{}"}, {"../escaped.txt", "x"}});
  EXPECT_FALSE(HCFSpectroANN::saveZipData(slip, "IRS2"));
  EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
  EXPECT_FALSE(HCFSpectroANN::saveZipData(Bytes{'n', 'o', 't'}, "IRS3"));
}

TEST_F(SpectroANNTest, UnsupportedModelsDoNotCompileAndMissingOnesDoNotLoad) {
  const Bytes package = fx::zipArchive({{"conv.mlmodel", scaleModel(3, 1.0, "Conv")}});
  auto folder = HCFSpectroANN::saveZipData(package, "IRS4");
  ASSERT_TRUE(folder);
  EXPECT_FALSE(HCFSpectroANN::compileAndSave(*folder / "conv.mlmodel", *folder));
  EXPECT_FALSE(HCFSpectroANN::compileAndSave(*folder / "absent.mlmodel", *folder));
  HCFRealmManager::storeSpectro("IRS4", "Irisel-1", "1", JsonValue::object(),
                                {"/IRS4/gone.mlmodelc", "/IRS4/gone2.mlmodelc"});
  bool failed = false;
  HCFSpectroANN::getLocalANNs("IRS4", [&](auto m, auto, auto error) { failed = !m && error; });
  EXPECT_TRUE(failed);
  HCFSpectroANN::getLocalANNs("nobody", [&](auto m, auto, auto error) { failed = !m && error; });
  EXPECT_TRUE(failed);
}
