#include "hcf/testing/test_kit.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include "catalog_fixture.h"
#include "fixtures.h"
#include "reference_cloud.h"
#include "simulated_instruments.h"

HCF_NAMESPACE_BEGIN
namespace testing {

namespace fx = hcf_cloud::fixtures;

namespace {

hcf::XYZTriple xyzOf(const HCFLabColor& labD50) {
  const HCFXYZColor xyz = labD50.XYZColor();
  return {xyz.X, xyz.Y, xyz.Z};
}

void requireFinite(const HCFLabColor& lab) {
  if (!std::isfinite(lab.L) || !std::isfinite(lab.A) || !std::isfinite(lab.B)) {
    throw std::invalid_argument("a sample's colour must be finite");
  }
}

class Colorimeter final : public SimulatedInstrument {
 public:
  Colorimeter(ble::sim::World& world, const std::string& model) : sim_(world, model) {}
  std::string name() const override {
    return const_cast<Colorimeter*>(this)->sim_.radio().device().name().value_or("");
  }
  const std::string& serial() const override { return sim_.serial(); }
  const std::string& model() const override { return sim_.model(); }
  bool isSpectrometer() const override { return false; }
  void placeSample(const HCFLabColor& labD50) override {
    requireFinite(labD50);
    sim_.measure(xyzOf(labD50));
  }
  void presentWhiteTile() override { sim_.presentWhiteTile(); }
  void setNoise(double counts) override { sim_.setNoise(counts); }
  void pressButton() override { sim_.radio().pressButton(); }
  ble::sim::Device& device() override { return sim_.radio().device(); }

 private:
  fx::SimulatedColorimeter sim_;
};

class Spectrometer final : public SimulatedInstrument {
 public:
  explicit Spectrometer(ble::sim::World& world) : sim_(world) {
    // Until a sample is placed it sees its white reference.
    sim_.measure(fx::reflectanceForLab(HCFLabColor::labColorWithL(100, 0, 0, HCFIlluminant::D50)));
  }
  std::string name() const override {
    return const_cast<Spectrometer*>(this)->sim_.radio().device().name().value_or("");
  }
  const std::string& serial() const override { return sim_.serial(); }
  const std::string& model() const override {
    static const std::string model = fx::kSpectroModel;
    return model;
  }
  bool isSpectrometer() const override { return true; }
  void placeSample(const HCFLabColor& labD50) override {
    requireFinite(labD50);
    sim_.measure(fx::reflectanceForLab(labD50));
  }
  void presentWhiteTile() override {
    sim_.measure(fx::reflectanceForLab(HCFLabColor::labColorWithL(100, 0, 0, HCFIlluminant::D50)));
  }
  void setNoise(double counts) override { sim_.setNoise(counts); }
  void pressButton() override { sim_.radio().pressButton(); }
  ble::sim::Device& device() override { return sim_.radio().device(); }

 private:
  fx::SimulatedSpectrometer sim_;
};

std::filesystem::path makeTemporaryFolder() {
  std::error_code ec;
  auto base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "hcf-testkit-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) {
    throw std::system_error(errno, std::generic_category(), "cannot make a temporary folder");
  }
  return pattern;
}

}  // namespace

SimulatedInstrument::~SimulatedInstrument() = default;

void SimulatedInstrument::setInRange(bool inRange) { device().setAdvertising(inRange); }

void SimulatedInstrument::setSignalStrength(int rssi) { device().setRSSI(rssi); }

struct TestKit::Impl {
  std::filesystem::path dataDirectory;
  bool ownsDirectory = false;
  std::filesystem::path cloudFolder;  // the published catalogues' files
  std::unique_ptr<hcf_cloud::ReferenceCloud> cloud;
  std::shared_ptr<ble::sim::World> radio;
  std::vector<std::unique_ptr<SimulatedInstrument>> instruments;
  std::size_t catalogs = 0;
};

TestKit::TestKit() : TestKit(Options{}) {}

