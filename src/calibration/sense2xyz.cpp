#include "hcf/calibration/sense2xyz.h"

#include <cmath>
#include <limits>

#include "../core/json_text.h"
#include "hcf/color/matrix_math.h"
#include "hcf/core/ht_utility.h"

HCF_NAMESPACE_BEGIN

namespace {

// The "MB24" colour set: 24 patches, the white one at index 18.
constexpr std::size_t kMB24Patches = 24;
constexpr std::size_t kMB24WhiteIndex = 18;
// Non-linear channel correction coefficients.
constexpr double kK1 = 0.0015;
constexpr double kK2 = 0.0007;
constexpr double kK3 = 0.0016;
constexpr double kK4 = 0.0012;
// White balance scale.
constexpr double kWhiteLevel = 100.0;

HCFError invalid(const std::string& why) {
  return HTUtility::errWithMsg("Invalid calibration record: " + why,
                               error_code::kInvalidCalibrationRecord);
}

// A JSON number as the instruments' 16-bit count: truncated toward zero, wrapped to 16 bits.
std::uint16_t asCount(double v) {
  if (!std::isfinite(v) || std::fabs(v) >= 9.2e18) return 0;
  return static_cast<std::uint16_t>(static_cast<std::int64_t>(v));
}

Result<JsonValue> parseJson(const std::string& text, const char* what) {
  try {
    return json_text::parse(text);
  } catch (const JsonValue::exception&) {
    return invalid(std::string(what) + " is not JSON");
  }
}

bool finite(const Matrix3x3& m) {
  for (const double v : m) {
    if (!std::isfinite(v)) return false;
  }
  return true;
}

// M = (Tᵀ·S)·(Sᵀ·S)⁻¹ for n×3 targets T and n×3 inputs S, both row-major.
Result<Matrix3x3> fit(const std::vector<double>& T, const std::vector<double>& S, std::size_t n) {
  std::vector<double> Tt(3 * n);
  std::vector<double> St(3 * n);
  MatrixMath::matrixTrans(T, n, 3, Tt);
  MatrixMath::matrixTrans(S, n, 3, St);
  Matrix3x3 A{};
  Matrix3x3 B{};
  Matrix3x3 Binv{};
  Matrix3x3 M{};
  MatrixMath::matrixMult(Tt, S, 3, n, 3, A);
  MatrixMath::matrixMult(St, S, 3, n, 3, B);
  if (!MatrixMath::matrixInv(B, 3, Binv)) {
    return invalid("the calibration readings do not determine a model (singular fit)");
  }
  MatrixMath::matrixMult(A, Binv, 3, 3, 3, M);
  if (!finite(M)) return invalid("the fitted model is not finite");
  return M;
}

std::vector<std::array<std::uint16_t, 3>> countsOf(
    const std::vector<HITintraSensorReading>& readings, std::size_t n) {
  std::vector<std::array<std::uint16_t, 3>> rows;
  for (std::size_t i = 0; i < n; ++i) {
    rows.push_back({asCount(readings[i].senseRed), asCount(readings[i].senseGreen),
                    asCount(readings[i].senseBlue)});
  }
  return rows;
}

std::vector<double> flatTargets(const std::vector<XYZTriple>& t) {
  std::vector<double> out;
  for (const auto& v : t) {
    out.push_back(v.X);
    out.push_back(v.Y);
    out.push_back(v.Z);
  }
  return out;
}

Result<Matrix3x3> matrixFromArchive(const JsonValue& archive) {
  const auto it = archive.is_object() ? archive.find("sense2xyzData") : archive.end();
  if (it == archive.end() || !it->is_array() || it->size() != 9) {
    return invalid("archive without nine \"sense2xyzData\" numbers");
  }
  Matrix3x3 m{};
  for (std::size_t i = 0; i < 9; ++i) {
    if (!(*it)[i].is_number()) return invalid("archive with a non-number in \"sense2xyzData\"");
    m[i] = (*it)[i].get<double>();
  }
  return m;
}

JsonValue matrixArchive(const Matrix3x3& m) {
  JsonValue a = JsonValue::object();
  a["sense2xyzData"] = JsonValue::array();
  for (const double v : m) a["sense2xyzData"].push_back(v);
  return a;
}

}  // namespace

Sense2XYZ::~Sense2XYZ() = default;

Result<std::vector<HITintraSensorReading>> Sense2XYZ::calSetOfSenseObjs(
    const TintraDeviceTintraCalibration& calibration) {
  auto json = parseJson(calibration.data_json(), "dataJson");
  if (!json) return json.error();
  if (!json->is_array()) return invalid("dataJson is not an array");
  std::vector<HITintraSensorReading> readings;
  readings.reserve(json->size());
  for (const auto& e : *json) {
    const auto channel = [&](const char* key) -> std::optional<double> {
      if (!e.is_object()) return std::nullopt;
      const auto it = e.find(key);
      if (it == e.end() || !it->is_number()) return std::nullopt;
      return static_cast<double>(asCount(it->get<double>()));
    };
    const auto r = channel("redSense");
    const auto g = channel("greenSense");
    const auto b = channel("blueSense");
    if (!r || !g || !b) {
      return invalid("reading " + std::to_string(readings.size()) +
                     " of dataJson lacks a redSense, greenSense or blueSense number");
    }
    readings.push_back({*r, *g, *b, 0.0});
  }
  return readings;
}

