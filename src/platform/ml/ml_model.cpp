#include "hcf/platform/ml/ml_model.h"

#include <onnx/onnx_pb.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "../../core/json_text.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN
namespace ml {

namespace {

// Bounds far above the kit's networks and far below what could exhaust memory.
constexpr std::size_t kMaxModelBytes = std::size_t{64} << 20;
constexpr std::size_t kMaxSteps = 1024;
constexpr std::int64_t kMaxElements = std::int64_t{1} << 24;
constexpr const char* kCompiledFile = "model.json";
constexpr const char* kFormat = "hcf-compiled-model";

HCFError refuse(const std::string& why) {
  return HTUtility::errWithMsg("Model refused: " + why, 0);
}

struct Tensor {
  std::vector<std::int64_t> dims;
  std::vector<double> data;
};

// The number of elements of a shape; -1 when a dimension is negative or the count is more than
// the runtime takes (so no product of dimensions read from a file can overflow).
std::int64_t elements(const std::vector<std::int64_t>& dims) {
  std::int64_t n = 1;
  for (const auto d : dims) {
    if (d < 0 || d > kMaxElements) return -1;
    n *= d;
    if (n > kMaxElements) return -1;
  }
  return n;
}

std::string dimsText(const std::vector<std::int64_t>& dims) {
  std::string s = "[";
  for (std::size_t i = 0; i < dims.size(); ++i) s += (i ? "," : "") + std::to_string(dims[i]);
  return s + "]";
}

enum class Op {
  MatMulRight,
  MatMulLeft,
  Gemm,
  Add,
  Relu,
  Sigmoid,
  Tanh,
  Identity,
  Reshape,
  Flatten
};

const std::map<std::string, Op>& opNames() {
  static const std::map<std::string, Op> names = {{"MatMulRight", Op::MatMulRight},
                                                  {"MatMulLeft", Op::MatMulLeft},
                                                  {"Gemm", Op::Gemm},
                                                  {"Add", Op::Add},
                                                  {"Relu", Op::Relu},
                                                  {"Sigmoid", Op::Sigmoid},
                                                  {"Tanh", Op::Tanh},
                                                  {"Identity", Op::Identity},
                                                  {"Reshape", Op::Reshape},
                                                  {"Flatten", Op::Flatten}};
  return names;
}

std::string opName(Op op) {
  for (const auto& [n, o] : opNames()) {
    if (o == op) return n;
  }
  return "?";
}

}  // namespace

struct Model::Step {
  Op op = Op::Identity;
  std::string node;  // the ONNX node's name, for messages
  Tensor constant;   // MatMul weight, Gemm B, Add operand
  Tensor bias;       // Gemm C (empty dims and data: none)
  bool hasBias = false;
  double alpha = 1.0;
  double beta = 1.0;
  bool transA = false;
  bool transB = false;
  std::vector<std::int64_t> shape;  // Reshape target
  std::int64_t axis = 1;            // Flatten
};

struct Model::Impl {
  std::vector<std::int64_t> inputDims;
  std::vector<Step> steps;
  std::vector<std::int64_t> outputDims;
};

namespace {

using Step = Model::Step;

// A rank-1 tensor [n] taken as the row [1, n].
std::pair<std::int64_t, std::int64_t> asMatrix(const std::vector<std::int64_t>& d) {
  if (d.size() == 1) return {1, d[0]};
  return {d[0], d[1]};
}

Result<Tensor> matmul(const Tensor& a, bool ta, const Tensor& b, bool tb, const std::string& node) {
  if (a.dims.empty() || a.dims.size() > 2 || b.dims.empty() || b.dims.size() > 2) {
    return refuse("node " + node + ": MatMul/Gemm needs tensors of rank 1 or 2");
  }
  const auto rowsCols = asMatrix(a.dims);
  std::int64_t ar = rowsCols.first;
  std::int64_t ac = rowsCols.second;
  // A rank-1 b [n] is the column [n, 1].
  std::int64_t br = b.dims[0];
  std::int64_t bc = b.dims.size() == 1 ? 1 : b.dims[1];
  if (ta) std::swap(ar, ac);
  if (tb) std::swap(br, bc);
  if (ac != br) {
    return refuse("node " + node + ": shapes " + dimsText(a.dims) + " and " + dimsText(b.dims) +
                  " do not multiply");
  }
  Tensor y;
  y.dims = {ar, bc};
  y.data.assign(static_cast<std::size_t>(ar * bc), 0.0);
  const auto A = [&](std::int64_t i, std::int64_t k) {
    return ta ? a.data[static_cast<std::size_t>(k * ar + i)]
              : a.data[static_cast<std::size_t>(i * ac + k)];
  };
  const std::int64_t bStride = b.dims.size() == 1 ? 1 : b.dims[1];
  const auto B = [&](std::int64_t k, std::int64_t j) {
    return tb ? b.data[static_cast<std::size_t>(j * bStride + k)]
              : b.data[static_cast<std::size_t>(k * bStride + j)];
  };
  for (std::int64_t i = 0; i < ar; ++i) {
    for (std::int64_t j = 0; j < bc; ++j) {
      double s = 0.0;
      for (std::int64_t k = 0; k < ac; ++k) s += A(i, k) * B(k, j);
      y.data[static_cast<std::size_t>(i * bc + j)] = s;
    }
  }
  return y;
}

// x + c (scaled by `scale`) with c broadcast over the rows of x.
Result<Tensor> addBroadcast(Tensor x, const Tensor& c, double scale, const std::string& node) {
  const auto n = static_cast<std::int64_t>(x.data.size());
  const auto m = static_cast<std::int64_t>(c.data.size());
  const std::int64_t cols = x.dims.empty() ? 1 : x.dims.back();
  if (m == n) {
    for (std::int64_t i = 0; i < n; ++i)
      x.data[static_cast<std::size_t>(i)] += scale * c.data[static_cast<std::size_t>(i)];
  } else if (m == 1) {
    for (auto& v : x.data) v += scale * c.data[0];
  } else if (m == cols && (c.dims.size() == 1 || (c.dims.size() == 2 && c.dims[0] == 1))) {
    for (std::int64_t i = 0; i < n; ++i)
      x.data[static_cast<std::size_t>(i)] += scale * c.data[static_cast<std::size_t>(i % cols)];
  } else {
    return refuse("node " + node + ": cannot add " + dimsText(c.dims) + " to " + dimsText(x.dims));
  }
  return x;
}

Result<Tensor> apply(const Step& s, Tensor x) {
  switch (s.op) {
    case Op::MatMulRight: {
      const bool rank1 = x.dims.size() == 1;
      auto y = matmul(x, false, s.constant, false, s.node);
      if (y && rank1) y->dims = {y->dims[1]};
      return y;
    }
    case Op::MatMulLeft: {
      Tensor col = x;
      if (col.dims.size() == 1) col.dims = {col.dims[0], 1};
      auto y = matmul(s.constant, false, col, false, s.node);
      if (y && x.dims.size() == 1) y->dims = {y->dims[0]};
      return y;
    }
    case Op::Gemm: {
      if (x.dims.size() == 1) x.dims = {1, x.dims[0]};
      auto y = matmul(x, s.transA, s.constant, s.transB, s.node);
      if (!y) return y;
      for (auto& v : y->data) v *= s.alpha;
      if (!s.hasBias) return y;
      return addBroadcast(std::move(*y), s.bias, s.beta, s.node);
    }
    case Op::Add:
      return addBroadcast(std::move(x), s.constant, 1.0, s.node);
    case Op::Relu:
      for (auto& v : x.data) v = v > 0 ? v : (std::isnan(v) ? v : 0.0);
      return x;
    case Op::Sigmoid:
      for (auto& v : x.data) v = 1.0 / (1.0 + std::exp(-v));
      return x;
    case Op::Tanh:
      for (auto& v : x.data) v = std::tanh(v);
      return x;
    case Op::Identity:
      return x;
    case Op::Reshape: {
      std::vector<std::int64_t> dims = s.shape;
      std::int64_t known = 1;
      int unknown = -1;
      for (std::size_t i = 0; i < dims.size(); ++i) {
        if (dims[i] == 0 && i < x.dims.size()) dims[i] = x.dims[i];
        if (dims[i] == -1) {
          if (unknown >= 0) return refuse("node " + s.node + ": Reshape with two -1");
          unknown = static_cast<int>(i);
        } else if (dims[i] < 0 || dims[i] > kMaxElements || known * dims[i] > kMaxElements) {
          return refuse("node " + s.node + ": cannot reshape to " + dimsText(s.shape));
        } else {
          known *= dims[i];
        }
      }
      const auto total = static_cast<std::int64_t>(x.data.size());
      if (unknown >= 0 && known > 0) dims[static_cast<std::size_t>(unknown)] = total / known;
      if (dims.empty() || dims.size() > 2 || elements(dims) != total) {
        return refuse("node " + s.node + ": cannot reshape " + dimsText(x.dims) + " to " +
                      dimsText(s.shape));
      }
      x.dims = dims;
      return x;
    }
    case Op::Flatten: {
      if (s.axis < 0 || s.axis > static_cast<std::int64_t>(x.dims.size())) {
        return refuse("node " + s.node + ": Flatten axis out of range");
      }
      std::int64_t outer = 1;
      for (std::int64_t i = 0; i < s.axis; ++i) outer *= x.dims[static_cast<std::size_t>(i)];
      x.dims = {outer, static_cast<std::int64_t>(x.data.size()) / (outer ? outer : 1)};
      return x;
    }
  }
  return x;
}

// Runs every step on a zero input: proves the shapes fit and gives the output's.
Result<std::vector<std::int64_t>> checkShapes(const Model::Impl& impl) {
  Tensor x;
  x.dims = impl.inputDims;
  x.data.assign(static_cast<std::size_t>(elements(impl.inputDims)), 0.0);
  for (const auto& s : impl.steps) {
    auto y = apply(s, std::move(x));
    if (!y) return y.error();
    if (static_cast<std::int64_t>(y->data.size()) > kMaxElements)
      return refuse("a tensor is too large");
    x = std::move(*y);
  }
  return x.dims;
}

Result<Tensor> fromTensorProto(const onnx::TensorProto& t) {
  Tensor out;
  std::int64_t n = 1;
  for (const auto d : t.dims()) {
    if (d < 0 || d > kMaxElements)
      return refuse("initializer " + t.name() + " has a bad dimension");
    out.dims.push_back(d);
    n *= d;
    if (n > kMaxElements) return refuse("initializer " + t.name() + " is too large");
  }
  const auto count = static_cast<std::size_t>(n);
  const std::string& raw = t.raw_data();
  switch (t.data_type()) {
    case onnx::TensorProto::FLOAT:
      if (!raw.empty()) {
        if (raw.size() != count * 4)
          return refuse("initializer " + t.name() + " has the wrong size");
        for (std::size_t i = 0; i < count; ++i) {
          float f;
          std::memcpy(&f, raw.data() + 4 * i, 4);
          out.data.push_back(f);
        }
      } else {
        if (static_cast<std::size_t>(t.float_data_size()) != count) {
          return refuse("initializer " + t.name() + " has the wrong size");
        }
        for (const float f : t.float_data()) out.data.push_back(f);
      }
      break;
    case onnx::TensorProto::DOUBLE:
      if (!raw.empty()) {
        if (raw.size() != count * 8)
          return refuse("initializer " + t.name() + " has the wrong size");
        out.data.resize(count);
        std::memcpy(out.data.data(), raw.data(), count * 8);
      } else {
        if (static_cast<std::size_t>(t.double_data_size()) != count) {
          return refuse("initializer " + t.name() + " has the wrong size");
        }
        out.data.assign(t.double_data().begin(), t.double_data().end());
      }
      break;
    case onnx::TensorProto::INT64:
      if (!raw.empty()) {
        if (raw.size() != count * 8)
          return refuse("initializer " + t.name() + " has the wrong size");
        for (std::size_t i = 0; i < count; ++i) {
          std::int64_t v;
          std::memcpy(&v, raw.data() + 8 * i, 8);
          out.data.push_back(static_cast<double>(v));
        }
      } else {
        if (static_cast<std::size_t>(t.int64_data_size()) != count) {
          return refuse("initializer " + t.name() + " has the wrong size");
        }
        for (const auto v : t.int64_data()) out.data.push_back(static_cast<double>(v));
      }
      break;
    default:
      return refuse("initializer " + t.name() + " has an unsupported element type");
  }
  return out;
}

const onnx::AttributeProto* attribute(const onnx::NodeProto& n, const char* name) {
  for (const auto& a : n.attribute()) {
    if (a.name() == name) return &a;
  }
  return nullptr;
}

// What an operator's parser sees of its node: the node, the position of the data among its
// inputs, and the graph's initializers.
struct NodeContext {
  const onnx::NodeProto& node;
  int dataInput;  // 0 or 1
  const std::map<std::string, Tensor>& constants;

