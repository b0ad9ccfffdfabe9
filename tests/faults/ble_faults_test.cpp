// The fault matrix, Bluetooth part: every fault the simulated radio can inject (an answer
// dropped, a value of the wrong length, a read or subscription answered with an ATT error, the
// device disconnecting before or after it answers, a connection that fails), at every kind of
// operation of each step: the handshake that connects and identifies an instrument, the white
// calibration and the measurement; and the radio switched off in the middle of a discovery pass and
// of a measurement. For each: the one answer the application gets (a request the kit leaves waiting
// for the link to end is answered when the application ends it), the link released after a failure,
// the cached calibration kept, and the next connection working.
#include <gtest/gtest.h>

#include "../connect/connect_fixture.h"
#include "fault_support.h"
#include "hcf/core/hcf_error.h"

using namespace hcf;
using namespace hcf_test;
namespace sim = hcf::ble::sim;

namespace {

enum class Step { Handshake, Calibration, Measurement };

struct Injected {
  std::string name;
  sim::Fault fault;
};

// Every fault at every operation of a step (a wrong length only where a value travels).
std::vector<Injected> faultsFor(Step step) {
  using Op = sim::Operation;
  std::vector<std::pair<Op, const char*>> ops = {
      {Op::Read, "read"}, {Op::Write, "write"}, {Op::Notify, "notification"}};
  if (step == Step::Handshake) {
    ops.insert(ops.begin(), {{Op::DiscoverServices, "service discovery"},
                             {Op::DiscoverCharacteristics, "characteristic discovery"},
                             {Op::SetNotify, "notify switch"}});
  }
  std::vector<Injected> out;
  for (const auto& [op, name] : ops) {
    out.push_back({std::string("dropped ") + name, sim::Fault::dropAnswer(op)});
    if (op == Op::Read || op == Op::Notify) {
      out.push_back({std::string("short ") + name, sim::Fault::wrongLength(op, std::nullopt, 3)});
      out.push_back({std::string("long ") + name, sim::Fault::wrongLength(op, std::nullopt, 40)});
    }
    if (op == Op::Read || op == Op::SetNotify) {
      // ATT error 14, "unlikely error": the platform's answer to a request the device failed.
      out.push_back({std::string("failed ") + name, sim::Fault::gattError(op, std::nullopt, 14)});
    }
    out.push_back({std::string("disconnect before ") + name, sim::Fault::disconnectBefore(op)});
    out.push_back({std::string("disconnect after ") + name, sim::Fault::disconnectAfter(op)});
  }
  if (step == Step::Handshake) out.push_back({"connection fails", sim::Fault::failConnect()});
  return out;
}

struct Request {
  int calls = 0;
  std::optional<HCFError> error;
  void operator()(std::optional<HCFError> e) {
    if (calls++ == 0) error = std::move(e);
  }
};

class BluetoothFaults : public ConnectTest {
 protected:
  // Waits out every time-out a fault can start: the handshake's and the link's.
  void waitOut() {
    for (int i = 0; i < 8; ++i) {
      advance(5s);
      settle();
    }
  }

  // The peripheral of `device` as a discovery pass lists it.
  std::shared_ptr<ble::Peripheral> discovered(const sim::Device& device) {
    auto pass = discover();
    if (!pass->found) {
      ADD_FAILURE() << "nothing discovered: " << describe(pass->error);
      return nullptr;
    }
    for (const auto& r : *pass->found) {
      if (r.peripheral->identifier() == device.identifier()) return r.peripheral;
    }
    ADD_FAILURE() << "not in the " << pass->found->size() << " discovered";
    return nullptr;
  }
  // Discovers and connects `device` as an application does.
  std::shared_ptr<Connection> connectDevice(const sim::Device& device) {
    auto peripheral = discovered(device);
    return connectWith([&](auto& m, auto cb) { m.connectTo(peripheral, cb); });
  }

  // Ends the connection the application holds, if any, and checks the link is released.
  void endConnection(sim::Device& device, const std::string& cell) {
    if (auto d = manager_->connectedDevice()) d->disconnect();
    advance(1s);
    EXPECT_EQ(device.connectionCount(), 0u) << cell << ": the link was kept";
  }

  // One cell: the fault injected before the step, the step's one answer, the link released,
  // the instrument's cached record kept. Returns "code: message", "ok", or the answer that
  // came only when the application ended the link.
  template <typename StartStep>
  std::string runCell(sim::Device& device, const std::string& serial, const Injected& injected,
                      StartStep start) {
    const auto cached = HCFRealmManager::fetchTintraDeviceWithSerial(serial);
    device.clearFaults();
    auto request = std::make_shared<Request>();
    std::string outcome = start(injected, request);
    EXPECT_EQ(request->calls, 1) << injected.name;
    device.clearFaults();
    endConnection(device, injected.name);
    EXPECT_EQ(request->calls, 1) << injected.name << ": answered again at the end";
    if (cached) {
      const auto now = HCFRealmManager::fetchTintraDeviceWithSerial(serial);
      EXPECT_TRUE(now && now->SerializeAsString() == cached->SerializeAsString())
          << injected.name << ": the cached calibration changed";
    }
    return outcome;
  }

