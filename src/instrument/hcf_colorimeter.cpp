#include "hcf/instrument/hcf_colorimeter.h"

#include <algorithm>
#include <cmath>

#include "../core/json_text.h"
#include "../platform/ble/instrument_gatt.h"
#include "hcf/calibration/hi_color_reading.h"
#include "hcf/calibration/hi_tintra_sensor_reading.h"
#include "hcf/cloud/hi_tintra.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/json.h"
#include "hcf/scan/tristim_scan.h"
#include "hcf/store/cached_reading.h"

HCF_NAMESPACE_BEGIN

namespace {

// The model text of the multi-channel instruments: eight channels that a three-count scan
// cannot calibrate.
constexpr const char* kMultiChannelModel = "Version that uses > 3 sense";
constexpr const char* kSenseKeys[] = {"redSense", "greenSense", "blueSense"};

// The calibration's readings of its colour set: a list of objects.
Result<JsonValue> colourSetData(const std::optional<TintraDevice>& record) {
  if (!record) return HTUtility::noCalError();
  if (record->tintra_model() == kMultiChannelModel) {
    return HTUtility::invalidDataError(
        "an instrument of model \"Version that uses > 3 sense\" cannot be calibrated from "
        "three counts");
  }
  const auto* cal = TintraDeviceProtoHelper::topCalForDevice(*record);
  if (!cal) return HTUtility::noCalDataError(record->serial());
  auto data = json_text::parseOrDiscard(cal->data_json());
  if (data.is_discarded() || !data.is_array()) {
    return HTUtility::invalidDataError("the calibration's data is not a list of readings");
  }
  return data;
}

Result<std::vector<double>> senses(const JsonValue& data, std::size_t index) {
  if (index >= data.size() || !data[index].is_object()) {
    return HTUtility::invalidDataError("the calibration's data has no reading at position " +
                                       std::to_string(index));
  }
  std::vector<double> out;
  for (const char* key : kSenseKeys) {
    const auto& entry = data[index];
    if (!entry.contains(key) || !entry[key].is_number()) {
      return HTUtility::invalidDataError("the calibration's reading " + std::to_string(index) +
                                         " lacks \"" + key + "\"");
    }
    out.push_back(entry[key].get<double>());
  }
  return out;
}

bool countAtFullScale(const std::array<std::uint16_t, 3>& counts) {
  return std::ranges::any_of(counts,
                             [](std::uint16_t c) { return c >= HCFColorScan::kFullScaleCount; });
}

}  // namespace

void HCFColorimeter::loadCalibration(ErrorCallback callback) {
  std::weak_ptr<HCFColorInstrument> weak = shared_from_this();
  // The service may answer on another queue; the instrument lives on the main queue.
  auto onMain = [weak](std::function<void(HCFColorimeter&)> step) {
    dispatch::mainQueue().async([weak, step = std::move(step)] {
      if (auto self = std::static_pointer_cast<HCFColorimeter>(weak.lock())) step(*self);
    });
  };
  HITintra::fetchTintraData(
      serial(),
      [onMain, callback](const TintraDevice& record) {
        onMain([record, callback](HCFColorimeter& self) {
          self.updateTintraDevice(record);
          if (callback) callback(std::nullopt);
          removeFromUninitializedDevs(self);
        });
      },
      [onMain, callback](const HCFError& error) {
        onMain([error, callback](HCFColorimeter&) {
          if (callback) callback(error);
        });
      });
}

void HCFColorimeter::updateTintraDevice(const TintraDevice& record) {
  tintraDevice_ = record;
  model_ = record.tintra_model();
}

void HCFColorimeter::requestColorScan(ColorScanCallback callback) {
  scanType_ = 0;
  colorScanBlock_ = std::move(callback);
  startMeasurementTimer();
  if (peripheralManager()) peripheralManager()->getScan();
}

void HCFColorimeter::requestCalibration(CalibrationCallback callback) {
  scanType_ = 1;
  calBlock_ = std::move(callback);
  startMeasurementTimer("The white calibration");
  if (peripheralManager()) peripheralManager()->getScan();
}

void HCFColorimeter::gotXyzScanX(std::uint16_t x, std::uint16_t y, std::uint16_t z) {
  measurementAnswered();
  if (scanType_ == 1) {
    calibrationValue({x, y, z});
  } else if (scanType_ == 0) {
    colorValue({x, y, z});
  }
}

void HCFColorimeter::calibrationValue(const std::array<std::uint16_t, 3>& counts) {
  const auto finish = [this](bool ok, std::optional<HCFError> error) {
    if (!calBlock_) return;
    auto block = std::move(calBlock_);
    calBlock_ = nullptr;
    block(ok, std::move(error));
  };
  auto white = getWhitePointFromCal();
  if (!white) {
    whitePointRatio_.reset();
    finish(false, white.error());
    return;
  }
  bool success = true;
  auto ratio =
      setWhitePoint(*white, {double(counts[0]), double(counts[1]), double(counts[2])}, success);
  if (success) {
    whitePointRatio_ = std::move(ratio);
    finish(true, std::nullopt);
  } else {
    whitePointRatio_.reset();
    finish(false, HTUtility::wpCalError());
  }
}

