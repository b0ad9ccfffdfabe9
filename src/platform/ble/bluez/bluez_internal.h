// The BlueZ backend's main-queue side: the shared connection state, and the centrals and
// peripherals over the object cache.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "bus_thread.h"
#include "hcf/platform/ble/bluez.h"
#include "hcf/platform/dispatch/queues.h"
#include "object_cache.h"

HCF_NAMESPACE_BEGIN
namespace ble::bluez {

class BluezCentral;
class BluezPeripheral;

/// A kit error for a D-Bus error reply: the daemon's name and message kept.
Error errorFromBus(const BusError& error);
/// True for replies the daemon gives while another operation of the object is under way.
bool isInProgress(const std::optional<BusError>& error);

struct Backend::Impl : std::enable_shared_from_this<Backend::Impl> {
  Options options;
  std::unique_ptr<BusThread> bus;
  std::optional<BusError> failure;
  ObjectCache cache;
  bool loaded = false;         // the objects have been read since bluetoothd (re)appeared
  bool daemonPresent = false;  // bluetoothd owns its name
  bool daemonLost = false;     // bluetoothd went away after it was there
  bool accessDenied = false;   // the bus policy does not let this process talk to bluetoothd
  bool busDown = false;        // the bus connection ended; connecting again every so often
  dispatch::Timer reconnectTimer;
  std::vector<std::weak_ptr<BluezCentral>> centrals;
  // Discovery is one session per bus connection: the union of what the centrals ask.
  bool discoveryOn = false;
  bool discoveryStarting = false;
  std::optional<std::vector<std::string>> discoveryFilter;

  void start();
  BusThread::EventHandler eventHandler();
  /// Tries to reach the bus again after the reconnect interval, and so on until it can.
  void reconnectLater();
  void load();
  void onEvent(BusEvent event);
  void call(Call call, BusThread::ReplyHandler done);
  /// Makes the call, trying again while the daemon answers "InProgress".
  void callRetrying(Call call, BusThread::ReplyHandler done, int triesLeft);
  ManagerState radioState() const;
  std::string adapterPath() const;
  void updateDiscovery();
  template <typename F>
  void forEachCentral(F&& f);
};

class BluezCharacteristic final : public Characteristic {
 public:
  BluezCharacteristic(std::string path, UUID uuid, CharacteristicProperties properties,
                      std::weak_ptr<Service> service)
      : Characteristic(uuid, properties, std::move(service)), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class BluezService final : public Service {
 public:
  BluezService(std::string path, UUID uuid, std::weak_ptr<Peripheral> peripheral)
      : Service(uuid, std::move(peripheral)), path_(std::move(path)) {}
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

class BluezPeripheral final : public Peripheral {
 public:
  BluezPeripheral(std::weak_ptr<BluezCentral> central, std::weak_ptr<Backend::Impl> backend,
                  std::string path, std::string identifier);

  std::string identifier() const override { return identifier_; }
  std::optional<std::string> name() const override { return name_; }
  std::vector<std::shared_ptr<Service>> services() const override;
  PeripheralState state() const override { return state_; }

  void discoverServices(const std::optional<std::vector<UUID>>& filter) override;
  void discoverCharacteristics(const std::optional<std::vector<UUID>>& filter,
                               const std::shared_ptr<Service>& service) override;
  void setNotifyValue(bool enabled, const std::shared_ptr<Characteristic>& characteristic) override;
  void readValueForCharacteristic(const std::shared_ptr<Characteristic>& characteristic) override;
  void writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                  CharacteristicWriteType type) override;

  // The central's side.
  const std::string& path() const { return path_; }
  /// The device took a new private address: the same instrument under another object.
  void setPath(std::string path) { path_ = std::move(path); }
  void setName(std::optional<std::string> name) { name_ = std::move(name); }
  void setState(PeripheralState s) { state_ = s; }
  /// The link ended: GATT objects, subscriptions and waiting operations are dropped.
  void linkEnded();
  void valueChanged(const std::string& characteristicPath, const Bytes& value);
  void characteristicAdded();

  // Connection attempt bookkeeping.
  bool sawLink = false;  // the attempt's Connect succeeded or the link came up
  dispatch::Timer resolveTimer;
  std::uint64_t attempt = 0;  // bumps with every attempt, so stale replies are ignored
  // The attempt found the device forgotten by bluetoothd and discovers it again.
  bool rediscovering = false;
  bool rediscovered = false;      // once per attempt
  std::uint64_t connectCall = 0;  // the attempt's Connect call whose reply counts
  dispatch::Timer rediscoverTimer;

 private:
  struct WaitingDiscovery {
    std::shared_ptr<BluezService> service;
    std::optional<std::vector<UUID>> filter;
    dispatch::Timer settle;  // the longest wait
    dispatch::Timer quiet;   // all asked for: since the last characteristic came
  };

  std::shared_ptr<BluezCentral> central() const { return central_.lock(); }
  std::shared_ptr<Backend::Impl> backend() const { return backend_.lock(); }
  std::shared_ptr<BluezCharacteristic> own(const std::shared_ptr<Characteristic>& c) const;
  void finishCharacteristicDiscovery(const std::shared_ptr<BluezService>& service,
                                     const std::optional<std::vector<UUID>>& filter);
  bool hasAll(const BluezService& service, const std::vector<UUID>& wanted) const;
  dispatch::Timer waitTimer(dispatch::Duration delay, WaitingDiscovery* wait);
  void endWait(WaitingDiscovery* wait);
  void deliverValue(const std::shared_ptr<BluezCharacteristic>& c, const Bytes& value,
                    std::optional<Error> error);
  template <typename F>
  void toDelegate(F&& f);

  std::weak_ptr<BluezCentral> central_;
  std::weak_ptr<Backend::Impl> backend_;
  std::string path_;
  std::string identifier_;
  std::optional<std::string> name_;
  PeripheralState state_ = PeripheralState::Disconnected;
  std::vector<std::shared_ptr<BluezService>> services_;
  std::map<std::string, std::shared_ptr<BluezCharacteristic>> characteristics_;
  std::set<std::string> subscribed_;
  // Reads under way, and the Value changes that arrived meanwhile: one of them is the read's
  // own echo, the others are notifications.
  std::map<std::string, int> readsPending_;
  std::map<std::string, std::deque<Bytes>> heldValues_;
  std::vector<std::unique_ptr<WaitingDiscovery>> waiting_;
  std::uint64_t link_ = 0;  // bumps when the link ends, so replies of an old link are dropped
};

class BluezCentral final : public CentralManager,
                           public std::enable_shared_from_this<BluezCentral> {
 public:
  explicit BluezCentral(std::shared_ptr<Backend::Impl> backend);
  ~BluezCentral() override;

  ManagerState state() const override { return state_; }
  void scanForPeripheralsWithServices(const std::optional<std::vector<UUID>>& services,
                                      const ScanOptions& options) override;
  void stopScan() override;
  bool isScanning() const override { return scanning_; }
  /// Whether the adapter should discover for this central: it scans, or a connection waits
  /// for a forgotten device to be seen again.
  bool wantsDiscovery() const;
  void connectPeripheral(const std::shared_ptr<Peripheral>& peripheral,
                         const ConnectOptions& options) override;
  void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) override;
  std::vector<std::shared_ptr<Peripheral>> retrieveConnectedPeripheralsWithServices(
      const std::vector<UUID>& services) override;

