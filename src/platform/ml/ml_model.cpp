#include "hcf/platform/ml/ml_model.h"

#include <fcntl.h>
#include <onnx/onnx_pb.h>
#include <sys/stat.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <sstream>

#include "../../core/json_text.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/json.h"

HCF_NAMESPACE_BEGIN
namespace ml {

namespace {

// Bounds far above the kit's networks and far below what could exhaust memory or time.
constexpr std::size_t kMaxModelBytes = std::size_t{64} << 20;  // the file, and its external data
constexpr std::size_t kMaxSteps = 1024;
constexpr std::int64_t kMaxElements = std::int64_t{1} << 24;
constexpr std::int64_t kMaxMultiplyAdds = std::int64_t{1} << 32;
constexpr const char* kCompiledFile = "model.json";
constexpr const char* kFormat = "hcf-compiled-model";
// Version 1 knew the steps up to Flatten; version 2 added Sub, Mul, Div (with "constantFirst"),
// Affine and the two Softmax steps. Both load.
constexpr int kCompiledVersion = 2;
// The default of BatchNormalization's float attribute "epsilon".
constexpr float kDefaultEpsilon = 1e-5f;

HCFError refuse(const std::string& why) {
  return HTUtility::errWithMsg("Model refused: " + why, error_code::kModelRefused);
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

// Whether the tensor's data fills its shape (a rank-0 tensor holds one value).
bool wellFormed(const Tensor& t) {
  return elements(t.dims) == static_cast<std::int64_t>(t.data.size());
}

std::string dimsText(const std::vector<std::int64_t>& dims) {
  std::string s = "[";
  for (std::size_t i = 0; i < dims.size(); ++i) s += (i ? "," : "") + std::to_string(dims[i]);
  return s + "]";
}

enum class Op {
  MatMulRight,  // x · constant
  MatMulLeft,   // constant · x
  Gemm,
  Add,
  Sub,
  Mul,
  Div,
  Affine,  // x · constant + bias along the last dimension (a folded BatchNormalization)
  Relu,
  Sigmoid,
  Tanh,
  Identity,
  Reshape,
  Flatten,
  Softmax,          // along one axis
  SoftmaxFromAxis,  // over all dimensions from the axis on (operator sets before 13)
};

const std::map<std::string, Op>& opNames() {
  static const std::map<std::string, Op> names = {{"MatMulRight", Op::MatMulRight},
                                                  {"MatMulLeft", Op::MatMulLeft},
                                                  {"Gemm", Op::Gemm},
                                                  {"Add", Op::Add},
                                                  {"Sub", Op::Sub},
                                                  {"Mul", Op::Mul},
                                                  {"Div", Op::Div},
                                                  {"Affine", Op::Affine},
                                                  {"Relu", Op::Relu},
                                                  {"Sigmoid", Op::Sigmoid},
                                                  {"Tanh", Op::Tanh},
                                                  {"Identity", Op::Identity},
                                                  {"Reshape", Op::Reshape},
                                                  {"Flatten", Op::Flatten},
                                                  {"Softmax", Op::Softmax},
                                                  {"SoftmaxFromAxis", Op::SoftmaxFromAxis}};
  return names;
}

std::string opName(Op op) {
  for (const auto& [n, o] : opNames()) {
    if (o == op) return n;
  }
  return "?";
}

// The steps that read their constant tensor.
bool usesConstant(Op op) {
  switch (op) {
    case Op::MatMulRight:
    case Op::MatMulLeft:
    case Op::Gemm:
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div:
    case Op::Affine:
      return true;
    default:
      return false;
  }
}

}  // namespace

struct Model::Step {
  Op op = Op::Identity;
  std::string node;  // the ONNX node's name, for messages
  Tensor constant;   // MatMul weight, Gemm B, operand of Add/Sub/Mul/Div, Affine factor
  Tensor bias;       // Gemm C, Affine offset (empty dims and data: none)
  bool hasBias = false;
  bool constantFirst = false;  // Sub and Div: constant − x and constant ÷ x
  double alpha = 1.0;
  double beta = 1.0;
  bool transA = false;
  bool transB = false;
  std::vector<std::int64_t> shape;  // Reshape target
  std::int64_t axis = 1;            // Flatten, Softmax
};

struct Model::Impl {
  std::vector<std::int64_t> inputDims;
  std::vector<Step> steps;
  std::vector<std::int64_t> outputDims;
};

namespace {

using Step = Model::Step;

// a · b, either transposed, of tensors of rank 1 or 2: a rank-1 a [n] is the row [1, n], a
// rank-1 b [n] the column [n, 1]. The result has rank 2.
Result<Tensor> matmul(const Tensor& a, bool ta, const Tensor& b, bool tb, const std::string& node) {
  if (a.dims.empty() || a.dims.size() > 2 || b.dims.empty() || b.dims.size() > 2) {
    return refuse("node " + node + ": MatMul/Gemm needs tensors of rank 1 or 2");
  }
  const std::int64_t aStride = a.dims.back();
  const std::int64_t bStride = b.dims.size() == 1 ? 1 : b.dims[1];
  std::int64_t ar = a.dims.size() == 1 ? 1 : a.dims[0];
  std::int64_t ac = aStride;
  std::int64_t br = b.dims[0];
  std::int64_t bc = bStride;
  if (ta) std::swap(ar, ac);
  if (tb) std::swap(br, bc);
  if (ac != br) {
    return refuse("node " + node + ": shapes " + dimsText(a.dims) + " and " + dimsText(b.dims) +
                  " do not multiply");
  }
  // Every dimension is at most kMaxElements, so these products fit.
  if (elements({ar, bc}) < 0 || ar * bc * ac > kMaxMultiplyAdds) {
    return refuse("node " + node + ": the product is too large");
  }
  Tensor y;
  y.dims = {ar, bc};
  y.data.assign(static_cast<std::size_t>(ar * bc), 0.0);
  const auto A = [&](std::int64_t i, std::int64_t k) {
    return ta ? a.data[static_cast<std::size_t>(k * aStride + i)]
              : a.data[static_cast<std::size_t>(i * aStride + k)];
  };
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

// a · b as numpy's matmul: the dimension a rank-1 operand gains is dropped from the result.
Result<Tensor> matmulNumpy(const Tensor& a, const Tensor& b, const std::string& node) {
  auto y = matmul(a, false, b, false, node);
  if (!y) return y;
  std::vector<std::int64_t> dims;
  if (a.dims.size() == 2) dims.push_back(y->dims[0]);
  if (b.dims.size() == 2) dims.push_back(y->dims[1]);
  y->dims = std::move(dims);
  return y;
}

// The shape numpy's broadcasting gives shapes `a` and `b` of rank 0 to 2: aligned at their last
// dimension, a missing or 1-long dimension stretches to the other's. Nothing when they do not
// broadcast.
std::optional<std::vector<std::int64_t>> broadcastDims(const std::vector<std::int64_t>& a,
                                                       const std::vector<std::int64_t>& b) {
  if (a.size() > 2 || b.size() > 2) return std::nullopt;
  const std::size_t rank = std::max(a.size(), b.size());
  std::vector<std::int64_t> out(rank);
  for (std::size_t i = 0; i < rank; ++i) {  // i counts from the last dimension
    const std::int64_t da = i < a.size() ? a[a.size() - 1 - i] : 1;
    const std::int64_t db = i < b.size() ? b[b.size() - 1 - i] : 1;
    if (da != db && da != 1 && db != 1) return std::nullopt;
    out[rank - 1 - i] = da == 1 ? db : da;
  }
  return out;
}

// f(a, b) element by element over the broadcast shape of two well-formed tensors.
template <class F>
Result<Tensor> broadcast(const Tensor& a, const Tensor& b, const std::string& node, F f) {
  const auto dims = broadcastDims(a.dims, b.dims);
  if (!dims) {
    return refuse("node " + node + ": shapes " + dimsText(a.dims) + " and " + dimsText(b.dims) +
                  " do not broadcast");
  }
  const std::int64_t n = elements(*dims);
  if (n < 0) return refuse("node " + node + ": the result is too large");
  // The step from one row (column) of the result to the next in each operand: 0 where the
  // operand's dimension stretches.
  const auto strides = [](const std::vector<std::int64_t>& d) {
    const std::int64_t rows = d.size() == 2 ? d[0] : 1;
    const std::int64_t cols = d.empty() ? 1 : d.back();
    return std::pair<std::int64_t, std::int64_t>{rows == 1 ? 0 : cols, cols == 1 ? 0 : 1};
  };
  const auto [aRow, aCol] = strides(a.dims);
  const auto [bRow, bCol] = strides(b.dims);
  const std::int64_t rows = dims->size() == 2 ? (*dims)[0] : 1;
  const std::int64_t cols = dims->empty() ? 1 : dims->back();
  Tensor y;
  y.dims = *dims;
  y.data.resize(static_cast<std::size_t>(n));
  for (std::int64_t r = 0; r < rows; ++r) {
    for (std::int64_t c = 0; c < cols; ++c) {
      y.data[static_cast<std::size_t>(r * cols + c)] =
          f(a.data[static_cast<std::size_t>(r * aRow + c * aCol)],
            b.data[static_cast<std::size_t>(r * bRow + c * bCol)]);
    }
  }
  return y;
}

double combine(Op op, double a, double b) {
  switch (op) {
    case Op::Sub:
      return a - b;
    case Op::Mul:
      return a * b;
    case Op::Div:
      return a / b;
    default:
      return a + b;
  }
}

// The axis counted from the front; nothing when outside [-rank, rank + extra).
std::optional<std::int64_t> normalAxis(std::int64_t axis, std::size_t rank, std::int64_t extra) {
  const auto r = static_cast<std::int64_t>(rank);
  if (axis < -r || axis >= r + extra) return std::nullopt;
  return axis < 0 ? axis + r : axis;
}

Result<Tensor> softmax(const Step& s, Tensor x) {
  const auto axis = normalAxis(s.axis, x.dims.size(), 0);
  if (!axis) {
    return refuse("node " + s.node + ": Softmax axis " + std::to_string(s.axis) +
                  " is out of range for " + dimsText(x.dims));
  }
  // The values normalised together: `count` of them `inner` apart, in `outer` × `inner` groups.
  std::int64_t outer = 1;
  std::int64_t count = 1;
  std::int64_t inner = 1;
  for (std::size_t d = 0; d < x.dims.size(); ++d) {
    const auto i = static_cast<std::int64_t>(d);
    if (i < *axis) {
      outer *= x.dims[d];
    } else if (i == *axis || s.op == Op::SoftmaxFromAxis) {
      count *= x.dims[d];
    } else {
      inner *= x.dims[d];
    }
  }
  if (count == 0) return x;
  for (std::int64_t o = 0; o < outer; ++o) {
    for (std::int64_t i = 0; i < inner; ++i) {
      const auto at = [&](std::int64_t k) -> double& {
        return x.data[static_cast<std::size_t>((o * count + k) * inner + i)];
      };
      double top = at(0);
      for (std::int64_t k = 1; k < count; ++k) top = std::max(top, at(k));
      double sum = 0.0;
      for (std::int64_t k = 0; k < count; ++k) {
        at(k) = std::exp(at(k) - top);
        sum += at(k);
      }
      for (std::int64_t k = 0; k < count; ++k) at(k) /= sum;
    }
  }
  return x;
}

Result<Tensor> apply(const Step& s, Tensor x) {
  switch (s.op) {
    case Op::MatMulRight:
      return matmulNumpy(x, s.constant, s.node);
    case Op::MatMulLeft:
      return matmulNumpy(s.constant, x, s.node);
    case Op::Gemm: {
      auto y = matmul(x, s.transA, s.constant, s.transB, s.node);
      if (!y) return y;
      for (auto& v : y->data) v *= s.alpha;
      if (!s.hasBias) return y;
      // C stretches to the result; the result never stretches to C.
      const auto dims = broadcastDims(s.bias.dims, y->dims);
      if (!dims || *dims != y->dims) {
        return refuse("node " + s.node + ": C of shape " + dimsText(s.bias.dims) +
                      " does not broadcast to " + dimsText(y->dims));
      }
      const double beta = s.beta;
      return broadcast(*y, s.bias, s.node, [beta](double v, double c) { return v + beta * c; });
    }
    case Op::Add:
    case Op::Sub:
    case Op::Mul:
    case Op::Div: {
      const auto f = [op = s.op](double a, double b) { return combine(op, a, b); };
      return s.constantFirst ? broadcast(s.constant, x, s.node, f)
                             : broadcast(x, s.constant, s.node, f);
    }
    case Op::Affine: {
      const std::int64_t channels = x.dims.empty() ? -1 : x.dims.back();
      const std::vector<std::int64_t> want = {channels};
      if (s.constant.dims != want || s.bias.dims != want) {
        return refuse("node " + s.node + ": " + std::to_string(s.constant.data.size()) +
                      " channels do not fit " + dimsText(x.dims));
      }
      const auto c = static_cast<std::size_t>(channels);
      for (std::size_t i = 0; i < x.data.size(); ++i) {
        x.data[i] = x.data[i] * s.constant.data[i % c] + s.bias.data[i % c];
      }
      return x;
    }
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
      const auto axis = normalAxis(s.axis, x.dims.size(), 1);
      if (!axis) {
        return refuse("node " + s.node + ": Flatten axis " + std::to_string(s.axis) +
                      " is out of range for " + dimsText(x.dims));
      }
      std::int64_t outer = 1;
      for (std::int64_t i = 0; i < *axis; ++i) outer *= x.dims[static_cast<std::size_t>(i)];
      x.dims = {outer, static_cast<std::int64_t>(x.data.size()) / (outer ? outer : 1)};
      return x;
    }
    case Op::Softmax:
    case Op::SoftmaxFromAxis:
      return softmax(s, std::move(x));
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

std::optional<HCFError> allFinite(const std::vector<double>& values, const std::string& what) {
  for (const double v : values) {
    if (!std::isfinite(v)) return refuse(what + " holds a value that is not finite");
  }
  return std::nullopt;
}

// Where tensors kept in external files are read from: the model file's folder (none for a
// model given as bytes), and how many bytes they have taken so far.
struct ExternalFiles {
  std::optional<std::filesystem::path> folder;
  std::size_t bytesRead = 0;
};

// A relative path of plain components: not absolute, no drive letter, no backslash, no empty,
// "." or ".." component.
bool plainRelativePath(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('\\') != std::string::npos ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  if (path.size() > 1 && path[1] == ':') return false;  // a drive letter
  std::size_t start = 0;
  while (true) {
    const std::size_t end = path.find('/', start);
    const std::string part = path.substr(start, end == std::string::npos ? end : end - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (end == std::string::npos) return true;
    start = end + 1;
  }
}

bool insideFolder(const std::filesystem::path& path, const std::filesystem::path& root) {
  const auto rel = path.lexically_relative(root);
  return !rel.empty() && *rel.begin() != ".." && *rel.begin() != ".";
}

// The `size` bytes of a tensor kept in an external file, after checking that the file is a
// plain file inside the model's folder and that the stated bytes lie within it.
Result<std::string> externalBytes(const onnx::TensorProto& t, const std::string& what,
                                  std::uint64_t size, ExternalFiles& files) {
  if (!files.folder) {
    return refuse(what + " keeps its data in an external file, which only a model compiled " +
                  "from its file can read");
  }
  std::string location;
  std::optional<std::uint64_t> offset;
  std::optional<std::uint64_t> length;
  std::set<std::string> keys;
  for (const auto& entry : t.external_data()) {
    if (!keys.insert(entry.key()).second) {
      return refuse(what + ": external data key \"" + entry.key() + "\" is given twice");
    }
    if (entry.key() == "location") {
      location = entry.value();
    } else if (entry.key() == "offset" || entry.key() == "length") {
      const std::string& text = entry.value();
      std::uint64_t n = 0;
      const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
      if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return refuse(what + ": external data " + entry.key() + " \"" + text +
                      "\" is not a byte count");
      }
      (entry.key() == "offset" ? offset : length) = n;
    }
    // "checksum" is not needed to read the data.
  }
  if (!plainRelativePath(location)) {
    return refuse(what + ": external data location \"" + location +
                  "\" is not a relative path of plain names");
  }
  const auto file = *files.folder / location;
  std::error_code ec;
  if (std::filesystem::is_symlink(std::filesystem::symlink_status(file, ec))) {
    return refuse(what + ": external data file \"" + location + "\" is a link");
  }
  const auto root = std::filesystem::weakly_canonical(*files.folder, ec);
  const auto real = ec ? file : std::filesystem::weakly_canonical(file, ec);
  if (ec || !insideFolder(real, root)) {
    return refuse(what + ": external data file \"" + location + "\" is outside the model's folder");
  }
  const int fd = ::open(real.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) ::close(fd);
    return refuse(what + ": external data file \"" + location + "\" cannot be read");
  }
  const auto fileSize = static_cast<std::uint64_t>(st.st_size);
  const std::uint64_t from = offset.value_or(0);
  const std::uint64_t count = length.value_or(from <= fileSize ? fileSize - from : 0);
  std::string bytes;
  std::optional<HCFError> error;
  if (count != size) {
    error = refuse(what + ": external data of " + std::to_string(count) +
                   " bytes for a tensor of " + std::to_string(size));
  } else if (from > fileSize || count > fileSize - from) {
    error = refuse(what + ": external data runs past the end of \"" + location + "\"");
  } else if (count > kMaxModelBytes - files.bytesRead) {
    error = refuse("the external data is larger than 64 MiB");
  } else {
    bytes.resize(static_cast<std::size_t>(count));
    std::size_t got = 0;
    while (got < bytes.size()) {
      const ssize_t n =
          ::pread(fd, bytes.data() + got, bytes.size() - got, static_cast<off_t>(from + got));
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
    if (got != bytes.size()) {
      error = refuse(what + ": external data file \"" + location + "\" cannot be read");
    }
    files.bytesRead += got;
  }
  ::close(fd);
  if (error) return *error;
  return bytes;
}

// A tensor of the model (`what` names it in messages: "initializer W", "constant c").
Result<Tensor> fromTensorProto(const onnx::TensorProto& t, const std::string& what,
                               ExternalFiles& files) {
  Tensor out;
  std::int64_t n = 1;
  for (const auto d : t.dims()) {
    if (d < 0 || d > kMaxElements) return refuse(what + " has a bad dimension");
    out.dims.push_back(d);
    n *= d;
    if (n > kMaxElements) return refuse(what + " is too large");
  }
  const auto count = static_cast<std::size_t>(n);
  std::size_t width = 0;
  switch (t.data_type()) {
    case onnx::TensorProto::FLOAT:
      width = 4;
      break;
    case onnx::TensorProto::DOUBLE:
    case onnx::TensorProto::INT64:
      width = 8;
      break;
    default:
      return refuse(what + " has an unsupported element type");
  }
  std::string external;
  const std::string* raw = &t.raw_data();
  if (t.data_location() == onnx::TensorProto::EXTERNAL) {
    auto bytes = externalBytes(t, what, count * width, files);
    if (!bytes) return bytes.error();
    external = std::move(*bytes);
    raw = &external;
  }
  if (!raw->empty()) {
    if (raw->size() != count * width) return refuse(what + " has the wrong size");
    out.data.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      const char* p = raw->data() + width * i;
      if (t.data_type() == onnx::TensorProto::FLOAT) {
        float f;
        std::memcpy(&f, p, 4);
        out.data[i] = f;
      } else if (t.data_type() == onnx::TensorProto::DOUBLE) {
        std::memcpy(&out.data[i], p, 8);
      } else {
        std::int64_t v;
        std::memcpy(&v, p, 8);
        out.data[i] = static_cast<double>(v);
      }
    }
  } else if (t.data_type() == onnx::TensorProto::FLOAT) {
    if (static_cast<std::size_t>(t.float_data_size()) != count)
      return refuse(what + " has the wrong size");
    out.data.assign(t.float_data().begin(), t.float_data().end());
  } else if (t.data_type() == onnx::TensorProto::DOUBLE) {
    if (static_cast<std::size_t>(t.double_data_size()) != count)
      return refuse(what + " has the wrong size");
    out.data.assign(t.double_data().begin(), t.double_data().end());
  } else {
    if (static_cast<std::size_t>(t.int64_data_size()) != count)
      return refuse(what + " has the wrong size");
    for (const auto v : t.int64_data()) out.data.push_back(static_cast<double>(v));
  }
  if (auto error = allFinite(out.data, what)) return *error;
  return out;
}

std::string nodeName(const onnx::NodeProto& n) { return n.name().empty() ? n.op_type() : n.name(); }

// The value of a Constant node.
Result<Tensor> constantNodeValue(const onnx::NodeProto& n, ExternalFiles& files) {
  if (n.input_size() != 0 || n.output_size() != 1 || n.attribute_size() != 1) {
    return refuse("node " + nodeName(n) + ": a Constant has one value, one output and no inputs");
  }
  const std::string what = "constant " + n.output(0);
  const auto& a = n.attribute(0);
  if (a.name() == "value") return fromTensorProto(a.t(), what, files);
  Tensor t;
  if (a.name() == "value_float") {
    t.data = {a.f()};
  } else if (a.name() == "value_int") {
    t.data = {static_cast<double>(a.i())};
  } else if (a.name() == "value_floats" || a.name() == "value_ints") {
    if (a.floats_size() > kMaxElements || a.ints_size() > kMaxElements) {
      return refuse(what + " is too large");
    }
    if (a.name() == "value_floats") {
      t.data.assign(a.floats().begin(), a.floats().end());
    } else {
      for (const auto v : a.ints()) t.data.push_back(static_cast<double>(v));
    }
    t.dims = {static_cast<std::int64_t>(t.data.size())};
  } else {
    return refuse("node " + nodeName(n) + ": a Constant of kind " + a.name() + " is not supported");
  }
  if (auto error = allFinite(t.data, what)) return *error;
  return t;
}

const onnx::AttributeProto* attribute(const onnx::NodeProto& n, const char* name) {
  for (const auto& a : n.attribute()) {
    if (a.name() == name) return &a;
  }
  return nullptr;
}

// What an operator's parser sees of its node: the node, the position of the data among its
// inputs, the graph's constants (initializers and Constant nodes' values) and the version of
// the default operator set (0 when the model names none).
struct NodeContext {
  const onnx::NodeProto& node;
  int dataInput;
  const std::map<std::string, Tensor>& constants;
  std::int64_t opset;

  // The constant at input `index`.
  Result<Tensor> constant(const Step& s, int index) const {
    if (index >= node.input_size()) return refuse("node " + s.node + " lacks an input");
    const auto it = constants.find(node.input(index));
    if (it == constants.end()) {
      return refuse("node " + s.node + ": missing initializer " + node.input(index));
    }
    return it->second;
  }

  // A float attribute, which must be finite.
  Result<double> number(const Step& s, const char* name, double otherwise) const {
    const auto* a = attribute(node, name);
    if (!a) return otherwise;
    if (!std::isfinite(a->f())) {
      return refuse("node " + s.node + ": attribute " + name + " is not finite");
    }
    return static_cast<double>(a->f());
  }
};

using NodeParser = std::optional<HCFError> (*)(const NodeContext& c, Step& s);

std::optional<HCFError> parseBinary(const NodeContext& c, Step& s) {
  if (c.node.input_size() != 2) return refuse("node " + s.node + " needs two inputs");
  auto constant = c.constant(s, 1 - c.dataInput);
  if (!constant) return constant.error();
  s.constant = std::move(*constant);
  const std::string& type = c.node.op_type();
  if (type == "MatMul") {
    s.op = c.dataInput == 0 ? Op::MatMulRight : Op::MatMulLeft;
  } else {
    s.op = opNames().at(type);
    s.constantFirst = c.dataInput == 1;
  }
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
  auto alpha = c.number(s, "alpha", 1.0);
  if (!alpha) return alpha.error();
  auto beta = c.number(s, "beta", 1.0);
  if (!beta) return beta.error();
  s.alpha = *alpha;
  s.beta = *beta;
  if (auto* a = attribute(c.node, "transA")) s.transA = a->i() != 0;
  if (auto* a = attribute(c.node, "transB")) s.transB = a->i() != 0;
  return std::nullopt;
}

// y = (x − mean) / √(var + ε) · scale + B, folded into y = x · k + c per channel.
std::optional<HCFError> parseBatchNormalization(const NodeContext& c, Step& s) {
  if (c.dataInput != 0 || c.node.input_size() != 5) {
    return refuse("node " + s.node + ": BatchNormalization needs the data and four constants");
  }
  if (auto* a = attribute(c.node, "training_mode"); a && a->i() != 0) {
    return refuse("node " + s.node + ": BatchNormalization in training mode");
  }
  std::vector<Tensor> p;  // scale, B, mean, var
  for (int i = 1; i < 5; ++i) {
    auto t = c.constant(s, i);
    if (!t) return t.error();
    p.push_back(std::move(*t));
  }
  const auto channels = static_cast<std::int64_t>(p[0].data.size());
  for (const auto& t : p) {
    if (t.dims != std::vector<std::int64_t>{channels}) {
      return refuse("node " + s.node +
                    ": BatchNormalization's scale, B, mean and var must be vectors of one length");
    }
  }
  auto epsilon = c.number(s, "epsilon", kDefaultEpsilon);
  if (!epsilon) return epsilon.error();
  s.op = Op::Affine;
  s.constant.dims = s.bias.dims = {channels};
  s.hasBias = true;
  for (std::size_t i = 0; i < p[0].data.size(); ++i) {
    const double spread = p[3].data[i] + *epsilon;
    if (!(spread > 0)) {
      return refuse("node " + s.node + ": BatchNormalization's var plus epsilon is not positive");
    }
    const double k = p[0].data[i] / std::sqrt(spread);
    s.constant.data.push_back(k);
    s.bias.data.push_back(p[1].data[i] - p[2].data[i] * k);
  }
  if (auto error = allFinite(s.constant.data, "node " + s.node)) return error;
  if (auto error = allFinite(s.bias.data, "node " + s.node)) return error;
  return std::nullopt;
}

std::optional<HCFError> parseUnary(const NodeContext& c, Step& s) {
  if (c.node.input_size() != 1) return refuse("node " + s.node + " needs one input");
  const std::string& type = c.node.op_type();
  if (type == "Flatten") {
    s.op = Op::Flatten;
    if (auto* a = attribute(c.node, "axis")) s.axis = a->i();
  } else if (type == "Softmax") {
    // From operator set 13 on, Softmax works along one axis (by default the last); before, over
    // all dimensions from the axis on (by default 1).
    if (c.opset <= 0) {
      return refuse("node " + s.node + ": Softmax in a model that names no operator set");
    }
    s.op = c.opset >= 13 ? Op::Softmax : Op::SoftmaxFromAxis;
    s.axis = c.opset >= 13 ? -1 : 1;
    if (auto* a = attribute(c.node, "axis")) s.axis = a->i();
  } else {
    s.op = opNames().at(type);
  }
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

// The operators of the dense-network subset, each with its parser.
const std::map<std::string, NodeParser>& nodeParsers() {
  static const std::map<std::string, NodeParser> parsers = {
      {"MatMul", parseBinary},   {"Add", parseBinary},
      {"Sub", parseBinary},      {"Mul", parseBinary},
      {"Div", parseBinary},      {"Gemm", parseGemm},
      {"Relu", parseUnary},      {"Sigmoid", parseUnary},
      {"Tanh", parseUnary},      {"Identity", parseUnary},
      {"Softmax", parseUnary},   {"Flatten", parseUnary},
      {"Reshape", parseReshape}, {"BatchNormalization", parseBatchNormalization}};
  return parsers;
}

// The input's dimensions, -1 for a symbolic or unknown one, with the names of those (empty when
// a dimension has no name), after checking that the graph has the kit's input and output
// features.
struct InputShape {
  std::vector<std::int64_t> dims;
  std::vector<std::string> names;
};

Result<InputShape> featureDims(const onnx::GraphProto& g) {
  InputShape shape;
  bool hasInput = false;
  for (const auto& in : g.input()) {
    if (in.name() != kInputFeature) continue;
    hasInput = true;
    for (const auto& d : in.type().tensor_type().shape().dim()) {
      const bool known = d.has_dim_value() && d.dim_value() > 0;
      shape.dims.push_back(known ? d.dim_value() : -1);
      shape.names.push_back(known ? std::string() : d.dim_param());
    }
  }
  if (!hasInput) return refuse(std::string("no input named \"") + kInputFeature + "\"");
  if (shape.dims.empty() || shape.dims.size() > 2) return refuse("the input must have rank 1 or 2");
  bool hasOutput = false;
  for (const auto& out : g.output()) hasOutput = hasOutput || out.name() == kOutputFeature;
  if (!hasOutput) return refuse(std::string("no output named \"") + kOutputFeature + "\"");
  return shape;
}

// The feature count the steps fix for an input of `rank`: the rows of the first MatMul's or
// Gemm's weight, or the channels of the first BatchNormalization, reached through steps that
// keep any shape as it is. -1 when no step fixes it.
std::int64_t featuresFixedBySteps(const std::vector<Step>& steps, std::size_t rank) {
  for (const auto& s : steps) {
    switch (s.op) {
      case Op::Relu:
      case Op::Sigmoid:
      case Op::Tanh:
      case Op::Identity:
      case Op::Softmax:
      case Op::SoftmaxFromAxis:
        continue;
      case Op::Add:
      case Op::Sub:
      case Op::Mul:
      case Op::Div:
        // A single value stretches to any shape without changing it.
        if (s.constant.data.size() == 1 && s.constant.dims.size() <= rank) continue;
        return -1;
      case Op::Flatten:
        if (rank == 2 && (s.axis == 1 || s.axis == -1)) continue;  // [1, F] stays [1, F]
        return -1;
      case Op::MatMulRight:
        return s.constant.dims.empty() ? -1 : s.constant.dims[0];
      case Op::Gemm: {
        if (s.transA || s.constant.dims.empty() || s.constant.dims.size() > 2) return -1;
        if (!s.transB) return s.constant.dims[0];
        return s.constant.dims.size() == 2 ? s.constant.dims[1] : 1;
      }
      case Op::Affine:
        return s.constant.dims.empty() ? -1 : s.constant.dims[0];
      default:
        return -1;
    }
  }
  return -1;
}

// Gives the input's symbolic dimensions their sizes: the leading one of a rank-2 input is the
// batch, one sample at a time; the other is the feature count the steps fix.
std::optional<HCFError> resolveInput(const InputShape& shape, const std::vector<Step>& steps,
                                     std::vector<std::int64_t>& dims) {
  dims = shape.dims;
  if (dims.size() == 2 && dims[0] < 0) dims[0] = 1;
  if (dims.back() >= 0) return std::nullopt;
  const std::int64_t features = featuresFixedBySteps(steps, dims.size());
  if (features < 0) {
    const std::string& name = shape.names.back();
    return refuse(
        std::string("input \"") + kInputFeature + "\" has a symbolic dimension " +
        (name.empty() ? "at index " + std::to_string(dims.size() - 1) : "\"" + name + "\"") +
        " that cannot be resolved");
  }
  dims.back() = features;
  return std::nullopt;
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

Result<std::shared_ptr<const Model::Impl>> buildFromONNX(std::span<const std::uint8_t> bytes,
                                                         ExternalFiles files) {
  if (bytes.size() > kMaxModelBytes) return refuse("the file is larger than 64 MiB");
  onnx::ModelProto model;
  if (!model.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())) || !model.has_graph()) {
    return refuse("the bytes are not an ONNX model");
  }
  std::int64_t opset = 0;
  for (const auto& o : model.opset_import()) {
    if (o.domain().empty() || o.domain() == "ai.onnx") opset = o.version();
  }
  const onnx::GraphProto& g = model.graph();
  // The constants: initializers and the values of Constant nodes, which every node may read.
  std::map<std::string, Tensor> constants;
  const auto addConstant = [&](const std::string& name,
                               Result<Tensor> t) -> std::optional<HCFError> {
    if (!t) return t.error();
    if (!constants.emplace(name, std::move(*t)).second) {
      return refuse("value " + name + " is defined twice");
    }
    return std::nullopt;
  };
  for (const auto& init : g.initializer()) {
    if (auto e =
            addConstant(init.name(), fromTensorProto(init, "initializer " + init.name(), files)))
      return *e;
  }
  for (const auto& node : g.node()) {
    if (node.op_type() != "Constant" || !(node.domain().empty() || node.domain() == "ai.onnx")) {
      continue;
    }
    auto value = constantNodeValue(node, files);
    if (!value) return value.error();
    if (auto e = addConstant(node.output(0), std::move(*value))) return *e;
  }
  auto input = featureDims(g);
  if (!input) return input.error();

  // Walk the chain from the input: each value is consumed by exactly one node, whose other
  // inputs are constants.
  auto impl = std::make_shared<Model::Impl>();
  std::string current = kInputFeature;
  while (current != kOutputFeature) {
    auto next = consumerOf(g, current);
    if (!next) return next.error();
    const onnx::NodeProto& node = **next;
    if (impl->steps.size() >= kMaxSteps) return refuse("the graph has too many nodes");
    Step s;
    s.node = nodeName(node);
    if (node.output_size() != 1) return refuse("node " + s.node + " must have one output");
    const std::string& type = node.op_type();
    const bool defaultDomain = node.domain().empty() || node.domain() == "ai.onnx";
    const auto parser = nodeParsers().find(type);
    if (!defaultDomain || parser == nodeParsers().end()) {
      return refuse("node " + s.node + ": unsupported operator " +
                    (defaultDomain ? type : node.domain() + "." + type));
    }
    int dataInput = 0;
    while (node.input(dataInput) != current) ++dataInput;
    const NodeContext context{node, dataInput, constants, opset};
    if (auto error = parser->second(context, s)) return *error;
    impl->steps.push_back(std::move(s));
    current = node.output(0);
  }
  if (auto error = resolveInput(*input, impl->steps, impl->inputDims)) return *error;
  auto out = checkShapes(*impl);
  if (!out) return out.error();
  impl->outputDims = *out;
  return std::shared_ptr<const Model::Impl>(std::move(impl));
}

JsonValue tensorJson(const Tensor& t) { return {{"dims", t.dims}, {"data", t.data}}; }

// A list of whole numbers from a compiled model; nothing for anything else.
std::optional<std::vector<std::int64_t>> integers(const JsonValue& j) {
  if (!j.is_array()) return std::nullopt;
  std::vector<std::int64_t> out;
  for (const auto& v : j) {
    if (!v.is_number_integer()) return std::nullopt;
    out.push_back(v.get<std::int64_t>());
  }
  return out;
}

Result<double> finiteNumber(const JsonValue& j, const std::string& node) {
  if (!j.is_number() || !std::isfinite(j.get<double>())) {
    return refuse("compiled model step " + node + " holds a value that is not a finite number");
  }
  return j.get<double>();
}

Result<Tensor> tensorFromJson(const JsonValue& j, const std::string& node) {
  Tensor t;
  auto dims = j.is_object() && j.contains("dims") ? integers(j["dims"]) : std::nullopt;
  if (!dims || !j.contains("data") || !j["data"].is_array()) {
    return refuse("compiled model has a malformed tensor");
  }
  t.dims = std::move(*dims);
  for (const auto& v : j["data"]) {
    auto x = finiteNumber(v, node);
    if (!x) return x.error();
    t.data.push_back(*x);
  }
  // A step without weights carries an empty tensor (no dimensions, no data).
  const bool empty = t.dims.empty() && t.data.empty();
  if (!empty && !wellFormed(t)) return refuse("compiled model has a tensor of the wrong size");
  return t;
}

Result<Step> stepFromJson(const JsonValue& j) {
  Step s;
  const auto op = opNames().find(j.at("op").get<std::string>());
  if (op == opNames().end()) return refuse("compiled model with an unknown step");
  s.op = op->second;
  s.node = j.at("node").get<std::string>();
  auto alpha = finiteNumber(j.at("alpha"), s.node);
  if (!alpha) return alpha.error();
  auto beta = finiteNumber(j.at("beta"), s.node);
  if (!beta) return beta.error();
  s.alpha = *alpha;
  s.beta = *beta;
  s.transA = j.at("transA").get<bool>();
  s.transB = j.at("transB").get<bool>();
  if (j.contains("constantFirst")) s.constantFirst = j.at("constantFirst").get<bool>();
  auto shape = integers(j.at("shape"));
  if (!shape || !j.at("axis").is_number_integer()) {
    return refuse("compiled model step " + s.node + " is malformed");
  }
  s.shape = std::move(*shape);
  s.axis = j.at("axis").get<std::int64_t>();
  auto c = tensorFromJson(j.at("constant"), s.node);
  if (!c) return c.error();
  s.constant = std::move(*c);
  if (j.contains("bias")) {
    auto b = tensorFromJson(j.at("bias"), s.node);
    if (!b) return b.error();
    s.bias = std::move(*b);
    s.hasBias = true;
  }
  if ((usesConstant(s.op) && !wellFormed(s.constant)) || (s.hasBias && !wellFormed(s.bias)) ||
      (s.op == Op::Affine && !s.hasBias)) {
    return refuse("compiled model step " + s.node + " lacks its weights");
  }
  return s;
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
  auto impl = buildFromONNX(onnx, ExternalFiles{});
  if (!impl) return impl.error();
  return std::make_shared<const Model>(*impl);
}

Result<std::filesystem::path> Model::compileModelAtURL(
    const std::filesystem::path& modelFile, const std::filesystem::path& outputDirectory) {
  std::ifstream in(modelFile, std::ios::binary);
  if (!in) return refuse("cannot read " + modelFile.string());
  std::vector<std::uint8_t> bytes;
  std::vector<char> chunk(std::size_t{1} << 16);
  while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0) {
    bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + in.gcount());
    if (bytes.size() > kMaxModelBytes) return refuse("the file is larger than 64 MiB");
  }
  ExternalFiles files;
  files.folder = modelFile.has_parent_path() ? modelFile.parent_path() : ".";
  auto impl = buildFromONNX(bytes, std::move(files));
  if (!impl) return impl.error();
  JsonValue doc = {
      {"format", kFormat}, {"version", kCompiledVersion}, {"input", (*impl)->inputDims}};
  doc["steps"] = JsonValue::array();
  for (const auto& s : (*impl)->steps) {
    JsonValue j = {{"op", opName(s.op)},
                   {"node", s.node},
                   {"alpha", s.alpha},
                   {"beta", s.beta},
                   {"transA", s.transA},
                   {"transB", s.transB},
                   {"constantFirst", s.constantFirst},
                   {"shape", s.shape},
                   {"axis", s.axis},
                   {"constant", tensorJson(s.constant)}};
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
  const auto version = doc.find("version");
  if (version == doc.end() || !version->is_number_integer() || *version < 1 ||
      *version > kCompiledVersion) {
    return refuse("the compiled model at " + compiled.string() + " is of an unknown version");
  }
  auto impl = std::make_shared<Impl>();
  try {
    auto input = integers(doc.at("input"));
    if (!input || input->empty() || input->size() > 2 || elements(*input) < 0) {
      return refuse("compiled model with a bad input shape");
    }
    impl->inputDims = std::move(*input);
    const auto& steps = doc.at("steps");
    if (!steps.is_array() || steps.size() > kMaxSteps) {
      return refuse("the compiled model at " + compiled.string() + " is malformed");
    }
    for (const auto& j : steps) {
      auto s = stepFromJson(j);
      if (!s) return s.error();
      impl->steps.push_back(std::move(*s));
    }
  } catch (const JsonValue::exception&) {
    return refuse("the compiled model at " + compiled.string() + " is malformed");
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
