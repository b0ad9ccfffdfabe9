#include "instrument_gatt.h"

HCF_NAMESPACE_BEGIN
namespace ble::instrument_gatt {

#define HCF_GATT_ID(name, text)                          \
  const UUID& name() {                                   \
    static const UUID uuid = UUID::UUIDWithString(text); \
    return uuid;                                         \
  }

HCF_GATT_ID(battery, "4aecb80d-0f0a-45d4-a2da-4796f114b8d3")
HCF_GATT_ID(serial, "06bee248-ac7e-439a-aa35-07a6a500750a")
HCF_GATT_ID(version, "591eddc9-0ebe-4512-af25-b83ce44d24de")
HCF_GATT_ID(button, "4229bdb5-8b55-4c6f-9216-d71ab06f246a")
HCF_GATT_ID(connectConfirm, "3a796671-b41b-4b54-a929-00f880c8833b")
HCF_GATT_ID(chargingStatus, "9e60ce27-9f77-40f8-a916-2c0b5f606a68")

HCF_GATT_ID(colorimeterService, "26db67ab-fc40-420a-b080-2ce709bfb7d0")
HCF_GATT_ID(colorimeterUpdateService1, "1d14d6ee-fd63-4fa1-bfa4-8f47b42119f0")
HCF_GATT_ID(colorimeterUpdateService2, "a8a52e81-5c93-4f8f-b18f-96bba3387bab")
HCF_GATT_ID(colorimeterSense, "1a0ad4bf-7bdc-49a3-81d0-ca96ab705ed2")
HCF_GATT_ID(colorimeterEmissiveSense, "54368316-8385-42a6-a0fe-3f43d66201e6")
HCF_GATT_ID(colorimeterTemperature, "af2c461d-8a38-48a0-aa8f-5c4b2947d3a3")
HCF_GATT_ID(colorimeterOtaControl, "f7bf3564-fb6d-4e53-88a4-5e37e0326063")
HCF_GATT_ID(colorimeterOtaData, "984227f3-34fc-4045-a5d0-2c581f81a153")

HCF_GATT_ID(spectrometerService, "89504ca4-c879-446f-a10e-f6c2da131d41")
HCF_GATT_ID(spectrometerScan, "80db9d9a-6db9-43fa-ac23-c38062ef3c9e")
HCF_GATT_ID(spectrometerEmissiveScan, "ec4ca502-982a-4fc2-82ec-033e37ab4fe9")
HCF_GATT_ID(spectrometerError, "8d6bfa01-c14e-4079-96f5-57a5b136fbdc")

#undef HCF_GATT_ID

}  // namespace ble::instrument_gatt
HCF_NAMESPACE_END
