// The scan factories that start from an instrument's senses: they need the device-data service
// (a colorimeter's calibration record) or the model-package service (a spectrometer's chain),
// so they are defined on the cloud's floor, above the scans they make.
#include "hcf/calibration/hcf_ml_model.h"
#include "hcf/cloud/hcf_spectro_ann.h"
#include "hcf/cloud/hi_tintra.h"
#include "hcf/core/ht_utility.h"
#include "hcf/scan/spectral_scan.h"
#include "hcf/scan/tristim_scan.h"
#include "hcf/store/cached_reading.h"

HCF_NAMESPACE_BEGIN

void HCFTristimScan::scanFrom(const std::string& serial, const std::vector<double>& senses,
                              ScanCompletion complete) {
  if (senses.size() >= 5) {
    complete(nullptr, HTUtility::unsupportedLegacyDeviceError(serial));
    return;
  }
  if (senses.size() < 3) {
    complete(nullptr, HTUtility::errWithMsg("A colorimeter scan needs three sensor values, got " +
                                                std::to_string(senses.size()),
                                            error_code::kTooFewSensorValues));
    return;
  }
  const HITintraSensorReading sense{static_cast<float>(senses[0]), static_cast<float>(senses[1]),
                                    static_cast<float>(senses[2]), 0.0};
  HITintra::tintraInitWithSerial(
      serial,
      [serial, sense, complete](bool available) {
        if (!available) {
          complete(nullptr, HTUtility::noCalDataError(serial));
          return;
        }
        auto reading = toColorReading(sense, serial);
        if (!reading) {
          complete(nullptr, reading.error());
          return;
        }
        complete(scanFrom(**reading), std::nullopt);
      },
      [complete](const HCFError& error) { complete(nullptr, error); });
}

void HCFSpectralScan::scanFrom(const std::string& serial, const std::vector<double>& senses,
                               ScanCompletion complete) {
  HCFSpectroANN::getANNs(serial, [serial, senses, complete](auto models, auto model, auto error) {
    if (error || !models) {
      complete(nullptr, error ? *error : HTUtility::unsupportedOS());
      return;
    }
    auto values = mlmultiArray(senses);
    for (const auto& m : *models) {
      auto out = m->predictionFromDense_1_input__0(values);
      if (!out) {
        complete(nullptr, out.error());
        return;
      }
      values = std::move(out->output_node0__0);
    }
    auto scan = initWithSerial(serial, model.value_or(""), senses, arrayFromMulti(values));
    if (!scan) {
      complete(nullptr, scan.error());
      return;
    }
    complete(*scan, std::nullopt);
  });
}

HCF_NAMESPACE_END
