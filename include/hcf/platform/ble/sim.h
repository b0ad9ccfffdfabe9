// The simulated Bluetooth world: a central and remote devices with full GATT tables,
// advertising, signal strength, button presses, devices already connected to the phone, the
// radio switched on and off, and injected faults. Application developers use it to run the
// kit without hardware; the kit's tests use it to prove the kit holds up.
//
// Everything here runs on the main queue: call it there, and its events arrive there after
// the simulated latencies (timers on the main queue's clock, so a manual clock drives it).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/core/export.h"
#include "hcf/platform/ble/central_manager.h"
#include "hcf/platform/dispatch/clock.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

class World;

/// A characteristic of a simulated device's GATT table, with its initial value.
struct CharacteristicSpec {
  UUID uuid;
  CharacteristicProperties properties;
  Bytes value;
};

/// A service of a simulated device's GATT table.
struct ServiceSpec {
  UUID uuid;
  std::vector<CharacteristicSpec> characteristics;
};

/// The GATT operations a fault can hit.
enum class Operation {
  Connect,
  DiscoverServices,
  DiscoverCharacteristics,
  Read,
  Write,
  SetNotify,
  Notify,
};

/// A fault injected into a simulated device. It hits the next `times` operations of its kind
/// (on `target` only, when set: the characteristic, or for DiscoverCharacteristics the
/// service), then is spent; `times` −1 never runs out. Make one with the factories below.
struct HCF_API Fault {
  enum class Kind {
    DropAnswer,        ///< no answer: a request's link times out 30 s later (error 6), as a
                       ///< real link does; a notification is simply lost
    WrongLength,       ///< the value answered is cut or zero-padded to `length` bytes
    Delay,             ///< the answer comes `delay` later (later answers queue behind it)
    ReportAs,          ///< the answer names the characteristic `reportAs` instead
    DisconnectBefore,  ///< the device disconnects instead of answering
    DisconnectAfter,   ///< the device answers, then disconnects
    FailConnect,       ///< a connection attempt fails (Operation::Connect)
    GattError,         ///< a read or a subscription is answered with the ATT error `code`
                       ///< (Operation::Read, SetNotify): the value stays what it was
  };
  Kind kind = Kind::DropAnswer;
  Operation operation = Operation::Read;
  std::optional<UUID> target;
  std::size_t length = 0;
  dispatch::Duration delay{};
  std::optional<UUID> reportAs;
  int code = 0;  ///< GattError: the ATT error code (2 read not permitted, 14 unlikely error)
  int times = 1;

  static Fault dropAnswer(Operation op, std::optional<UUID> target = {});
  static Fault wrongLength(Operation op, std::optional<UUID> target, std::size_t length);
  static Fault delayed(Operation op, std::optional<UUID> target, dispatch::Duration delay);
  static Fault answerAs(Operation op, std::optional<UUID> target, UUID other);
  static Fault disconnectBefore(Operation op, std::optional<UUID> target = {});
  static Fault disconnectAfter(Operation op, std::optional<UUID> target = {});
  static Fault failConnect();
  static Fault gattError(Operation op, std::optional<UUID> target, int code);
  /// The same fault for `n` operations (−1: all).
  Fault repeated(int n) const;
};

/// Latencies of a simulated device's radio link.
struct Latencies {
  dispatch::Duration connect = std::chrono::milliseconds(40);
  dispatch::Duration response = std::chrono::milliseconds(15);
  dispatch::Duration advertisingInterval = std::chrono::milliseconds(100);
};

/// A simulated remote device.
class HCF_API Device {
 public:
  ~Device();
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  /// The identifier centrals see (upper-case UUID text).
  const std::string& identifier() const;

  /// The advertised name (also the peripheral's name once known).
  void setName(std::optional<std::string> name);
  std::optional<std::string> name() const;
  /// What the device advertises; scanning centrals see a change at once.
  void setAdvertisement(AdvertisementData data);
  const AdvertisementData& advertisement() const;
  /// Whether the device advertises (is in range and discoverable).
  void setAdvertising(bool on);
  bool isAdvertising() const;
  /// Signal strength reported with each advertisement, dBm.
  void setRSSI(int rssi);
  /// Whether the device is already connected to the phone (by another application): such a
  /// device is returned by retrieveConnectedPeripheralsWithServices and connects even when it
  /// does not advertise.
  void setConnectedToSystem(bool on);
  bool isConnectedToSystem() const;
  void setLatencies(const Latencies& latencies);
  const Latencies& latencies() const;

  /// Adds a service to the GATT table.
  void addService(const ServiceSpec& service);
  bool hasService(const UUID& service) const;
  /// The GATT table, each characteristic with the value a read returns now.
  std::vector<ServiceSpec> services() const;
  bool hasCharacteristic(const UUID& characteristic) const;
  /// The value a read of `characteristic` returns from now on.
  void setValue(const UUID& characteristic, Bytes value);
  Bytes value(const UUID& characteristic) const;
  /// Computes the answer to each read of `characteristic` (instead of the stored value).
  void setReadHandler(const UUID& characteristic, std::function<Bytes()> handler);
  /// Called with each value written to `characteristic` (after it is recorded).
  void setWriteHandler(const UUID& characteristic, std::function<void(const Bytes&)> handler);
  /// Every value written to `characteristic`, oldest first.
  std::vector<Bytes> writes(const UUID& characteristic) const;
  /// Sends a notification of `characteristic` with `value` to every connected central that
  /// switched its notifications on.
  void notify(const UUID& characteristic, Bytes value);
  /// Ends every connection from the device's side (the centrals see an error).
  void disconnect();
  /// How many centrals are connected now.
  std::size_t connectionCount() const;

