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
/// The simulated Bluetooth world: devices with GATT tables, a central that sees them, the
/// phone's radio, injected faults, and the kit's two instrument families as simulated devices.
namespace ble::sim {

class World;

/// A characteristic of a simulated device's GATT table, with its initial value.
struct CharacteristicSpec {
  UUID uuid;                            ///< the characteristic's UUID
  CharacteristicProperties properties;  ///< what centrals may do with it
  Bytes value;                          ///< what a read returns until the value is set
};

/// A service of a simulated device's GATT table.
struct ServiceSpec {
  UUID uuid;                                        ///< the service's UUID
  std::vector<CharacteristicSpec> characteristics;  ///< its characteristics, in discovery order
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
  /// What the fault does to the operations it hits.
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
  Kind kind = Kind::DropAnswer;           ///< what it does
  Operation operation = Operation::Read;  ///< the kind of operation it hits
  /// The characteristic (the service for DiscoverCharacteristics) it hits; any when empty.
  std::optional<UUID> target;
  std::size_t length = 0;        ///< WrongLength: the length of the value answered, bytes
  dispatch::Duration delay{};    ///< Delay: how much later the answer comes
  std::optional<UUID> reportAs;  ///< ReportAs: the characteristic the answer names
  int code = 0;  ///< GattError: the ATT error code (2 read not permitted, 14 unlikely error)
  /// How many operations it hits before it is spent; −1 never runs out.
  int times = 1;

  /// Each hit operation gets no answer (see `Kind::DropAnswer`).
  static Fault dropAnswer(Operation op, std::optional<UUID> target = {});
  /// Each hit read or notification answers a value cut or zero-padded to `length` bytes.
  static Fault wrongLength(Operation op, std::optional<UUID> target, std::size_t length);
  /// Each hit operation is answered `delay` later than its latency.
  static Fault delayed(Operation op, std::optional<UUID> target, dispatch::Duration delay);
  /// Each hit answer names the characteristic `other` instead of `target`.
  static Fault answerAs(Operation op, std::optional<UUID> target, UUID other);
  /// The device disconnects instead of answering a hit operation.
  static Fault disconnectBefore(Operation op, std::optional<UUID> target = {});
  /// The device answers a hit operation, then disconnects.
  static Fault disconnectAfter(Operation op, std::optional<UUID> target = {});
  /// The next connection attempt fails.
  static Fault failConnect();
  /// A hit read or subscription is answered with the ATT error `code`.
  static Fault gattError(Operation op, std::optional<UUID> target, int code);
  /// The same fault for `n` operations (−1: all).
  Fault repeated(int n) const;
};

/// Latencies of a simulated device's radio link.
struct Latencies {
  /// From a connection request to the connection.
  dispatch::Duration connect = std::chrono::milliseconds(40);
  /// From a request (discovery, read, write, subscription) to its answer.
  dispatch::Duration response = std::chrono::milliseconds(15);
  /// Between two advertisements a scanning central sees.
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
  /// The advertised name; empty when it advertises none.
  std::optional<std::string> name() const;
  /// What the device advertises; scanning centrals see a change at once.
  void setAdvertisement(AdvertisementData data);
  /// What the device advertises now.
  const AdvertisementData& advertisement() const;
  /// Whether the device advertises (is in range and discoverable).
  void setAdvertising(bool on);
  /// True while the device advertises.
  bool isAdvertising() const;
  /// Signal strength reported with each advertisement, dBm.
  void setRSSI(int rssi);
  /// Whether the device is already connected to the phone (by another application): such a
  /// device is returned by retrieveConnectedPeripheralsWithServices and connects even when it
  /// does not advertise.
  void setConnectedToSystem(bool on);
  /// True while the device counts as connected to the phone by another application.
  bool isConnectedToSystem() const;
  /// Sets the latencies of the device's link, for operations that start from now on.
  void setLatencies(const Latencies& latencies);
  /// The latencies of the device's link.
  const Latencies& latencies() const;