  // The initializer at input `index`.
  Result<Tensor> constant(const Step& s, int index) const {
    if (index >= node.input_size()) return refuse("node " + s.node + " lacks an input");
    const auto it = constants.find(node.input(index));
    if (it == constants.end()) {
      return refuse("node " + s.node + ": missing initializer " + node.input(index));
    }
    return it->second;
  }
};

using NodeParser = std::optional<HCFError> (*)(const NodeContext& c, Step& s);

std::optional<HCFError> parseMatMulOrAdd(const NodeContext& c, Step& s) {
  if (c.node.input_size() != 2) return refuse("node " + s.node + " needs two inputs");
  auto constant = c.constant(s, 1 - c.dataInput);
  if (!constant) return constant.error();
  s.constant = std::move(*constant);
  s.op =
      c.node.op_type() == "Add" ? Op::Add : (c.dataInput == 0 ? Op::MatMulRight : Op::MatMulLeft);
  return std::nullopt;
}

std::optional<HCFError> parseGemm(const NodeContext& c, Step& s) {
  if (c.dataInput != 0) return refuse("node " + s.node + ": Gemm's first input must be the data");
  auto b = c.constant(s, 1);
  if (!b) return b.error();
  s.op = Op::Gemm;
  s.constant = std::move(*b);
  if (c.node.input_size() > 2 && !c.node.input(2).empty()) {
    auto bias = c.constant(s, 2);
    if (!bias) return bias.error();
    s.bias = std::move(*bias);
    s.hasBias = true;
  }
  if (auto* a = attribute(c.node, "alpha")) s.alpha = a->f();
  if (auto* a = attribute(c.node, "beta")) s.beta = a->f();
  if (auto* a = attribute(c.node, "transA")) s.transA = a->i() != 0;
  if (auto* a = attribute(c.node, "transB")) s.transB = a->i() != 0;
  return std::nullopt;
}

std::optional<HCFError> parseElementwise(const NodeContext& c, Step& s) {
  s.op = opNames().at(c.node.op_type());
  return std::nullopt;
}

std::optional<HCFError> parseReshape(const NodeContext& c, Step& s) {
  s.op = Op::Reshape;
  if (c.node.input_size() > 1) {
    auto shape = c.constant(s, 1);
    if (!shape) return shape.error();
    for (const double v : shape->data) {
      // Whole numbers an integer holds (the product of the dimensions is checked later).
      if (!std::isfinite(v) || v != std::floor(v) || std::fabs(v) >= 9223372036854775808.0) {
        return refuse("node " + s.node + ": Reshape shape is not a list of whole numbers");
      }
      s.shape.push_back(static_cast<std::int64_t>(v));
    }
  } else if (auto* a = attribute(c.node, "shape")) {
    s.shape.assign(a->ints().begin(), a->ints().end());
  } else {
    return refuse("node " + s.node + ": Reshape without a shape");
  }
  return std::nullopt;
}

std::optional<HCFError> parseFlatten(const NodeContext& c, Step& s) {
  s.op = Op::Flatten;
  if (auto* a = attribute(c.node, "axis")) s.axis = a->i();
  return std::nullopt;
}

// The operators of the dense-network subset, each with its parser.
const std::map<std::string, NodeParser>& nodeParsers() {
  static const std::map<std::string, NodeParser> parsers = {
      {"MatMul", parseMatMulOrAdd},   {"Add", parseMatMulOrAdd},     {"Gemm", parseGemm},
      {"Relu", parseElementwise},     {"Sigmoid", parseElementwise}, {"Tanh", parseElementwise},
      {"Identity", parseElementwise}, {"Reshape", parseReshape},     {"Flatten", parseFlatten}};
  return parsers;
}

// The input's dimensions (unknown or symbolic ones as 1), after checking that the graph has the
// kit's input and output features.
Result<std::vector<std::int64_t>> featureDims(const onnx::GraphProto& g) {
  std::vector<std::int64_t> dims;
  bool hasInput = false;
  for (const auto& in : g.input()) {
    if (in.name() != kInputFeature) continue;
    hasInput = true;
    for (const auto& d : in.type().tensor_type().shape().dim()) {
      dims.push_back(d.has_dim_value() && d.dim_value() > 0 ? d.dim_value() : 1);
    }
  }
  if (!hasInput) return refuse(std::string("no input named \"") + kInputFeature + "\"");
  if (dims.empty() || dims.size() > 2 || elements(dims) < 0) {
    return refuse("the input must have rank 1 or 2");
  }
  bool hasOutput = false;
  for (const auto& out : g.output()) hasOutput = hasOutput || out.name() == kOutputFeature;
  if (!hasOutput) return refuse(std::string("no output named \"") + kOutputFeature + "\"");
  return dims;
}

// The one node that consumes `value`, or the reason there is none.
Result<const onnx::NodeProto*> consumerOf(const onnx::GraphProto& g, const std::string& value) {
  const onnx::NodeProto* next = nullptr;
  for (const auto& n : g.node()) {
    for (const auto& i : n.input()) {
      if (i != value) continue;
      if (next && next != &n) return refuse("value " + value + " feeds more than one node");
      next = &n;
    }
  }
  if (!next) {
    return refuse("the graph does not lead from the input to \"" + std::string(kOutputFeature) +
                  "\"");
  }
  return next;
}

Result<std::shared_ptr<const Model::Impl>> buildFromONNX(std::span<const std::uint8_t> bytes) {
  if (bytes.size() > kMaxModelBytes) return refuse("the file is larger than 64 MiB");
  onnx::ModelProto model;
  if (!model.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())) || !model.has_graph()) {
    return refuse("the bytes are not an ONNX model");
  }
  const onnx::GraphProto& g = model.graph();
  std::map<std::string, Tensor> constants;
  for (const auto& init : g.initializer()) {
    auto t = fromTensorProto(init);
    if (!t) return t.error();
    constants[init.name()] = std::move(*t);
  }
  auto impl = std::make_shared<Model::Impl>();
  auto dims = featureDims(g);
  if (!dims) return dims.error();
  impl->inputDims = std::move(*dims);

