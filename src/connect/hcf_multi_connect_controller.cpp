#include "hcf/connect/hcf_multi_connect_controller.h"

#include <algorithm>

#include "../instrument/instrument_link_access.h"
#include "hcf/connect/hcf_connection_manager.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/link/ht_radius_manager.h"
#include "hcf/link/ht_spectro_manager.h"
#include "record_list.h"

HCF_NAMESPACE_BEGIN

namespace {

bool samePeripheral(const std::shared_ptr<ble::Peripheral>& a,
                    const std::shared_ptr<ble::Peripheral>& b) {
  return a && b && a->identifier() == b->identifier();
}

}  // namespace

struct HCFMultiConnectController::Token {};

HCFMultiConnectController::HCFMultiConnectController(const Token&,
                                                     std::shared_ptr<ble::CentralManager> central,
                                                     std::weak_ptr<HCFConnectionManager> manager)
    : manager_(std::move(manager)), central_(std::move(central)) {}

HCFMultiConnectController::~HCFMultiConnectController() {
  for (auto* t : {&discoverBleTimer_, &stopConnectingTimer_, &stopWaitingTimer_, &restartTimer_}) {
    t->cancel();
  }
}

std::shared_ptr<HCFMultiConnectController> HCFMultiConnectController::initWithCBManager(
    std::shared_ptr<ble::CentralManager> central, std::weak_ptr<HCFConnectionManager> manager) {
  auto controller =
      std::make_shared<HCFMultiConnectController>(Token{}, std::move(central), std::move(manager));
  controller->becomeDelegate();
  return controller;
}

void HCFMultiConnectController::becomeDelegate() {
  if (central_) {
    central_->setDelegate(
        std::static_pointer_cast<ble::CentralManagerDelegate>(shared_from_this()));
  }
}

bool HCFMultiConnectController::managerHasDevice() const {
  auto m = manager();
  return m && m->isConnected();
}

void HCFMultiConnectController::notifyListener() {
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  dispatch::mainQueue().async([weak] {
    auto self = weak.lock();
    if (!self) return;
    if (auto listener = self->listener_.lock()) {
      listener->onStateChanged(self->state_, self->discovered_.size());
    }
  });
}

void HCFMultiConnectController::start(std::weak_ptr<HCFConnectionManagerDelegate> listener) {
  // A start while the cycle runs begins it anew: the earlier cycle lets its instruments go
  // first, so the new one connects them again and hears their buttons.
  if (started_) stop();
  becomeDelegate();
  listener_ = std::move(listener);
  started_ = true;
  if (managerHasDevice()) {
    updateConnectivityState(HCFConnectivityState::Connected);
  } else {
    restart();
  }
}

void HCFMultiConnectController::stop() {
  started_ = false;
  if (state_ == HCFConnectivityState::AwaitingConfirmation && stopWaitingTimer_.isValid()) {
    stopWaitingTimer_.cancel();
    disconnectFromColorimeters(connectedDevices_);
    restart();
  } else if (state_ == HCFConnectivityState::Connecting && stopConnectingTimer_.isValid()) {
    stopConnectingTimer_.cancel();
    restart();
  } else if (state_ == HCFConnectivityState::Scanning && discoverBleTimer_.isValid()) {
    discoverBleTimer_.cancel();
    if (central_) central_->stopScan();
    restart();
  }
}

void HCFMultiConnectController::restart(const std::optional<std::string>& message) {
  if (message) logLine(*message);
  deviceAwaitingCalibration_.reset();
  connectedDevices_.clear();
  discovered_.clear();
  ++cycle_;
  updateConnectivityState(HCFConnectivityState::Idle);
}