TestKit::TestKit(const Options& options) : impl_(std::make_unique<Impl>()) {
  if (options.dataDirectory.empty()) {
    impl_->dataDirectory = makeTemporaryFolder();
    impl_->ownsDirectory = true;
  } else {
    impl_->dataDirectory = options.dataDirectory;
    std::filesystem::create_directories(impl_->dataDirectory);
  }
  try {
    impl_->cloudFolder = makeTemporaryFolder();
    impl_->cloud = std::make_unique<hcf_cloud::ReferenceCloud>();
  } catch (...) {
    removeFolders();
    throw;
  }
  impl_->radio = ble::sim::World::create();
  if (options.catalogProducts > 0) publishCatalog(options.catalogProducts);
}

TestKit::~TestKit() {
  // The kit's central managers end with the world; the links see their instruments go.
  for (auto& instrument : impl_->instruments) instrument->device().disconnect();
  impl_->cloud.reset();
  impl_->instruments.clear();
  impl_->radio.reset();
  removeFolders();
}

void TestKit::removeFolders() {
  std::error_code ec;
  if (!impl_->cloudFolder.empty()) std::filesystem::remove_all(impl_->cloudFolder, ec);
  if (impl_->ownsDirectory) std::filesystem::remove_all(impl_->dataDirectory, ec);
}

HCFConfiguration TestKit::configuration() const {
  HCFConfiguration config;
  config.dataDirectory = impl_->dataDirectory;
  config.endpoints = CloudEndpoints::withBase(impl_->cloud->baseUrl());
  config.bluetooth = fx::centralFactoryFor(impl_->radio);
  return config;
}

std::string TestKit::sdkKey() const { return fx::kDemoSdkKey; }

std::string TestKit::cloudUrl() const { return impl_->cloud->baseUrl(); }

const std::filesystem::path& TestKit::dataDirectory() const { return impl_->dataDirectory; }

std::vector<std::string> TestKit::colorimeterModels() { return fx::hardwareVersions(); }

SimulatedInstrument& TestKit::addColorimeter(const std::string& model, int rssi) {
  const auto& models = fx::hardwareVersions();
  if (std::find(models.begin(), models.end(), model) == models.end()) {
    throw std::invalid_argument("no simulated colorimeter has the hardware version '" + model +
                                "'");
  }
  for (const auto& i : impl_->instruments) {
    if (!i->isSpectrometer() && i->model() == model) {
      throw std::invalid_argument("a colorimeter of hardware version " + model +
                                  " is already in the world");
    }
  }
  auto instrument = std::make_unique<Colorimeter>(*impl_->radio, model);
  instrument->setSignalStrength(rssi);
  impl_->instruments.push_back(std::move(instrument));
  return *impl_->instruments.back();
}

SimulatedInstrument& TestKit::addSpectrometer(int rssi) {
  for (const auto& i : impl_->instruments) {
    if (i->isSpectrometer())
      throw std::invalid_argument("the spectrometer is already in the world");
  }
  auto instrument = std::make_unique<Spectrometer>(*impl_->radio);
  instrument->setSignalStrength(rssi);
  impl_->instruments.push_back(std::move(instrument));
  return *impl_->instruments.back();
}

std::vector<SimulatedInstrument*> TestKit::instruments() {
  std::vector<SimulatedInstrument*> out;
  for (const auto& i : impl_->instruments) out.push_back(i.get());
  return out;
}

void TestKit::publishCatalog(std::size_t products) {
  if (products == 0) throw std::invalid_argument("a catalogue needs at least one product");
  // Each release in a folder of its own (the cloud may be streaming the one before), a minute
  // newer than the one before, so that a kit holding that one sees a change.
  const std::size_t release = ++impl_->catalogs;
  char updatedAt[64];
  std::snprintf(updatedAt, sizeof updatedAt, "2026-11-30T%02zu:%02zu:00.000Z", 9 + release / 60,
                release % 60);
  fx::publishCatalog(impl_->cloud->world(),
                     impl_->cloudFolder / ("release-" + std::to_string(release)), products,
                     updatedAt);
}

void TestKit::failCloudRequests(const std::string& path, int status, int times) {
  hcf_cloud::Fault fault;
  fault.status = status;
  fault.times = times;
  impl_->cloud->server().setFault(path, fault);
}

void TestKit::clearCloudFaults() { impl_->cloud->server().clearFaults(); }

ble::sim::World& TestKit::radio() { return *impl_->radio; }

}  // namespace testing
HCF_NAMESPACE_END
