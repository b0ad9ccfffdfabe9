#include "sim_session.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "await_answer.h"
#include "catalog_fixture.h"
#include "fixtures.h"
#include "interrupt.h"

namespace hcf_tool {

namespace fx = hcf_cloud::fixtures;
using namespace std::chrono_literals;

namespace {

// Folders of sessions whose program was killed (their process is gone) are removed.
void removeAbandonedSessions(const std::filesystem::path& temp) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(temp, ec)) {
    const auto name = entry.path().filename().string();
    if (!name.starts_with("hcf-demo-")) continue;
    char* end = nullptr;
    const long pid = std::strtol(name.c_str() + 9, &end, 10);
    if (pid <= 0 || *end != '\0' || pid == ::getpid()) continue;
    if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) continue;  // still running
    std::filesystem::remove_all(entry.path(), ec);
  }
}

}  // namespace

SimSession::SimSession(Radio radio) {
  const auto temp = std::filesystem::temp_directory_path();
  removeAbandonedSessions(temp);
  dir_ = temp / ("hcf-demo-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir_);
  std::filesystem::create_directories(dir_);
  removeOnInterrupt(dir_);
  if (radio == Radio::Simulated) {
    hcf::dispatch::mainQueue().reset(std::make_shared<hcf::dispatch::ManualClock>());
  } else {
    hcf::dispatch::mainQueue().reset(std::make_shared<hcf::dispatch::SteadyClock>());
  }

  hcf::HCFConfiguration config;
  config.dataDirectory = dir_;
  const char* cloud = std::getenv("HCF_CLOUD_URL");
  if (radio == Radio::Bluez && cloud && *cloud) {
    // Real instruments: the cloud that knows them, and the application's SDK key.
    url_ = cloud;
    const char* key = std::getenv("HCF_SDK_KEY");
    sdkKey_ = key ? key : "";
  } else {
    cloud_ = std::make_unique<hcf_cloud::ReferenceCloud>();
    url_ = cloud_->baseUrl();
    sdkKey_ = fx::kDemoSdkKey;
  }
  config.endpoints = hcf::CloudEndpoints::withBase(url_);
  if (radio == Radio::Bluez) {
    config.bluetooth = hcf::ble::bluez::centralFactory();
    hcf::HCFCentral::configure(config);
    return;
  }
  radio_ = hcf::ble::sim::World::create();
  instruments_ = std::make_unique<fx::DemoInstruments>(*radio_);
  config.bluetooth = fx::centralFactoryFor(radio_);
  hcf::HCFCentral::configure(config);
}

SimSession::~SimSession() {
  if (auto m = hcf::HCFCentral::connectionManager()) m->multiConnectStop();
  cloud_.reset();
  hcf::ble::setCentralFactory({});
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
  keepOnInterrupt(dir_);
}

void SimSession::publishCatalog(std::size_t count) {
  fx::publishCatalog(cloud_->world(), dir_ / "cloud", count);
}

std::string SimSession::startKit() {
  if (sdkKey_.empty()) return "set HCF_SDK_KEY to the application's SDK key for HCF_CLOUD_URL";
  // The answer is kept in state of its own: one that comes after the wait gave up is dropped.
  const auto result = awaitAnswer<std::optional<hcf::HCFError>>(
      [this](auto done) { hcf::HCFCentral::initWith(sdkKey_, done); });
  if (!result) return "the kit did not start";
  if (const auto& error = std::get<0>(*result)) return error->localizedDescription;
  // The radio reports its state shortly after the central is made.
  pass(simulated() ? 50ms : 300ms);
  return {};
}

bool SimSession::runUntil(const std::function<bool()>& done, hcf::dispatch::Duration limit) {
  auto& queue = hcf::dispatch::mainQueue();
  return queue.runUntil(done, queue.now() + limit);
}

void SimSession::pass(hcf::dispatch::Duration duration) {
  hcf::dispatch::mainQueue().runUntil(nullptr, hcf::dispatch::mainQueue().now() + duration);
}

}  // namespace hcf_tool
