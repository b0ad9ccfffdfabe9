#include "hcf/connect/hcf_direct_connect_controller.h"

#include <algorithm>

#include "../instrument/instrument_link_access.h"
#include "bluetooth_error.h"
#include "hcf/connect/hcf_connection_manager.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/link/ht_radius_manager.h"
#include "hcf/link/ht_spectro_manager.h"
#include "record_list.h"

HCF_NAMESPACE_BEGIN

HCFConnectionManagerDelegate::~HCFConnectionManagerDelegate() = default;
void HCFConnectionManagerDelegate::onWarning(const HCFError&) {}
void HCFConnectionManagerDelegate::onError(const HCFError&) {}

namespace {

ble::ScanOptions instrumentScanOptions() {
  ble::ScanOptions options;
  options.allowDuplicates = false;
  options.solicitedServiceUUIDs = HCFColorInstrument::serviceUUIDs();
  return options;
}

}  // namespace

HCFError bluetoothError(const ble::Error& error) {
  HCFError e;
  e.domain = error.domain.empty() ? "CBErrorDomain" : error.domain;
  e.code = error.code;
  e.localizedDescription = error.message;
  return e;
}

HCFError radioStateError(ble::ManagerState state) {
  switch (state) {
    case ble::ManagerState::Unsupported:
      return HTUtility::errWithMsg(
          "No Bluetooth service is available: there is no adapter, or the Bluetooth service is "
          "not running.",
          error_code::kNoBle);
    case ble::ManagerState::Unauthorized:
      return HTUtility::errWithMsg("This application is not permitted to use Bluetooth.",
                                   error_code::kNoBle);
    case ble::ManagerState::Unknown:
    case ble::ManagerState::Resetting:
      return HTUtility::errWithMsg("Bluetooth is not ready yet; try again in a moment.",
                                   error_code::kNoBle);
    case ble::ManagerState::PoweredOff:
    case ble::ManagerState::PoweredOn:
      break;
  }
  return HTUtility::noBleError();
}

HCFDirectConnectController::HCFDirectConnectController(std::weak_ptr<HCFConnectionManager> manager,
                                                       std::shared_ptr<ble::CentralManager> central)
    : manager_(std::move(manager)), central_(std::move(central)) {}

HCFDirectConnectController::~HCFDirectConnectController() { discoverBleTimer_.cancel(); }

void HCFDirectConnectController::becomeDelegate() {
  if (central_)
    central_->setDelegate(
        std::static_pointer_cast<ble::CentralManagerDelegate>(shared_from_this()));
}

void HCFDirectConnectController::notifyListenersWithState(HCFConnectivityState state) {
  std::weak_ptr<HCFDirectConnectController> weak = shared_from_this();
  dispatch::mainQueue().async([weak, state] {
    auto self = weak.lock();
    if (!self) return;
    if (auto listener = self->listener_.lock()) {
      listener->onStateChanged(state, self->discovered_.size());
    }
  });
}

std::optional<HCFError> HCFDirectConnectController::checkForError() const {
  if (!central_) return radioStateError(ble::ManagerState::Unsupported);
  if (central_->state() != ble::ManagerState::PoweredOn) return radioStateError(central_->state());
  return std::nullopt;
}

void HCFDirectConnectController::centralManagerDidUpdateState(ble::CentralManager& central) {
  bluetoothEnabled_ = central.state() == ble::ManagerState::PoweredOn;
  if (bluetoothEnabled_) return;
  // The platform ends every connection when the radio goes off without reporting each one:
  // a connection under way fails, and the connected instrument is gone (its pending requests
  // are answered).
  connecting_.reset();
  connectTimer_.cancel();
  if (connectBlock_) sendConnectedOnMain(radioStateError(central.state()));
  auto manager = manager_.lock();
  if (!manager) return;
  if (auto device = manager->connectedDevice()) {
    notifyListenersWithState(HCFConnectivityState::Idle);
    InstrumentLinkAccess::deviceDisconnected(*device);
    manager->setConnectedDevice(nullptr);
  }
}

