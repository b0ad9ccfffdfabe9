// The hands-free way of choosing an instrument: scan, connect everything that advertised, and
// keep the one whose button is pressed.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/connect/hcf_connectivity.h"
#include "hcf/connect/hperipheral_wrssi.h"
#include "hcf/core/export.h"
#include "hcf/instrument/hcf_color_instrument.h"
#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN

class HCFConnectionManager;

/// Cycles through its windows while started: a 0.2 s pause, a 6.0 s scan, a 10.0 s connect
/// window, a 20.0 s wait for a button press; the pressed instrument is calibrated and becomes
/// the connection manager's connected device, the others are disconnected. Use on the main
/// queue; listener reports come there, after the transition that caused them.
class HCF_API HCFMultiConnectController final
    : public ble::CentralManagerDelegate,
      public HCFColorInstrumentDelegate,
      public std::enable_shared_from_this<HCFMultiConnectController> {
 public:
  /// The pause in Idle before the next scan.
  static constexpr dispatch::Duration kRestartPause = std::chrono::milliseconds(200);
  /// How long a scan collects advertising instruments.
  static constexpr dispatch::Duration kScanWindow = std::chrono::milliseconds(6000);
  /// How long the instruments found get to connect.
  static constexpr dispatch::Duration kConnectWindow = std::chrono::milliseconds(10000);
  /// How long the connected instruments wait for a button press.
  static constexpr dispatch::Duration kConfirmationWindow = std::chrono::milliseconds(20000);
  /// How long the identification of one instrument already connected to the phone may take
  /// before the cycle goes on without it.
  static constexpr dispatch::Duration kAlreadyConnectedWait = std::chrono::milliseconds(5000);

  /// A controller on `central` publishing into `manager`; it becomes the central's receiver.
  static std::shared_ptr<HCFMultiConnectController> initWithCBManager(
      std::shared_ptr<ble::CentralManager> central, std::weak_ptr<HCFConnectionManager> manager);
  ~HCFMultiConnectController() override;

  /// Starts the cycle reporting to `listener` (Connected at once when the manager already has
  /// a connected device).
  void start(std::weak_ptr<HCFConnectionManagerDelegate> listener);
  /// Ends the cycle: the open window is closed, what it connected is disconnected, and the
  /// controller rests in Idle.
  void stop();
  /// Clears the cycle's instruments and enters Idle (which scans again while started).
  void restart(const std::optional<std::string>& message = std::nullopt);
  /// The state machine.
  void updateConnectivityState(HCFConnectivityState state);

  /// While true, returning to Idle does not start a new scan.
  void setPausingDisconnect(bool pausing) { pausingDisconnect_ = pausing; }
  /// See `setPausingDisconnect`.
  bool pausingDisconnect() const { return pausingDisconnect_; }
  /// The state the cycle is in.
  HCFConnectivityState state() const { return state_; }
  /// True between `start` and `stop`.
  bool started() const { return started_; }
  /// True while the radio is on (the central reported `ble::ManagerState::PoweredOn`).
  bool bluetoothEnabled() const { return bluetoothEnabled_; }
  /// The instruments the current cycle's scan found.
  const std::vector<HPeripheralWRSSI>& discoveredPeripherals() const { return discovered_; }
  /// The instruments the current cycle connected, waiting for a button press.
  const std::vector<std::shared_ptr<HCFColorInstrument>>& connectedDevices() const {
    return connectedDevices_;
  }

  // HCFColorInstrumentDelegate
  /// In the confirmation window (and with no connected device yet), `instrument` is the one:
  /// it is confirmed and calibrated (Initializing).
  void buttonPressed(HCFColorInstrument& instrument) override;
  /// Nothing: the central's disconnection event does the work.
  void onDisconnect(HCFColorInstrument& instrument) override;

  // ble::CentralManagerDelegate
  void centralManagerDidUpdateState(ble::CentralManager& central) override;
  void didDiscoverPeripheral(ble::CentralManager& central,
                             const std::shared_ptr<ble::Peripheral>& peripheral,
                             const ble::AdvertisementData& advertisementData, int rssi) override;
  void didConnectPeripheral(ble::CentralManager& central,
                            const std::shared_ptr<ble::Peripheral>& peripheral) override;
  /// Logged only: an instrument that does not connect is left out of the cycle.
  void didFailToConnectPeripheral(ble::CentralManager& central,
                                  const std::shared_ptr<ble::Peripheral>& peripheral,
                                  const std::optional<ble::Error>& error) override;
  /// Drops the instrument from the cycle's; when it was the manager's connected device, the
  /// device is cleared, told, and a Connected cycle starts again.
  void didDisconnectPeripheral(ble::CentralManager& central,
                               const std::shared_ptr<ble::Peripheral>& peripheral,
                               const std::optional<ble::Error>& error) override;

  /// Restricts construction to `initWithCBManager`.
  struct Token;
  /// For `initWithCBManager`, which alone holds a `Token`.
  HCFMultiConnectController(const Token&, std::shared_ptr<ble::CentralManager> central,
                            std::weak_ptr<HCFConnectionManager> manager);

 private:
  void becomeDelegate();
  void notifyListener();
  void onStopScanning();
  void onStopConnecting();
  void onStopAwaitingConfirmation();
  void fetchConnectedDevs(
      std::function<void(std::vector<std::shared_ptr<HCFColorInstrument>>)> done);
  struct Collection;
  void collectNext(const std::shared_ptr<Collection>& c);
  void collectCreate(const std::shared_ptr<Collection>& c, std::size_t index);
  void connectToPeripherals(const std::vector<HPeripheralWRSSI>& records);
  void disconnectFromPeripherals(const std::vector<std::shared_ptr<ble::Peripheral>>& peripherals);
  void disconnectFromColorimeters(const std::vector<std::shared_ptr<HCFColorInstrument>>& devices);
  void disconnectedFromUnconfirmedDevices();
  std::shared_ptr<HCFConnectionManager> manager() const { return manager_.lock(); }
  // Disconnects `peripheral` unless it is the manager's connected instrument.
  void letGo(const std::shared_ptr<ble::Peripheral>& peripheral);
  bool managerHasDevice() const;

  std::weak_ptr<HCFConnectionManager> manager_;
  std::weak_ptr<HCFConnectionManagerDelegate> listener_;
  HCFConnectivityState state_ = HCFConnectivityState::NotStarted;
  bool started_ = false;
  bool pausingDisconnect_ = false;
  std::vector<HPeripheralWRSSI> discovered_;
  std::vector<std::shared_ptr<HCFColorInstrument>> connectedDevices_;
  std::shared_ptr<HCFColorInstrument> deviceAwaitingCalibration_;
  std::shared_ptr<ble::CentralManager> central_;
  bool bluetoothEnabled_ = false;
  dispatch::Timer discoverBleTimer_, stopConnectingTimer_, stopWaitingTimer_, restartTimer_;
  /// Bumped by every restart so that a collection of already-connected instruments from an
  /// earlier cycle does not land in a later one.
  std::uint64_t cycle_ = 0;
  /// The collection of already-connected instruments in progress, if any.
  std::shared_ptr<Collection> collection_;
};

HCF_NAMESPACE_END
