#include "spectrometer.h"

#include <cmath>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "package_builder.h"

namespace hcf_cloud::fixtures {

namespace {

constexpr double kPi = 3.14159265358979323846;

double wavelength(std::size_t sample) { return 400.0 + 10.0 * static_cast<double>(sample); }

// FNV-1a: a stable seed per serial (std::hash may differ between builds).
std::uint64_t seedOf(const std::string& serial) {
  std::uint64_t h = 1469598103934665603ull;
  for (const unsigned char c : serial) {
    h ^= c;
    h *= 1099511628211ull;
  }
  return h;
}

// A value in [-1, 1] for (seed, index): deterministic per serial.
double jitter(std::uint64_t seed, std::size_t index) {
  std::uint64_t x = seed ^ (0x9e3779b97f4a7c15ull * (index + 1));
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  return static_cast<double>(x % 20001) / 10000.0 - 1.0;
}

// The instrument's light: a blue LED peak with its broad phosphor emission.
double light(double nm) {
  const auto g = [](double x, double mu, double s) {
    return std::exp(-0.5 * (x - mu) * (x - mu) / (s * s));
  };
  return 0.6 * g(nm, 450, 12) + g(nm, 570, 60) + 0.08;
}

// Per-band white signal: what the normalisation divides by.
BandResponse whiteSignal(const SpectrometerModel& m) {
  BandResponse w{};
  for (std::size_t b = 0; b < kSpectroBands; ++b) {
    for (const double v : m.bands[b]) w[b] += v;
  }
  return w;
}

// Solves A·X = B in place (A n×n, B n×m, row-major) by elimination with partial pivoting.
void solve(std::vector<double>& a, std::vector<double>& b, std::size_t n, std::size_t m) {
  for (std::size_t k = 0; k < n; ++k) {
    std::size_t p = k;
    for (std::size_t r = k + 1; r < n; ++r) {
      if (std::abs(a[r * n + k]) > std::abs(a[p * n + k])) p = r;
    }
    if (a[p * n + k] == 0) throw std::runtime_error("singular system");
    if (p != k) {
      for (std::size_t c = 0; c < n; ++c) std::swap(a[k * n + c], a[p * n + c]);
      for (std::size_t c = 0; c < m; ++c) std::swap(b[k * m + c], b[p * m + c]);
    }
    for (std::size_t r = k + 1; r < n; ++r) {
      const double f = a[r * n + k] / a[k * n + k];
      if (f == 0) continue;
      for (std::size_t c = k; c < n; ++c) a[r * n + c] -= f * a[k * n + c];
      for (std::size_t c = 0; c < m; ++c) b[r * m + c] -= f * b[k * m + c];
    }
  }
  for (std::size_t k = n; k-- > 0;) {
    for (std::size_t c = 0; c < m; ++c) {
      double s = b[k * m + c];
      for (std::size_t j = k + 1; j < n; ++j) s -= a[k * n + j] * b[j * m + c];
      b[k * m + c] = s / a[k * n + k];
    }
  }
}

// The fitted inverse from normalised bands to reflectance: weights [32][31] (row-major, as
// MatMul takes them) and the bias of the 31 samples.
struct Inverse {
  std::vector<double> weights;
  std::vector<double> bias;
};

Inverse wienerInverse(const SpectrometerModel& m) {
  constexpr std::size_t B = kSpectroBands;
  constexpr std::size_t S = kCurveSamples;
  constexpr double kMean = 0.5;
  constexpr double kVariance = 0.09;
  constexpr double kCorrelation = 0.97;
  constexpr double kNoise = 1e-7;
  const auto white = whiteSignal(m);
  std::vector<double> p(B * S);  // normalised bands: rows sum to 1
  for (std::size_t b = 0; b < B; ++b) {
    for (std::size_t i = 0; i < S; ++i) p[b * S + i] = m.bands[b][i] / white[b];
  }
  std::vector<double> k(S * S);  // prior covariance of reflectance samples
  for (std::size_t i = 0; i < S; ++i) {
    for (std::size_t j = 0; j < S; ++j) {
      k[i * S + j] =
          kVariance *
          std::pow(kCorrelation, std::abs(static_cast<double>(i) - static_cast<double>(j)));
    }
  }
  std::vector<double> pk(B * S, 0.0);  // P·K
  for (std::size_t b = 0; b < B; ++b) {
    for (std::size_t j = 0; j < S; ++j) {
      for (std::size_t i = 0; i < S; ++i) pk[b * S + j] += p[b * S + i] * k[i * S + j];
    }
  }
  std::vector<double> a(B * B, 0.0);  // P·K·Pᵀ + noise
  for (std::size_t r = 0; r < B; ++r) {
    for (std::size_t c = 0; c < B; ++c) {
      for (std::size_t i = 0; i < S; ++i) a[r * B + c] += pk[r * S + i] * p[c * S + i];
    }
    a[r * B + r] += kNoise;
  }
  // (P K Pᵀ + N)·X = P·K gives X = the MatMul weights [32][31] (the transpose of K Pᵀ A⁻¹).
  solve(a, pk, B, S);
  Inverse inv{pk, std::vector<double>(S, kMean)};
  for (std::size_t i = 0; i < S; ++i) {
    double s = 0;
    for (std::size_t b = 0; b < B; ++b) s += inv.weights[b * S + i] * kMean;  // rows of P sum to 1
    inv.bias[i] -= s;
  }
  return inv;
}

std::string normalisationModel(const SpectrometerModel& m) {
  const auto white = whiteSignal(m);
  std::vector<double> scale(kSpectroBands * kSpectroBands, 0.0);
  std::vector<double> offset(kSpectroBands);
  for (std::size_t b = 0; b < kSpectroBands; ++b) {
    scale[b * kSpectroBands + b] = 1.0 / white[b];
    offset[b] = -m.dark[b] / white[b];
  }
  const auto n = static_cast<std::int64_t>(kSpectroBands);
  OnnxGraph g({-1, n});
  g.weights("scale", {n, n}, scale).weights("offset", {n}, offset);
  g.node("Gemm", {"dense_1_input__0", "scale", "offset"}, "output_node0__0")
      .attribute("transB", std::int64_t{1})
      .attribute("alpha", 1.0f)
      .attribute("beta", 1.0f);
  return g.bytes();
}

std::string inverseModel(const Inverse& inv, bool clamp, const char* op = "MatMul") {
  const auto b = static_cast<std::int64_t>(kSpectroBands);
  const auto s = static_cast<std::int64_t>(kCurveSamples);
  OnnxGraph g({b});
  g.weights("W", {b, s}, inv.weights).weights("bias", {s}, inv.bias);
  g.node(op, {"dense_1_input__0", "W"}, "projected");
  g.node("Add", {"projected", "bias"}, clamp ? "estimate" : "output_node0__0");
  if (clamp) g.node("Relu", {"estimate"}, "output_node0__0");
  return g.bytes();
}

std::string clampModel() {
  OnnxGraph g({static_cast<std::int64_t>(kCurveSamples)});
  g.node("Relu", {"dense_1_input__0"}, "output_node0__0");
  return g.bytes();
}

// The whole chain in one model: the normalisation folded into the inverse.
Inverse foldedInverse(const SpectrometerModel& m, const Inverse& inv) {
  const auto white = whiteSignal(m);
  Inverse folded = inv;
  for (std::size_t b = 0; b < kSpectroBands; ++b) {
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      folded.weights[b * kCurveSamples + i] = inv.weights[b * kCurveSamples + i] / white[b];
      folded.bias[i] -= inv.weights[b * kCurveSamples + i] * m.dark[b] / white[b];
    }
  }
  return folded;
}

std::string infoJson(const std::string& serial, const std::vector<std::string>& order) {
  nlohmann::ordered_json info;
  if (!order.empty()) info["ann_order"] = order;
  info["model"] = kSpectroModel;
  info["batch"] = kSpectroBatch;
  info["serial"] = serial;
  return info.dump(2);
}

}  // namespace