void HCFDirectConnectController::discoverDevicesWith(std::shared_ptr<ble::CentralManager> central,
                                                     bool restrict2Dbl,
                                                     DiscoveryCallback complete) {
  if (central) central_ = std::move(central);
  becomeDelegate();
  restrictedDiscovery_ = restrict2Dbl;
  notifyListenersWithState(HCFConnectivityState::Idle);
  if (auto error = checkForError()) {
    if (complete) {
      dispatch::mainQueue().async(
          [complete, error] { complete(std::vector<HPeripheralWRSSI>{}, error); });
    }
    return;
  }
  discoveryBlock_ = std::move(complete);
  startDiscovery();
}

void HCFDirectConnectController::startDiscovery() {
  if (discoverBleTimer_.isValid()) {
    central_->stopScan();
    discoverBleTimer_.cancel();
  }
  discovered_.clear();
  central_->scanForPeripheralsWithServices(HCFColorInstrument::serviceUUIDs(),
                                           instrumentScanOptions());
  notifyListenersWithState(HCFConnectivityState::Scanning);
  std::weak_ptr<HCFDirectConnectController> weak = shared_from_this();
  discoverBleTimer_ = dispatch::mainQueue().after(kDiscoveryWindow, [weak] {
    if (auto self = weak.lock()) self->onStopDiscovery();
  });
}

void HCFDirectConnectController::onStopDiscovery() {
  if (central_) central_->stopScan();
  discoverBleTimer_ = dispatch::Timer();
  notifyListenersWithState(HCFConnectivityState::Idle);
  sendDiscoveredOnMain();
}

void HCFDirectConnectController::sendDiscoveredOnMain() {
  // Instruments already connected to the phone (they do not advertise), colorimeters first; a
  // peripheral that also advertised keeps its one record.
  const std::pair<const ble::UUID*, const std::string*> services[] = {
      {&HTRadiusManager::bleCBUUID(), &HTRadiusManager::bleService()},
      {&HTSpectroManager::bleCBUUID(), &HTSpectroManager::bleService()}};
  for (const auto& [uuid, text] : services) {
    const auto connected = central_->retrieveConnectedPeripheralsWithServices({*uuid});
    for (auto& record :
         HPeripheralWRSSI::arrayFromPlainPeripherals(connected, uuid->UUIDString())) {
      const bool known = std::any_of(discovered_.begin(), discovered_.end(),
                                     [&](const auto& r) { return r.samePer(record); });
      if (!known) discovered_.push_back(std::move(record));
    }
  }
  discovered_ = sortPeripherals();
  std::weak_ptr<HCFDirectConnectController> weak = shared_from_this();
  dispatch::mainQueue().async([weak] {
    auto self = weak.lock();
    if (!self || !self->discoveryBlock_) return;
    auto block = std::move(self->discoveryBlock_);
    self->discoveryBlock_ = nullptr;
    if (self->discovered_.empty()) {
      block(std::nullopt, HTUtility::noBlePeripheralsError());
    } else {
      block(self->discovered_, std::nullopt);
    }
  });
}

std::vector<HPeripheralWRSSI> HCFDirectConnectController::sortPeripherals() const {
  std::vector<HPeripheralWRSSI> sorted = discovered_;
  std::stable_sort(sorted.begin(), sorted.end(), [](const auto& a, const auto& b) {
    if (a.rssi && b.rssi) return *a.rssi > *b.rssi;
    return a.rssi.has_value() && !b.rssi.has_value();
  });
  return sorted;
}

