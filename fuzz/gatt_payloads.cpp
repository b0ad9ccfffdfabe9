// What instruments send: characteristic values of both links, and the advertising packet.
#include <hcf/hcf.h>

#include "fuzz_support.h"
#include "link/colorimeter_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const hcf::Bytes bytes(data, data + size);
  namespace codec = hcf::codec;
  (void)codec::scanCounts(bytes);
  (void)codec::batteryVolts(bytes);
  (void)codec::serial(bytes);
  (void)codec::version(bytes);
  (void)codec::buttonPress(bytes);
  (void)codec::chargeFlags(bytes);
  (void)codec::temperature(bytes);
  (void)codec::spectralResponse(bytes);
  (void)codec::deviceError(bytes);
  (void)hcf::HCFAdvertisingPacket::fromData(bytes);
  if (auto uuid = hcf::ble::UUID::parse(hcf_fuzz::text(data, size))) {
    HCF_FUZZ_CHECK(hcf::ble::UUID::parse(uuid->UUIDString()) == uuid);
  }
  return 0;
}