  // Walk the chain from the input: each value is consumed by exactly one node, whose other
  // inputs are initializers.
  std::string current = kInputFeature;
  while (current != kOutputFeature) {
    auto next = consumerOf(g, current);
    if (!next) return next.error();
    const onnx::NodeProto& node = **next;
    if (impl->steps.size() >= kMaxSteps) return refuse("the graph has too many nodes");
    if (node.output_size() != 1) return refuse("node " + node.name() + " must have one output");
    const std::string& type = node.op_type();
    Step s;
    s.node = node.name().empty() ? type : node.name();
    const auto parser = nodeParsers().find(type);
    if (parser == nodeParsers().end()) {
      return refuse("node " + s.node + ": unsupported operator " + type);
    }
    const NodeContext context{node, node.input(0) == current ? 0 : 1, constants};
    if (auto error = parser->second(context, s)) return *error;
    impl->steps.push_back(std::move(s));
    current = node.output(0);
  }
  auto out = checkShapes(*impl);
  if (!out) return out.error();
  impl->outputDims = *out;
  return std::shared_ptr<const Model::Impl>(std::move(impl));
}

JsonValue tensorJson(const Tensor& t) { return {{"dims", t.dims}, {"data", t.data}}; }

Result<Tensor> tensorFromJson(const JsonValue& j) {
  Tensor t;
  try {
    t.dims = j.at("dims").get<std::vector<std::int64_t>>();
    t.data = j.at("data").get<std::vector<double>>();
  } catch (const JsonValue::exception&) {
    return refuse("compiled model has a malformed tensor");
  }
  // A step without weights carries an empty tensor (no dimensions, no data).
  const bool empty = t.dims.empty() && t.data.empty();
  if (!empty && elements(t.dims) != static_cast<std::int64_t>(t.data.size())) {
    return refuse("compiled model has a tensor of the wrong size");
  }
  return t;
}

}  // namespace

