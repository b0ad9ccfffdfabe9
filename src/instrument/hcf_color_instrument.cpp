#include "hcf/instrument/hcf_color_instrument.h"

#include <algorithm>
#include <cstdio>

#include "../platform/ble/instrument_gatt.h"
#include "disconnector.h"
#include "hcf/core/ht_utility.h"
#include "hcf/instrument/hcf_colorimeter.h"
#include "hcf/instrument/hcf_spectrometer.h"
#include "hcf/link/ht_radius_manager.h"
#include "hcf/link/ht_spectro_manager.h"

HCF_NAMESPACE_BEGIN

namespace {

std::vector<std::shared_ptr<HCFColorInstrument>>& registry() {
  static std::vector<std::shared_ptr<HCFColorInstrument>> devices;
  return devices;
}

PeripheralDisconnector& disconnectorSlot() {
  static PeripheralDisconnector d;
  return d;
}

std::string lowercase(std::string text) {
  for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

void setPeripheralDisconnector(PeripheralDisconnector disconnector) {
  disconnectorSlot() = std::move(disconnector);
}
const PeripheralDisconnector& peripheralDisconnector() { return disconnectorSlot(); }

HCFColorInstrumentDelegate::~HCFColorInstrumentDelegate() = default;
HCFColorInstrumentProto::~HCFColorInstrumentProto() = default;

bool HCFColorInstrumentProto::hasCalibration() const { return true; }

void HCFColorInstrumentProto::requestCalibration(CalibrationCallback callback) {
  if (callback) callback(true, std::nullopt);
}

HCFColorInstrument::~HCFColorInstrument() {
  keepAliveTimer_.cancel();
  handshakeTimer_.cancel();
  batteryTimer_.cancel();
  measurementTimer_.cancel();
}

void HCFColorInstrument::startMeasurementTimer(std::string_view what) {
  measurementTimer_.cancel();
  std::weak_ptr<HCFColorInstrument> weak = weak_from_this();
  measurementTimer_ =
      dispatch::mainQueue().after(kMeasurementTimeout, [weak, what = std::string(what)] {
        if (auto self = weak.lock()) {
          self->failPendingMeasurement(HTUtility::instrumentTimeoutError(what));
        }
      });
}

void HCFColorInstrument::failPendingMeasurement(const HCFError&) {}

void HCFColorInstrument::createWithPeripheral(std::shared_ptr<ble::Peripheral> peripheral,
                                              const std::string& uuid,
                                              InstrumentCallback complete) {
  const std::string service = lowercase(uuid);
  std::shared_ptr<HCFColorInstrument> instrument;
  if (service == HTRadiusManager::bleService()) {
    instrument = std::make_shared<HCFColorimeter>();
  } else if (service == HTSpectroManager::bleService()) {
    instrument = std::make_shared<HCFSpectrometer>();
  } else {
    if (complete) complete(nullptr, HTUtility::unknownDeviceError());
    return;
  }
  if (!peripheral) {
    if (complete) complete(nullptr, HTUtility::devBleInitFailed());
    return;
  }
  // A retry on a peripheral still being identified replaces the earlier instrument: its
  // callback is answered now, and one instrument stays in the registry.
  const auto pending = registry();
  for (const auto& earlier : pending) {
    if (earlier->peripheral_ && earlier->peripheral_->identifier() == peripheral->identifier()) {
      earlier->failInit(HTUtility::operationHaltedError());
    }
  }
  instrument->peripheral_ = peripheral;
  instrument->initBlock_ = std::move(complete);
  instrument->peripheralManagerStarted_ = false;
  registry().push_back(instrument);
  // Identification that never finishes fails instead of leaving the callback pending.
  std::weak_ptr<HCFColorInstrument> weak = instrument;
  instrument->handshakeTimer_ = dispatch::mainQueue().after(kHandshakeTimeout, [weak] {
    if (auto self = weak.lock()) self->failInit(HTUtility::devBleInitFailed());
  });
  // The conversion to the private base is made here, where it is accessible.
  peripheral->setDelegate(std::shared_ptr<ble::PeripheralDelegate>(
      instrument, static_cast<ble::PeripheralDelegate*>(instrument.get())));
  peripheral->discoverServices(serviceUUIDs());
}

const std::vector<ble::UUID>& HCFColorInstrument::serviceUUIDs() {
  static const std::vector<ble::UUID> services = {HTRadiusManager::bleCBUUID(),
                                                  HTSpectroManager::bleCBUUID()};
  return services;
}

const std::vector<std::shared_ptr<HCFColorInstrument>>& HCFColorInstrument::uninitializedDevices() {
  return registry();
}

void HCFColorInstrument::removeFromUninitializedDevs(const HCFColorInstrument& instrument) {
  if (!instrument.peripheral_) return;
  const std::string id = instrument.peripheral_->identifier();
  auto& devices = registry();
  const auto it = std::find_if(devices.begin(), devices.end(), [&](const auto& d) {
    return d->peripheral_ && d->peripheral_->identifier() == id;
  });
  if (it != devices.end()) devices.erase(it);
}

float HCFColorInstrument::getBattPercent(float volts) {
  if (volts >= 4.0f) return 1.0f;
  if (volts < 3.5f) return 0.0f;
  const float above = volts - 3.5f;
  return above + above;
}

void HCFColorInstrument::didDiscoverServices(ble::Peripheral& peripheral,
                                             const std::optional<ble::Error>& /*error*/) {
  if (peripheralManagerStarted_) return;
  const auto instrument = shared_from_this();
  const std::weak_ptr<HTKuboPeripheralManDelegate> self =
      std::shared_ptr<HTKuboPeripheralManDelegate>(
          instrument, static_cast<HTKuboPeripheralManDelegate*>(instrument.get()));
  for (const auto& service : peripheral.services()) {
    if (service->uuid() == HTRadiusManager::bleCBUUID()) {
      peripheralManagerStarted_ = true;
      link_ = HTRadiusManager::initWithPeripheral(peripheral_, self);
    } else if (service->uuid() == HTSpectroManager::bleCBUUID()) {
      peripheralManagerStarted_ = true;
      link_ = HTSpectroManager::initWithPeripheral(peripheral_, self);
    }
  }
}

void HCFColorInstrument::peripheralManagerIsReady(HTKuboPeripheralManager& manager) {
  manager.getStatus();
}

void HCFColorInstrument::peripheralManagerFailedToInit(HTKuboPeripheralManager& /*manager*/) {
  failInit(HTUtility::devBleInitFailed());
}

void HCFColorInstrument::failInit(const HCFError& error) {
  handshakeTimer_.cancel();
  if (!initBlock_) return;
  auto block = std::move(initBlock_);
  initBlock_ = nullptr;
  // The registry may hold the last reference: keep the instrument alive through the call.
  auto keep = shared_from_this();
  removeFromUninitializedDevs(*this);
  block(nullptr, error);
}

void HCFColorInstrument::gotVersion(std::uint8_t major, std::uint8_t minor) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X%02X", major, minor);
  firmwareVersion_ = text;
  checkInitialized();
}

void HCFColorInstrument::gotSerial(const std::string& serial) {
  serial_ = serial;
  checkInitialized();
}

void HCFColorInstrument::checkInitialized() {
  if (serial_.empty() || firmwareVersion_.empty() || !initBlock_) return;
  handshakeTimer_.cancel();
  auto block = std::move(initBlock_);
  initBlock_ = nullptr;
  auto self = shared_from_this();
  block(self, std::nullopt);
  removeFromUninitializedDevs(*this);
}

void HCFColorInstrument::requestBatt(BatteryCallback callback) {
  battBlock_ = std::move(callback);
  battVolts_.reset();
  chargeStatArr_.reset();
  batteryTimer_.cancel();
  std::weak_ptr<HCFColorInstrument> weak = shared_from_this();
  batteryTimer_ = dispatch::mainQueue().after(kBatteryTimeout, [weak] {
    auto self = weak.lock();
    if (!self || !self->battBlock_) return;
    auto block = std::move(self->battBlock_);
    self->battBlock_ = nullptr;
    block(std::nullopt, HTUtility::instrumentTimeoutError("The battery status"));
  });
  if (link_) link_->getBattInfo();
}

void HCFColorInstrument::gotBatt(float volts) {
  battVolts_ = volts;
  respondBattery();
}

void HCFColorInstrument::gotCharging(bool charging, bool onPower) {
  chargeStatArr_ = std::array<bool, 2>{charging, onPower};
  respondBattery();
}

void HCFColorInstrument::respondBattery() {
  if (!battVolts_ || !chargeStatArr_ || !battBlock_) return;
  batteryTimer_.cancel();
  HCFBatteryStatus status;
  status.volts = *battVolts_;
  status.level = getBattPercent(*battVolts_);
  status.isFullyCharged = (*chargeStatArr_)[0];
  status.isOnPower = (*chargeStatArr_)[1];
  auto block = std::move(battBlock_);
  battBlock_ = nullptr;
  block(status, std::nullopt);
}

void HCFColorInstrument::gotCharacteristicError(const ble::UUID& characteristic,
                                                const ble::Error& error) {
  if (characteristic != ble::instrument_gatt::battery() &&
      characteristic != ble::instrument_gatt::chargingStatus()) {
    return;
  }
  if (!battBlock_) return;
  batteryTimer_.cancel();
  auto block = std::move(battBlock_);
  battBlock_ = nullptr;
  block(std::nullopt,
        withPlatformError(HTUtility::errWithMsg("The battery status could not be read",
                                                error_code::kBatteryUnreadable),
                          error));
}

HCFError HCFColorInstrument::withPlatformError(HCFError kitError, const ble::Error& error) {
  kitError.native =
      NativeError{error.domain.empty() ? "gatt" : error.domain, error.code, error.message};
  return kitError;
}

void HCFColorInstrument::gotButtonPress() {
  if (auto d = delegate()) d->buttonPressed(*this);
}

void HCFColorInstrument::setKeepAlive(bool on) {
  if (on) {
    if (keepAliveTimer_.isValid()) return;
    std::weak_ptr<HCFColorInstrument> weak = shared_from_this();
    keepAliveTimer_ = dispatch::mainQueue().every(kKeepAliveInterval, [weak] {
      if (auto self = weak.lock()) self->confirmConnection();
    });
  } else {
    keepAliveTimer_.cancel();
    keepAliveTimer_ = dispatch::Timer();
  }
}

void HCFColorInstrument::confirmConnection() {
  if (link_) link_->confirmConnection();
}

void HCFColorInstrument::disconnect() {
  if (const auto& d = peripheralDisconnector(); d && peripheral_) d(peripheral_);
}

// The instrument is held until its delegate has heard: the application need not hold it.
void HCFColorInstrument::deviceDisconnected() {
  dispatch::mainQueue().async([self = shared_from_this()] {
    self->setKeepAlive(false);
    if (auto d = self->delegate()) d->onDisconnect(*self);
  });
}

HCF_NAMESPACE_END