BandResponse SpectrometerModel::response(const Reflectance& reflectance) const {
  BandResponse out{};
  for (std::size_t b = 0; b < kSpectroBands; ++b) {
    double v = dark[b];
    for (std::size_t i = 0; i < kCurveSamples; ++i) v += bands[b][i] * reflectance[i];
    v = std::min(1.0, std::max(0.0, v));
    const double counts = std::round(v * 65535.0);
    out[b] = static_cast<double>(static_cast<float>(counts / 65535.0));
  }
  return out;
}

hcf::Bytes SpectrometerModel::payload(const Reflectance& reflectance) const {
  hcf::Bytes bytes;
  for (const double v : response(reflectance)) {
    const auto counts = static_cast<std::uint16_t>(std::lround(v * 65535.0));
    bytes.push_back(static_cast<std::uint8_t>(counts >> 8));
    bytes.push_back(static_cast<std::uint8_t>(counts & 0xff));
  }
  return bytes;
}

SpectrometerModel spectrometerFor(const std::string& serial) {
  const auto seed = seedOf(serial);
  SpectrometerModel m;
  for (std::size_t b = 0; b < kSpectroBands; ++b) {
    const double centre = 392.0 + 326.0 * static_cast<double>(b) / 31.0 + 2.0 * jitter(seed, b);
    const double width = 11.0 + 1.0 * jitter(seed, 100 + b);
    double sum = 0;
    for (std::size_t i = 0; i < kCurveSamples; ++i) {
      const double nm = wavelength(i);
      const double g = std::exp(-0.5 * (nm - centre) * (nm - centre) / (width * width)) /
                       (width * std::sqrt(2 * kPi));
      m.bands[b][i] = g * light(nm);
      sum += m.bands[b][i];
    }
    // Each band's gain is set so that the white tile reads 0.70 to 0.85 of full scale.
    const double whiteLevel = 0.775 + 0.075 * jitter(seed, 200 + b);
    for (auto& v : m.bands[b]) v *= whiteLevel / sum;
    m.dark[b] = 0.02 + 0.01 * jitter(seed, 300 + b);
  }
  return m;
}