Model::Model(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
Model::~Model() = default;

std::size_t Model::inputLength() const {
  return static_cast<std::size_t>(elements(impl_->inputDims));
}
std::size_t Model::outputLength() const {
  return static_cast<std::size_t>(elements(impl_->outputDims));
}

Result<std::shared_ptr<const Model>> Model::fromONNX(std::span<const std::uint8_t> onnx) {
  auto impl = buildFromONNX(onnx);
  if (!impl) return impl.error();
  return std::make_shared<const Model>(*impl);
}

Result<std::filesystem::path> Model::compileModelAtURL(
    const std::filesystem::path& modelFile, const std::filesystem::path& outputDirectory) {
  std::ifstream in(modelFile, std::ios::binary);
  if (!in) return refuse("cannot read " + modelFile.string());
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  auto impl = buildFromONNX(bytes);
  if (!impl) return impl.error();
  JsonValue doc = {{"format", kFormat}, {"version", 1}, {"input", (*impl)->inputDims}};
  doc["steps"] = JsonValue::array();
  for (const auto& s : (*impl)->steps) {
    JsonValue j = {
        {"op", opName(s.op)}, {"node", s.node},     {"alpha", s.alpha},
        {"beta", s.beta},     {"transA", s.transA}, {"transB", s.transB},
        {"shape", s.shape},   {"axis", s.axis},     {"constant", tensorJson(s.constant)}};
    if (s.hasBias) j["bias"] = tensorJson(s.bias);
    doc["steps"].push_back(std::move(j));
  }
  const auto folder = outputDirectory / (modelFile.stem().string() + kCompiledExtension);
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  std::ofstream out(folder / kCompiledFile, std::ios::binary | std::ios::trunc);
  out << doc.dump();
  if (!out) return refuse("cannot write " + folder.string());
  return folder;
}

Result<std::shared_ptr<const Model>> Model::initWithContentsOfURL(
    const std::filesystem::path& compiled) {
  std::ifstream in(compiled / kCompiledFile, std::ios::binary);
  if (!in) return refuse("no compiled model at " + compiled.string());
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  JsonValue doc;
  try {
    doc = json_text::parse(text);
  } catch (const JsonValue::exception&) {
    return refuse("the compiled model at " + compiled.string() + " is not readable");
  }
  const auto format = doc.is_object() ? doc.find("format") : doc.end();
  if (format == doc.end() || !format->is_string() || *format != kFormat) {
    return refuse("not a compiled model");
  }
  auto impl = std::make_shared<Impl>();
  try {
    impl->inputDims = doc.at("input").get<std::vector<std::int64_t>>();
    for (const auto& j : doc.at("steps")) {
      Step s;
      const auto op = opNames().find(j.at("op").get<std::string>());
      if (op == opNames().end()) return refuse("compiled model with an unknown step");
      s.op = op->second;
      s.node = j.at("node").get<std::string>();
      s.alpha = j.at("alpha").get<double>();
      s.beta = j.at("beta").get<double>();
      s.transA = j.at("transA").get<bool>();
      s.transB = j.at("transB").get<bool>();
      s.shape = j.at("shape").get<std::vector<std::int64_t>>();
      s.axis = j.at("axis").get<std::int64_t>();
      auto c = tensorFromJson(j.at("constant"));
      if (!c) return c.error();
      s.constant = std::move(*c);
      if (j.contains("bias")) {
        auto b = tensorFromJson(j.at("bias"));
        if (!b) return b.error();
        s.bias = std::move(*b);
        s.hasBias = true;
      }
      impl->steps.push_back(std::move(s));
    }
  } catch (const JsonValue::exception&) {
    return refuse("the compiled model at " + compiled.string() + " is malformed");
  }
  if (impl->inputDims.empty() || impl->inputDims.size() > 2 || elements(impl->inputDims) < 0) {
    return refuse("compiled model with a bad input shape");
  }
  auto out = checkShapes(*impl);
  if (!out) return out.error();
  impl->outputDims = *out;
  return std::make_shared<const Model>(std::shared_ptr<const Impl>(std::move(impl)));
}

Result<MultiArray> Model::prediction(const MultiArray& input) const {
  if (input.values.size() != inputLength()) {
    return refuse("input of " + std::to_string(input.values.size()) + " values for a model of " +
                  std::to_string(inputLength()));
  }
  Tensor x;
  x.dims = impl_->inputDims;
  x.data = input.values;
  for (const auto& s : impl_->steps) {
    auto y = apply(s, std::move(x));
    if (!y) return y.error();
    x = std::move(*y);
  }
  return MultiArray::vector(std::move(x.data));
}

}  // namespace ml
HCF_NAMESPACE_END
