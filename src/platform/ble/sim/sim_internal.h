// The simulator's moving parts: the world's state, each device's GATT table and connections,
// and the central and peripheral objects the kit talks to.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

#include "hcf/platform/ble/sim.h"
#include "hcf/platform/dispatch/queues.h"

HCF_NAMESPACE_BEGIN
namespace ble::sim {

class SimCentral;
class SimPeripheral;

// The platform's error for a link the remote device dropped.
inline Error peripheralDisconnectedError() {
  return Error{7, "The specified device has disconnected from us."};
}

// The platform's error for a link dropped because a request went unanswered.
inline Error connectionTimeoutError() {
  return Error{6, "The connection has timed out unexpectedly."};
}

// How long a request waits for its answer before the link is given up (the ATT transaction
// time-out of the Bluetooth specification).
inline constexpr dispatch::Duration kTransactionTimeout = std::chrono::seconds(30);

struct CharacteristicState {
  CharacteristicSpec spec;
  UUID service;
  std::function<Bytes()> readHandler;
  std::function<void(const Bytes&)> writeHandler;
  std::vector<Bytes> writes;
};

struct Device::Impl {
  std::weak_ptr<World> world;
  std::weak_ptr<Device> self;
  std::string identifier;
  std::optional<std::string> name;
  AdvertisementData advertisement;
  bool advertising = true;
  int rssi = -55;
  bool connectedToSystem = false;
  Latencies latencies;
  std::vector<ServiceSpec> services;  // as added; values live in `characteristics`
  std::unordered_map<UUID, CharacteristicState> characteristics;
  std::vector<Fault> faults;
  std::vector<std::weak_ptr<SimPeripheral>> connections;
  std::uint64_t advertisementVersion = 0;

  // The faults that hit one operation, each spent by one use.
  std::vector<Fault> takeFaults(Operation op, const std::optional<UUID>& target);
  // Live connections, dead ones pruned.
  std::vector<std::shared_ptr<SimPeripheral>> liveConnections();
};

struct World::Impl {
  std::vector<std::shared_ptr<Device>> devices;
  std::vector<std::weak_ptr<SimCentral>> centrals;
  ManagerState radio = ManagerState::PoweredOn;

  std::vector<std::shared_ptr<SimCentral>> liveCentrals();
};

// A central of the simulated world.
class SimCentral final : public CentralManager, public std::enable_shared_from_this<SimCentral> {
 public:
  explicit SimCentral(std::weak_ptr<World> world) : world_(std::move(world)) {}

  ManagerState state() const override { return state_; }
  void scanForPeripheralsWithServices(const std::optional<std::vector<UUID>>& services,
                                      const ScanOptions& options) override;
  void stopScan() override;
  bool isScanning() const override { return scanning_; }
  void connectPeripheral(const std::shared_ptr<Peripheral>& peripheral,
                         const ConnectOptions& options) override;
  void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override;
  std::vector<std::shared_ptr<Peripheral>> retrieveConnectedPeripheralsWithServices(
      const std::vector<UUID>& services) override;

  // From the world.
  void radioChanged(ManagerState state);
  void advertisementChanged(const std::shared_ptr<Device>& device);
  void deviceReachable(const std::shared_ptr<Device>& device);
  // The peripheral object this central uses for `device` (one per device, kept).
  std::shared_ptr<SimPeripheral> peripheralFor(const std::shared_ptr<Device>& device);
  // From a peripheral whose link the device dropped.
  void linkLost(const std::shared_ptr<SimPeripheral>& peripheral, std::optional<Error> error);

 private:
  void tick();
  void report(const std::shared_ptr<Device>& device);
  void attemptConnection(const std::shared_ptr<SimPeripheral>& peripheral);
  bool matchesFilter(const Device& device) const;

  std::weak_ptr<World> world_;
  ManagerState state_ = ManagerState::Unknown;
  bool scanning_ = false;
  std::optional<std::vector<UUID>> scanFilter_;
  ScanOptions scanOptions_;
  dispatch::Timer scanTimer_;
  std::map<const Device*, std::uint64_t> reported_;  // advertisement version last reported
  std::map<const Device*, std::shared_ptr<SimPeripheral>> peripherals_;
};

// A peripheral as one simulated central sees it.
class SimPeripheral final : public Peripheral {
 public:
  SimPeripheral(std::weak_ptr<SimCentral> central, std::shared_ptr<Device> device)
      : central_(std::move(central)), device_(std::move(device)) {}

  std::string identifier() const override { return device_->identifier(); }
  std::optional<std::string> name() const override { return device_->name(); }
  std::vector<std::shared_ptr<Service>> services() const override { return services_; }
  PeripheralState state() const override { return state_; }
  void discoverServices(const std::optional<std::vector<UUID>>& filter) override;
  void discoverCharacteristics(const std::optional<std::vector<UUID>>& filter,
                               const std::shared_ptr<Service>& service) override;
  void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) override;
  void readValueForCharacteristic(const std::shared_ptr<Characteristic>& characteristic) override;
  void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                  CharacteristicWriteType type) override;

  const std::shared_ptr<Device>& device() const { return device_; }
  std::shared_ptr<SimCentral> central() const { return central_.lock(); }
  void setState(PeripheralState s) { state_ = s; }
  // A new connection: answers still queued for an earlier one are dropped.
  void connected();
  void dropped();
  // From the device.
  void deliverNotification(const UUID& characteristic, const Bytes& value);
  bool subscribed(const UUID& characteristic) const;

 private:
  // Queues an event behind the ones already queued for this peripheral, `extra` later than
  // the device's response latency; it is dropped if the connection ends first.
  void schedule(dispatch::Duration extra, std::function<void(SimPeripheral&)> event);
  // Applies the faults of one answered operation; returns false when no answer is due.
  struct Plan {
    bool answer = true;
    bool delivered = true;  // false when the device went away before the request reached it
    bool disconnectAfter = false;
    dispatch::Duration delay{};
    std::optional<std::size_t> length;
    std::optional<UUID> reportAs;
    std::optional<Error> error;  // the request is answered with this error
  };
  Plan plan(Operation op, const std::optional<UUID>& target);
  void finish(const Plan& plan);
  // A request the device never answers: as on a real link, the transaction times out after
  // 30 s and the link is dropped.
  void unanswered();

 public:
  std::shared_ptr<SimPeripheral> self() {
    return std::static_pointer_cast<SimPeripheral>(shared_from_this());
  }
  std::shared_ptr<Characteristic> findCharacteristic(const UUID& uuid) const;

 private:
  std::weak_ptr<SimCentral> central_;
  std::shared_ptr<Device> device_;
  PeripheralState state_ = PeripheralState::Disconnected;
  std::vector<std::shared_ptr<Service>> services_;
  std::vector<UUID> subscriptions_;
  std::uint64_t connection_ = 0;
  dispatch::TimePoint lastEvent_{};
};

}  // namespace ble::sim
HCF_NAMESPACE_END
