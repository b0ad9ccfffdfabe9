// Discovery on request, then connecting the one instrument the application picks.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "hcf/connect/hcf_connectivity.h"
#include "hcf/connect/hperipheral_wrssi.h"
#include "hcf/core/export.h"
#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN

class HCFConnectionManager;

/// Called once with a discovery pass's instruments, or with none and the error.
using DiscoveryCallback = std::function<void(std::optional<std::vector<HPeripheralWRSSI>> found,
                                             std::optional<HCFError> error)>;
/// Called once when a connection ends: no error once the instrument is the connected device,
/// else why not.
using ConnectCallback = std::function<void(std::optional<HCFError> error)>;

/// Runs 3.0 s discovery passes and connects a chosen peripheral: the instrument is created,
/// identified, calibrated, confirmed and published as the connection manager's connected
/// device. Callbacks and listener reports come on the main queue after the event that caused
/// them. Use on the main queue.
class HCF_API HCFDirectConnectController final
    : public ble::CentralManagerDelegate,
      public std::enable_shared_from_this<HCFDirectConnectController> {
 public:
  /// How long a discovery pass scans.
  static constexpr dispatch::Duration kDiscoveryWindow = std::chrono::milliseconds(3000);
  /// How long the radio may take to connect a peripheral before the attempt fails with 9931
  /// (an instrument out of range never answers; identification and the record then have
  /// bounds of their own).
  static constexpr dispatch::Duration kConnectTimeout = std::chrono::seconds(10);

  /// A controller on `central` publishing into `manager` (held without ownership).
  HCFDirectConnectController(std::weak_ptr<HCFConnectionManager> manager,
                             std::shared_ptr<ble::CentralManager> central);
  ~HCFDirectConnectController() override;

  /// Reports go to `listener` (held without ownership) from now on.
  void updateListener(std::weak_ptr<HCFConnectionManagerDelegate> listener) {
    listener_ = std::move(listener);
  }
  /// One discovery pass on `central`; with `restrict2Dbl` single-click advertisements are
  /// ignored. Results strongest first, already-connected instruments (no signal strength)
  /// last; "No peripherals found" (9007) when there are none. A pass while another is open
  /// restarts the window and replaces the earlier callback without calling it.
  void discoverDevicesWith(std::shared_ptr<ble::CentralManager> central, bool restrict2Dbl,
                           DiscoveryCallback complete);
  /// Connects `peripheral`; the callback gets no error once the instrument is the connected
  /// device.
  void connectTo(std::shared_ptr<ble::Peripheral> peripheral, ConnectCallback onSuccess);
  /// Ends the pending attempt (only when it connects `peripheral`, if given): it is answered
  /// "Operation halted", its link cancelled and the listener told Idle.
  void haltConnection(const std::shared_ptr<ble::Peripheral>& peripheral);
  /// The discovered records sorted strongest first (records without strength last).
  std::vector<HPeripheralWRSSI> sortPeripherals() const;
  /// The records of the current or last discovery pass, in discovery order.
  const std::vector<HPeripheralWRSSI>& discoveredPeripherals() const { return discovered_; }
  /// True while the radio is on (the central reported `ble::ManagerState::PoweredOn`).
  bool bluetoothEnabled() const { return bluetoothEnabled_; }

  // ble::CentralManagerDelegate
  void centralManagerDidUpdateState(ble::CentralManager& central) override;
  void didDiscoverPeripheral(ble::CentralManager& central,
                             const std::shared_ptr<ble::Peripheral>& peripheral,
                             const ble::AdvertisementData& advertisementData, int rssi) override;
  void didConnectPeripheral(ble::CentralManager& central,
                            const std::shared_ptr<ble::Peripheral>& peripheral) override;
  /// Fails the pending attempt on `peripheral` with the platform's error (9010 without one) and
  /// reports Idle.
  void didFailToConnectPeripheral(ble::CentralManager& central,
                                  const std::shared_ptr<ble::Peripheral>& peripheral,
                                  const std::optional<ble::Error>& error) override;
  /// For the attempt's peripheral, fails the attempt (9010); for the connected instrument's,
  /// tells the instrument and clears the manager's device; either way reports Idle.
  void didDisconnectPeripheral(ble::CentralManager& central,
                               const std::shared_ptr<ble::Peripheral>& peripheral,
                               const std::optional<ble::Error>& error) override;

 private:
  void notifyListenersWithState(HCFConnectivityState state);
  std::optional<HCFError> checkForError() const;
  void startDiscovery();
  void onStopDiscovery();
  void sendDiscoveredOnMain();
  void sendConnectedOnMain(std::optional<HCFError> error);
  void becomeDelegate();
  // Ends the connected instrument's link before another is connected: its pending requests
  // are answered and its delegate told now, not when the platform reports the link gone.
  void releaseConnected(HCFConnectionManager& manager);
  // Whether `peripheral` is the one the pending attempt connects.
  bool isConnecting(const std::shared_ptr<ble::Peripheral>& peripheral) const;

  std::weak_ptr<HCFConnectionManager> manager_;
  std::weak_ptr<HCFConnectionManagerDelegate> listener_;
  DiscoveryCallback discoveryBlock_;
  ConnectCallback connectBlock_;
  std::shared_ptr<ble::Peripheral> connecting_;  // the peripheral of the pending attempt
  dispatch::Timer connectTimer_;                 // until the radio reports the connection
  // The main service the attempt's peripheral advertised, kept when the attempt starts: a
  // discovery pass meanwhile clears the list it came from.
  std::optional<std::string> connectingService_;
  bool restrictedDiscovery_ = false;
  dispatch::Timer discoverBleTimer_;
  std::vector<HPeripheralWRSSI> discovered_;
  std::shared_ptr<ble::CentralManager> central_;
  bool bluetoothEnabled_ = false;
};

HCF_NAMESPACE_END