void HCFMultiConnectController::updateConnectivityState(HCFConnectivityState state) {
  state_ = state;
  notifyListener();
  discoverBleTimer_.cancel();
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  switch (state) {
    case HCFConnectivityState::Idle:
      if (started_ && !pausingDisconnect_) {
        restartTimer_ = dispatch::mainQueue().after(kRestartPause, [weak] {
          auto self = weak.lock();
          // A stop during the pause keeps the controller resting.
          if (self && self->started_ && self->state_ == HCFConnectivityState::Idle) {
            self->updateConnectivityState(HCFConnectivityState::Scanning);
          }
        });
      }
      break;
    case HCFConnectivityState::Scanning: {
      ble::ScanOptions options;
      options.allowDuplicates = false;
      options.solicitedServiceUUIDs = HCFColorInstrument::serviceUUIDs();
      if (central_)
        central_->scanForPeripheralsWithServices(HCFColorInstrument::serviceUUIDs(), options);
      discoverBleTimer_ = dispatch::mainQueue().after(kScanWindow, [weak, cycle = cycle_] {
        auto self = weak.lock();
        if (self && self->cycle_ == cycle) self->onStopScanning();
      });
      break;
    }
    case HCFConnectivityState::Connecting:
      if (!discovered_.empty()) {
        if (!started_) {
          restart();
          return;
        }
        stopConnectingTimer_ = dispatch::mainQueue().after(kConnectWindow, [weak, cycle = cycle_] {
          auto self = weak.lock();
          if (self && self->cycle_ == cycle) self->onStopConnecting();
        });
        connectToPeripherals(discovered_);
      } else if (!connectedDevices_.empty()) {
        updateConnectivityState(HCFConnectivityState::AwaitingConfirmation);
      } else {
        restart("No devices found");
      }
      break;
    case HCFConnectivityState::AwaitingConfirmation:
      // Each window belongs to its cycle: one of an earlier cycle never acts in a later one.
      stopWaitingTimer_ = dispatch::mainQueue().after(kConfirmationWindow, [weak, cycle = cycle_] {
        auto self = weak.lock();
        if (self && self->cycle_ == cycle) self->onStopAwaitingConfirmation();
      });
      break;
    case HCFConnectivityState::Initializing: {
      disconnectedFromUnconfirmedDevices();
      auto device = deviceAwaitingCalibration_;
      if (!device) {
        restart();
        return;
      }
      device->loadCalibration([weak, device](std::optional<HCFError> error) {
        auto self = weak.lock();
        if (!self) return;
        if (error) {
          if (auto listener = self->listener_.lock()) listener->onError(*error);
          if (self->central_) self->central_->cancelPeripheralConnection(device->peripheral());
          self->restart();
          return;
        }
        device->setKeepAlive(true);  // the instrument's keep-alive, every 90 s
        if (auto m = self->manager()) m->setConnectedDevice(device);
        self->deviceAwaitingCalibration_.reset();
        self->updateConnectivityState(HCFConnectivityState::Connected);
      });
      break;
    }
    case HCFConnectivityState::Connected:
    case HCFConnectivityState::NotStarted:
      break;
  }
}

void HCFMultiConnectController::onStopScanning() {
  discoverBleTimer_ = dispatch::Timer();
  if (central_) central_->stopScan();
  const auto cycle = cycle_;
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  fetchConnectedDevs([weak, cycle](std::vector<std::shared_ptr<HCFColorInstrument>> devices) {
    auto self = weak.lock();
    if (!self || self->cycle_ != cycle) return;  // a restart began another cycle meanwhile
    self->connectedDevices_ = std::move(devices);
    self->updateConnectivityState(HCFConnectivityState::Connecting);
  });
}

// The instruments already connected to the phone, identified one after another.
struct HCFMultiConnectController::Collection {
  std::vector<HPeripheralWRSSI> records;
  std::size_t next = 0;
  std::vector<std::shared_ptr<HCFColorInstrument>> kept;
  std::function<void(std::vector<std::shared_ptr<HCFColorInstrument>>)> done;
  dispatch::Timer bound;
  std::string awaitingConnect;  ///< identifier of the peripheral being connected to this central
};