  // The backend's side.
  void reportState();
  void deviceAdvertised(const DeviceObject& device);
  void deviceChanged(const DeviceObject& device, const Properties& changed);
  void deviceRemoved(const std::string& path);
  void valueChanged(const std::string& characteristicPath, const Bytes& value);
  void characteristicAdded(const std::string& path);
  void daemonGone(bool busLost);
  /// The services to discover (lower-case text); empty for every device.
  std::optional<std::vector<std::string>> discoveryFilter() const;

 private:
  std::shared_ptr<BluezPeripheral> peripheralFor(const DeviceObject& device);
  std::shared_ptr<BluezPeripheral> own(const std::shared_ptr<Peripheral>& p) const;
  void attemptConnection(const std::shared_ptr<BluezPeripheral>& p, int triesLeft);
  void connected(const std::shared_ptr<BluezPeripheral>& p);
  void failConnection(const std::shared_ptr<BluezPeripheral>& p, Error error);
  void rediscover(const std::shared_ptr<BluezPeripheral>& p);
  void endRediscovery(const std::shared_ptr<BluezPeripheral>& p);
  /// A device seen by a discovery: a forgotten one a connection waits for connects now.
  void seenAgain(const DeviceObject& device);
  void linkLost(const std::shared_ptr<BluezPeripheral>& p, std::optional<Error> error);
  bool matchesFilter(const DeviceObject& device) const;
  std::string identifierFor(const DeviceObject& device) const;

  std::shared_ptr<Backend::Impl> backend_;
  ManagerState state_ = ManagerState::Unknown;
  bool stateReported_ = false;
  bool scanning_ = false;
  std::optional<std::vector<UUID>> filter_;
  std::optional<std::vector<std::string>> filterUuids_;  // lower-case text, as BlueZ writes it
  ScanOptions scanOptions_;
  // Per scan: the advertisement last reported of each device.
  std::map<std::string, std::string> reported_;
  std::map<std::string, std::shared_ptr<BluezPeripheral>> peripherals_;
};

}  // namespace ble::bluez
HCF_NAMESPACE_END
