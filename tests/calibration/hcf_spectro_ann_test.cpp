// Model packages kept per serial: unpacking, compiling, storing, loading in chain order.
#include "hcf/calibration/hcf_spectro_ann.h"

#include <gtest/gtest.h>
#include <onnx/onnx_pb.h>
#include <unistd.h>
#include <zip.h>

#include <filesystem>
#include <fstream>

#include "../support/store_test_support.h"
#include "hcf/store/hcf_realm_manager.h"

using namespace hcf;
namespace fs = std::filesystem;

namespace {

// An ONNX model y = x·diag(scale) (n inputs), or with an operator the runtime refuses.
std::string scaleModel(std::size_t n, float scale, const char* op = "MatMul") {
  onnx::ModelProto m;
  m.set_ir_version(8);
  m.add_opset_import()->set_version(13);
  auto* g = m.mutable_graph();
  auto* in = g->add_input();
  in->set_name("dense_1_input__0");
  in->mutable_type()->mutable_tensor_type()->mutable_shape()->add_dim()->set_dim_value(
      static_cast<std::int64_t>(n));
  g->add_output()->set_name("output_node0__0");
  auto* w = g->add_initializer();
  w->set_name("W");
  w->set_data_type(onnx::TensorProto::FLOAT);
  w->add_dims(static_cast<std::int64_t>(n));
  w->add_dims(static_cast<std::int64_t>(n));
  for (std::size_t i = 0; i < n * n; ++i) w->add_float_data(i % (n + 1) == 0 ? scale : 0.0f);
  auto* node = g->add_node();
  node->set_op_type(op);
  node->add_input("dense_1_input__0");
  node->add_input("W");
  node->add_output("output_node0__0");
  return m.SerializeAsString();
}

Bytes zipOf(const std::vector<std::pair<std::string, std::string>>& files) {
  const auto path = fs::temp_directory_path() / ("hcf-pkg-" + std::to_string(::getpid()) + ".zip");
  int error = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  for (const auto& [name, content] : files) {
    zip_file_add(z, name.c_str(), zip_source_buffer(z, content.data(), content.size(), 0), 0);
  }
  zip_close(z);
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(path);
  return bytes;
}

class SpectroANNTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("hcf-spectro-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    HCFRealmManager::setDocDirectory(dir_);
  }
  void TearDown() override {
    HCFRealmManager::setDocDirectory(std::nullopt);
    fs::remove_all(dir_);
  }
  fs::path dir_;
};

}  // namespace

TEST_F(SpectroANNTest, PackageUnpacksCompilesStoresAndLoadsInChainOrder) {
  const Bytes package =
      zipOf({{"info.json", R"({"ann_order":["first","second"],"model":"Irisel-1","batch":"3"})"},
             {"first.mlmodel", scaleModel(3, 2.0f)},
             {"second.mlmodel", scaleModel(3, 10.0f)}});
  auto folder = HCFSpectroANN::saveZipData(package, "IRS000001");
  ASSERT_TRUE(folder);
  EXPECT_EQ(*folder, dir_ / "IRS000001");
  EXPECT_TRUE(fs::exists(dir_ / "IRS000001.zip"));
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
  const Bytes package = zipOf({{"info.json", "{}"}});
  for (const std::string bad : {"", "/", "..", ".", "a/b", "..\\x"}) {
    EXPECT_FALSE(HCFSpectroANN::saveZipData(package, bad)) << bad;
  }
  const Bytes slip = zipOf({{"info.json", "{}"}, {"../escaped.txt", "x"}});
  EXPECT_FALSE(HCFSpectroANN::saveZipData(slip, "IRS2"));
  EXPECT_FALSE(fs::exists(dir_ / "escaped.txt"));
  EXPECT_FALSE(HCFSpectroANN::saveZipData(Bytes{'n', 'o', 't'}, "IRS3"));
}

TEST_F(SpectroANNTest, UnsupportedModelsDoNotCompileAndMissingOnesDoNotLoad) {
  const Bytes package = zipOf({{"conv.mlmodel", scaleModel(3, 1.0f, "Conv")}});
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
