// The compiled-model runtime, on ONNX models built here with the ONNX schema.
#include "hcf/platform/ml/ml_model.h"

#include <gtest/gtest.h>
#include <onnx/onnx_pb.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

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
  // Names input dimension `index` (an empty name leaves it without size or name).
  Builder& symbolic(int index, const std::string& name) {
    auto* d =
        g->mutable_input(0)->mutable_type()->mutable_tensor_type()->mutable_shape()->mutable_dim(
            index);
    d->Clear();
    if (!name.empty()) d->set_dim_param(name);
    return *this;
  }
  Builder& opset(std::int64_t version) {
    model.mutable_opset_import(0)->set_version(version);
    return *this;
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

void attrFloats(onnx::NodeProto* n, const char* name, std::vector<float> v) {
  auto* a = n->add_attribute();
  a->set_name(name);
  a->set_type(onnx::AttributeProto::FLOATS);
  for (const float x : v) a->add_floats(x);
}

// Softmax of the input in a model of operator set `opset`, along `axis` (none: the default).
void softmax(Builder& b, std::int64_t opset, std::optional<std::int64_t> axis) {
  b.opset(opset);
  auto* s = b.node("Softmax", {"dense_1_input__0"}, "output_node0__0");
  if (axis) attrI(s, "axis", *axis);
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
  // A form of the version before loads as it did.
  const auto form = [](int version, const std::string& step) {
    return R"({"format": "hcf-compiled-model", "version": )" + std::to_string(version) +
           R"(, "input": [1, 3], "steps": [{"node": "n", "alpha": 1, "beta": 1, "transA": false,
           "transB": false, "shape": [], "axis": 1, )" +
           step + "}]}";
  };
  std::ofstream(*compiled / "model.json", std::ios::trunc)
      << form(1, R"("op": "Add", "constant": {"dims": [3], "data": [1, 2, 3]})");
  loaded = Model::initWithContentsOfURL(*compiled);
  ASSERT_TRUE(loaded.ok()) << loaded.error().localizedDescription;
  EXPECT_EQ((*loaded)->prediction(MultiArray::vector({1, 1, 1}))->values,
            (std::vector<double>{2, 3, 4}));
  // Damaged or hostile compiled forms are refused, never thrown or trusted.
  const std::pair<std::string, const char*> damaged[] = {
      {R"({"format": 1)", "not readable"},
      {R"({"format": 1})", "not a compiled model"},
      {R"({"format": "hcf-compiled-model", "version": 1, "input": [-1]})", "bad input shape"},
      {R"({"format": "hcf-compiled-model", "version": 1, "input": [4294967296, 4294967296]})",
       "bad input shape"},
      {R"({"format": "hcf-compiled-model", "version": 3, "input": [3]})", "unknown version"},
      {form(2, R"("op": "Add", "constant": {"dims": [3], "data": [1, null, 3]})"),
       "not a finite number"},
      {form(2, R"("op": "Add", "constant": {"dims": [], "data": []})"), "lacks its weights"},
      {form(2, R"("op": "Affine", "constant": {"dims": [3], "data": [1, 2, 3]})"),
       "lacks its weights"},
  };
  for (const auto& [text, reason] : damaged) {
    std::ofstream(*compiled / "model.json", std::ios::trunc) << text;
    auto refused = Model::initWithContentsOfURL(*compiled);
    ASSERT_FALSE(refused.ok()) << text;
    EXPECT_NE(refused.error().localizedDescription.find(reason), std::string::npos)
        << text << ": " << refused.error().localizedDescription;
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
      // ... and one whose shape constant holds NaN.
      {"refused_reshape_nan", "initializer shape holds a value that is not finite"},
      {"refused_nan_weight", "initializer W1 holds a value that is not finite"},
      {"refused_external_escape", "\"../external_data_mlp.weights\" is not a relative path"},
      {"refused_symbolic_features",
       "input \"dense_1_input__0\" has a symbolic dimension \"features\" that cannot be resolved"},
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

TEST(MLModel, ElementwiseOperatorsBroadcastAsNumpy) {
  struct Row {
    const char* op;
    std::vector<std::int64_t> in;
    std::vector<std::int64_t> cDims;
    std::vector<float> c;
    bool constantFirst;
    std::vector<double> x;
    std::vector<double> want;  // empty: refused for `refusal`
    const char* refusal;
  };
  const Row rows[] = {
      {"Add", {1, 3}, {3, 1}, {10, 20, 30}, false, {1, 2, 3}, {11, 12, 13, 21, 22, 23, 31, 32, 33}},
      {"Sub", {1, 3}, {3}, {1, 2, 3}, false, {5, 5, 5}, {4, 3, 2}},
      {"Sub", {3}, {1, 3}, {1, 2, 3}, true, {5, 5, 5}, {-4, -3, -2}},
      {"Div", {2}, {}, {6}, true, {2, 3}, {3, 2}},
      {"Div", {2}, {1}, {4}, false, {2, 3}, {0.5, 0.75}},
      {"Mul", {2, 1}, {1, 2}, {1, 10}, false, {2, 3}, {2, 20, 3, 30}},
      {"Add", {1, 3}, {2}, {1, 2}, false, {}, {}, "node Add_output_node0__0: shapes [1,3] and [2]"},
      {"Mul", {2, 3}, {3, 2}, {1, 2, 3, 4, 5, 6}, true, {}, {}, "shapes [3,2] and [2,3]"},
      // Gemm's C stretches to the [M, N] result, never the result to C.
      {"Gemm", {1, 2}, {}, {5}, false, {1, 2}, {6, 7}},
      {"Gemm", {1, 2}, {1, 2}, {5, 6}, false, {1, 2}, {6, 8}},
      {"Gemm",
       {1, 2},
       {2, 1},
       {5, 6},
       false,
       {},
       {},
       "C of shape [2,1] does not broadcast to [1,2]"},
  };
  for (const auto& r : rows) {
    Builder b(r.in);
    b.init("c", r.cDims, r.c);
    const std::string in = "dense_1_input__0";
    if (std::string(r.op) == "Gemm") {
      b.init("W", {2, 2}, {1, 0, 0, 1});
      b.node("Gemm", {in, "W", "c"}, "output_node0__0");
    } else {
      b.node(
          r.op,
          r.constantFirst ? std::vector<std::string>{"c", in} : std::vector<std::string>{in, "c"},
          "output_node0__0");
    }
    const std::string row = std::string(r.op) + " " + std::to_string(&r - rows);
    auto model = Model::fromONNX(b.bytes());
    if (r.want.empty()) {
      ASSERT_FALSE(model.ok()) << row;
      EXPECT_NE(model.error().localizedDescription.find(r.refusal), std::string::npos)
          << row << ": " << model.error().localizedDescription;
      continue;
    }
    ASSERT_TRUE(model.ok()) << row << ": " << model.error().localizedDescription;
    EXPECT_EQ((*model)->outputLength(), r.want.size()) << row;
    EXPECT_EQ((*model)->prediction(MultiArray::vector(r.x))->values, r.want) << row;
  }
}

// Forms of common exports the tooling models do not show, and what is refused about them.
TEST(MLModel, OperatorsOfCommonExportsAndSymbolicInputs) {
  struct Row {
    const char* name;
    std::vector<std::int64_t> in;  // a dimension below 1 is the symbolic "N"
    void (*build)(Builder&);
    std::vector<double> x;
    std::vector<double> want;  // empty: refused for `refusal`
    const char* refusal;
  };
  const Row rows[] = {
      {"Flatten axis below the rank",
       {1, 4},
       [](Builder& b) {
         attrI(b.node("Flatten", {"dense_1_input__0"}, "output_node0__0"), "axis", -3);
       },
       {},
       {},
       "Flatten axis -3 is out of range for [1,4]"},
      {"a Constant node's value_floats as an operand",
       {2},
       [](Builder& b) {
         attrFloats(b.node("Constant", {}, "k"), "value_floats", {2.5f, -1});
         b.node("Mul", {"k", "dense_1_input__0"}, "output_node0__0");
       },
       {2, 3},
       {5, -3}},
      {"BatchNormalization of other channels",
       {1, 3},
       [](Builder& b) {
         b.init("p", {2}, {1, 1});
         b.node("BatchNormalization", {"dense_1_input__0", "p", "p", "p", "p"}, "output_node0__0");
       },
       {},
       {},
       "2 channels do not fit [1,3]"},
      {"Softmax along axis 0 of [1, 2]",
       {1, 2},
       [](Builder& b) { softmax(b, 13, 0); },
       {0, 5},
       {1, 1}},
      {"Softmax of operator set 11 from axis 0 on",
       {1, 2},
       [](Builder& b) { softmax(b, 11, 0); },
       {0, std::log(3.0)},
       {0.25, 0.75}},
      {"Softmax of operator set 11 by default from axis 1",
       {2},
       [](Builder& b) { softmax(b, 11, std::nullopt); },
       {},
       {},
       "Softmax axis 1 is out of range for [2]"},
      {"features fixed by a MatMul",
       {0, 0},
       [](Builder& b) {
         b.symbolic(1, "features").init("W", {3, 1}, {1, 2, 3});
         b.node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
       },
       {1, 1, 1},
       {6}},
      {"features fixed by a Gemm after Relu and a scalar Sub",
       {0},
       [](Builder& b) {
         b.init("one", {}, {1}).init("W", {1, 2}, {1, 2});
         b.node("Relu", {"dense_1_input__0"}, "r");
         b.node("Sub", {"r", "one"}, "s");
         attrI(b.node("Gemm", {"s", "W"}, "output_node0__0"), "transB", 1);
       },
       {2, 3},
       {5}},
      {"a dimension without size or name",
       {1, 0},
       [](Builder& b) {
         b.symbolic(1, "");
         b.node("Tanh", {"dense_1_input__0"}, "output_node0__0");
       },
       {},
       {},
       "symbolic dimension at index 1 that cannot be resolved"},
  };
  for (const auto& r : rows) {
    Builder b(r.in);
    r.build(b);
    auto model = Model::fromONNX(b.bytes());
    if (r.want.empty()) {
      ASSERT_FALSE(model.ok()) << r.name;
      EXPECT_NE(model.error().localizedDescription.find(r.refusal), std::string::npos)
          << r.name << ": " << model.error().localizedDescription;
      continue;
    }
    ASSERT_TRUE(model.ok()) << r.name << ": " << model.error().localizedDescription;
    auto y = (*model)->prediction(MultiArray::vector(r.x));
    ASSERT_TRUE(y.ok()) << r.name << ": " << y.error().localizedDescription;
    ASSERT_EQ(y->values.size(), r.want.size()) << r.name;
    for (std::size_t i = 0; i < r.want.size(); ++i) {
      EXPECT_NEAR(y->values[i], r.want[i], 1e-15) << r.name << "[" << i << "]";
    }
  }
}

TEST(MLModel, ValuesThatAreNotFiniteAreRefusedByName) {
  const std::pair<void (*)(Builder&), const char*> rows[] = {
      {[](Builder& b) {
         b.init("W", {2, 2}, {1, std::numeric_limits<float>::infinity(), 0, 1});
         b.node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
       },
       "Model refused: initializer W holds a value that is not finite"},
      {[](Builder& b) {
         attrFloats(b.node("Constant", {}, "k"), "value_floats", {1, std::nanf("")});
         b.node("Add", {"dense_1_input__0", "k"}, "output_node0__0");
       },
       "Model refused: constant k holds a value that is not finite"},
      {[](Builder& b) {
         b.init("W", {2, 2}, {1, 0, 0, 1});
         attrF(b.node("Gemm", {"dense_1_input__0", "W"}, "output_node0__0"), "alpha",
               std::numeric_limits<float>::infinity());
       },
       "attribute alpha is not finite"},
      {[](Builder& b) {
         b.init("p", {2}, {1, 1}).init("var", {2}, {1, -1});
         b.node("BatchNormalization", {"dense_1_input__0", "p", "p", "p", "var"},
                "output_node0__0");
       },
       "var plus epsilon is not positive"},
  };
  for (const auto& [build, reason] : rows) {
    Builder b({1, 2});
    build(b);
    EXPECT_NE(refusal(b).find(reason), std::string::npos) << refusal(b);
  }
}

// Tensors kept in a file beside the model: read only from inside the model's folder.
TEST(MLModel, ExternalDataStaysInsideTheModelsFolder) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-ml-external-" + std::to_string(::getpid()));
  const auto folder = dir / "model";
  std::filesystem::create_directories(folder / "sub");
  std::filesystem::create_directories(dir / "outside");
  const float w[4] = {1, 2, 3, 4};
  for (const auto& file : {folder / "w.bin", folder / "sub" / "w.bin", dir / "outside" / "w.bin"}) {
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(w), sizeof w);
  }
  std::filesystem::create_symlink("w.bin", folder / "link.bin");
  std::filesystem::create_directory_symlink("../outside", folder / "away");
  struct Row {
    const char* location;
    const char* offset;  // nullptr: not given
    const char* length;
    const char* refusal;  // nullptr: accepted
  };
  const Row rows[] = {
      {"w.bin", "0", "16", nullptr},
      {"sub/w.bin", nullptr, nullptr, nullptr},
      {"../outside/w.bin", "0", "16", "\"../outside/w.bin\" is not a relative path of plain names"},
      {"/etc/passwd", nullptr, nullptr, "is not a relative path"},
      {"sub\\w.bin", nullptr, nullptr, "is not a relative path"},
      {"C:w.bin", nullptr, nullptr, "is not a relative path"},
      {"./w.bin", nullptr, nullptr, "is not a relative path"},
      {"link.bin", nullptr, nullptr, "external data file \"link.bin\" is a link"},
      {"away/w.bin", nullptr, nullptr, "\"away/w.bin\" is outside the model's folder"},
      {"missing.bin", nullptr, nullptr, "\"missing.bin\" cannot be read"},
      {"sub", nullptr, nullptr, "\"sub\" cannot be read"},
      {"w.bin", "8", nullptr, "external data of 8 bytes for a tensor of 16"},
      {"w.bin", "8", "16", "external data runs past the end of \"w.bin\""},
      {"w.bin", "-1", "16", "external data offset \"-1\" is not a byte count"},
  };
  for (const auto& r : rows) {
    Builder b({2});
    auto* t = b.g->add_initializer();
    t->set_name("W");
    t->set_data_type(onnx::TensorProto::FLOAT);
    t->add_dims(2);
    t->add_dims(2);
    t->set_data_location(onnx::TensorProto::EXTERNAL);
    for (const auto& [key, value] :
         {std::pair{"location", r.location}, std::pair{"offset", r.offset},
          std::pair{"length", r.length}}) {
      if (!value) continue;
      auto* e = t->add_external_data();
      e->set_key(key);
      e->set_value(value);
    }
    b.node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
    {
      std::ofstream file(folder / "m.onnx", std::ios::binary | std::ios::trunc);
      const auto bytes = b.bytes();
      file.write(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<std::streamsize>(bytes.size()));
    }
    auto compiled = Model::compileModelAtURL(folder / "m.onnx", dir / "out");
    if (r.refusal) {
      ASSERT_FALSE(compiled.ok()) << r.location;
      EXPECT_NE(compiled.error().localizedDescription.find(r.refusal), std::string::npos)
          << r.location << ": " << compiled.error().localizedDescription;
      continue;
    }
    ASSERT_TRUE(compiled.ok()) << r.location << ": " << compiled.error().localizedDescription;
    EXPECT_EQ(
        (*Model::initWithContentsOfURL(*compiled))->prediction(MultiArray::vector({1, 1}))->values,
        (std::vector<double>{4, 6}));
    // Bytes alone have no folder to read from.
    EXPECT_NE(refusal(b).find("initializer W keeps its data in an external file"),
              std::string::npos)
        << refusal(b);
  }
  std::filesystem::remove_all(dir);
}