  /// Adds a service to the GATT table.
  void addService(const ServiceSpec& service);
  /// True when the GATT table has `service`.
  bool hasService(const UUID& service) const;
  /// The GATT table, each characteristic with the value a read returns now.
  std::vector<ServiceSpec> services() const;
  /// True when a service of the GATT table has `characteristic`.
  bool hasCharacteristic(const UUID& characteristic) const;
  /// The value a read of `characteristic` returns from now on.
  void setValue(const UUID& characteristic, Bytes value);
  /// The value stored for `characteristic` (a read handler is not asked); empty bytes for a
  /// characteristic the table does not have.
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

  /// Adds `fault` behind those already injected; each operation takes the faults that hit it.
  void injectFault(const Fault& fault);
  /// Removes every fault not yet spent.
  void clearFaults();

  /// The simulator's own state of the device.
  struct Impl;
  /// For the simulator: devices are made by `World::addDevice`.
  explicit Device(std::unique_ptr<Impl> impl);
  /// For the simulator: its own state of the device.
  Impl& impl() { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

/// The radio environment: devices, the phone's radio, and the centrals made in it.
class HCF_API World : public std::enable_shared_from_this<World> {
 public:
  /// An empty world with the radio on (`ManagerState::PoweredOn`).
  static std::shared_ptr<World> create();
  ~World();

  /// A new device; a random identifier when none is given.
  std::shared_ptr<Device> addDevice(std::optional<std::string> identifier = {});
  /// Takes `device` out of the world: it stops advertising and its connections end from its
  /// side first.
  void removeDevice(const std::shared_ptr<Device>& device);
  /// The devices in the world, in the order they were added.
  const std::vector<std::shared_ptr<Device>>& devices() const;

  /// Switches the phone's radio: every central reports the new state; switching off ends all
  /// connections and scans without disconnection events, as the platform does.
  void setRadioState(ManagerState state);
  /// The phone's radio as the world has it now.
  ManagerState radioState() const;

  /// A central manager in this world. Its state is Unknown until it reports the radio's state,
  /// shortly after it is made.
  std::shared_ptr<CentralManager> makeCentralManager(
      std::weak_ptr<CentralManagerDelegate> delegate);

  /// The simulator's own state of the world.
  struct Impl;

 private:
  friend class Device;
  World();
  std::unique_ptr<Impl> impl_;
};

// ---- simulated instruments ---------------------------------------------------------------

/// Which parts of the colorimeter's GATT table exist.
struct ColorimeterOptions {
  std::optional<std::string> name = "Tintra";  ///< the advertised name; none when empty
  bool emissiveSense = true;                   ///< the emissive-scan characteristic
  bool temperature = true;                     ///< the temperature characteristic
  bool updateServices = true;                  ///< the two firmware-update services
  /// Characteristics of the main service left out (to exercise incomplete instruments).
  std::vector<UUID> omit;
  bool mainService = true;  ///< the main service; false leaves a device the kit cannot use
};

/// A simulated colorimeter (Tintra family or ColorOrla): the main service with its
/// characteristics, the two firmware-update services, and the values it answers with.
class HCF_API Colorimeter {
 public:
  /// A new colorimeter in `world`, advertising its main service: serial 000000000001,
  /// version 2.1, counts 0, battery 4.1 V, 22 °C.
  static std::shared_ptr<Colorimeter> create(World& world, const ColorimeterOptions& options = {});

  /// The simulated device underneath: its radio, its GATT table and its faults.
  Device& device() { return *device_; }
  /// The device underneath, shared.
  const std::shared_ptr<Device>& devicePtr() const { return device_; }

  /// The three counts of a reflective scan (big-endian on the wire).
  void setScanCounts(std::uint16_t x, std::uint16_t y, std::uint16_t z);
  /// The three counts of an emissive scan.
  void setEmissiveCounts(std::uint16_t x, std::uint16_t y, std::uint16_t z);
  /// The six bytes of the serial number; the kit reads them as 12 upper-case hex digits.
  void setSerialBytes(const std::array<std::uint8_t, 6>& serial);
  /// The hardware version the instrument reports, as major.minor.
  void setVersion(std::uint8_t major, std::uint8_t minor);
  /// The battery converter's raw count (little-endian 32-bit on the wire).
  void setBatteryRaw(std::uint32_t raw);
  /// The two charge-status bytes: charging, on external power (non-zero = yes).
  void setChargeFlags(std::uint8_t charging, std::uint8_t onPower);
  /// The temperature the instrument reports, °C.
  void setTemperature(std::int8_t degrees);
  /// The button: notifies the button characteristic.
  void pressButton();
  /// Advertises a single-click (type 1) or double-click (type 2) advertisement.
  void advertiseClick(bool doubleClick);
  /// How many connection-confirm writes arrived.
  std::size_t confirmWrites() const;

  /// For `create`: the colorimeter on `device`, whose table is already built.
  explicit Colorimeter(std::shared_ptr<Device> device) : device_(std::move(device)) {}

 private:
  std::shared_ptr<Device> device_;
};

/// Which parts of the spectrometer's GATT table exist.
struct SpectrometerOptions {
  std::optional<std::string> name = "Irisel-000000000001";  ///< the advertised name
  /// Characteristics of the main service left out (to exercise incomplete instruments).
  std::vector<UUID> omit;
  bool mainService = true;  ///< the main service; false leaves a device the kit cannot use
};

/// A simulated Irisel spectrometer: the main service with its nine characteristics. A write of
/// the scan (or emissive-scan) command is answered by a notification of the current response.
class HCF_API Spectrometer {
 public:
  /// A new spectrometer in `world`, advertising its main service: serial 000000000001,
  /// version 1.0, battery 4.1 V, an empty response until one is set.
  static std::shared_ptr<Spectrometer> create(World& world,
                                              const SpectrometerOptions& options = {});

  /// The simulated device underneath: its radio, its GATT table and its faults.
  Device& device() { return *device_; }
  /// The device underneath, shared.
  const std::shared_ptr<Device>& devicePtr() const { return device_; }

  /// The 64-byte response notified after each reflective scan command.
  void setResponse(Bytes response);
  /// The response notified after each reflective scan command.
  const Bytes& response() const;
  /// The 32 values as 16-bit counts (big-endian on the wire).
  void setResponseCounts(const std::array<std::uint16_t, 32>& counts);
  /// The response notified after each emissive scan command.
  void setEmissiveResponse(Bytes response);
  /// Scan commands are answered with this device error instead of a response, `times` times.
  void failScansWith(std::uint8_t code, int times = 1);
  /// Notifies a device error now.
  void reportError(std::uint8_t code);
  /// The six bytes of the serial number; the kit reads them as 12 upper-case hex digits.
  void setSerialBytes(const std::array<std::uint8_t, 6>& serial);
  /// The hardware version the instrument reports, as major.minor.
  void setVersion(std::uint8_t major, std::uint8_t minor);
  /// The battery converter's raw count (little-endian 32-bit on the wire).
  void setBatteryRaw(std::uint32_t raw);
  /// The two charge-status bytes: charging, on external power (non-zero = yes).
  void setChargeFlags(std::uint8_t charging, std::uint8_t onPower);
  /// The button: notifies the button characteristic.
  void pressButton();
  /// How many scan commands (reflective and emissive) arrived.
  std::size_t scanCommands() const;
  /// How many connection-confirm writes arrived.
  std::size_t confirmWrites() const;

  /// The answers the spectrometer gives, shared with its write handlers.
  struct State;
  /// For `create`: the spectrometer on `device`, answering from `state`.
  Spectrometer(std::shared_ptr<Device> device, std::shared_ptr<State> state)
      : device_(std::move(device)), state_(std::move(state)) {}

 private:
  std::shared_ptr<Device> device_;
  std::shared_ptr<State> state_;
};

}  // namespace ble::sim
HCF_NAMESPACE_END