  void injectFault(const Fault& fault);
  void clearFaults();

  struct Impl;
  explicit Device(std::unique_ptr<Impl> impl);
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

/// The radio environment: devices, the phone's radio, and the centrals made in it.
class HCF_API World : public std::enable_shared_from_this<World> {
 public:
  static std::shared_ptr<World> create();
  ~World();

  /// A new device; a random identifier when none is given.
  std::shared_ptr<Device> addDevice(std::optional<std::string> identifier = {});
  void removeDevice(const std::shared_ptr<Device>& device);
  const std::vector<std::shared_ptr<Device>>& devices() const;

  /// Switches the phone's radio: every central reports the new state; switching off ends all
  /// connections and scans without disconnection events, as the platform does.
  void setRadioState(ManagerState state);
  ManagerState radioState() const;

  /// A central manager in this world. Its state is Unknown until it reports the radio's state,
  /// shortly after it is made.
  std::shared_ptr<CentralManager> makeCentralManager(
      std::weak_ptr<CentralManagerDelegate> delegate);

  struct Impl;

 private:
  friend class Device;
  World();
  std::unique_ptr<Impl> impl_;
};

// ---- simulated instruments ---------------------------------------------------------------

/// Which parts of the colorimeter's GATT table exist.
struct ColorimeterOptions {
  std::optional<std::string> name = "Tintra";
  bool emissiveSense = true;
  bool temperature = true;
  bool updateServices = true;
  /// Characteristics of the main service left out (to exercise incomplete instruments).
  std::vector<UUID> omit;
  bool mainService = true;
};

/// A simulated colorimeter (Tintra family or ColorOrla): the main service with its
/// characteristics, the two firmware-update services, and the values it answers with.
class HCF_API Colorimeter {
 public:
  static std::shared_ptr<Colorimeter> create(World& world, const ColorimeterOptions& options = {});

  Device& device() { return *device_; }
  const std::shared_ptr<Device>& devicePtr() const { return device_; }

  /// The three counts of a reflective scan (big-endian on the wire).
  void setScanCounts(std::uint16_t x, std::uint16_t y, std::uint16_t z);
  /// The three counts of an emissive scan.
  void setEmissiveCounts(std::uint16_t x, std::uint16_t y, std::uint16_t z);
  void setSerialBytes(const std::array<std::uint8_t, 6>& serial);
  void setVersion(std::uint8_t major, std::uint8_t minor);
  /// The battery converter's raw count (little-endian 32-bit on the wire).
  void setBatteryRaw(std::uint32_t raw);
  /// The two charge-status bytes: charging, on external power (non-zero = yes).
  void setChargeFlags(std::uint8_t charging, std::uint8_t onPower);
  void setTemperature(std::int8_t degrees);
  /// The button: notifies the button characteristic.
  void pressButton();
  /// Advertises a single-click (type 1) or double-click (type 2) advertisement.
  void advertiseClick(bool doubleClick);
  /// How many connection-confirm writes arrived.
  std::size_t confirmWrites() const;

  explicit Colorimeter(std::shared_ptr<Device> device) : device_(std::move(device)) {}

 private:
  std::shared_ptr<Device> device_;
};

/// Which parts of the spectrometer's GATT table exist.
struct SpectrometerOptions {
  std::optional<std::string> name = "Irisel-000000000001";
  /// Characteristics of the main service left out (to exercise incomplete instruments).
  std::vector<UUID> omit;
  bool mainService = true;
};

/// A simulated Irisel spectrometer: the main service with its nine characteristics. A write of
/// the scan (or emissive-scan) command is answered by a notification of the current response.
class HCF_API Spectrometer {
 public:
  static std::shared_ptr<Spectrometer> create(World& world,
                                              const SpectrometerOptions& options = {});

  Device& device() { return *device_; }
  const std::shared_ptr<Device>& devicePtr() const { return device_; }

  /// The 64-byte response notified after each reflective scan command.
  void setResponse(Bytes response);
  const Bytes& response() const;
  /// The 32 values as 16-bit counts (big-endian on the wire).
  void setResponseCounts(const std::array<std::uint16_t, 32>& counts);
  /// The response notified after each emissive scan command.
  void setEmissiveResponse(Bytes response);
  /// Scan commands are answered with this device error instead of a response, `times` times.
  void failScansWith(std::uint8_t code, int times = 1);
  /// Notifies a device error now.
  void reportError(std::uint8_t code);
  void setSerialBytes(const std::array<std::uint8_t, 6>& serial);
  void setVersion(std::uint8_t major, std::uint8_t minor);
  void setBatteryRaw(std::uint32_t raw);
  void setChargeFlags(std::uint8_t charging, std::uint8_t onPower);
  void pressButton();
  /// How many scan commands and connection-confirm writes arrived.
  std::size_t scanCommands() const;
  std::size_t confirmWrites() const;

  struct State;
  Spectrometer(std::shared_ptr<Device> device, std::shared_ptr<State> state)
      : device_(std::move(device)), state_(std::move(state)) {}

 private:
  std::shared_ptr<Device> device_;
  std::shared_ptr<State> state_;
};

}  // namespace ble::sim
HCF_NAMESPACE_END
