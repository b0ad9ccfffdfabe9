#include "sim_session.h"

#include <cstdlib>

#include "await_answer.h"
#include "catalog_fixture.h"
#include "cli.h"
#include "fixtures.h"

namespace hcf_tool {

namespace fx = hcf_cloud::fixtures;
using namespace std::chrono_literals;

SimSession::SimSession(Radio radio, const std::string& adapter)
    : SimSession(SessionOptions{radio, adapter, false, {}}) {}

SimSession::SimSession(const SessionOptions& options)
    : folder_("hcf-demo"),
      dir_(options.dataDirectory.empty() ? folder_.path() : options.dataDirectory),
      realTime_(options.radio == Radio::Bluez || options.realTime) {
  const Radio radio = options.radio;
  const std::string& adapter = options.adapter;
  if (!options.dataDirectory.empty()) std::filesystem::create_directories(dir_);
  if (!realTime_) {
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
    hcf::ble::bluez::Options bluez;
    bluez.adapter = adapter;
    config.bluetooth = hcf::ble::bluez::centralFactory(bluez);
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
}

void SimSession::slowCatalogDownload(std::chrono::milliseconds duration) {
  if (!cloud_) return;
  cloud_->server().setFault(
      std::string("/halvern-product-db-zips/v1/prod-dbs-") + fx::kDemoPackageID + ".zip",
      {.trickle = duration});
}

void SimSession::publishCatalog(std::size_t count) {
  fx::publishCatalog(cloud_->world(), folder_.path() / "cloud", count);
}

std::string SimSession::startKit() {
  if (sdkKey_.empty()) {
    throw UsageError("set HCF_SDK_KEY to the application's SDK key for HCF_CLOUD_URL");
  }
  // The answer is kept in state of its own: one that comes after the wait gave up is dropped.
  const auto result = awaitAnswer<std::optional<hcf::HCFError>>(
      [this](auto done) { hcf::HCFCentral::initWith(sdkKey_, done); });
  if (!result) return "the kit did not start";
  if (const auto& error = std::get<0>(*result)) return error->localizedDescription;
  // The radio reports its state shortly after the central is made.
  pass(simulated() ? 50ms : 300ms);
  return {};
}

void SimSession::startKit(std::function<void(std::optional<hcf::HCFError>)> done) {
  if (sdkKey_.empty()) {
    throw UsageError("set HCF_SDK_KEY to the application's SDK key for HCF_CLOUD_URL");
  }
  hcf::HCFCentral::initWith(sdkKey_, std::move(done));
}

fx::SimulatedColorimeter* SimSession::colorimeter(const std::string& serial) {
  if (!simulated()) return nullptr;
  if (serial == orla().serial()) return &orla();
  if (serial == tintra().serial()) return &tintra();
  return nullptr;
}

bool SimSession::place(const std::string& serial, const hcf::HCFLabColor& labD50) {
  if (auto* c = colorimeter(serial)) {
    const auto xyz = labD50.XYZColor();
    c->measure(hcf::XYZTriple{xyz.X, xyz.Y, xyz.Z});
    return true;
  }
  if (!simulated() || serial != irisel().serial()) return false;
  irisel().measure(fx::reflectanceForLab(labD50));
  return true;
}

bool SimSession::presentWhiteTile(const std::string& serial) {
  auto* c = colorimeter(serial);
  if (c) c->presentWhiteTile();
  return c != nullptr;
}

bool SimSession::pressButton(const std::string& serial) {
  if (auto* c = colorimeter(serial)) {
    c->radio().pressButton();
    return true;
  }
  if (!simulated() || serial != irisel().serial()) return false;
  irisel().radio().pressButton();
  return true;
}

bool SimSession::runUntil(const std::function<bool()>& done, hcf::dispatch::Duration limit) {
  auto& queue = hcf::dispatch::mainQueue();
  return queue.runUntil(done, queue.now() + limit);
}

void SimSession::pass(hcf::dispatch::Duration duration) {
  hcf::dispatch::mainQueue().runUntil(nullptr, hcf::dispatch::mainQueue().now() + duration);
}

}  // namespace hcf_tool