Result<std::vector<XYZTriple>> Sense2XYZ::updateTristimulus2TintraLight(const TintraDevice& device,
                                                                        std::size_t count) {
  const auto* cal = TintraDeviceProtoHelper::topCalForDevice(device);
  if (!cal) return HTUtility::noCalError();
  auto json = parseJson(cal->cal_color_set_reference_data_json(), "calColorSetReferenceDataJson");
  if (!json) return json.error();
  const auto it = json->is_object() ? json->find("xyz_d50") : json->end();
  if (it == json->end() || !it->is_array()) return invalid("no \"xyz_d50\" array of references");
  const std::size_t n = count == 0 ? it->size() : count;
  if (it->size() < n) {
    return invalid(std::to_string(it->size()) + " reference colours where " + std::to_string(n) +
                   " are needed");
  }
  const auto light = CieStdMath::refIllumXYZfor(device.tintra_model());
  if (!light) return invalid("unknown hardware version \"" + device.tintra_model() + "\"");
  std::vector<double> flat;
  for (std::size_t i = 0; i < n; ++i) {
    const auto& ref = (*it)[i];
    if (!ref.is_array() || ref.size() != 3 || !ref[0].is_number() || !ref[1].is_number() ||
        !ref[2].is_number()) {
      return invalid("reference colour " + std::to_string(i) + " is not three numbers");
    }
    for (int k = 0; k < 3; ++k) flat.push_back(ref[k].get<double>());
  }
  CieStdMath::d50XYZArr2CustomIllumn(flat, n, *light, flat);
  std::vector<XYZTriple> out;
  for (std::size_t i = 0; i < n; ++i)
    out.push_back({flat[3 * i], flat[3 * i + 1], flat[3 * i + 2]});
  return out;
}

// ---- linear ---------------------------------------------------------------------------------

Result<Sense2XYZL> Sense2XYZL::initWithTintra(const TintraDevice& device) {
  const auto* cal = TintraDeviceProtoHelper::topCalForDevice(device);
  if (!cal) return HTUtility::noCalError();
  auto targets = updateTristimulus2TintraLight(device);
  if (!targets) return targets.error();
  const std::size_t n = targets->size();
  auto readings = calSetOfSenseObjs(*cal);
  if (!readings) return readings.error();
  if (readings->size() < n) {
    return invalid(std::to_string(readings->size()) + " readings for " + std::to_string(n) +
                   " reference colours");
  }
  return initWithMBSenseVals(countsOf(*readings, n), device, n);
}

Result<Sense2XYZL> Sense2XYZL::initWithMBSenseVals(
    const std::vector<std::array<std::uint16_t, 3>>& senseValues, const TintraDevice& device,
    std::size_t calSize) {
  if (senseValues.size() < calSize) return invalid("fewer readings than the calibration size");
  auto targets = updateTristimulus2TintraLight(device, calSize);
  if (!targets) return targets.error();
  std::vector<double> S;
  for (std::size_t i = 0; i < calSize; ++i) {
    for (int k = 0; k < 3; ++k) S.push_back(static_cast<double>(senseValues[i][k]));
  }
  auto m = fit(flatTargets(*targets), S, calSize);
  if (!m) return m.error();
  return withMatrix(*m);
}

Sense2XYZL Sense2XYZL::withMatrix(const Matrix3x3& m) {
  Sense2XYZL model;
  model.matrix_ = m;
  return model;
}

XYZTriple Sense2XYZL::getXYZforSenseVals(const HITintraSensorReading& r) const {
  const Vector3 v = {
      matrix_[0] * r.senseRed + matrix_[1] * r.senseGreen + matrix_[2] * r.senseBlue,
      matrix_[3] * r.senseRed + matrix_[4] * r.senseGreen + matrix_[5] * r.senseBlue,
      matrix_[6] * r.senseRed + matrix_[7] * r.senseGreen + matrix_[8] * r.senseBlue};
  return {v[0], v[1], v[2]};
}

JsonValue Sense2XYZL::encodeWithCoder() const { return matrixArchive(matrix_); }

Result<Sense2XYZL> Sense2XYZL::initWithCoder(const JsonValue& archive) {
  auto m = matrixFromArchive(archive);
  if (!m) return m.error();
  return withMatrix(*m);
}

// ---- non-linear -----------------------------------------------------------------------------

namespace {

// The correction with the coefficients as given (single-precision in the fit, double in use).
std::array<double, 3> correct(double r, double g, double b, double k1, double k2, double k3,
                              double k4) {
  return {r - k1 * r * r + k2 * r * g, g, b - k3 * b * b + k4 * r * g};
}

}  // namespace