void HCFDirectConnectController::didDiscoverPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral,
    const ble::AdvertisementData& advertisementData, int rssi) {
  logLine("didDiscoverPeripheral: " + peripheral->name().value_or("(null)"));
  logLine("Found orla: " + peripheral->identifier() + " w/ RSSI " + std::to_string(rssi));
  if (restrictedDiscovery_ && advertisementData.manufacturerData) {
    const auto packet = HCFAdvertisingPacket::fromData(*advertisementData.manufacturerData);
    if (packet && packet->advertisingType == 1) {
      logLine("Single click device - ignore");
      return;
    }
  }
  auto record =
      HPeripheralWRSSI::with(peripheral, rssi, HPeripheralWRSSI::getServiceUUID(advertisementData));
  addOrReplace(discovered_, std::move(record));
}

void HCFDirectConnectController::connectTo(std::shared_ptr<ble::Peripheral> peripheral,
                                           ConnectCallback onSuccess) {
  if (auto error = checkForError(); error || !peripheral) {
    if (onSuccess) {
      const HCFError e = error ? *error : HTUtility::deviceNotFoundError();
      dispatch::mainQueue().async([onSuccess, e] { onSuccess(e); });
    }
    return;
  }
  auto manager = manager_.lock();
  const auto current = manager ? manager->connectedDevice() : nullptr;
  if (current && current->peripheral() &&
      current->peripheral()->identifier() == peripheral->identifier() &&
      current->peripheral()->state() == ble::PeripheralState::Connected) {
    // Already connected: answered at once (the platform ignores a connect request for a
    // peripheral that is up, so the request would wait for ever).
    if (onSuccess) dispatch::mainQueue().async([onSuccess] { onSuccess(std::nullopt); });
    return;
  }
  if (connectBlock_) {
    // A new request replaces a pending attempt: the earlier one is answered, never with the
    // new instrument's outcome.
    auto earlier = std::move(connectBlock_);
    connectBlock_ = nullptr;
    if (connecting_ && connecting_ != peripheral) central_->cancelPeripheralConnection(connecting_);
    dispatch::mainQueue().async([earlier] { earlier(HTUtility::operationHaltedError()); });
  }
  if (current && manager) releaseConnected(*manager);
  becomeDelegate();
  connectBlock_ = std::move(onSuccess);
  connecting_ = peripheral;
  connectingService_ = HPeripheralWRSSI::serviceUUIDforPeripheral(peripheral, discovered_);
  connectTimer_.cancel();
  std::weak_ptr<HCFDirectConnectController> weak = shared_from_this();
  connectTimer_ = dispatch::mainQueue().after(kConnectTimeout, [weak, peripheral] {
    auto self = weak.lock();
    if (!self || self->connecting_ != peripheral) return;
    self->connecting_.reset();
    self->sendConnectedOnMain(HTUtility::instrumentTimeoutError("The connection"));
    if (self->central_) self->central_->cancelPeripheralConnection(peripheral);
    self->notifyListenersWithState(HCFConnectivityState::Idle);
  });
  central_->connectPeripheral(peripheral, ble::ConnectOptions{true, true, true});
  notifyListenersWithState(HCFConnectivityState::Connecting);
}

void HCFDirectConnectController::haltConnection(
    const std::shared_ptr<ble::Peripheral>& peripheral) {
  if (!connecting_ || (peripheral && !isConnecting(peripheral))) return;
  const auto halted = std::move(connecting_);
  connecting_.reset();
  sendConnectedOnMain(HTUtility::operationHaltedError());
  if (central_) central_->cancelPeripheralConnection(halted);
  notifyListenersWithState(HCFConnectivityState::Idle);
}

void HCFDirectConnectController::releaseConnected(HCFConnectionManager& manager) {
  auto device = manager.connectedDevice();
  if (!device) return;
  manager.setConnectedDevice(nullptr);
  InstrumentLinkAccess::deviceDisconnected(*device);
  if (device->peripheral()) central_->cancelPeripheralConnection(device->peripheral());
}

bool HCFDirectConnectController::isConnecting(
    const std::shared_ptr<ble::Peripheral>& peripheral) const {
  return connecting_ && peripheral && connecting_->identifier() == peripheral->identifier();
}

