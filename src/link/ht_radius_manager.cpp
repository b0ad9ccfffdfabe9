#include "hcf/link/ht_radius_manager.h"

#include <algorithm>

#include "../platform/ble/instrument_gatt.h"
#include "colorimeter_codec.h"
#include "hcf/core/exception.h"
#include "shared_characteristics.h"

HCF_NAMESPACE_BEGIN

namespace {

using ble::UUID;

// The colorimeter's GATT identifiers.
const UUID& kMainService = ble::instrument_gatt::colorimeterService();
const UUID& kUpdateService1 = ble::instrument_gatt::colorimeterUpdateService1();
const UUID& kUpdateService2 = ble::instrument_gatt::colorimeterUpdateService2();
const UUID& kXyzSense = ble::instrument_gatt::colorimeterSense();
const UUID& kXyzEmissSense = ble::instrument_gatt::colorimeterEmissiveSense();
const UUID& kTemperature = ble::instrument_gatt::colorimeterTemperature();
const UUID& kOtaControl = ble::instrument_gatt::colorimeterOtaControl();
const UUID& kOtaData = ble::instrument_gatt::colorimeterOtaData();

// The connection-confirm / keep-alive command.
const ble::Bytes& kConfirmByte = ble::instrument_gatt::kCommand;

}  // namespace

struct HTRadiusManager::Token {};

HTRadiusManager::HTRadiusManager(const Token&, std::shared_ptr<ble::Peripheral> peripheral,
                                 std::weak_ptr<HTKuboPeripheralManDelegate> delegate)
    : peripheral_(std::move(peripheral)), delegate_(std::move(delegate)) {}

std::shared_ptr<HTRadiusManager> HTRadiusManager::init() {
  throw HCFException(kInternalInconsistencyException,
                     "-init is not a valid initializer for the class HTRadiusManager");
}

std::shared_ptr<HTRadiusManager> HTRadiusManager::initWithPeripheral(
    std::shared_ptr<ble::Peripheral> peripheral,
    std::weak_ptr<HTKuboPeripheralManDelegate> delegate) {
  auto manager = std::make_shared<HTRadiusManager>(Token{}, peripheral, std::move(delegate));
  if (peripheral) {
    peripheral->setDelegate(manager);
    peripheral->discoverServices(std::nullopt);
  }
  return manager;
}

const ble::UUID& HTRadiusManager::bleCBUUID() { return kMainService; }

const std::string& HTRadiusManager::bleService() {
  static const std::string text = kMainService.lowercaseString();
  return text;
}

const std::vector<ble::UUID>& HTRadiusManager::radiusServices() {
  static const std::vector<ble::UUID> services = {kMainService, kUpdateService1, kUpdateService2};
  return services;
}

bool HTRadiusManager::foundAllCharacteristics() const {
  return xyzSense_ && batt_ && ser_ && ver_ && btn_ && connectConfirm_ && chargingStatus_;
}

void HTRadiusManager::read(const std::shared_ptr<ble::Characteristic>& c) {
  if (c && peripheral_) peripheral_->readValueForCharacteristic(c);
}

void HTRadiusManager::getStatus() {
  read(ver_);
  read(ser_);
}

void HTRadiusManager::confirmConnection() {
  if (connectConfirm_ && peripheral_) {
    peripheral_->writeValue(kConfirmByte, connectConfirm_,
                            ble::CharacteristicWriteType::WithResponse);
  }
}

void HTRadiusManager::getBattInfo() {
  read(batt_);
  read(chargingStatus_);
}

void HTRadiusManager::getScan() { read(xyzSense_); }
void HTRadiusManager::getEScan() { read(xyzEmissSense_); }
void HTRadiusManager::getTemp() { read(temperature_); }

void HTRadiusManager::didDiscoverServices(ble::Peripheral& peripheral,
                                          const std::optional<ble::Error>& /*error*/) {
  bool sawMain = false;
  const auto& known = radiusServices();
  for (const auto& service : peripheral.services()) {
    if (std::find(known.begin(), known.end(), service->uuid()) == known.end()) continue;
    peripheral.discoverCharacteristics(std::nullopt, service);
    sawMain = sawMain || service->uuid() == kMainService;
  }
  if (!sawMain) {
    if (auto d = delegate()) d->peripheralManagerFailedToInit(*this);
  }
}

void HTRadiusManager::storeMainCharacteristic(const std::shared_ptr<ble::Characteristic>& c) {
  const UUID& u = c->uuid();
  if (u == kXyzSense) {
    xyzSense_ = c;
  } else if (u == kXyzEmissSense) {
    xyzEmissSense_ = c;
  } else if (u == shared_gatt::battery()) {
    batt_ = c;
  } else if (u == shared_gatt::serial()) {
    ser_ = c;
  } else if (u == shared_gatt::version()) {
    ver_ = c;
  } else if (u == shared_gatt::button()) {
    btn_ = c;
    if (peripheral_) peripheral_->setNotifyValue(true, c);
  } else if (u == shared_gatt::connectConfirm()) {
    connectConfirm_ = c;
  } else if (u == shared_gatt::chargingStatus()) {
    chargingStatus_ = c;
  } else if (u == kTemperature) {
    temperature_ = c;
  }
}

void HTRadiusManager::didDiscoverCharacteristicsForService(
    ble::Peripheral& /*peripheral*/, const std::shared_ptr<ble::Service>& service,
    const std::optional<ble::Error>& /*error*/) {
  if (service->uuid() == kMainService) {
    for (const auto& c : service->characteristics()) storeMainCharacteristic(c);
  } else if (service->uuid() == kUpdateService1 || service->uuid() == kUpdateService2) {
    for (const auto& c : service->characteristics()) {
      if (c->uuid() == kOtaControl) {
        otaControl_ = c;
      } else if (c->uuid() == kOtaData) {
        otaData_ = c;
      }
    }
  }
  if (foundAllCharacteristics()) {
    if (auto d = delegate()) d->peripheralManagerIsReady(*this);
  }
}

// A subscription that failed leaves the request that needed it unanswered: report it.
void HTRadiusManager::didUpdateNotificationStateForCharacteristic(
    ble::Peripheral& /*peripheral*/, const std::shared_ptr<ble::Characteristic>& characteristic,
    const std::optional<ble::Error>& error) {
  auto d = delegate();
  if (d && error && characteristic) d->gotCharacteristicError(characteristic->uuid(), *error);
}

// A value event with an error is a failed answer: the characteristic still holds an earlier
// value, which must not be decoded as a new one.
void HTRadiusManager::didUpdateValueForCharacteristic(
    ble::Peripheral& /*peripheral*/, const std::shared_ptr<ble::Characteristic>& characteristic,
    const std::optional<ble::Error>& error) {
  auto d = delegate();
  if (!d || !characteristic) return;
  if (error) {
    d->gotCharacteristicError(characteristic->uuid(), *error);
    return;
  }
  if (!characteristic->value()) return;
  const ble::Bytes& v = *characteristic->value();
  const UUID& u = characteristic->uuid();
  if (u == kXyzSense || u == kXyzEmissSense) {
    if (auto counts = codec::scanCounts(v)) d->gotXyzScanX(counts->x, counts->y, counts->z);
  } else if (shared_gatt::report(u, v, *d)) {
    // battery, serial, version, button, charge
  } else if (u == kTemperature) {
    if (auto t = codec::temperature(v)) d->gotTemperature(*t);
  }
}

HCF_NAMESPACE_END