Result<Sense2XYZNL> Sense2XYZNL::initWithTintra(const TintraDevice& device) {
  const auto* cal = TintraDeviceProtoHelper::topCalForDevice(device);
  if (!cal) return HTUtility::noCalError();
  auto readings = calSetOfSenseObjs(*cal);
  if (!readings) return readings.error();
  if (readings->size() < kMB24Patches) {
    return invalid(std::to_string(readings->size()) + " readings where the 24-patch set needs 24");
  }
  return initWithMBSenseVals(countsOf(*readings, kMB24Patches), device);
}

Result<Sense2XYZNL> Sense2XYZNL::initWithMBSenseVals(
    const std::vector<std::array<std::uint16_t, 3>>& senseValues, const TintraDevice& device) {
  if (senseValues.size() < kMB24Patches) return invalid("the 24-patch set needs 24 readings");
  Sense2XYZNL model;
  model.white_ = senseValues[kMB24WhiteIndex];
  if (model.white_[0] == 0 || model.white_[1] == 0 || model.white_[2] == 0) {
    return invalid("the white reading (patch 19) has a channel of 0");
  }
  // In the fit the coefficients are the single-precision values.
  const double k1 = static_cast<double>(static_cast<float>(kK1));
  const double k2 = static_cast<double>(static_cast<float>(kK2));
  const double k3 = static_cast<double>(static_cast<float>(kK3));
  const double k4 = static_cast<double>(static_cast<float>(kK4));
  std::vector<double> N;
  for (std::size_t i = 0; i < kMB24Patches; ++i) {
    const auto& c = senseValues[i];
    const double r = static_cast<double>(c[0] * 100) / model.white_[0];
    const double g = static_cast<double>(c[1] * 100) / model.white_[1];
    const double b = static_cast<double>(c[2] * 100) / model.white_[2];
    const auto v = correct(r, g, b, k1, k2, k3, k4);
    N.insert(N.end(), v.begin(), v.end());
  }
  auto targets = updateTristimulus2TintraLight(device, kMB24Patches);
  if (!targets) return targets.error();
  auto m = fit(flatTargets(*targets), N, kMB24Patches);
  if (!m) return m.error();
  model.matrix_ = *m;
  return model;
}

std::array<double, 3> Sense2XYZNL::senseToNLSense(double senseR, double senseG,
                                                  double senseB) const {
  const double r = kWhiteLevel * senseR / white_[0];
  const double g = kWhiteLevel * senseG / white_[1];
  const double b = kWhiteLevel * senseB / white_[2];
  return correct(r, g, b, kK1, kK2, kK3, kK4);
}

XYZTriple Sense2XYZNL::getXYZforSenseVals(const HITintraSensorReading& r) const {
  const auto c = senseToNLSense(r.senseRed, r.senseGreen, r.senseBlue);
  return {matrix_[0] * c[0] + matrix_[1] * c[1] + matrix_[2] * c[2],
          matrix_[3] * c[0] + matrix_[4] * c[1] + matrix_[5] * c[2],
          matrix_[6] * c[0] + matrix_[7] * c[1] + matrix_[8] * c[2]};
}

JsonValue Sense2XYZNL::encodeWithCoder() const {
  JsonValue a = matrixArchive(matrix_);
  a["thisTintrasWhiteSense"] = {white_[0], white_[1], white_[2]};
  return a;
}

Result<Sense2XYZNL> Sense2XYZNL::initWithCoder(const JsonValue& archive) {
  auto m = matrixFromArchive(archive);
  if (!m) return m.error();
  const auto it = archive.find("thisTintrasWhiteSense");
  if (it == archive.end() || !it->is_array() || it->size() != 3) {
    return invalid("archive without three \"thisTintrasWhiteSense\" counts");
  }
  Sense2XYZNL model;
  model.matrix_ = *m;
  for (std::size_t i = 0; i < 3; ++i) {
    if (!(*it)[i].is_number_unsigned() || (*it)[i].get<std::uint64_t>() > 65535 ||
        (*it)[i].get<std::uint64_t>() == 0) {
      return invalid("archive with a white count outside 1–65535");
    }
    model.white_[i] = static_cast<std::uint16_t>((*it)[i].get<std::uint64_t>());
  }
  return model;
}

Result<std::shared_ptr<const Sense2XYZ>> makeSense2XYZ(const TintraDevice& device) {
  const auto* cal = TintraDeviceProtoHelper::topCalForDevice(device);
  if (!cal) return HTUtility::noCalError();
  if (cal->cal_color_set_name() == "MB24") {
    auto m = Sense2XYZNL::initWithTintra(device);
    if (!m) return m.error();
    return std::shared_ptr<const Sense2XYZ>(std::make_shared<Sense2XYZNL>(std::move(*m)));
  }
  auto m = Sense2XYZL::initWithTintra(device);
  if (!m) return m.error();
  return std::shared_ptr<const Sense2XYZ>(std::make_shared<Sense2XYZL>(std::move(*m)));
}

HCF_NAMESPACE_END
