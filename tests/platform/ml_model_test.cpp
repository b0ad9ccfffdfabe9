// The compiled-model runtime, on ONNX models built here with the ONNX schema.
#include "hcf/platform/ml/ml_model.h"

#include <gtest/gtest.h>
#include <onnx/onnx_pb.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "hcf/calibration/hcf_ml_model.h"

using hcf::ml::Model;
using hcf::ml::MultiArray;

namespace {

struct Builder {
  onnx::ModelProto model;
  onnx::GraphProto* g = model.mutable_graph();

  explicit Builder(std::vector<std::int64_t> inputDims) {
    model.set_ir_version(8);
    model.add_opset_import()->set_version(13);
    auto* in = g->add_input();
    in->set_name("dense_1_input__0");
    auto* shape = in->mutable_type()->mutable_tensor_type()->mutable_shape();
    in->mutable_type()->mutable_tensor_type()->set_elem_type(onnx::TensorProto::FLOAT);
    for (const auto d : inputDims) {
      auto* dim = shape->add_dim();
      if (d > 0) {
        dim->set_dim_value(d);
      } else {
        dim->set_dim_param("N");  // a batch dimension
      }
    }
    g->add_output()->set_name("output_node0__0");
  }
  Builder& init(const std::string& name, std::vector<std::int64_t> dims, std::vector<float> v) {
    auto* t = g->add_initializer();
    t->set_name(name);
    t->set_data_type(onnx::TensorProto::FLOAT);
    for (const auto d : dims) t->add_dims(d);
    for (const float x : v) t->add_float_data(x);
    return *this;
  }
  onnx::NodeProto* node(const std::string& op, std::vector<std::string> in,
                        const std::string& out) {
    auto* n = g->add_node();
    n->set_op_type(op);
    n->set_name(op + "_" + out);
    for (const auto& i : in) n->add_input(i);
    n->add_output(out);
    return n;
  }
  std::vector<std::uint8_t> bytes() const {
    const std::string s = model.SerializeAsString();
    return {s.begin(), s.end()};
  }
};

void attrF(onnx::NodeProto* n, const char* name, float v) {
  auto* a = n->add_attribute();
  a->set_name(name);
  a->set_type(onnx::AttributeProto::FLOAT);
  a->set_f(v);
}
void attrI(onnx::NodeProto* n, const char* name, std::int64_t v) {
  auto* a = n->add_attribute();
  a->set_name(name);
  a->set_type(onnx::AttributeProto::INT);
  a->set_i(v);
}

std::string refusal(const Builder& b) {
  auto m = Model::fromONNX(b.bytes());
  return m.ok() ? std::string("accepted") : m.error().localizedDescription;
}

}  // namespace

TEST(MLModel, GemmWithTransposeAlphaBetaThenRelu) {
  Builder b({-1, 3});  // [N, 3]
  // W is stored [out=2, in=3] and transposed: y = 2·x·Wᵀ + 0.5·c.
  b.init("W", {2, 3}, {1, 2, 3, -1, 0, 1}).init("c", {2}, {4, -20});
  auto* gemm = b.node("Gemm", {"dense_1_input__0", "W", "c"}, "h");
  attrF(gemm, "alpha", 2.0f);
  attrF(gemm, "beta", 0.5f);
  attrI(gemm, "transB", 1);
  b.node("Relu", {"h"}, "output_node0__0");
  auto model = Model::fromONNX(b.bytes());
  ASSERT_TRUE(model.ok()) << model.error().localizedDescription;
  EXPECT_EQ((*model)->inputLength(), 3u);
  EXPECT_EQ((*model)->outputLength(), 2u);
  auto out = (*model)->prediction(MultiArray::vector({1, 1, 1}));
  ASSERT_TRUE(out.ok());
  // h0 = 2·(1+2+3) + 0.5·4 = 14; h1 = 2·(−1+0+1) + 0.5·(−20) = −10 -> relu 0.
  EXPECT_EQ(out->values, (std::vector<double>{14, 0}));
}

