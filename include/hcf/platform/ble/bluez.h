// The BlueZ backend: real Bluetooth on Linux through bluetoothd on the system bus. Its
// centrals and peripherals behave as the platform's, so the kit runs on it unchanged:
//
//   hcf::HCFConfiguration config;
//   config.bluetooth = hcf::ble::bluez::centralFactory();
//   hcf::HCFCentral::configure(config);
//
// The process needs access to bluetoothd (root, or a user of the "bluetooth" group on most
// distributions) and a powered adapter (`bluetoothctl power on`). The system bus is the one
// of DBUS_SYSTEM_BUS_ADDRESS when it is set.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "hcf/core/export.h"
#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/dispatch/clock.h"

HCF_NAMESPACE_BEGIN
/// The BlueZ backend: the Bluetooth central over bluetoothd on the system bus.
namespace ble::bluez {

/// How the backend uses bluetoothd.
struct Options {
  /// The adapter to use ("hci0"); the first one bluetoothd reports when empty.
  std::string adapter;
  /// How long a connection waits for the device's services once the link is up before it
  /// fails.
  dispatch::Duration serviceResolutionTimeout = std::chrono::seconds(20);
  /// How often a call that bluetoothd answers with "org.bluez.Error.InProgress" is tried
  /// again, and how long after.
  int inProgressRetries = 5;
  /// The wait before each such new try.
  dispatch::Duration inProgressRetryDelay = std::chrono::milliseconds(200);
  /// After the system bus connection ends (the bus restarted), how long before each attempt
  /// to connect again. Meanwhile the centrals report Unknown.
  dispatch::Duration busReconnectInterval = std::chrono::seconds(2);
  /// bluetoothd forgets unpaired devices about 30 s after a discovery stops. Connecting to
  /// one it forgot discovers it again for at most this long (by its address, or for a device
  /// with a private address that rotated, by its advertised name), then fails with "Device
  /// not found".
  dispatch::Duration rediscoveryTimeout = std::chrono::seconds(5);
};

/// One connection to bluetoothd, shared by the centrals made from it. Make it, and use its
/// centrals, on the main queue; their events come on the main queue.
class HCF_API Backend {
 public:
  /// Connects to the system bus. When the bus cannot be reached the backend still works: its
  /// centrals report Unsupported (Unauthorized when access was denied) and `failure` says why.
  static std::shared_ptr<Backend> open(const Options& options = {});
  ~Backend();
  Backend(const Backend&) = delete;
  Backend& operator=(const Backend&) = delete;

  /// A central on this connection. Its state is Unknown until bluetoothd has answered.
  std::shared_ptr<CentralManager> makeCentralManager(
      std::weak_ptr<CentralManagerDelegate> delegate);
  /// Why the bus could not be reached (the D-Bus error name and message), if it could not.
  std::optional<std::string> failure() const;
  /// Calls `done` on the main queue once every message bluetoothd sent before this call has
  /// reached the centrals (a round trip to the daemon).
  ///
  /// On a manual clock (tests), a call waiting for its answer keeps the main queue from
  /// jumping over idle time, but signals nobody waits for (services resolved after Connect's
  /// answer, a notification) do not: wait for those with `sync` round trips, which hold the
  /// clock while they are out.
  void sync(std::function<void()> done);

  /// The backend's own state, shared with its centrals.
  struct Impl;
  /// For `open`: a backend over `impl`.
  explicit Backend(std::shared_ptr<Impl> impl);

 private:
  std::shared_ptr<Impl> impl_;
};

/// A factory for the kit's configuration: the first central it makes opens the backend, which
/// the later ones share.
HCF_API CentralFactory centralFactory(const Options& options = {});

}  // namespace ble::bluez
HCF_NAMESPACE_END
