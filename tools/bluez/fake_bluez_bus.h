// A private system bus with the fake bluetoothd on it (tools/bluez/fake_bluez.py), for testing
// the BlueZ backend and running the kit's commands without a radio. While it lives,
// DBUS_SYSTEM_BUS_ADDRESS points at its bus.
#pragma once

#include <hcf/core/bytes.h>
#include <hcf/platform/ble/sim.h>
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace sdbus {
class IConnection;
class IProxy;
}  // namespace sdbus

namespace hcf_bluez {

class FakeBluez {
 public:
  /// Starts dbus-daemon and the fake daemon (`parameters`: the template's JSON parameters,
  /// e.g. {"powered": false}; `busConfig`: the bus's configuration file, by default one that
  /// allows everything). Throws std::runtime_error when either does not come up.
  explicit FakeBluez(const std::string& parameters = "{}",
                     std::optional<std::filesystem::path> busConfig = {});
  ~FakeBluez();
  FakeBluez(const FakeBluez&) = delete;
  FakeBluez& operator=(const FakeBluez&) = delete;

  const std::string& busAddress() const { return address_; }

  /// Adds a device in range (see AddLEDevice in the template); its future object path.
  std::string addDevice(const std::string& address, const nlohmann::json& description);
  /// Adds a simulated device: its name, advertisement and GATT table with the current values.
  /// Writes to `notifyOnWrite` characteristics are answered by a notification of their value.
  std::string addDevice(const std::string& address, const hcf::ble::sim::Device& device, int rssi,
                        const std::vector<hcf::ble::UUID>& notifyOnWrite = {});

  void setAdvertising(const std::string& address, bool on);
  void setRSSI(const std::string& address, std::int16_t rssi);
  void setManufacturerData(const std::string& address, std::uint16_t company,
                           const hcf::Bytes& data);
  void setValue(const std::string& address, const hcf::ble::UUID& uuid, const hcf::Bytes& value);
  void setValueSequence(const std::string& address, const hcf::ble::UUID& uuid,
                        const std::vector<hcf::Bytes>& values);
  /// Sends a notification if the central subscribed; whether one was sent.
  bool notify(const std::string& address, const hcf::ble::UUID& uuid, const hcf::Bytes& value);
  /// The cached Value changes without a notification (as when another client reads it);
  /// whether the change went out.
  bool changeValue(const std::string& address, const hcf::ble::UUID& uuid, const hcf::Bytes& value);
  void dropLink(const std::string& address);
  /// The next `times` calls of `method` on the device (no uuid), its characteristic, or the
  /// adapter (empty address) fail with `errorName`.
  void failNext(const std::string& address, const std::optional<hcf::ble::UUID>& uuid,
                const std::string& method, const std::string& errorName, int times = 1);
  void holdServiceResolution(const std::string& address, bool hold);
  void resolveServices(const std::string& address,
                       const std::vector<hcf::ble::UUID>& withheld = {});
  void exportWithheld(const std::string& address);
  std::vector<hcf::Bytes> writes(const std::string& address, const hcf::ble::UUID& uuid);
  void setPowered(bool on);
  /// The filter the backend set last: key → value as text.
  std::map<std::string, std::string> discoveryFilter();

  /// bluetoothd goes away (its process ends), and comes back empty.
  void vanish();
  void comeBack();
  /// The system bus itself goes away (with bluetoothd), and comes back at the same address
  /// with an empty bluetoothd.
  void busGoesDown();
  void busComesBack();
  /// bluetoothd forgets the devices it found that are neither connected nor paired, as it
  /// does 30 s after a discovery stops.
  void expireTemporaryDevices();
  /// The device at `address` takes the private address `next` (see RotateAddress in the
  /// template); the new object path.
  std::string rotateAddress(const std::string& address, const std::string& next);

 private:
  void startBus();
  void startDaemon();
  void shutdown();
  sdbus::IProxy& mock();

  std::filesystem::path dir_;
  std::string parameters_;
  std::filesystem::path config_;
  std::string address_;
  std::optional<std::string> savedAddress_;
  pid_t busPid_ = -1;
  pid_t daemonPid_ = -1;
  std::unique_ptr<sdbus::IConnection> connection_;
  std::unique_ptr<sdbus::IProxy> mock_;
};

}  // namespace hcf_bluez
