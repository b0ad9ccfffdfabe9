#include "hcf/calibration/hi_color_reading.h"

#include <mutex>
#include <set>

#include "../core/json_text.h"
#include "../core/number_text.h"
#include "batch_alignment.h"
#include "hcf/calibration/sense2xyz.h"
#include "hcf/calibration/tintra_adjust.h"
#include "hcf/color/cie_std_math.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN

namespace {

constexpr const char* kReferenceBatch = "95";
constexpr std::int32_t kReferenceBatchNumber = 95;

// The network at `path` of an alignment document, as text for messages.
std::string pathText(std::initializer_list<std::string> path) {
  std::string text;
  for (const auto& key : path) text += (text.empty() ? "" : "/") + key;
  return text;
}

// The network at `path` if it is one that maps a colour to a colour under both observers.
// Nothing when a level is missing; nothing and `why` when the network is malformed.
std::shared_ptr<const TintraNN> checkedNetwork(const JsonValue& doc,
                                               std::initializer_list<std::string> path,
                                               std::string* why) {
  const JsonValue* node = &doc;
  for (const auto& key : path) {
    if (!node->is_object()) return nullptr;
    const auto it = node->find(key);
    if (it == node->end()) return nullptr;
    node = &*it;
  }
  auto net = TintraNN::initFromDic(*node);
  if (!net) {
    *why = net.error().localizedDescription;
    return nullptr;
  }
  for (const auto observer : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
    const auto out = (*net)->predictOutput(50.0, 0.0, 0.0, observer);
    if (out.size() != 3) {
      *why = "it gives " + std::to_string(out.size()) + " outputs for a colour, not 3";
      return nullptr;
    }
  }
  return *net;
}

// A network found in an alignment document (a missing level or a malformed network: none). A
// malformed one is skipped, so the reading keeps the instrument's own calibration; each is
// logged once.
std::shared_ptr<const TintraNN> networkAt(const std::optional<JsonValue>& doc,
                                          std::initializer_list<std::string> path) {
  if (!doc) return nullptr;
  std::string why;
  auto net = checkedNetwork(*doc, path, &why);
  if (!net && !why.empty()) {
    static std::mutex mutex;
    static std::set<std::string> logged;
    const std::string where = pathText(path);
    const std::lock_guard lock(mutex);
    if (logged.insert(where).second) {
      logLine("alignment network " + where + " is skipped: " + why);
    }
  }
  return net;
}

std::optional<JsonValue> alignmentDocument(std::int32_t source) {
  const auto alignment = batchAlignmentFor(source);
  return alignment ? alignment->document : std::nullopt;
}

struct AlignmentProvider {
  std::mutex mutex;
  BatchAlignmentProvider provider;
};

AlignmentProvider& alignmentProvider() {
  static AlignmentProvider p;
  return p;
}

HCFLabColor labOf(const HCFXYZColor& xyz) { return xyz.toLab(); }

}  // namespace

void setBatchAlignmentProvider(BatchAlignmentProvider provider) {
  const std::lock_guard lock(alignmentProvider().mutex);
  alignmentProvider().provider = std::move(provider);
}

std::optional<BatchAlignment> batchAlignmentFor(std::int32_t sourceBatch) {
  BatchAlignmentProvider provider;
  {
    const std::lock_guard lock(alignmentProvider().mutex);
    provider = alignmentProvider().provider;
  }
  return provider ? provider(sourceBatch) : std::nullopt;
}

std::optional<std::string> alignmentDocumentProblem(std::string_view bytes,
                                                    std::int32_t sourceBatch) {
  const JsonValue doc = json_text::parseOrDiscard(bytes);
  if (doc.is_discarded() || !doc.is_object()) return "it is not a JSON object";
  const std::string source = std::to_string(sourceBatch);
  const auto uANN = doc.find("uANN");
  if (uANN == doc.end() || !uANN->is_object()) return "it has no \"uANN\" object";
  const auto targets = uANN->find(source);
  if (targets == uANN->end() || !targets->is_object() || targets->empty()) {
    return "it has no networks for batch " + source;
  }
  if (doc.contains("aANN") && !doc["aANN"].is_object()) return "its \"aANN\" is not an object";
  if (doc.contains("priorities") && !doc["priorities"].is_array()) {
    return "its \"priorities\" is not an array";
  }
  std::string why;
  for (const auto& [target, network] : targets->items()) {
    if (checkedNetwork(doc, {"uANN", source, target}, &why)) return std::nullopt;
  }
  return "none of its networks for batch " + source + " is usable (" + why + ")";
}

// ---- HIUnifiedColor
// ------------------------------------------------------------------------------

