#include "hcf/link/ht_kubo_peripheral_manager.h"

HCF_NAMESPACE_BEGIN

HTKuboPeripheralManDelegate::~HTKuboPeripheralManDelegate() = default;
void HTKuboPeripheralManDelegate::gotXyzScanX(std::uint16_t, std::uint16_t, std::uint16_t) {}
void HTKuboPeripheralManDelegate::gotTemperature(float) {}
void HTKuboPeripheralManDelegate::gotSpectralResponse(const std::vector<float>&) {}
void HTKuboPeripheralManDelegate::gotDeviceError(std::uint8_t) {}
void HTKuboPeripheralManDelegate::gotCharacteristicError(const ble::UUID&, const ble::Error&) {}

HTKuboPeripheralManager::~HTKuboPeripheralManager() = default;
void HTKuboPeripheralManager::getTemp() {}

HCF_NAMESPACE_END
