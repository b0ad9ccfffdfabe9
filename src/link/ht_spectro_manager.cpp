#include "hcf/link/ht_spectro_manager.h"

#include "../platform/ble/instrument_gatt.h"
#include "colorimeter_codec.h"
#include "hcf/core/exception.h"
#include "shared_characteristics.h"

HCF_NAMESPACE_BEGIN

namespace {

using ble::UUID;

// The spectrometer's GATT identifiers; battery to charging status are the colorimeter's.
const UUID& kMainService = ble::instrument_gatt::spectrometerService();
const UUID& kScan = ble::instrument_gatt::spectrometerScan();
const UUID& kEScan = ble::instrument_gatt::spectrometerEmissiveScan();
const UUID& kError = ble::instrument_gatt::spectrometerError();

// The scan commands and the connection-confirm / keep-alive write.
const ble::Bytes& kCommandByte = ble::instrument_gatt::kCommand;

}  // namespace

struct HTSpectroManager::Token {};

HTSpectroManager::HTSpectroManager(const Token&, std::shared_ptr<ble::Peripheral> peripheral,
                                   std::weak_ptr<HTKuboPeripheralManDelegate> delegate)
    : peripheral_(std::move(peripheral)), delegate_(std::move(delegate)) {}

std::shared_ptr<HTSpectroManager> HTSpectroManager::init() {
  throw HCFException(kInternalInconsistencyException,
                     "-init is not a valid initializer for the class HTSpectroManager");
}

std::shared_ptr<HTSpectroManager> HTSpectroManager::initWithPeripheral(
    std::shared_ptr<ble::Peripheral> peripheral,
    std::weak_ptr<HTKuboPeripheralManDelegate> delegate) {
  auto manager = std::make_shared<HTSpectroManager>(Token{}, peripheral, std::move(delegate));
  if (peripheral) {
    peripheral->setDelegate(manager);
    peripheral->discoverServices(std::nullopt);
  }
  return manager;
}

const ble::UUID& HTSpectroManager::bleCBUUID() { return kMainService; }

const std::string& HTSpectroManager::bleService() {
  static const std::string text = kMainService.lowercaseString();
  return text;
}

const std::vector<ble::UUID>& HTSpectroManager::services() {
  static const std::vector<ble::UUID> list = {kMainService};
  return list;
}

bool HTSpectroManager::foundAllCharacteristics() const {
  return scan_ && eScan_ && batt_ && ser_ && ver_ && btn_ && connectConfirm_ && chargingStatus_ &&
         error_;
}

void HTSpectroManager::read(const std::shared_ptr<ble::Characteristic>& c) {
  if (c && peripheral_) peripheral_->readValueForCharacteristic(c);
}

void HTSpectroManager::writeCommand(const std::shared_ptr<ble::Characteristic>& c) {
  if (c && peripheral_) {
    peripheral_->writeValue(kCommandByte, c, ble::CharacteristicWriteType::WithResponse);
  }
}

void HTSpectroManager::getStatus() {
  read(ver_);
  read(ser_);
}

void HTSpectroManager::confirmConnection() { writeCommand(connectConfirm_); }

void HTSpectroManager::getBattInfo() {
  read(batt_);
  read(chargingStatus_);
}

void HTSpectroManager::getScan() { writeCommand(scan_); }
void HTSpectroManager::getEScan() { writeCommand(eScan_); }

void HTSpectroManager::didDiscoverServices(ble::Peripheral& peripheral,
                                           const std::optional<ble::Error>& /*error*/) {
  bool sawMain = false;
  for (const auto& service : peripheral.services()) {
    if (service->uuid() != kMainService) continue;
    peripheral.discoverCharacteristics(std::nullopt, service);
    sawMain = true;
  }
  if (!sawMain) {
    if (auto d = delegate()) d->peripheralManagerFailedToInit(*this);
  }
}

void HTSpectroManager::store(const std::shared_ptr<ble::Characteristic>& c) {
  const UUID& u = c->uuid();
  const auto notifying = [&](std::shared_ptr<ble::Characteristic>& slot) {
    slot = c;
    if (peripheral_) peripheral_->setNotifyValue(true, c);
  };
  if (u == kScan) {
    notifying(scan_);
  } else if (u == kEScan) {
    notifying(eScan_);
  } else if (u == shared_gatt::battery()) {
    batt_ = c;
  } else if (u == shared_gatt::serial()) {
    ser_ = c;
  } else if (u == shared_gatt::version()) {
    ver_ = c;
  } else if (u == shared_gatt::button()) {
    notifying(btn_);
  } else if (u == shared_gatt::connectConfirm()) {
    connectConfirm_ = c;
  } else if (u == shared_gatt::chargingStatus()) {
    chargingStatus_ = c;
  } else if (u == kError) {
    notifying(error_);
  }
}

void HTSpectroManager::didDiscoverCharacteristicsForService(
    ble::Peripheral& /*peripheral*/, const std::shared_ptr<ble::Service>& service,
    const std::optional<ble::Error>& /*error*/) {
  if (service->uuid() == kMainService) {
    for (const auto& c : service->characteristics()) store(c);
  }
  if (foundAllCharacteristics()) {
    if (auto d = delegate()) d->peripheralManagerIsReady(*this);
  }
}

// A subscription that failed leaves the request that needed it unanswered: report it.
void HTSpectroManager::didUpdateNotificationStateForCharacteristic(
    ble::Peripheral& /*peripheral*/, const std::shared_ptr<ble::Characteristic>& characteristic,
    const std::optional<ble::Error>& error) {
  auto d = delegate();
  if (d && error && characteristic) d->gotCharacteristicError(characteristic->uuid(), *error);
}

// A value event with an error is a failed answer: the characteristic still holds an earlier
// value, which must not be decoded as a new one.
void HTSpectroManager::didUpdateValueForCharacteristic(
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
  if (u == kScan || u == kEScan) {
    if (auto response = codec::spectralResponse(v)) d->gotSpectralResponse(*response);
  } else if (shared_gatt::report(u, v, *d)) {
    // battery, serial, version, button, charge
  } else if (u == kError) {
    if (auto code = codec::deviceError(v)) d->gotDeviceError(*code);
  }
}

HCF_NAMESPACE_END