void HCFMultiConnectController::collectNext(const std::shared_ptr<Collection>& c) {
  if (c->next >= c->records.size()) {
    if (collection_ == c) collection_.reset();
    if (auto done = std::move(c->done)) {
      c->done = nullptr;
      done(std::move(c->kept));
    }
    return;
  }
  const std::size_t index = c->next;
  std::weak_ptr<Collection> weakC = c;
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  c->bound = dispatch::mainQueue().after(kAlreadyConnectedWait, [weak, weakC, index] {
    auto self = weak.lock();
    auto me = weakC.lock();
    if (!self || !me || me->next != index) return;
    me->awaitingConnect.clear();
    ++me->next;
    self->collectNext(me);
  });
  const auto& peripheral = c->records[index].peripheral;
  if (peripheral->state() == ble::PeripheralState::Connected || !central_) {
    collectCreate(c, index);
  } else {
    // Connected to the phone is not connected to this application: connect it here first
    // (at once, as it is in range and linked); its connection event continues the collection.
    c->awaitingConnect = peripheral->identifier();
    central_->connectPeripheral(peripheral, ble::ConnectOptions{true, true, true});
  }
}

void HCFMultiConnectController::collectCreate(const std::shared_ptr<Collection>& c,
                                              std::size_t index) {
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  // The pending creation holds the collection until it answers or is given up on.
  HCFColorInstrument::createWithPeripheral(
      c->records[index].peripheral, c->records[index].serviceUUID.value_or(""),
      [weak, c, index](std::shared_ptr<HCFColorInstrument> instrument,
                       std::optional<HCFError> error) {
        auto self = weak.lock();
        if (!self || c->next != index) return;  // already given up on
        c->bound.cancel();
        if (!error && instrument) c->kept.push_back(std::move(instrument));
        ++c->next;
        self->collectNext(c);
      });
}

void HCFMultiConnectController::fetchConnectedDevs(
    std::function<void(std::vector<std::shared_ptr<HCFColorInstrument>>)> done) {
  // Colorimeters first. One whose identification takes longer than kAlreadyConnectedWait is
  // left out, so that no instrument can hold the cycle.
  auto c = std::make_shared<Collection>();
  c->done = std::move(done);
  if (central_) {
    for (const auto* service : {&HTRadiusManager::bleCBUUID(), &HTSpectroManager::bleCBUUID()}) {
      auto records = HPeripheralWRSSI::arrayFromPlainPeripherals(
          central_->retrieveConnectedPeripheralsWithServices({*service}), service->UUIDString());
      c->records.insert(c->records.end(), records.begin(), records.end());
    }
  }
  collection_ = c;
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  dispatch::mainQueue().async([weak, c] {
    if (auto self = weak.lock()) self->collectNext(c);
  });
}

void HCFMultiConnectController::connectToPeripherals(const std::vector<HPeripheralWRSSI>& records) {
  if (!central_) return;
  central_->stopScan();
  for (const auto& r : records) {
    if (r.peripheral)
      central_->connectPeripheral(r.peripheral, ble::ConnectOptions{true, true, true});
  }
}

void HCFMultiConnectController::disconnectFromPeripherals(
    const std::vector<std::shared_ptr<ble::Peripheral>>& peripherals) {
  if (!central_) return;
  for (const auto& p : peripherals) central_->cancelPeripheralConnection(p);
}

void HCFMultiConnectController::letGo(const std::shared_ptr<ble::Peripheral>& peripheral) {
  // Never the manager's instrument: the application may have connected it meanwhile.
  auto m = manager();
  auto current = m ? m->connectedDevice() : nullptr;
  if (current && samePeripheral(current->peripheral(), peripheral)) return;
  if (central_ && peripheral) central_->cancelPeripheralConnection(peripheral);
}