// The pending request's callback is taken now, so that a request made before the answer runs
// never receives this one's outcome.
void HCFDirectConnectController::sendConnectedOnMain(std::optional<HCFError> error) {
  if (!connectBlock_) return;
  auto block = std::move(connectBlock_);
  connectBlock_ = nullptr;
  dispatch::mainQueue().async([block = std::move(block), error] { block(error); });
}

void HCFDirectConnectController::didConnectPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral) {
  if (!isConnecting(peripheral)) return;  // an attempt a later request replaced
  connectTimer_.cancel();
  notifyListenersWithState(HCFConnectivityState::Initializing);
  auto uuid = connectingService_;
  if (!uuid) uuid = HPeripheralWRSSI::serviceUUIDforPeripheral(peripheral, discovered_);
  std::weak_ptr<HCFDirectConnectController> weak = shared_from_this();
  HCFColorInstrument::createWithPeripheral(
      peripheral, uuid.value_or(""),
      [weak, peripheral](std::shared_ptr<HCFColorInstrument> instrument,
                         std::optional<HCFError> error) {
        auto self = weak.lock();
        // An attempt whose link dropped (already answered) or that a later request replaced.
        if (!self || !self->isConnecting(peripheral)) return;
        if (error || !instrument) {
          self->connecting_.reset();
          self->sendConnectedOnMain(error ? error : HTUtility::devBleInitFailed());
          if (self->central_) self->central_->cancelPeripheralConnection(peripheral);
          self->notifyListenersWithState(HCFConnectivityState::Idle);
          return;
        }
        // The callback keeps the instrument alive until its calibration has loaded.
        instrument->loadCalibration([weak, instrument](std::optional<HCFError> loadError) {
          auto me = weak.lock();
          // Neither publish nor report Connected for a link that dropped meanwhile.
          if (!me || !me->isConnecting(instrument->peripheral())) return;
          me->connecting_.reset();
          if (loadError) {
            me->sendConnectedOnMain(loadError);
            if (me->central_) me->central_->cancelPeripheralConnection(instrument->peripheral());
            me->notifyListenersWithState(HCFConnectivityState::Idle);
            return;
          }
          instrument->confirmConnection();
          instrument->setKeepAlive(true);  // the instrument's keep-alive, every 90 s
          if (auto manager = me->manager_.lock()) manager->setConnectedDevice(instrument);
          me->sendConnectedOnMain(std::nullopt);
          me->notifyListenersWithState(HCFConnectivityState::Connected);
        });
      });
}

void HCFDirectConnectController::didFailToConnectPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral,
    const std::optional<ble::Error>& error) {
  logLine("didFailToConnectPeripheral");
  if (!isConnecting(peripheral)) return;
  connecting_.reset();
  sendConnectedOnMain(error ? bluetoothError(*error) : HTUtility::devBleInitFailed());
  notifyListenersWithState(HCFConnectivityState::Idle);
}

void HCFDirectConnectController::didDisconnectPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral,
    const std::optional<ble::Error>& /*error*/) {
  logLine("didDisconnectPeripheral: " + peripheral->identifier());
  auto manager = manager_.lock();
  auto device = manager ? manager->connectedDevice() : nullptr;
  const bool connected = device && device->peripheral() &&
                         device->peripheral()->identifier() == peripheral->identifier();
  // The link of an instrument already released (another was connected since) says nothing
  // about the current one.
  if (!connected && !isConnecting(peripheral)) return;
  if (isConnecting(peripheral)) {
    // Lost while being identified or while its record loads: the attempt fails now.
    connecting_.reset();
    sendConnectedOnMain(HTUtility::devBleInitFailed());
  }
  notifyListenersWithState(HCFConnectivityState::Idle);
  if (connected) {
    InstrumentLinkAccess::deviceDisconnected(*device);
    manager->setConnectedDevice(nullptr);
  }
}

HCF_NAMESPACE_END