void HCFColorimeter::colorValue(std::array<std::uint16_t, 3> counts) {
  const auto finish = [this](std::shared_ptr<HCFColorScan> scan, std::optional<HCFError> error) {
    if (!colorScanBlock_) return;
    auto block = std::move(colorScanBlock_);
    colorScanBlock_ = nullptr;
    block(std::move(scan), nullptr, std::move(error));
  };
  if (!whitePointRatio_) {
    finish(nullptr, HTUtility::noCalError());
    return;
  }
  // Saturation shows in the raw counts, or once the white ratio has scaled them up; the dark
  // level taken off afterwards would hide it.
  bool overRange = countAtFullScale(counts);
  whitepointOffset(counts);
  overRange = overRange || countAtFullScale(counts);
  if (auto black = blackpointOffset(counts); !black) {
    finish(nullptr, black.error());
    return;
  }
  overRange = overRange || countAtFullScale(counts);
  const HITintraSensorReading sense{double(counts[0]), double(counts[1]), double(counts[2]), 0.0};
  auto reading = toColorReading(sense, serial());
  if (!reading) {
    finish(nullptr, reading.error());
    return;
  }
  auto scan = HCFTristimScan::scanFrom(**reading);
  scan->overRange = overRange;
  finish(std::move(scan), std::nullopt);
}

void HCFColorimeter::whitepointOffset(std::array<std::uint16_t, 3>& counts) const {
  if (!whitePointRatio_) return;
  for (std::size_t i = 0; i < 3 && i < whitePointRatio_->size(); ++i) {
    const float product = (*whitePointRatio_)[i] * static_cast<float>(counts[i]);
    // A product beyond the 16-bit range saturates rather than wrapping to a small count.
    const float truncated = std::trunc(product);
    constexpr std::uint16_t full = HCFColorScan::kFullScaleCount;
    counts[i] = truncated >= static_cast<float>(full) ? full
                : truncated <= 0.0f                   ? std::uint16_t{0}
                                                      : static_cast<std::uint16_t>(truncated);
  }
}

Result<bool> HCFColorimeter::blackpointOffset(std::array<std::uint16_t, 3>& counts) const {
  auto black = getBlackPt();
  if (!black) return black.error();
  for (std::size_t i = 0; i < 3; ++i) {
    const std::int64_t level = (*black)[i];
    // A negative level from the record raises the count: it saturates rather than wrapping.
    counts[i] = level < counts[i] ? static_cast<std::uint16_t>(std::min<std::int64_t>(
                                        counts[i] - level, HCFColorScan::kFullScaleCount))
                                  : std::uint16_t{0};
  }
  return true;
}

Result<std::vector<std::int64_t>> HCFColorimeter::getBlackPt() const {
  if (tintraDevice_ && tintraDevice_->tintra_model() == "1.1")
    return std::vector<std::int64_t>(3, 0);
  auto data = colourSetData(tintraDevice_);
  if (!data) return data.error();
  if (data->empty()) return HTUtility::invalidDataError("the calibration's data is empty");
  auto values = senses(*data, data->size() - 1);
  if (!values) return values.error();
  std::vector<std::int64_t> out;
  for (const double v : *values) {
    // Levels far outside the counts' range only matter for their sign.
    out.push_back(static_cast<std::int64_t>(std::fmax(-1e9, std::fmin(1e9, v))));
  }
  return out;
}

Result<std::vector<double>> HCFColorimeter::getWhitePointFromCal() const {
  auto data = colourSetData(tintraDevice_);
  if (!data) return data.error();
  const bool v11 = tintraDevice_->tintra_model() == "1.1";
  if (!v11 && data->size() < 2) {
    return HTUtility::invalidDataError("the calibration's data has no white reading");
  }
  return senses(*data, v11 ? 51 : data->size() - 2);
}

std::vector<float> HCFColorimeter::setWhitePoint(const std::vector<double>& calibrationWhite,
                                                 const std::vector<double>& measured,
                                                 bool& success) {
  success = calibrationWhite.size() == measured.size();
  std::vector<float> ratios;
  for (std::size_t i = 0; i < calibrationWhite.size() && i < measured.size(); ++i) {
    const float ratio = static_cast<float>(calibrationWhite[i]) / static_cast<float>(measured[i]);
    if (ratio > 2.0f || static_cast<double>(ratio) < 0.1 || std::isnan(ratio)) success = false;
    ratios.push_back(ratio);
  }
  return ratios;
}

void HCFColorimeter::gotCharacteristicError(const ble::UUID& characteristic,
                                            const ble::Error& error) {
  if (characteristic != ble::instrument_gatt::colorimeterSense() &&
      characteristic != ble::instrument_gatt::colorimeterEmissiveSense()) {
    HCFColorInstrument::gotCharacteristicError(characteristic, error);
    return;
  }
  measurementAnswered();
  if (scanType_ == 1 && calBlock_) {
    auto block = std::move(calBlock_);
    calBlock_ = nullptr;
    block(false, withPlatformError(HTUtility::wpCalError(), error));
  } else if (scanType_ == 0 && colorScanBlock_) {
    auto block = std::move(colorScanBlock_);
    colorScanBlock_ = nullptr;
    block(nullptr, nullptr, withPlatformError(HTUtility::scanError(), error));
  }
}

void HCFColorimeter::deviceDisconnected() {
  HCFColorInstrument::deviceDisconnected();
  failPendingMeasurement(HTUtility::scanError());
}

// Every waiting request fails: a calibration a later scan left waiting as well.
void HCFColorimeter::failPendingMeasurement(const HCFError& error) {
  measurementAnswered();
  if (calBlock_) {
    auto block = std::move(calBlock_);
    calBlock_ = nullptr;
    block(false, error);
  }
  if (colorScanBlock_) {
    auto block = std::move(colorScanBlock_);
    colorScanBlock_ = nullptr;
    block(nullptr, nullptr, error);
  }
}

HCF_NAMESPACE_END