void HCFMultiConnectController::disconnectFromColorimeters(
    const std::vector<std::shared_ptr<HCFColorInstrument>>& devices) {
  if (!central_) return;
  for (const auto& d : devices) {
    if (d && d->peripheral()) central_->cancelPeripheralConnection(d->peripheral());
  }
}

void HCFMultiConnectController::disconnectedFromUnconfirmedDevices() {
  const auto chosen =
      deviceAwaitingCalibration_ ? deviceAwaitingCalibration_->peripheral() : nullptr;
  std::vector<std::shared_ptr<HCFColorInstrument>> others;
  for (const auto& d : connectedDevices_) {
    if (!samePeripheral(d->peripheral(), chosen)) others.push_back(d);
  }
  disconnectFromColorimeters(others);
  connectedDevices_.clear();
  discovered_.clear();
}

void HCFMultiConnectController::onStopConnecting() {
  stopConnectingTimer_ = dispatch::Timer();
  if (state_ != HCFConnectivityState::Connecting) return;
  if (!connectedDevices_.empty()) {
    updateConnectivityState(HCFConnectivityState::AwaitingConfirmation);
    return;
  }
  std::vector<std::shared_ptr<ble::Peripheral>> peripherals;
  for (const auto& r : discovered_) peripherals.push_back(r.peripheral);
  disconnectFromPeripherals(peripherals);
  restart("Disconnected from peripherals and restarting");
}

void HCFMultiConnectController::onStopAwaitingConfirmation() {
  stopWaitingTimer_ = dispatch::Timer();
  if (state_ != HCFConnectivityState::AwaitingConfirmation || managerHasDevice()) return;
  disconnectFromColorimeters(connectedDevices_);
  if (started_) {
    if (auto listener = listener_.lock()) {
      listener->onWarning(HTUtility::connectionConfirmBtnTimeoutError());
    }
  }
  restart();
}

void HCFMultiConnectController::buttonPressed(HCFColorInstrument& instrument) {
  if (managerHasDevice() || state_ != HCFConnectivityState::AwaitingConfirmation) return;
  stopWaitingTimer_.cancel();
  deviceAwaitingCalibration_ = instrument.shared_from_this();
  instrument.confirmConnection();
  updateConnectivityState(HCFConnectivityState::Initializing);
}

void HCFMultiConnectController::onDisconnect(HCFColorInstrument& /*instrument*/) {}

void HCFMultiConnectController::centralManagerDidUpdateState(ble::CentralManager& central) {
  if (central.state() == ble::ManagerState::PoweredOn) {
    bluetoothEnabled_ = true;
    if (started_) restart("BLE Powered On");
  } else {
    bluetoothEnabled_ = false;
    // The cycle ends with the radio: its windows close, and the listener hears it.
    for (auto* t :
         {&discoverBleTimer_, &stopConnectingTimer_, &stopWaitingTimer_, &restartTimer_}) {
      t->cancel();
    }
    ++cycle_;
    deviceAwaitingCalibration_.reset();
    discovered_.clear();
    if (state_ != HCFConnectivityState::NotStarted && state_ != HCFConnectivityState::Idle) {
      state_ = HCFConnectivityState::Idle;
      notifyListener();
    }
    // The platform ends every connection with the radio, without reporting each one.
    const auto gone = std::move(connectedDevices_);
    connectedDevices_.clear();
    auto m = manager();
    auto current = m ? m->connectedDevice() : nullptr;
    if (current && std::find(gone.begin(), gone.end(), current) == gone.end()) {
      InstrumentLinkAccess::deviceDisconnected(*current);
    }
    if (current) m->setConnectedDevice(nullptr);
    for (const auto& device : gone) InstrumentLinkAccess::deviceDisconnected(*device);
  }
}

