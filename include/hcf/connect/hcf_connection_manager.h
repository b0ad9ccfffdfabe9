// The application's entry to everything Bluetooth: discovery, connection (direct or
// hands-free), and the one connected, ready instrument.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "hcf/connect/hcf_connectivity.h"
#include "hcf/connect/hcf_direct_connect_controller.h"
#include "hcf/core/export.h"
#include "hcf/instrument/hcf_color_instrument.h"
#include "hcf/platform/ble/central_manager.h"

HCF_NAMESPACE_BEGIN

class HCFMultiConnectController;

/// Owns the central manager of the configured Bluetooth backend and both connection
/// controllers. Use on the main queue; every callback comes there.
class HCF_API HCFConnectionManager final
    : public ble::CentralManagerDelegate,
      public std::enable_shared_from_this<HCFConnectionManager> {
 public:
  /// Called with the new manager.
  using ManagerCallback = std::function<void(std::shared_ptr<HCFConnectionManager> manager)>;
  /// Called with the error that kept the manager from being made.
  using ErrorHandler = std::function<void(const HCFError& error)>;

  /// Starts the device-data service with `key`, then makes the manager on the configured
  /// Bluetooth backend (`ble::setCentralFactory`). Errors: the service's; 9010 when no
  /// backend is configured.
  static void withB2Key(const std::string& key, ManagerCallback onSuccess, ErrorHandler onError);

  /// The connected, ready instrument, or none.
  const std::shared_ptr<HCFColorInstrument>& connectedDevice() const { return device_; }
  /// Publishes `device` as the connected instrument (null: none). The controllers call it; an
  /// application has no need to.
  void setConnectedDevice(std::shared_ptr<HCFColorInstrument> device);
  /// True while there is a connected, ready instrument.
  bool isConnected() const { return device_ != nullptr; }

  /// The application's listener; handed to the direct-connect controller.
  void setConnectionListener(std::weak_ptr<HCFConnectionManagerDelegate> listener);
  /// One 3.0 s discovery pass (see `HCFDirectConnectController::discoverDevicesWith`). A
  /// running hands-free cycle is stopped first, as by every direct connection.
  void bleDiscoverWithRestricted(bool restricted, DiscoveryCallback onDiscovered);
  /// Connects a discovered peripheral.
  void connectTo(std::shared_ptr<ble::Peripheral> peripheral, ConnectCallback onSuccess);
  /// Discovers, then connects the strongest instrument whose peripheral identifier is exactly
  /// `identifier`; "Device not found" (0) when none, "Operation halted" (0) after `haltConnect`.
  void connectToUUID(const std::string& identifier, ConnectCallback onSuccess);
  /// The same for the instrument whose advertised name ends with `serial` (not empty).
  void connectToSerial(const std::string& serial, ConnectCallback onSuccess);
  /// Abandons a pending connect: one by identifier or serial when its discovery pass reports,
  /// an attempt already under way at once; either is answered "Operation halted" (0).
  void haltConnect();
  /// Starts the hands-free cycle with `listener` (or the recorded one).
  void multiConnectStart(std::weak_ptr<HCFConnectionManagerDelegate> listener);
  /// Starts the hands-free cycle with the listener recorded last.
  void multiConnectStart();
  /// Stops the hands-free cycle (see `HCFMultiConnectController::stop`).
  void multiConnectStop();
  /// Cancels the connection to `peripheral`; the controller receiving the central's events
  /// reports the consequences. A pending attempt on it is answered "Operation halted".
  void disconnect(const std::shared_ptr<ble::Peripheral>& peripheral);

  /// The central manager of the Bluetooth backend.
  const std::shared_ptr<ble::CentralManager>& central() const { return central_; }
  /// The direct-connect controller.
  const std::shared_ptr<HCFDirectConnectController>& directMgr() const { return directMgr_; }
  /// The hands-free controller.
  const std::shared_ptr<HCFMultiConnectController>& multiMgr() const { return multiMgr_; }

  // ble::CentralManagerDelegate (only until the multi-connect controller takes the events)
  void didDiscoverPeripheral(ble::CentralManager& central,
                             const std::shared_ptr<ble::Peripheral>& peripheral,
                             const ble::AdvertisementData& advertisementData, int rssi) override;
  void didConnectPeripheral(ble::CentralManager& central,
                            const std::shared_ptr<ble::Peripheral>& peripheral) override;
  /// Logged only: the controllers handle disconnections.
  void didDisconnectPeripheral(ble::CentralManager& central,
                               const std::shared_ptr<ble::Peripheral>& peripheral,
                               const std::optional<ble::Error>& error) override;

  /// Restricts construction to `withB2Key`.
  struct Token;
  /// For `withB2Key`, which alone holds a `Token`.
  explicit HCFConnectionManager(const Token&);
  ~HCFConnectionManager() override;

 private:
  void stopHandsFreeCycle();
  void connectToMatch(std::function<bool(const HPeripheralWRSSI&)> matches,
                      ConnectCallback onSuccess);

  std::weak_ptr<HCFConnectionManagerDelegate> connectionListener_;
  std::shared_ptr<HCFColorInstrument> device_;
  std::shared_ptr<HCFMultiConnectController> multiMgr_;
  std::shared_ptr<HCFDirectConnectController> directMgr_;
  std::shared_ptr<ble::CentralManager> central_;
  bool haltConnection_ = false;
};

HCF_NAMESPACE_END
