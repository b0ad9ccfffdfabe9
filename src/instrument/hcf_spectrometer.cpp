#include "hcf/instrument/hcf_spectrometer.h"

#include <algorithm>
#include <sstream>

#include "../platform/ble/instrument_gatt.h"
#include "hcf/cloud/hcf_spectro_ann.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/scan/spectral_scan.h"

HCF_NAMESPACE_BEGIN

namespace {

// A band's response is its count over full scale: 1 (exactly, in single precision) for a band
// at `HCFColorScan::kFullScaleCount`, below 1 for every count under it.
bool bandAtFullScale(float response) { return response >= 1.0f; }

}  // namespace

void HCFSpectrometer::loadCalibration(ErrorCallback callback) {
  std::weak_ptr<HCFColorInstrument> weak = shared_from_this();
  HCFSpectroANN::getANNs(serial(), [weak, callback](auto models, auto model, auto error) {
    // The chain may arrive on another queue; the instrument lives on the main queue.
    dispatch::mainQueue().async([weak, callback, models = std::move(models),
                                 model = std::move(model), error = std::move(error)]() mutable {
      auto self = std::static_pointer_cast<HCFSpectrometer>(weak.lock());
      if (!self) return;
      if (error || !models) {
        if (callback) callback(error ? error : HTUtility::unsupportedOS());
        return;
      }
      self->model_ = model.value_or("");
      self->mms_ = std::move(*models);
      self->chainLoaded_ = true;
      if (callback) callback(std::nullopt);
    });
  });
}

void HCFSpectrometer::requestColorScan(ColorScanCallback callback) {
  if (!chainLoaded_) {
    if (callback) callback(nullptr, nullptr, HTUtility::noCalError());
    return;
  }
  colorScanBlock_ = std::move(callback);
  startMeasurementTimer();
  if (peripheralManager()) peripheralManager()->getScan();
}

void HCFSpectrometer::finish(std::shared_ptr<HCFColorScan> scan, std::optional<HCFError> error) {
  measurementAnswered();
  if (!colorScanBlock_) return;
  auto block = std::move(colorScanBlock_);
  colorScanBlock_ = nullptr;
  block(nullptr, std::move(scan), std::move(error));
}

void HCFSpectrometer::gotSpectralResponse(const std::vector<float>& response) {
  std::ostringstream text;
  for (std::size_t i = 0; i < response.size(); ++i) text << (i ? ", " : "") << response[i];
  logLine("Got Spectral Response: (" + text.str() + ")");
  if (!colorScanBlock_) return;
  const std::vector<double> senses(response.begin(), response.end());
  auto values = mlmultiArray(senses);
  for (const auto& m : mms_) {
    auto out = m->predictionFromDense_1_input__0(values);
    if (!out) {
      finish(nullptr, out.error());
      return;
    }
    values = std::move(out->output_node0__0);
  }
  auto scan = HCFSpectralScan::initWithSerial(serial(), model(), senses, arrayFromMulti(values));
  if (!scan) {
    finish(nullptr, scan.error());
    return;
  }
  (*scan)->overRange = std::ranges::any_of(response, bandAtFullScale);
  finish(*scan, std::nullopt);
}

void HCFSpectrometer::gotDeviceError(std::uint8_t code) {
  if (!colorScanBlock_) return;
  logLine("Error scanning: " + std::to_string(code));
  finish(nullptr, HTUtility::scanError());
}

void HCFSpectrometer::gotCharacteristicError(const ble::UUID& characteristic,
                                             const ble::Error& error) {
  if (characteristic != ble::instrument_gatt::spectrometerScan() &&
      characteristic != ble::instrument_gatt::spectrometerEmissiveScan()) {
    HCFColorInstrument::gotCharacteristicError(characteristic, error);
    return;
  }
  finish(nullptr, withPlatformError(HTUtility::scanError(), error));
}

void HCFSpectrometer::deviceDisconnected() {
  HCFColorInstrument::deviceDisconnected();
  finish(nullptr, HTUtility::scanError());
}

HCF_NAMESPACE_END