  // The handshake of `serial` under each fault.
  std::string handshakes(sim::Device& device, const std::string& serial) {
    std::string table;
    for (const auto& injected : faultsFor(Step::Handshake)) {
      table += injected.name + " | " +
               runCell(device, serial, injected,
                       [&](const Injected& f, auto request) {
                         auto peripheral = discovered(device);
                         device.injectFault(f.fault);
                         manager_->connectTo(peripheral, [request](auto e) { (*request)(e); });
                         waitOut();
                         return describe(request->error);
                       }) +
               "\n";
    }
    return table;
  }

  // A step on the connected instrument under each fault; `ask` starts it with a completion
  // that takes the error. A step still waiting once every time-out passed is answered when the
  // application ends the link.
  template <typename Ask>
  std::string steps(Step step, sim::Device& device, const std::string& serial, Ask ask,
                    const std::function<void(HCFColorInstrument&)>& prepare = {}) {
    std::string table;
    for (const auto& injected : faultsFor(step)) {
      table += injected.name + " | " +
               runCell(device, serial, injected,
                       [&](const Injected& f, auto request) {
                         auto conn = connectDevice(device);
                         if (conn->error || !manager_->connectedDevice()) {
                           ADD_FAILURE()
                               << f.name << ": could not connect: " << describe(conn->error);
                           (*request)(std::nullopt);
                           return std::string("not connected");
                         }
                         if (prepare) prepare(*manager_->connectedDevice());
                         device.injectFault(f.fault);
                         ask(*manager_->connectedDevice(), [request](auto e) { (*request)(e); });
                         waitOut();
                         if (request->calls > 0) return describe(request->error);
                         manager_->connectedDevice()->disconnect();
                         advance(1s);
                         return "waits for the link to end, then " + describe(request->error);
                       }) +
               "\n";
    }
    return table;
  }

  void expectTable(const std::string& observed, const std::string& expected) {
    EXPECT_EQ(observed, expected) << "observed:\n" << observed;
  }
};

TEST_F(BluetoothFaults, ColorimeterHandshake) {
  fx::SimulatedColorimeter c(*world_, "2.1");
  expectTable(handshakes(c.radio().device(), c.serial()),
              R"(dropped service discovery | 9010: Device's bluetooth initialization failed.
disconnect before service discovery | 9010: Device's bluetooth initialization failed.
disconnect after service discovery | 9010: Device's bluetooth initialization failed.
dropped characteristic discovery | 9010: Device's bluetooth initialization failed.
disconnect before characteristic discovery | 9010: Device's bluetooth initialization failed.
disconnect after characteristic discovery | 9010: Device's bluetooth initialization failed.
dropped notify switch | ok
failed notify switch | ok
disconnect before notify switch | 9010: Device's bluetooth initialization failed.
disconnect after notify switch | 9010: Device's bluetooth initialization failed.
dropped read | ok
short read | ok
long read | ok
failed read | ok
disconnect before read | 9010: Device's bluetooth initialization failed.
disconnect after read | 9010: Device's bluetooth initialization failed.
dropped write | ok
disconnect before write | ok
disconnect after write | ok
dropped notification | ok
short notification | ok
long notification | ok
disconnect before notification | ok
disconnect after notification | ok
connection fails | 10: The connection has failed unexpectedly.
)");
  EXPECT_FALSE(connectDevice(c.radio().device())->error);
}

// The white calibration and the measurement of a colorimeter both read the sense
// characteristic: they answer every fault alike, but for a read answered with an error, which
// each fails at once with its own error.
std::string colorimeterSteps(const std::string& late, const std::string& failedRead) {
  const std::string timeout = "9931: " + late + " did not arrive in time";
  return "dropped read | " + timeout + "\nshort read | " + timeout + "\nlong read | " + timeout +
         "\nfailed read | " + failedRead + R"(
disconnect before read | 9016: Error scanning on colorimeter
disconnect after read | ok
dropped write | ok
disconnect before write | ok
disconnect after write | ok
dropped notification | ok
short notification | ok
long notification | ok
disconnect before notification | ok
disconnect after notification | ok
)";
}

TEST_F(BluetoothFaults, ColorimeterCalibration) {
  fx::SimulatedColorimeter c(*world_, "2.1");
  c.presentWhiteTile();
  expectTable(steps(Step::Calibration, c.radio().device(), c.serial(),
                    [](HCFColorInstrument& i, auto done) {
                      i.requestCalibration([done](bool, auto e) { done(e); });
                    }),
              colorimeterSteps("The white calibration", "9009: Whitepoint Calibration Failed"));
}

