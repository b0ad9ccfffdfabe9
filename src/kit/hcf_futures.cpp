#include "hcf/kit/hcf_futures.h"

#include "hcf/core/ht_utility.h"
#include "hcf/kit/hcf_central.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/search/hcf_product_manager.h"

HCF_NAMESPACE_BEGIN

namespace {

// What a future holds when its operation ended without answering (a request replaced by a
// newer one, a kit torn down): the error of work a cancellation stopped.
template <typename T>
T abandoned() {
  return T(HTUtility::cancelledError());
}

// The promise behind one future, shared by every copy of the operation's completion. The first
// answer fulfils it; when the last copy goes without an answer, it is fulfilled as abandoned,
// so no waiter waits for ever.
template <typename T>
class Answer {
 public:
  Answer() : state_(std::make_shared<State>()) {}
  std::future<T> future() { return state_->promise.get_future(); }
  void operator()(T value) const {
    if (state_->answered) return;
    state_->answered = true;
    state_->promise.set_value(std::move(value));
  }

 private:
  struct State {
    std::promise<T> promise;
    bool answered = false;
    ~State() {
      if (!answered) promise.set_value(abandoned<T>());
    }
  };
  std::shared_ptr<State> state_;
};

// Runs `operation` with the answer on the main queue and hands back the future.
template <typename T, typename Operation>
std::future<T> onMainQueue(Operation operation) {
  Answer<T> answer;
  auto future = answer.future();
  dispatch::mainQueue().async(
      [answer, operation = std::move(operation)]() mutable { operation(std::move(answer)); });
  return future;
}

using Instrument = Result<std::shared_ptr<HCFColorInstrument>>;

// The connection manager's answer to a connect: the instrument it then holds.
ConnectCallback connectedInstrument(Answer<Instrument> answer) {
  return [answer](std::optional<HCFError> error) {
    if (error) return answer(*error);
    const auto manager = HCFCentral::connectionManager();
    const auto device = manager ? manager->connectedDevice() : nullptr;
    if (!device) return answer(HTUtility::devBleInitFailed());
    answer(device);
  };
}

// Hears one catalogue download and keeps itself alive until it ends (the manager holds its
// delegate weakly).
class DownloadWaiter final : public HCFProductDownloaderDelegate {
 public:
  DownloadWaiter(Answer<std::optional<HCFError>> answer, std::function<void(float)> progress)
      : answer_(std::move(answer)), progress_(std::move(progress)) {}
  void keepUntilDone(std::shared_ptr<DownloadWaiter> self) { self_ = std::move(self); }
  void productDownloaderDidUpdateProgress(float progress) override {
    if (progress_) progress_(progress);
  }
  void productDownloaderDidComplete() override { finish(std::nullopt); }
  void productDownloaderDidFailWithError(const HCFError& error) override { finish(error); }

 private:
  void finish(std::optional<HCFError> error) {
    answer_(std::move(error));
    // The manager may still be calling: let go after this call.
    dispatch::mainQueue().async([self = std::move(self_)] {});
  }
  Answer<std::optional<HCFError>> answer_;
  std::function<void(float)> progress_;
  std::shared_ptr<DownloadWaiter> self_;
};

}  // namespace

std::future<std::optional<HCFError>> HCFFutures::start(const std::string& sdkKey) {
  return onMainQueue<std::optional<HCFError>>([sdkKey](auto answer) {
    HCFCentral::initWith(sdkKey, [answer](std::optional<HCFError> error) { answer(error); });
  });
}

