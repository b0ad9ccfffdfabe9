// The platform-independent parts of the Bluetooth objects: constructors and the empty defaults
// of the event receivers.
#include "hcf/platform/ble/gatt.h"

#include <mutex>

#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/ble/peripheral.h"

HCF_NAMESPACE_BEGIN
namespace ble {

Characteristic::Characteristic(UUID uuid, CharacteristicProperties properties,
                               std::weak_ptr<Service> service)
    : uuid_(uuid), properties_(properties), service_(std::move(service)) {}
Characteristic::~Characteristic() = default;

Service::Service(UUID uuid, std::weak_ptr<Peripheral> peripheral)
    : uuid_(uuid), peripheral_(std::move(peripheral)) {}
Service::~Service() = default;

Peripheral::~Peripheral() = default;
CentralManager::~CentralManager() = default;

PeripheralDelegate::~PeripheralDelegate() = default;
void PeripheralDelegate::didDiscoverServices(Peripheral&, const std::optional<Error>&) {}
void PeripheralDelegate::didDiscoverCharacteristicsForService(Peripheral&,
                                                              const std::shared_ptr<Service>&,
                                                              const std::optional<Error>&) {}
void PeripheralDelegate::didUpdateValueForCharacteristic(Peripheral&,
                                                         const std::shared_ptr<Characteristic>&,
                                                         const std::optional<Error>&) {}
void PeripheralDelegate::didWriteValueForCharacteristic(Peripheral&,
                                                        const std::shared_ptr<Characteristic>&,
                                                        const std::optional<Error>&) {}
void PeripheralDelegate::didUpdateNotificationStateForCharacteristic(
    Peripheral&, const std::shared_ptr<Characteristic>&, const std::optional<Error>&) {}

CentralManagerDelegate::~CentralManagerDelegate() = default;
void CentralManagerDelegate::centralManagerDidUpdateState(CentralManager&) {}
void CentralManagerDelegate::didDiscoverPeripheral(CentralManager&,
                                                   const std::shared_ptr<Peripheral>&,
                                                   const AdvertisementData&, int) {}
void CentralManagerDelegate::didConnectPeripheral(CentralManager&,
                                                  const std::shared_ptr<Peripheral>&) {}
void CentralManagerDelegate::didFailToConnectPeripheral(CentralManager&,
                                                        const std::shared_ptr<Peripheral>&,
                                                        const std::optional<Error>&) {}
void CentralManagerDelegate::didDisconnectPeripheral(CentralManager&,
                                                     const std::shared_ptr<Peripheral>&,
                                                     const std::optional<Error>&) {}

}  // namespace ble
namespace ble {

namespace {
std::mutex& factoryMutex() {
  static std::mutex m;
  return m;
}
CentralFactory& factorySlot() {
  static CentralFactory f;
  return f;
}
}  // namespace

void setCentralFactory(CentralFactory factory) {
  const std::lock_guard lock(factoryMutex());
  factorySlot() = std::move(factory);
}

std::shared_ptr<CentralManager> makeCentralManager(std::weak_ptr<CentralManagerDelegate> delegate) {
  CentralFactory factory;
  {
    const std::lock_guard lock(factoryMutex());
    factory = factorySlot();
  }
  return factory ? factory(std::move(delegate)) : nullptr;
}

}  // namespace ble
HCF_NAMESPACE_END