void HCFMultiConnectController::didDiscoverPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral,
    const ble::AdvertisementData& advertisementData, int rssi) {
  logLine("didDiscoverPeripheral: " + peripheral->name().value_or("(null)"));
  logLine("Found peripheral: " + peripheral->identifier() + " w/ RSSI " + std::to_string(rssi));
  if (advertisementData.manufacturerData) {
    const auto packet = HCFAdvertisingPacket::fromData(*advertisementData.manufacturerData);
    if (packet && packet->advertisingType == 1) {
      logLine("Single click device - ignore");
      return;
    }
  }
  auto record =
      HPeripheralWRSSI::with(peripheral, rssi, HPeripheralWRSSI::getServiceUUID(advertisementData));
  addOrReplace(discovered_, std::move(record));
  notifyListener();
}

void HCFMultiConnectController::didConnectPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral) {
  if (auto c = collection_;
      c && !c->awaitingConnect.empty() && c->awaitingConnect == peripheral->identifier()) {
    c->awaitingConnect.clear();
    collectCreate(c, c->next);
    return;
  }
  const auto uuid = HPeripheralWRSSI::serviceUUIDforPeripheral(peripheral, discovered_);
  logLine("didConnectPeripheral, peripheral's found UUID: " + uuid.value_or("(null)"));
  std::weak_ptr<HCFMultiConnectController> weak = shared_from_this();
  HCFColorInstrument::createWithPeripheral(
      peripheral, uuid.value_or(""),
      [weak, peripheral, cycle = cycle_](std::shared_ptr<HCFColorInstrument> instrument,
                                         std::optional<HCFError> error) {
        auto self = weak.lock();
        if (!self) return;
        if (error || !instrument) {
          logLine("Multiconnect didn't connect to a peripheral: " +
                  (error ? error->localizedDescription : std::string("(null)")));
          self->letGo(peripheral);  // identification failed: nothing to keep it for
          return;
        }
        // Identified after the button chose another, after a stop, or after its cycle ended:
        // only that instrument is let go (an instrument the application connected meanwhile
        // stays, and the listener hears nothing of it).
        const bool awaited = self->started_ && self->cycle_ == cycle &&
                             (self->state_ == HCFConnectivityState::Connecting ||
                              self->state_ == HCFConnectivityState::AwaitingConfirmation);
        if (!awaited) {
          self->letGo(peripheral);
          return;
        }
        instrument->setDelegate(std::static_pointer_cast<HCFColorInstrumentDelegate>(self));
        auto& devices = self->connectedDevices_;
        const auto it = std::find_if(devices.begin(), devices.end(), [&](const auto& d) {
          return d->serial() == instrument->serial();
        });
        if (it != devices.end()) {
          *it = instrument;
        } else {
          devices.push_back(instrument);
        }
        if (self->state_ == HCFConnectivityState::Connecting &&
            devices.size() >= self->discovered_.size()) {
          self->stopConnectingTimer_.cancel();
          self->updateConnectivityState(HCFConnectivityState::AwaitingConfirmation);
        }
      });
}

void HCFMultiConnectController::didFailToConnectPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& /*peripheral*/,
    const std::optional<ble::Error>& /*error*/) {
  logLine("didFailToConnectPeripheral");
}

void HCFMultiConnectController::didDisconnectPeripheral(
    ble::CentralManager& /*central*/, const std::shared_ptr<ble::Peripheral>& peripheral,
    const std::optional<ble::Error>& /*error*/) {
  logLine("didDisconnectPeripheral: " + peripheral->identifier());
  auto& devices = connectedDevices_;
  const auto it = std::find_if(devices.begin(), devices.end(), [&](const auto& d) {
    return samePeripheral(d->peripheral(), peripheral);
  });
  if (it != devices.end()) devices.erase(it);
  auto m = manager();
  if (!m) return;
  auto device = m->connectedDevice();
  if (device && samePeripheral(device->peripheral(), peripheral)) {
    m->setConnectedDevice(nullptr);
    InstrumentLinkAccess::deviceDisconnected(*device);
    if (state_ == HCFConnectivityState::Connected) restart();
  }
}

HCF_NAMESPACE_END