TEST(MLModel, MatMulAddSigmoidTanhChainInDoublePrecision) {
  Builder b({4});
  b.init("W", {4, 2}, {0.5f, -1, 0.25f, 2, -0.5f, 1, 1, 0}).init("b", {2}, {0.1f, -0.2f});
  b.node("MatMul", {"dense_1_input__0", "W"}, "m");
  b.node("Add", {"m", "b"}, "a");
  b.node("Sigmoid", {"a"}, "s");
  b.node("Identity", {"s"}, "i");
  b.node("Tanh", {"i"}, "output_node0__0");
  auto model = Model::fromONNX(b.bytes());
  ASSERT_TRUE(model.ok()) << model.error().localizedDescription;
  const std::vector<double> x = {1, 2, 3, 4};
  auto out = (*model)->prediction(MultiArray::vector(x));
  ASSERT_TRUE(out.ok());
  const double w[4][2] = {{0.5, -1}, {0.25, 2}, {-0.5, 1}, {1, 0}};
  const double bias[2] = {static_cast<double>(0.1f), static_cast<double>(-0.2f)};
  for (int j = 0; j < 2; ++j) {
    double s = 0;
    for (int i = 0; i < 4; ++i) s += x[i] * w[i][j];
    EXPECT_DOUBLE_EQ(out->values[j], std::tanh(1 / (1 + std::exp(-(s + bias[j])))));
  }
}

TEST(MLModel, ReshapeAndFlattenKeepTheValues) {
  Builder b({1, 4});
  auto* shape = b.g->add_initializer();
  shape->set_name("shape");
  shape->set_data_type(onnx::TensorProto::INT64);
  shape->add_dims(2);
  shape->add_int64_data(2);
  shape->add_int64_data(-1);
  b.node("Reshape", {"dense_1_input__0", "shape"}, "r");
  b.node("Flatten", {"r"}, "output_node0__0");
  auto model = Model::fromONNX(b.bytes());
  ASSERT_TRUE(model.ok()) << model.error().localizedDescription;
  EXPECT_EQ((*model)->prediction(MultiArray::vector({1, 2, 3, 4}))->values,
            (std::vector<double>{1, 2, 3, 4}));
}