TEST_F(BluetoothFaults, ColorimeterMeasurement) {
  fx::SimulatedColorimeter c(*world_, "2.1");
  expectTable(steps(
                  Step::Measurement, c.radio().device(), c.serial(),
                  [](HCFColorInstrument& i, auto done) {
                    i.requestColorScan([done](auto, auto, auto e) { done(e); });
                  },
                  [&](HCFColorInstrument& i) {
                    c.presentWhiteTile();
                    bool calibrated = false;
                    i.requestCalibration([&](bool ok, auto) { calibrated = ok; });
                    advance(500ms);
                    ASSERT_TRUE(calibrated);
                    c.measure(fx::colorCheckerXYZD50()[5]);
                  }),
              colorimeterSteps("The measurement", "9016: Error scanning on colorimeter"));
}

TEST_F(BluetoothFaults, SpectrometerHandshake) {
  fx::SimulatedSpectrometer s(*world_);
  expectTable(handshakes(s.radio().device(), s.serial()),
              R"(dropped service discovery | 9010: Device's bluetooth initialization failed.
disconnect before service discovery | 9010: Device's bluetooth initialization failed.
disconnect after service discovery | 9010: Device's bluetooth initialization failed.
dropped characteristic discovery | 9010: Device's bluetooth initialization failed.
disconnect before characteristic discovery | 9010: Device's bluetooth initialization failed.
disconnect after characteristic discovery | 9010: Device's bluetooth initialization failed.
dropped notify switch | ok
failed notify switch | ok
disconnect before notify switch | 9010: Device's bluetooth initialization failed.
disconnect after notify switch | 9010: Device's bluetooth initialization failed.
dropped read | 9010: Device's bluetooth initialization failed.
short read | 9010: Device's bluetooth initialization failed.
long read | 9010: Device's bluetooth initialization failed.
failed read | 9010: Device's bluetooth initialization failed.
disconnect before read | 9010: Device's bluetooth initialization failed.
disconnect after read | 9010: Device's bluetooth initialization failed.
dropped write | ok
disconnect before write | ok
disconnect after write | ok
dropped notification | ok
short notification | ok
long notification | ok
disconnect before notification | ok
disconnect after notification | ok
connection fails | 10: The connection has failed unexpectedly.
)");
  EXPECT_FALSE(connectDevice(s.radio().device())->error);
}

TEST_F(BluetoothFaults, SpectrometerMeasurement) {
  fx::SimulatedSpectrometer s(*world_);
  expectTable(steps(Step::Measurement, s.radio().device(), s.serial(),
                    [](HCFColorInstrument& i, auto done) {
                      i.requestColorScan([done](auto, auto, auto e) { done(e); });
                    }),
              R"(dropped read | ok
short read | ok
long read | ok
failed read | ok
disconnect before read | ok
disconnect after read | ok
dropped write | ok
disconnect before write | 9016: Error scanning on colorimeter
disconnect after write | ok
dropped notification | 9931: The measurement did not arrive in time
short notification | 9931: The measurement did not arrive in time
long notification | 9931: The measurement did not arrive in time
disconnect before notification | 9016: Error scanning on colorimeter
disconnect after notification | ok
)");
}

TEST_F(BluetoothFaults, RadioOffMidDiscoveryAndMidMeasurement) {
  fx::SimulatedColorimeter c(*world_, "2.1");
  auto during = std::make_shared<Discovery>();
  manager_->bleDiscoverWithRestricted(false, [during](auto f, auto e) {
    ++during->calls;
    during->found = std::move(f);
    during->error = std::move(e);
  });
  advance(1s);
  world_->setRadioState(ble::ManagerState::PoweredOff);
  waitOut();
  EXPECT_EQ(during->calls, 1);
  EXPECT_FALSE(during->error) << "the pass ends with what it found before";
  EXPECT_TRUE(during->found && during->found->size() == 1);
  world_->setRadioState(ble::ManagerState::PoweredOn);
  advance(100ms);

  ASSERT_FALSE(connectDevice(c.radio().device())->error);
  auto device = manager_->connectedDevice();
  c.presentWhiteTile();
  Request calibrated;
  device->requestCalibration([&](bool, auto e) { calibrated(e); });
  advance(500ms);
  ASSERT_EQ(calibrated.calls, 1);
  c.radio().device().injectFault(sim::Fault::delayed(sim::Operation::Read, std::nullopt, 2s));
  Request measured;
  device->requestColorScan([&](auto, auto, auto e) { measured(e); });
  advance(500ms);
  world_->setRadioState(ble::ManagerState::PoweredOff);
  waitOut();
  EXPECT_EQ(measured.calls, 1);
  EXPECT_EQ(describe(measured.error), "9016: Error scanning on colorimeter");
  EXPECT_FALSE(manager_->isConnected());
  world_->setRadioState(ble::ManagerState::PoweredOn);
  advance(100ms);
  EXPECT_FALSE(connectDevice(c.radio().device())->error);
}

}  // namespace