std::vector<std::string> packageChain(PackageKind kind) {
  switch (kind) {
    case PackageKind::ThreeModels:
    case PackageKind::MissingModel:
    case PackageKind::Unsupported:
    case PackageKind::ZipSlip:
      return {"vectorNormalization", "spectralInverse", "reflectanceClamp"};
    case PackageKind::TwoModels:
      return {"vectorNormalization", "spectralInverse"};
    case PackageKind::OneModel:
      return {"spectralEstimate"};
    case PackageKind::NoOrder:
      return {"vectorNormalization", "vectorNormalization"};
    case PackageKind::NotAZip:
      return {};
  }
  return {};
}

hcf::Bytes modelPackage(const std::string& serial, PackageKind kind) {
  if (kind == PackageKind::NotAZip) {
    const std::string text = "<html><body>No such package</body></html>\n";
    return {text.begin(), text.end()};
  }
  const auto m = spectrometerFor(serial);
  const auto inv = wienerInverse(m);
  const auto chain = packageChain(kind);
  std::vector<std::pair<std::string, std::string>> files;
  if (kind == PackageKind::NoOrder) {
    files = {{"info.json", infoJson(serial, {})}, {"vectorNormalization", normalisationModel(m)}};
    return zipArchive(files);
  }
  files.emplace_back("info.json", infoJson(serial, chain));
  switch (kind) {
    case PackageKind::OneModel:
      files.emplace_back("spectralEstimate.mlmodel", inverseModel(foldedInverse(m, inv), true));
      break;
    case PackageKind::TwoModels:
      files.emplace_back("vectorNormalization.mlmodel", normalisationModel(m));
      files.emplace_back("spectralInverse.mlmodel", inverseModel(inv, true));
      break;
    default:
      files.emplace_back("vectorNormalization.mlmodel", normalisationModel(m));
      files.emplace_back(
          "spectralInverse.mlmodel",
          inverseModel(inv, false, kind == PackageKind::Unsupported ? "Conv" : "MatMul"));
      if (kind != PackageKind::MissingModel)
        files.emplace_back("reflectanceClamp.mlmodel", clampModel());
      if (kind == PackageKind::ZipSlip)
        files.emplace_back("../" + serial + "-escaped.txt", "escaped");
      break;
  }
  return zipArchive(files);
}

const std::vector<PackageKind>& packageKinds() {
  static const std::vector<PackageKind> kinds = {
      PackageKind::ThreeModels, PackageKind::TwoModels,    PackageKind::OneModel,
      PackageKind::NoOrder,     PackageKind::MissingModel, PackageKind::Unsupported,
      PackageKind::ZipSlip,     PackageKind::NotAZip};
  return kinds;
}

std::string iriselSerial(PackageKind kind) {
  static const char* const serials[] = {"00E15E000001", "00E15E000002", "00E15E000003",
                                        "00E15E000004", "00E15E0000E1", "00E15E0000E2",
                                        "00E15E0000E3", "00E15E0000E4"};
  return serials[static_cast<std::size_t>(kind)];
}

const std::vector<Reflectance>& sampleReflectances() {
  static const std::vector<Reflectance> samples = [] {
    const auto make = [](auto f) {
      Reflectance r{};
      for (std::size_t i = 0; i < kCurveSamples; ++i) r[i] = f(wavelength(i));
      return r;
    };
    const auto gauss = [](double x, double mu, double s) {
      return std::exp(-0.5 * (x - mu) * (x - mu) / (s * s));
    };
    const auto rise = [](double x, double at, double w) {
      return 1.0 / (1.0 + std::exp(-(x - at) / w));
    };
    std::vector<Reflectance> v;
    for (const double level : {0.04, 0.2, 0.5, 0.9})
      v.push_back(make([=](double) { return level; }));
    v.push_back(make([&](double nm) { return 0.05 + 0.6 * rise(nm, 600, 12); }));   // red
    v.push_back(make([&](double nm) { return 0.06 + 0.4 * gauss(nm, 530, 35); }));  // green
    v.push_back(make([&](double nm) { return 0.05 + 0.5 * gauss(nm, 450, 30); }));  // blue
    v.push_back(make([&](double nm) { return 0.07 + 0.75 * rise(nm, 500, 10); }));  // yellow
    v.push_back(make([&](double nm) { return 0.3 + 0.25 * std::sin((nm - 400) / 45.0); }));  // wavy
    return v;
  }();
  return samples;
}

}  // namespace hcf_cloud::fixtures