HIUnifiedColor HIUnifiedColor::colorWithLab(const HCFLabColor& lab, std::int32_t batchNum) {
  HIUnifiedColor c;
  c.unadjustedLab_ = lab;
  c.targetBatchNumber_ = batchNum;
  return c;
}

HCFLabColor HIUnifiedColor::getUnifiedLab(HCFIlluminant illuminant) const {
  return unadjustedLab_.toLabWithIlluminant(illuminant);
}

std::shared_ptr<const TintraNN> HIUnifiedColor::getUnifyingANN(std::int32_t source,
                                                               const std::string& target) {
  return networkAt(alignmentDocument(source), {"uANN", std::to_string(source), target});
}

std::shared_ptr<const TintraNN> HIUnifiedColor::getAdjustmentANNfromSrc(std::int32_t source,
                                                                        std::int32_t target) {
  return networkAt(alignmentDocument(source), {"aANN", std::to_string(target)});
}

// ---- HIColorReading
// --------------------------------------------------------------------------------

HIColorReading::HIColorReading(const HITintraSensorReading& sense, TintraDevice device)
    : sense_(sense), device_(std::move(device)) {}

HIColorReading::~HIColorReading() = default;

Result<std::shared_ptr<const HIColorReading>> HIColorReading::initWith(
    const HITintraSensorReading& sense, const TintraDevice& device) {
  const std::string& model = device.tintra_model();
  std::shared_ptr<HIColorReading> reading;
  if (model == "1.1") {
    reading.reset(new HITintra11Reading(sense, device));
  } else if (model == "2.0") {
    reading.reset(new HITintra20Reading(sense, device));
  } else if (model == "2.1") {
    reading.reset(new HITintra21Reading(sense, device));
  } else if (model == "3.0" || model == "3.01.00" || model == "3.01.02") {
    reading.reset(new HITintra30Reading(sense, device));
  } else if (model == "4.0") {
    reading.reset(new HITintra40Reading(sense, device));
  } else {
    return HTUtility::errWithMsg("No reading for hardware version \"" + model + "\"",
                                 error_code::kUnknownHardwareVersion);
  }
  if (auto error = reading->runCIEMath()) return *error;
  return std::shared_ptr<const HIColorReading>(std::move(reading));
}

std::optional<HCFError> HIColorReading::runCIEMath() {
  // A record without a calibration in force has no model: no reading, never zeros.
  auto model = makeSense2XYZ(device_);
  if (!model) return model.error();
  const XYZTriple own = (*model)->getXYZforSenseVals(sense_);
  const auto d65 = CieStdMath::tintra2newLight(own.X, own.Y, own.Z, true, device_.tintra_model());
  if (!d65)
    return HTUtility::errWithMsg("Unknown hardware version " + device_.tintra_model(),
                                 error_code::kUnknownHardwareVersion);
  unadjD65XYZ_ = HCFXYZColor::XYZColorWithX(d65->X, d65->Y, d65->Z, HCFIlluminant::D65);
  adj2DegD65XYZ_ = unadjD65XYZ_;
  return applyAdjustment();
}

std::optional<HCFError> HIColorReading::applyAdjustment() { return std::nullopt; }

std::int32_t HIColorReading::getBatchNumber() const {
  const auto* top = TintraDeviceProtoHelper::topCalForDevice(device_);
  return top ? top->batch().batch_number() : 0;
}

bool HIColorReading::correctionApplies() const {
  const auto* top = TintraDeviceProtoHelper::topCalForDevice(device_);
  return top && top->has_batch() && top->batch().batch_number() != 0 && getMainAdjMethod();
}

const TintraDeviceAdjustmentMethod* HIColorReading::getMainAdjMethod() const {
  return TintraDeviceProtoHelper::getMainAdjMethod(device_);
}

std::array<double, 4> HIColorReading::getRGBCArray() const {
  return {sense_.senseRed, sense_.senseGreen, sense_.senseBlue, sense_.senseClear};
}

PlatformColor HIColorReading::displayColor() const {
  const RGBTriple rgb =
      CieStdMath::xyz2sRGBWithX(adj2DegD65XYZ_.X, adj2DegD65XYZ_.Y, adj2DegD65XYZ_.Z,
                                HCFIlluminant::D65, adj2DegD65XYZ_.stdObserver);
  return PlatformColor::colorWithRed(rgb.R, rgb.G, rgb.B, 1.0);
}

std::string HIColorReading::description() const {
  return "d50: " + labOf(unadjD65XYZ_).description() +
         " (adjusted (2deg): " + labOf(adj2DegD65XYZ_).description() + ")";
}

// ---- versions 2.0, 2.1, 3.x: the correction in CIELAB D65 ----------------------------------

