// The hands-free cycle: windows, button confirmation, restarts, and the simulator's faults.
#include <gtest/gtest.h>

#include "connect_fixture.h"
#include "hcf/core/ht_utility.h"

using namespace hcf;
using namespace hcf_test;
namespace sim = hcf::ble::sim;
using S = HCFConnectivityState;
using MC = HCFMultiConnectController;

namespace {

class MultiConnectTest : public ConnectTest {
 protected:
  // Double-click advertisements (single clicks are never connected).
  std::unique_ptr<fx::SimulatedColorimeter> colorimeter(const std::string& model) {
    auto c = std::make_unique<fx::SimulatedColorimeter>(*world_, model);
    c->radio().advertiseClick(true);
    return c;
  }
  MC& multi() { return *manager_->multiMgr(); }
  // Through the pause and the scan window, then lets the connections and handshakes run.
  void throughScan() {
    advance(MC::kRestartPause + MC::kScanWindow + 10ms);
    advance(1s);
  }
};

}  // namespace

TEST_F(MultiConnectTest, AllAdvertisedInstrumentsConnectThenTheButtonChoosesOne) {
  auto a = colorimeter("2.0");
  auto b = colorimeter("4.0");
  fx::SimulatedSpectrometer c(*world_);
  manager_->multiConnectStart(listener_);
  throughScan();
  // All three identified well within the connect window: awaiting confirmation already.
  EXPECT_EQ(multi().state(), S::AwaitingConfirmation);
  EXPECT_EQ(multi().connectedDevices().size(), 3u);
  EXPECT_EQ(a->radio().device().connectionCount(), 1u);

  b->radio().pressButton();
  advance(100ms);
  settle();
  advance(100ms);
  ASSERT_TRUE(manager_->isConnected());
  EXPECT_EQ(manager_->connectedDevice()->serial(), b->serial());
  EXPECT_EQ(multi().state(), S::Connected);
  EXPECT_EQ(b->radio().confirmWrites(), 1u);
  EXPECT_EQ(a->radio().device().connectionCount(), 0u);
  EXPECT_EQ(c.radio().device().connectionCount(), 0u);
  const std::vector<S> path = {S::Idle,         S::Scanning, S::Connecting, S::AwaitingConfirmation,
                               S::Initializing, S::Connected};
  for (const auto s : path) EXPECT_TRUE(listener_->saw(s)) << static_cast<int>(s);

  // Presses while an instrument is connected are ignored.
  b->radio().pressButton();
  advance(100ms);
  EXPECT_EQ(b->radio().confirmWrites(), 1u);

  // The connected instrument going away starts a new cycle.
  b->radio().device().disconnect();
  advance(100ms);
  EXPECT_FALSE(manager_->isConnected());
  advance(MC::kRestartPause + 10ms);
  EXPECT_EQ(multi().state(), S::Scanning);
}

