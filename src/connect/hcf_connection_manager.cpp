#include "hcf/connect/hcf_connection_manager.h"

#include "../instrument/disconnector.h"
#include "hcf/cloud/hi_tintra.h"
#include "hcf/connect/hcf_multi_connect_controller.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"

HCF_NAMESPACE_BEGIN

struct HCFConnectionManager::Token {};

HCFConnectionManager::HCFConnectionManager(const Token&) {}
HCFConnectionManager::~HCFConnectionManager() = default;

void HCFConnectionManager::withB2Key(const std::string& key, ManagerCallback onSuccess,
                                     ErrorHandler onError) {
  HITintra::startWithKey(
      key,
      [onSuccess, onError](HITintraSession&) {
        auto manager = std::make_shared<HCFConnectionManager>(Token{});
        manager->central_ =
            ble::makeCentralManager(std::static_pointer_cast<ble::CentralManagerDelegate>(manager));
        if (!manager->central_) {
          if (onError) {
            onError(HTUtility::errWithMsg("No Bluetooth backend is configured",
                                          error_code::kNoBluetoothBackend));
          }
          return;
        }
        manager->multiMgr_ =
            HCFMultiConnectController::initWithCBManager(manager->central_, manager);
        manager->directMgr_ =
            std::make_shared<HCFDirectConnectController>(manager, manager->central_);
        // Instruments ask this manager to drop their peripheral.
        std::weak_ptr<HCFConnectionManager> weak = manager;
        setPeripheralDisconnector([weak](const std::shared_ptr<ble::Peripheral>& p) {
          if (auto m = weak.lock()) m->disconnect(p);
        });
        if (onSuccess) onSuccess(manager);
      },
      [onError](const HCFError& error) {
        if (onError) onError(error);
      });
}

void HCFConnectionManager::setConnectedDevice(std::shared_ptr<HCFColorInstrument> device) {
  device_ = std::move(device);
}

void HCFConnectionManager::setConnectionListener(
    std::weak_ptr<HCFConnectionManagerDelegate> listener) {
  connectionListener_ = listener;
  if (directMgr_) directMgr_->updateListener(std::move(listener));
}

// A discovery pass or a direct connection stops the hands-free cycle first: both would take
// the central's events and the connection from under it.
void HCFConnectionManager::stopHandsFreeCycle() {
  if (multiMgr_ && multiMgr_->started()) multiMgr_->stop();
}

void HCFConnectionManager::bleDiscoverWithRestricted(bool restricted,
                                                     DiscoveryCallback onDiscovered) {
  stopHandsFreeCycle();
  directMgr_->discoverDevicesWith(central_, restricted, std::move(onDiscovered));
}

void HCFConnectionManager::connectTo(std::shared_ptr<ble::Peripheral> peripheral,
                                     ConnectCallback onSuccess) {
  stopHandsFreeCycle();
  directMgr_->connectTo(std::move(peripheral), std::move(onSuccess));
}

void HCFConnectionManager::connectToMatch(std::function<bool(const HPeripheralWRSSI&)> matches,
                                          ConnectCallback onSuccess) {
  haltConnection_ = false;
  std::weak_ptr<HCFConnectionManager> weak = shared_from_this();
  bleDiscoverWithRestricted(false, [weak, matches, onSuccess](auto found, auto error) {
    auto self = weak.lock();
    if (!self) return;
    if (self->haltConnection_) {
      if (onSuccess) onSuccess(HTUtility::operationHaltedError());
      return;
    }
    if (error) {
      if (onSuccess) onSuccess(error);
      return;
    }
    if (found) {
      for (const auto& record : *found) {
        if (matches(record)) {
          self->connectTo(record.peripheral, onSuccess);
          return;
        }
      }
    }
    if (onSuccess) onSuccess(HTUtility::deviceNotFoundError());
  });
}

void HCFConnectionManager::connectToUUID(const std::string& identifier, ConnectCallback onSuccess) {
  connectToMatch(
      [identifier](const HPeripheralWRSSI& r) {
        return r.peripheral && r.peripheral->identifier() == identifier;
      },
      std::move(onSuccess));
}

void HCFConnectionManager::connectToSerial(const std::string& serial, ConnectCallback onSuccess) {
  connectToMatch(
      [serial](const HPeripheralWRSSI& r) {
        if (serial.empty() || !r.peripheral) return false;
        const auto name = r.peripheral->name();
        return name && name->size() >= serial.size() &&
               name->compare(name->size() - serial.size(), serial.size(), serial) == 0;
      },
      std::move(onSuccess));
}

void HCFConnectionManager::multiConnectStart(std::weak_ptr<HCFConnectionManagerDelegate> listener) {
  multiMgr_->start(std::move(listener));
}

void HCFConnectionManager::multiConnectStart() { multiConnectStart(connectionListener_); }

void HCFConnectionManager::multiConnectStop() { multiMgr_->stop(); }

void HCFConnectionManager::haltConnect() {
  haltConnection_ = true;
  if (directMgr_) directMgr_->haltConnection(nullptr);
}

void HCFConnectionManager::disconnect(const std::shared_ptr<ble::Peripheral>& peripheral) {
  if (directMgr_ && peripheral) directMgr_->haltConnection(peripheral);
  if (central_ && peripheral) central_->cancelPeripheralConnection(peripheral);
}

void HCFConnectionManager::didDiscoverPeripheral(ble::CentralManager&,
                                                 const std::shared_ptr<ble::Peripheral>& peripheral,
                                                 const ble::AdvertisementData&, int) {
  logLine("didDiscoverPeripheral: " + peripheral->name().value_or("(null)"));
}

void HCFConnectionManager::didConnectPeripheral(ble::CentralManager&,
                                                const std::shared_ptr<ble::Peripheral>&) {
  logLine("didConnectPeripheral");
}

void HCFConnectionManager::didDisconnectPeripheral(
    ble::CentralManager&, const std::shared_ptr<ble::Peripheral>& peripheral,
    const std::optional<ble::Error>&) {
  logLine("didDisconnectPeripheral: " + peripheral->identifier());
}

HCF_NAMESPACE_END
