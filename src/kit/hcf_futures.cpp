#include "hcf/kit/hcf_futures.h"

#include "hcf/core/ht_utility.h"
#include "hcf/kit/hcf_central.h"
#include "hcf/platform/dispatch/queues.h"

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

}  // namespace

std::future<std::optional<HCFError>> HCFFutures::start(const std::string& sdkKey) {
  return onMainQueue<std::optional<HCFError>>([sdkKey](auto answer) {
    HCFCentral::initWith(sdkKey, [answer](std::optional<HCFError> error) { answer(error); });
  });
}

std::future<Result<std::vector<HPeripheralWRSSI>>> HCFFutures::discover(bool restricted) {
  using Found = Result<std::vector<HPeripheralWRSSI>>;
  return onMainQueue<Found>([restricted](Answer<Found> answer) {
    const auto manager = HCFCentral::connectionManager();
    if (!manager) return answer(HTUtility::devBleInitFailed());
    manager->bleDiscoverWithRestricted(
        restricted, [answer](std::optional<std::vector<HPeripheralWRSSI>> found,
                             std::optional<HCFError> error) {
          // Nothing in range is an answer, not a failure.
          if (error && error->code != error_code::kNoPeripherals) return answer(*error);
          answer(found ? std::move(*found) : std::vector<HPeripheralWRSSI>{});
        });
  });
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
