// The factory calibration record as the device-data service delivers it, and what the kit
// builds from it.
#include <hcf/hcf.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto record = hcf::TintraDeviceRecord::parseFromData({data, size});
  if (!record.ok()) return 0;
  const auto& device = record.value();
  // What is read is what is written again.
  auto again = hcf::TintraDeviceRecord::parseFromData(hcf::TintraDeviceRecord::data(device));
  HCF_FUZZ_CHECK(again.ok() && hcf::TintraDeviceRecord::isEqual(again.value(), device));
  (void)hcf::TintraDeviceRecord::writeDescriptionTo(device);
  (void)hcf::TintraDeviceProtoHelper::topCalForDevice(device);
  (void)hcf::TintraDeviceProtoHelper::getMainAdjMethod(device);
  if (device.tintra_model() == "4.0") return 0;  // the ColorOrla also reads the device store
  auto model = hcf::makeSense2XYZ(device);
  if (model.ok()) (void)model.value();
  return 0;
}