std::optional<HCFError> HITintra20Reading::applyAdjustment() {
  if (!correctionApplies()) return std::nullopt;
  const LabTriple lab = CieStdMath::xyz2LabWith(unadjD65XYZ_.X, unadjD65XYZ_.Y, unadjD65XYZ_.Z,
                                                HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  auto corrected = TintraAdjust::applyAdjustment(*getMainAdjMethod(), lab.L, lab.a, lab.b,
                                                 HCFStdObserver::TwoDegree);
  if (!corrected) return corrected.error();
  const XYZTriple xyz = CieStdMath::lab2xyzWithL(corrected->L, corrected->a, corrected->b,
                                                 HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  adj2DegD65XYZ_ = HCFXYZColor::XYZColorWithX(xyz.X, xyz.Y, xyz.Z, HCFIlluminant::D65);
  return std::nullopt;
}

// ---- version 1.1: the correction in CIELAB D50
// ---------------------------------------------------

std::optional<HCFError> HITintra11Reading::applyAdjustment() {
  if (!correctionApplies()) return std::nullopt;
  const XYZTriple d50 =
      CieStdMath::adapt(unadjD65XYZ_.X, unadjD65XYZ_.Y, unadjD65XYZ_.Z, HCFIlluminant::D65,
                        HCFStdObserver::TwoDegree, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  const LabTriple lab =
      CieStdMath::xyz2LabWith(d50.X, d50.Y, d50.Z, HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  auto corrected = TintraAdjust::applyAdjustment(*getMainAdjMethod(), lab.L, lab.a, lab.b,
                                                 HCFStdObserver::TwoDegree);
  if (!corrected) return corrected.error();
  const XYZTriple back = CieStdMath::lab2xyzWithL(corrected->L, corrected->a, corrected->b,
                                                  HCFIlluminant::D50, HCFStdObserver::TwoDegree);
  const XYZTriple d65 =
      CieStdMath::adapt(back.X, back.Y, back.Z, HCFIlluminant::D50, HCFStdObserver::TwoDegree,
                        HCFIlluminant::D65, HCFStdObserver::TwoDegree);
  adj2DegD65XYZ_ = HCFXYZColor::XYZColorWithX(d65.X, d65.Y, d65.Z, HCFIlluminant::D65);
  return std::nullopt;
}

// ---- version 4.0: ColorOrla ---------------------------------------------------------------------

std::optional<HCFError> HITintra40Reading::applyAdjustment() {
  if (correctionApplies()) {
    // The method's type decides, as for every other hardware version: a network or a table.
    const HCFLabColor own = labOf(unadjD65XYZ_);
    auto corrected = TintraAdjust::applyAdjustment(*getMainAdjMethod(), own.L, own.A, own.B,
                                                   HCFStdObserver::TwoDegree);
    if (!corrected) return corrected.error();
    adj2DegD65XYZ_ = HCFLabColor::labColorWithL(corrected->L, corrected->a, corrected->b,
                                                own.illuminant, HCFStdObserver::TwoDegree)
                         .XYZColor();
  }
  return shiftToOtherBatches();
}

std::optional<HCFError> HITintra40Reading::shiftToOtherBatches() {
  const std::int32_t batch = getBatchNumber();
  const auto alignment = batchAlignmentFor(batch);
  if (!alignment || alignment->targetBatches.empty()) return std::nullopt;
  const auto* targets = &alignment->targetBatches;
  // One read of the document serves every target.
  const auto& doc = alignment->document;
  const HCFLabColor own = labOf(unadjD65XYZ_);
  std::vector<HIUnifiedColor> unified;
  for (const std::string& t : *targets) {
    const auto net = networkAt(doc, {"uANN", std::to_string(batch), t});
    if (!net) continue;
    auto U = TintraAdjust::applyANN(*net, own, HCFStdObserver::TwoDegree);
    if (!U) return U.error();
    std::int32_t number = 0;
    try {
      number = std::stoi(t);
    } catch (const std::exception&) {
      continue;  // a target that is not a batch number
    }
    unified.push_back(HIUnifiedColor::colorWithLab(*U, number));
    if (t == kReferenceBatch) {
      if (const auto A = networkAt(doc, {"aANN", std::to_string(kReferenceBatchNumber)})) {
        auto two = TintraAdjust::applyANN(*A, *U, HCFStdObserver::TwoDegree);
        auto ten = TintraAdjust::applyANN(*A, *U, HCFStdObserver::TenDegree);
        if (!two) return two.error();
        if (!ten) return ten.error();
        adj2DegD65XYZ_ = two->XYZColor();
        adj10DegD65XYZ_ = ten->XYZColor();
      }
    }
  }
  unified_ = std::move(unified);
  return std::nullopt;
}

HCF_NAMESPACE_END
