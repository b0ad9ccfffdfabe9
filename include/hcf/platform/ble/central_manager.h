// The phone's Bluetooth Low Energy central role: scanning, connecting, and the receiver of
// its events.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/platform/ble/peripheral.h"

HCF_NAMESPACE_BEGIN
/// The Bluetooth Low Energy central the kit talks to instruments through: UUIDs, peripherals,
/// services and characteristics, the central manager, and the choice of backend (the simulator
/// or BlueZ).
namespace ble {

class CentralManager;

/// State of the radio as the central reports it. Only PoweredOn (5) allows any operation.
enum class ManagerState : int {
  Unknown = 0,
  Resetting = 1,
  Unsupported = 2,
  Unauthorized = 3,
  PoweredOff = 4,
  PoweredOn = 5,
};

/// What an advertisement carried ("kCBAdvDataServiceUUIDs", "kCBAdvDataManufacturerData",
/// "kCBAdvDataLocalName"); an empty member is a key the advertisement did not have.
struct AdvertisementData {
  std::optional<std::vector<UUID>> serviceUUIDs;  ///< the services it advertised
  /// The manufacturer-specific data: the company identifier (2 bytes, little-endian), then
  /// the company's bytes.
  std::optional<Bytes> manufacturerData;
  std::optional<std::string> localName;  ///< the name it advertised
};

/// Receives the central's events, on the main queue, in order. Every method has an empty
/// default.
class HCF_API CentralManagerDelegate {
 public:
  virtual ~CentralManagerDelegate();
  /// `central.state()` changed (also reported once after the central is made).
  virtual void centralManagerDidUpdateState(CentralManager& central);
  /// A scan saw `peripheral` advertise. A peripheral may be reported more than once in a scan.
  virtual void didDiscoverPeripheral(CentralManager& central,
                                     const std::shared_ptr<Peripheral>& peripheral,
                                     const AdvertisementData& advertisementData, int rssi);
  /// `peripheral` is connected; its services can now be discovered.
  virtual void didConnectPeripheral(CentralManager& central,
                                    const std::shared_ptr<Peripheral>& peripheral);
  /// A connection attempt to `peripheral` failed, with the platform's error if it gave one.
  virtual void didFailToConnectPeripheral(CentralManager& central,
                                          const std::shared_ptr<Peripheral>& peripheral,
                                          const std::optional<Error>& error);
  /// The connection ended: empty error when this central cancelled it.
  virtual void didDisconnectPeripheral(CentralManager& central,
                                       const std::shared_ptr<Peripheral>& peripheral,
                                       const std::optional<Error>& error);
};

/// Options of a scan.
struct ScanOptions {
  /// False reports a peripheral again only when its advertisement changed; true reports every
  /// advertisement seen.
  bool allowDuplicates = false;
  /// Services the scanner asks for in its own solicitation; the kit's backends pass nothing on.
  std::vector<UUID> solicitedServiceUUIDs;
};

/// Options of a connection.
struct ConnectOptions {
  /// Lets the platform alert the user at connection while the application is suspended (the
  /// phone's option; the kit's backends ignore it).
  bool notifyOnConnection = true;
  /// The same at disconnection (ignored by the kit's backends).
  bool notifyOnDisconnection = true;
  /// The same for each notification (ignored by the kit's backends).
  bool notifyOnNotification = true;
};

/// The central manager. Call everything on the main queue; events come on the main queue.
class HCF_API CentralManager {
 public:
  virtual ~CentralManager();

  /// The radio's state; nothing but `PoweredOn` allows a scan or a connection.
  virtual ManagerState state() const = 0;
  /// The receiver of this central's events (held without ownership); replaceable: the one set
  /// last gets the events.
  void setDelegate(std::weak_ptr<CentralManagerDelegate> delegate) {
    delegate_ = std::move(delegate);
  }
  /// The receiver of this central's events; none when none was set or it has gone.
  std::shared_ptr<CentralManagerDelegate> delegate() const { return delegate_.lock(); }

  /// Scans for peripherals advertising any of `services` (all peripherals when empty).
  virtual void scanForPeripheralsWithServices(const std::optional<std::vector<UUID>>& services,
                                              const ScanOptions& options) = 0;
  /// Ends the scan; no discovery is reported after it. Nothing happens when none runs.
  virtual void stopScan() = 0;
  /// True between a scan's start and `stopScan` (or the radio going off).
  virtual bool isScanning() const = 0;
  /// Connects `peripheral`; a connection attempt does not time out by itself.
  virtual void connectPeripheral(const std::shared_ptr<Peripheral>& peripheral,
                                 const ConnectOptions& options) = 0;
  /// Ends a connection or a pending connection attempt.
  virtual void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) = 0;
  /// The peripherals already connected to the phone (by any application, this central's own
  /// links included) that offer one of `services`.
  virtual std::vector<std::shared_ptr<Peripheral>> retrieveConnectedPeripheralsWithServices(
      const std::vector<UUID>& services) = 0;

 private:
  std::weak_ptr<CentralManagerDelegate> delegate_;
};

/// Makes the central manager of a Bluetooth backend, its events going to `delegate`.
using CentralFactory =
    std::function<std::shared_ptr<CentralManager>(std::weak_ptr<CentralManagerDelegate> delegate)>;

/// The backend the kit's connection manager uses (the simulator's world, or a real radio).
HCF_API void setCentralFactory(CentralFactory factory);
/// A central of the configured backend; none when no backend is configured.
HCF_API std::shared_ptr<CentralManager> makeCentralManager(
    std::weak_ptr<CentralManagerDelegate> delegate);

}  // namespace ble
HCF_NAMESPACE_END
