#include "shared_characteristics.h"

#include "colorimeter_codec.h"

HCF_NAMESPACE_BEGIN
namespace shared_gatt {

using ble::UUID;

const UUID& battery() {
  static const UUID u = UUID::UUIDWithString("4aecb80d-0f0a-45d4-a2da-4796f114b8d3");
  return u;
}
const UUID& serial() {
  static const UUID u = UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a");
  return u;
}
const UUID& version() {
  static const UUID u = UUID::UUIDWithString("591eddc9-0ebe-4512-af25-b83ce44d24de");
  return u;
}
const UUID& button() {
  static const UUID u = UUID::UUIDWithString("4229bdb5-8b55-4c6f-9216-d71ab06f246a");
  return u;
}
const UUID& connectConfirm() {
  static const UUID u = UUID::UUIDWithString("3a796671-b41b-4b54-a929-00f880c8833b");
  return u;
}
const UUID& chargingStatus() {
  static const UUID u = UUID::UUIDWithString("9e60ce27-9f77-40f8-a916-2c0b5f606a68");
  return u;
}

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