TEST_F(MultiConnectTest, ConnectWindowGoesOnWithThoseIdentifiedAndSingleClicksNeverConnect) {
  auto good = colorimeter("2.0");
  auto silent = colorimeter("3.0");
  silent->radio().device().injectFault(
      sim::Fault::dropAnswer(sim::Operation::Read,
                             ble::UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a"))
          .repeated(-1));
  fx::SimulatedColorimeter single(*world_, "2.1");  // single click
  manager_->multiConnectStart(listener_);
  throughScan();
  EXPECT_EQ(multi().state(), S::Connecting);
  EXPECT_EQ(multi().discoveredPeripherals().size(), 2u);
  advance(MC::kConnectWindow);
  EXPECT_EQ(multi().state(), S::AwaitingConfirmation);
  EXPECT_EQ(multi().connectedDevices().size(), 1u);
  EXPECT_EQ(single.radio().device().connectionCount(), 0u);

  // No press within the window: a warning, everything disconnected, a new cycle.
  advance(MC::kConfirmationWindow + 10ms);
  ASSERT_EQ(listener_->warnings.size(), 1u);
  EXPECT_EQ(listener_->warnings[0].code, error_code::kConnectionConfirmTimeout);
  EXPECT_EQ(good->radio().device().connectionCount(), 0u);
  advance(MC::kRestartPause + 10ms);
  EXPECT_EQ(multi().state(), S::Scanning);
}

TEST_F(MultiConnectTest, AlreadyConnectedInstrumentsJoinAndOneThatHangsIsLeftOut) {
  auto paired = colorimeter("2.0");
  paired->radio().device().setAdvertising(false);
  paired->radio().device().setConnectedToSystem(true);
  auto hanging = colorimeter("3.0");
  hanging->radio().device().setAdvertising(false);
  hanging->radio().device().setConnectedToSystem(true);
  hanging->radio().device().injectFault(
      sim::Fault::dropAnswer(sim::Operation::Read,
                             ble::UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a"))
          .repeated(-1));
  manager_->multiConnectStart(listener_);
  advance(MC::kRestartPause + MC::kScanWindow + 10ms);
  advance(MC::kAlreadyConnectedWait * 2 + 1s);
  // Nothing advertised; the one that answered waits for its button.
  EXPECT_EQ(multi().state(), S::AwaitingConfirmation);
  ASSERT_EQ(multi().connectedDevices().size(), 1u);
  EXPECT_EQ(multi().connectedDevices()[0]->serial(), paired->serial());
}

TEST_F(MultiConnectTest, NothingFoundCyclesPausingHoldsAndStopRests) {
  manager_->multiConnectStart(listener_);
  advance(MC::kRestartPause + MC::kScanWindow + 100ms);
  advance(MC::kRestartPause + 10ms);
  EXPECT_EQ(multi().state(), S::Scanning) << "a new cycle after 'No devices found'";

  multi().setPausingDisconnect(true);
  advance(MC::kScanWindow + 100ms);
  advance(MC::kRestartPause * 5);
  EXPECT_EQ(multi().state(), S::Idle);
  multi().setPausingDisconnect(false);
  multi().restart();
  advance(MC::kRestartPause + 10ms);
  EXPECT_EQ(multi().state(), S::Scanning);

  manager_->multiConnectStop();
  advance(MC::kScanWindow * 2);
  EXPECT_EQ(multi().state(), S::Idle);
  EXPECT_FALSE(multi().started());

  // Radio off then on while started: the cycle restarts and instruments are found again.
  auto late = colorimeter("2.0");
  manager_->multiConnectStart(listener_);
  world_->setRadioState(ble::ManagerState::PoweredOff);
  advance(MC::kScanWindow * 2);
  world_->setRadioState(ble::ManagerState::PoweredOn);
  advance(10ms);
  throughScan();
  EXPECT_EQ(multi().state(), S::AwaitingConfirmation);
  late->radio().pressButton();
  advance(100ms);
  settle();
  advance(100ms);
  EXPECT_TRUE(manager_->isConnected());
}

TEST_F(MultiConnectTest, CalibrationFailureReportsAnErrorAndRestarts) {
  auto unknown = colorimeter("2.0");
  unknown->radio().setSerialBytes({0x00, 0xBA, 0xDB, 0xAD, 0x00, 0x01});
  manager_->multiConnectStart(listener_);
  throughScan();
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  unknown->radio().pressButton();
  advance(100ms);
  settle();
  advance(100ms);
  ASSERT_EQ(listener_->errors.size(), 1u);
  EXPECT_EQ(listener_->errors[0].code, error_code::kCalibrationDownload);
  EXPECT_FALSE(manager_->isConnected());
  EXPECT_EQ(unknown->radio().device().connectionCount(), 0u);
}

// Starting the cycle again while it awaits a press: the instruments of the earlier cycle are
// let go, the new cycle connects them again, and a press still chooses one.
TEST_F(MultiConnectTest, ASecondStartStillHearsTheButton) {
  auto a = colorimeter("2.0");
  auto b = colorimeter("4.0");
  manager_->multiConnectStart(listener_);
  throughScan();
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  manager_->multiConnectStart(listener_);
  throughScan();
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  EXPECT_EQ(a->radio().device().connectionCount(), 1u);
  b->radio().pressButton();
  advance(100ms);
  settle();
  advance(100ms);
  ASSERT_TRUE(manager_->isConnected());
  EXPECT_EQ(manager_->connectedDevice()->serial(), b->serial());
  EXPECT_EQ(multi().state(), S::Connected);
}

// The radio going off ends the cycle: a Connected instrument is reported gone, and a window of
// the cycle it interrupted never acts in the next one.
TEST_F(MultiConnectTest, RadioOffEndsTheCycleAndItsWindows) {
  auto a = colorimeter("2.0");
  manager_->multiConnectStart(listener_);
  throughScan();
  a->radio().pressButton();
  advance(100ms);
  settle();
  advance(100ms);
  ASSERT_EQ(multi().state(), S::Connected);
  world_->setRadioState(ble::ManagerState::PoweredOff);
  advance(10ms);
  EXPECT_EQ(listener_->states.back(), S::Idle);
  EXPECT_FALSE(manager_->isConnected());

  world_->setRadioState(ble::ManagerState::PoweredOn);
  throughScan();
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  advance(MC::kConfirmationWindow / 2);
  world_->setRadioState(ble::ManagerState::PoweredOff);
  advance(10ms);
  world_->setRadioState(ble::ManagerState::PoweredOn);
  throughScan();
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  // The interrupted cycle's window would have closed by now.
  advance(MC::kConfirmationWindow - 2s - MC::kRestartPause - MC::kScanWindow);
  EXPECT_EQ(multi().state(), S::AwaitingConfirmation);
  EXPECT_TRUE(listener_->errors.empty()) << listener_->errors.front().localizedDescription;
}

// A discovery pass or a direct connection while the hands-free cycle runs stops the cycle
// first: its waiting instruments are let go, and the direct connection is the application's.
TEST_F(MultiConnectTest, DirectUseStopsTheHandsFreeCycleFirst) {
  auto a = colorimeter("2.0");
  manager_->multiConnectStart(listener_);
  throughScan();
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  const auto pass = discover();
  EXPECT_FALSE(multi().started());
  EXPECT_EQ(a->radio().device().connectionCount(), 0u);
  ASSERT_TRUE(pass->found && !pass->found->empty());
  auto direct =
      connectWith([&](auto& m, auto cb) { m.connectTo((*pass->found)[0].peripheral, cb); });
  ASSERT_FALSE(direct->error) << direct->error->localizedDescription;
  EXPECT_EQ(manager_->connectedDevice()->serial(), a->serial());
  advance(MC::kConfirmationWindow * 2);  // nothing of the stopped cycle comes back
  EXPECT_TRUE(manager_->isConnected());
  EXPECT_EQ(a->radio().device().connectionCount(), 1u);
  EXPECT_TRUE(listener_->errors.empty()) << listener_->errors.front().localizedDescription;
}

// An instrument identified only after the button chose another is let go, and the chosen one
// stays.
TEST_F(MultiConnectTest, AnInstrumentIdentifiedAfterThePressIsLetGo) {
  auto quick = colorimeter("2.0");
  auto slow = colorimeter("4.0");
  slow->radio().device().injectFault(
      sim::Fault::delayed(sim::Operation::Read, std::nullopt, MC::kConnectWindow + 2s));
  manager_->multiConnectStart(listener_);
  advance(MC::kRestartPause + MC::kScanWindow + MC::kConnectWindow + 100ms);
  ASSERT_EQ(multi().state(), S::AwaitingConfirmation);
  ASSERT_EQ(multi().connectedDevices().size(), 1u);
  quick->radio().pressButton();
  advance(500ms);
  settle();
  ASSERT_EQ(multi().state(), S::Connected);
  EXPECT_EQ(slow->radio().device().connectionCount(), 1u);  // still being identified
  advance(5s);
  settle();
  EXPECT_EQ(slow->radio().device().connectionCount(), 0u);
  EXPECT_EQ(manager_->connectedDevice()->serial(), quick->serial());
  EXPECT_EQ(quick->radio().device().connectionCount(), 1u);
}

namespace {

class WindowTest;

// One window: how it is entered, how long it lasts, what the listener hears inside it and once
// it is over.
struct WindowRow {
  const char* window;
  dispatch::Duration length;
  S during;
  S after;
  void (*enter)(WindowTest&);
};

void PrintTo(const WindowRow& row, std::ostream* out) { *out << row.window; }

class WindowTest : public MultiConnectTest, public ::testing::WithParamInterface<WindowRow> {
 public:
  using MultiConnectTest::advance;
  using MultiConnectTest::colorimeter;
  using MultiConnectTest::listener_;
  using MultiConnectTest::manager_;
  using MultiConnectTest::throughScan;
  void keep(std::unique_ptr<fx::SimulatedColorimeter> c) { held_.push_back(std::move(c)); }

 protected:
  void TearDown() override {
    held_.clear();
    MultiConnectTest::TearDown();
  }

 private:
  std::vector<std::unique_ptr<fx::SimulatedColorimeter>> held_;
};

std::unique_ptr<fx::SimulatedColorimeter> silent(WindowTest& t) {
  auto c = t.colorimeter("3.0");
  c->radio().device().injectFault(
      sim::Fault::dropAnswer(sim::Operation::Read,
                             ble::UUID::UUIDWithString("06bee248-ac7e-439a-aa35-07a6a500750a"))
          .repeated(-1));
  return c;
}

const WindowRow kWindows[] = {
    {"RestartPause", 200ms, S::Idle, S::Scanning,
     [](WindowTest& t) {
       t.manager_->multiConnectStart(t.listener_);
       t.advance(100ms);
     }},
    {"Scan", 6s, S::Scanning, S::Idle,  // nothing found: back to the pause
     [](WindowTest& t) {
       t.manager_->multiConnectStart(t.listener_);
       t.advance(1s);
     }},
    {"Connect", 10s, S::Connecting, S::AwaitingConfirmation,  // one never identifies
     [](WindowTest& t) {
       t.keep(t.colorimeter("2.0"));
       t.keep(silent(t));
       t.manager_->multiConnectStart(t.listener_);
       t.throughScan();
     }},
    {"Confirmation", 20s, S::AwaitingConfirmation, S::Idle,  // no press
     [](WindowTest& t) {
       t.keep(t.colorimeter("2.0"));
       t.manager_->multiConnectStart(t.listener_);
       t.throughScan();
     }},
    {"DirectDiscoveryPass", 3s, S::Scanning, S::Idle,
     [](WindowTest& t) {
       t.keep(t.colorimeter("2.0"));
       t.manager_->bleDiscoverWithRestricted(false, [](auto, auto) {});
       t.advance(1s);
     }},
};

}  // namespace

// Each window lasts exactly its length on the clock: 1 ms before its end the listener still
// hears the window's state, at its end the next one.
TEST_P(WindowTest, EachWindowEndsExactlyAtItsLength) {
  const auto& row = GetParam();
  row.enter(*this);
  ASSERT_FALSE(listener_->states.empty());
  ASSERT_EQ(listener_->states.back(), row.during) << row.window;
  const auto end = listener_->heardAt(row.during) + row.length;
  ASSERT_LT(queue().now(), end - 1ms) << row.window;
  advance(end - 1ms - queue().now());
  EXPECT_EQ(listener_->states.back(), row.during) << row.window << " ended early";
  advance(1ms);
  EXPECT_EQ(listener_->states.back(), row.after) << row.window << " did not end on time";
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowTest, ::testing::ValuesIn(kWindows),
                         [](const auto& row) { return std::string(row.param.window); });