namespace {

using Found = Result<std::vector<HPeripheralWRSSI>>;

// A discovery pass once the radio has reported its state: a central is Unknown for a moment
// after it is made, and a pass started then would fail although the radio is fine. Waits up to
// `kRadioReadyWait` for the report, looking every `kRadioPoll`.
constexpr dispatch::Duration kRadioReadyWait = std::chrono::seconds(3);
constexpr dispatch::Duration kRadioPoll = std::chrono::milliseconds(20);

void discoverWhenReady(bool restricted, Answer<Found> answer, dispatch::Duration waited) {
  const auto manager = HCFCentral::connectionManager();
  if (!manager) return answer(HTUtility::devBleInitFailed());
  const auto central = manager->central();
  const bool settling = central && (central->state() == ble::ManagerState::Unknown ||
                                    central->state() == ble::ManagerState::Resetting);
  if (settling && waited < kRadioReadyWait) {
    dispatch::mainQueue().after(kRadioPoll, [restricted, answer, waited] {
      discoverWhenReady(restricted, answer, waited + kRadioPoll);
    });
    return;
  }
  manager->bleDiscoverWithRestricted(
      restricted,
      [answer](std::optional<std::vector<HPeripheralWRSSI>> found, std::optional<HCFError> error) {
        // Nothing in range is an answer, not a failure.
        if (error && error->code != error_code::kNoPeripherals) return answer(*error);
        answer(found ? std::move(*found) : std::vector<HPeripheralWRSSI>{});
      });
}

}  // namespace

std::future<Found> HCFFutures::discover(bool restricted) {
  return onMainQueue<Found>(
      [restricted](Answer<Found> answer) { discoverWhenReady(restricted, answer, {}); });
}

std::future<Instrument> HCFFutures::connect(std::shared_ptr<ble::Peripheral> peripheral) {
  return onMainQueue<Instrument>([peripheral](Answer<Instrument> answer) {
    const auto manager = HCFCentral::connectionManager();
    if (!manager) return answer(HTUtility::devBleInitFailed());
    if (!peripheral) return answer(HTUtility::noBlePeripheralsError());
    manager->connectTo(peripheral, connectedInstrument(answer));
  });
}

std::future<Instrument> HCFFutures::connectToSerial(const std::string& serial) {
  return onMainQueue<Instrument>([serial](Answer<Instrument> answer) {
    const auto manager = HCFCentral::connectionManager();
    if (!manager) return answer(HTUtility::devBleInitFailed());
    manager->connectToSerial(serial, connectedInstrument(answer));
  });
}

std::future<std::optional<HCFError>> HCFFutures::calibrate(
    std::shared_ptr<HCFColorInstrument> instrument) {
  return onMainQueue<std::optional<HCFError>>([instrument](auto answer) {
    if (!instrument) return answer(HTUtility::noCalError());
    instrument->requestCalibration([answer](bool ok, std::optional<HCFError> error) {
      answer(ok ? std::nullopt : std::optional(error.value_or(HTUtility::wpCalError())));
    });
  });
}

std::future<Result<std::shared_ptr<HCFColorScan>>> HCFFutures::measure(
    std::shared_ptr<HCFColorInstrument> instrument) {
  using Scan = Result<std::shared_ptr<HCFColorScan>>;
  return onMainQueue<Scan>([instrument](Answer<Scan> answer) {
    if (!instrument) return answer(HTUtility::scanError());
    instrument->requestColorScan([answer](std::shared_ptr<HCFColorScan> tristimulus,
                                          std::shared_ptr<HCFColorScan> spectral,
                                          std::optional<HCFError> error) {
      if (error) return answer(*error);
      auto scan = tristimulus ? tristimulus : spectral;
      if (!scan) return answer(HTUtility::scanError());
      answer(std::move(scan));
    });
  });
}

std::future<std::optional<HCFError>> HCFFutures::downloadCatalog(
    std::function<void(float fraction)> progress) {
  return onMainQueue<std::optional<HCFError>>(
      [progress = std::move(progress)](Answer<std::optional<HCFError>> answer) mutable {
        const auto manager = HCFCentral::productManager();
        if (!manager) return answer(HTUtility::notLoggedInError());
        auto waiter = std::make_shared<DownloadWaiter>(answer, std::move(progress));
        waiter->keepUntilDone(waiter);
        manager->downloadProductsWithDelegate(waiter);
      });
}

std::future<Result<std::vector<HCFProductSearchResult>>> HCFFutures::search(
    HCFProductSearch search) {
  using Found = Result<std::vector<HCFProductSearchResult>>;
  return onMainQueue<Found>([search = std::move(search)](Answer<Found> answer) {
    search.execute(
        [answer](std::vector<HCFProductSearchResult> results, std::optional<HCFError> error) {
          if (error) return answer(*error);
          answer(std::move(results));
        });
  });
}

HCF_NAMESPACE_END
