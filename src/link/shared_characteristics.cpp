#include "shared_characteristics.h"

#include "../platform/ble/instrument_gatt.h"
#include "colorimeter_codec.h"

HCF_NAMESPACE_BEGIN
namespace shared_gatt {

using ble::UUID;

const UUID& battery() { return ble::instrument_gatt::battery(); }
const UUID& serial() { return ble::instrument_gatt::serial(); }
const UUID& version() { return ble::instrument_gatt::version(); }
const UUID& button() { return ble::instrument_gatt::button(); }
const UUID& connectConfirm() { return ble::instrument_gatt::connectConfirm(); }
const UUID& chargingStatus() { return ble::instrument_gatt::chargingStatus(); }

bool report(const UUID& u, const ble::Bytes& v, HTKuboPeripheralManDelegate& d) {
  if (u == battery()) {
    if (auto volts = codec::batteryVolts(v)) d.gotBatt(*volts);
  } else if (u == serial()) {
    if (auto text = codec::serial(v)) d.gotSerial(*text);
  } else if (u == version()) {
    if (auto ver = codec::version(v)) d.gotVersion((*ver)[0], (*ver)[1]);
  } else if (u == button()) {
    if (codec::buttonPress(v)) d.gotButtonPress();
  } else if (u == chargingStatus()) {
    if (auto flags = codec::chargeFlags(v)) d.gotCharging(flags->charging, flags->onPower);
  } else {
    return false;
  }
  return true;
}

}  // namespace shared_gatt
HCF_NAMESPACE_END