TEST(MLModel, CompiledFormLoadsAndPredictsTheSame) {
  Builder b({1, 3});
  b.init("W", {3, 3}, {1, 0, 0, 0, 2, 0, 0, 0, 3}).init("b", {1, 3}, {1, 1, 1});
  b.node("MatMul", {"dense_1_input__0", "W"}, "m");
  b.node("Add", {"m", "b"}, "output_node0__0");
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-ml-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "vectorNormalization.mlmodel";
  {
    std::ofstream out(file, std::ios::binary);
    const auto bytes = b.bytes();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  auto compiled = Model::compileModelAtURL(file, dir / "out");
  ASSERT_TRUE(compiled.ok()) << compiled.error().localizedDescription;
  EXPECT_EQ(compiled->filename(), "vectorNormalization.mlmodelc");
  auto loaded = Model::initWithContentsOfURL(*compiled);
  ASSERT_TRUE(loaded.ok()) << loaded.error().localizedDescription;
  EXPECT_EQ((*loaded)->prediction(MultiArray::vector({1, 1, 1}))->values,
            (std::vector<double>{2, 3, 4}));
  EXPECT_FALSE((*loaded)->prediction(MultiArray::vector({1, 1})).ok());  // wrong length
  EXPECT_FALSE(Model::initWithContentsOfURL(dir / "missing.mlmodelc").ok());
  // Damaged or hostile compiled forms are refused, never thrown or trusted.
  for (const char* text :
       {R"({"format": 1)", R"({"format": 1})", R"({"format": "hcf-compiled-model", "input": [-1]})",
        R"({"format": "hcf-compiled-model", "input": [4294967296, 4294967296]})"}) {
    std::ofstream(*compiled / "model.json", std::ios::trunc) << text;
    EXPECT_FALSE(Model::initWithContentsOfURL(*compiled).ok()) << text;
  }
  std::filesystem::remove_all(dir);
}

TEST(MLModel, WhatIsNotADenseNetworkIsRefusedWithItsReason) {
  {
    Builder b({1, 3});
    b.node("Conv", {"dense_1_input__0"}, "output_node0__0");
    EXPECT_NE(refusal(b).find("unsupported operator Conv"), std::string::npos) << refusal(b);
  }
  {
    Builder b({1, 3});
    b.node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
    EXPECT_NE(refusal(b).find("missing initializer W"), std::string::npos) << refusal(b);
  }
  {
    Builder b({1, 3});
    b.init("W", {4, 2}, std::vector<float>(8, 1));
    b.node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
    EXPECT_NE(refusal(b).find("do not multiply"), std::string::npos) << refusal(b);
  }
  {
    Builder b({1, 3});
    b.node("Relu", {"dense_1_input__0"}, "somewhere_else");
    EXPECT_NE(refusal(b).find("does not lead from the input"), std::string::npos) << refusal(b);
  }
  {
    Builder b({1, 3});
    b.node("Relu", {"dense_1_input__0"}, "a");
    b.node("Sigmoid", {"dense_1_input__0"}, "output_node0__0");
    EXPECT_NE(refusal(b).find("more than one node"), std::string::npos) << refusal(b);
  }
  {
    Builder b({1, 3});
    b.g->mutable_input(0)->set_name("other");
    EXPECT_NE(refusal(b).find("no input named"), std::string::npos) << refusal(b);
  }
  const std::vector<std::uint8_t> garbage = {0xff, 0xff, 0x01};
  EXPECT_FALSE(Model::fromONNX(garbage).ok());
}

TEST(HCFMLModel, FeaturesAndArrayConversionsAroundACompiledModel) {
  Builder b({2});
  b.init("W", {2, 2}, {0, 1, 1, 0});
  b.node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-mlw-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto file = dir / "swap.mlmodel";
  {
    std::ofstream out(file, std::ios::binary);
    const auto bytes = b.bytes();
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
  }
  auto compiled = Model::compileModelAtURL(file, dir);
  ASSERT_TRUE(compiled.ok());
  auto model = hcf::HCFMLModel::initWithContentsOfURL(*compiled);
  ASSERT_TRUE(model.ok());
  const hcf::HCFMLInput input{hcf::mlmultiArray({3, 4})};
  EXPECT_EQ(input.featureNames(), (std::set<std::string>{"dense_1_input__0"}));
  EXPECT_FALSE(input.featureValueForName("other"));
  auto out = (*model)->predictionFromFeatures(input);
  ASSERT_TRUE(out.ok());
  EXPECT_EQ(hcf::arrayFromMulti(*out->featureValueForName("output_node0__0")),
            (std::vector<double>{4, 3}));
  EXPECT_EQ(out->featureNames(), (std::set<std::string>{"output_node0__0"}));
  EXPECT_FALSE(hcf::HCFMLModel::initWithContentsOfURL(dir / "nothing.mlmodelc").ok());
  std::filesystem::remove_all(dir);
}

// Models written by the official ONNX tooling (tests/data/onnx/make_models.py), with the outputs
// numpy computed for them in double precision.
TEST(MLModel, ModelsFromTheOnnxToolingMatchNumpy) {
  const std::filesystem::path dir = HCF_TEST_DATA_DIR "/onnx";
  std::ifstream in(dir / "expected.json");
  ASSERT_TRUE(in);
  const auto expected = nlohmann::json::parse(in);
  const auto out =
      std::filesystem::temp_directory_path() / ("hcf-onnx-tooling-" + std::to_string(::getpid()));
  for (const auto& [name, io] : expected.items()) {
    auto compiled = Model::compileModelAtURL(dir / (name + ".onnx"), out);
    ASSERT_TRUE(compiled.ok()) << name << ": " << compiled.error().localizedDescription;
    auto model = Model::initWithContentsOfURL(*compiled);
    ASSERT_TRUE(model.ok()) << name;
    auto y = (*model)->prediction(MultiArray::vector(io["input"].get<std::vector<double>>()));
    ASSERT_TRUE(y.ok()) << name << ": " << y.error().localizedDescription;
    const auto want = io["output"].get<std::vector<double>>();
    ASSERT_EQ(y->values.size(), want.size()) << name;
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_NEAR(y->values[i], want[i], 1e-12 * (1 + std::abs(want[i])))
          << name << "[" << i << "]";
    }
  }
  const std::pair<const char*, const char*> refused[] = {
      {"refused_conv", "unsupported operator Conv"},
      {"refused_missing_initializer", "W"},
      {"refused_shape_mismatch", "shape"},
      {"refused_not_connected", "does not lead from the input"},
      // Found by fuzzing: a Reshape whose shape multiplies past any count of elements.
      {"refused_reshape_overflow", "reshape"},
      // ... and one whose shape constant holds a number that is not whole (NaN).
      {"refused_reshape_nan", "Reshape shape is not a list of whole numbers"},
  };
  for (const auto& [name, reason] : refused) {
    auto compiled = Model::compileModelAtURL(dir / (std::string(name) + ".onnx"), out);
    ASSERT_FALSE(compiled.ok()) << name;
    EXPECT_NE(compiled.error().localizedDescription.find(reason), std::string::npos)
        << name << ": " << compiled.error().localizedDescription;
    EXPECT_FALSE(std::filesystem::exists(out / (std::string(name) + ".mlmodelc"))) << name;
  }
  std::filesystem::remove_all(out);
}
