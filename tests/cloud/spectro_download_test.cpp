// Model packages fetched from the reference cloud: every failure row by a real answer, the
// refresh and its offline fallback, and the reconstructed reflectance of a simulated instrument.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <tuple>

#include "../support/cloud_test_support.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/cloud/hcf_spectro_ann.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/log.h"
#include "hcf/platform/dispatch/clock.h"
#include "hcf/platform/http/session.h"
#include "hcf/store/hcf_realm_manager.h"
#include "package_builder.h"
#include "spectrometer.h"

using namespace hcf;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace fx = hcf_cloud::fixtures;

namespace {

struct Chain {
  std::optional<std::vector<std::shared_ptr<const HCFMLModel>>> models;
  std::optional<std::string> model;
  std::optional<HCFError> error;
};

constexpr const char* kPackagePath = "/irisel/model_packages/zips/ios/";

class SpectroDownloadTest : public hcf_test::CloudTest {
 protected:
  void SetUp() override {
    CloudTest::SetUp();
    setLogHandler([this](std::string_view line) {
      const std::lock_guard lock(logMutex_);
      log_.emplace_back(line);
    });
  }
  void TearDown() override {
    setLogHandler({});
    dispatch::setWallClock({});
    CloudTest::TearDown();
  }

  template <typename Call>
  Chain await(Call call, const std::string& serial) {
    std::promise<Chain> done;
    call(serial, [&](auto models, auto model, auto error) {
      done.set_value({std::move(models), std::move(model), std::move(error)});
    });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(20s), std::future_status::ready);
    return f.get();
  }
  Chain get(const std::string& serial) { return await(HCFSpectroANN::getANNs, serial); }
  Chain download(const std::string& serial) { return await(HCFSpectroANN::downloadANNs, serial); }

  std::size_t packageRequests() const {
    std::size_t n = 0;
    for (const auto& r : server_.requests()) n += r.path.rfind(kPackagePath, 0) == 0 ? 1 : 0;
    return n;
  }
  bool logged(const std::string& line) {
    const std::lock_guard lock(logMutex_);
    return std::find(log_.begin(), log_.end(), line) != log_.end();
  }
  // A day and a bit later than now: every stored package is due for a refresh.
  void moveClockPastRefresh() {
    const auto later = std::chrono::system_clock::now() + 25h;
    dispatch::setWallClock([later] { return later; });
  }

  std::mutex logMutex_;
  std::vector<std::string> log_;
};

// Runs the raw response of the simulated instrument through the chain, as the spectrometer does.
std::vector<double> reflectance(const Chain& chain, const fx::SpectrometerModel& instrument,
                                const fx::Reflectance& sample) {
  const auto raw = instrument.response(sample);
  auto values = mlmultiArray(std::vector<double>(raw.begin(), raw.end()));
  for (const auto& m : *chain.models) {
    auto out = m->predictionFromDense_1_input__0(values);
    if (!out.ok()) {
      ADD_FAILURE() << out.error().localizedDescription;
      return {};
    }
    values = out->output_node0__0;
  }
  return arrayFromMulti(values);
}

std::vector<std::string> storedPaths(const HRLMSpectroModule& m) {
  if (!m.mlmodelcURLStringsData) return {};
  const auto& d = *m.mlmodelcURLStringsData;
  return JsonValue::parse(std::string(d.begin(), d.end())).get<std::vector<std::string>>();
}

double worstError(const Chain& chain, const std::string& serial) {
  const auto instrument = fx::spectrometerFor(serial);
  double worst = 0;
  for (const auto& sample : fx::sampleReflectances()) {
    const auto curve = reflectance(chain, instrument, sample);
    EXPECT_EQ(curve.size(), fx::kCurveSamples);
    for (std::size_t i = 0; i < curve.size() && i < sample.size(); ++i) {
      worst = std::max(worst, std::abs(curve[i] - sample[i]));
    }
  }
  return worst;
}

}  // namespace

TEST_F(SpectroDownloadTest, ThreeModelPackageIsFetchedStoredAndThenUsedWithoutTraffic) {
  const auto serial = fx::iriselSerial(fx::PackageKind::ThreeModels);
  const Chain first = get(serial);
  ASSERT_FALSE(first.error) << first.error->localizedDescription;
  ASSERT_TRUE(first.models);
  ASSERT_EQ(first.models->size(), 3u);
  EXPECT_EQ(first.model, fx::kSpectroModel);
  EXPECT_LT(worstError(first, serial), 0.002);

  const auto stored = HCFRealmManager::fetchSpectro(serial);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->model, fx::kSpectroModel);
  EXPECT_EQ(stored->batch, fx::kSpectroBatch);
  EXPECT_EQ(storedPaths(*stored),
            (std::vector<std::string>{"/" + serial + "/vectorNormalization.mlmodelc",
                                      "/" + serial + "/spectralInverse.mlmodelc",
                                      "/" + serial + "/reflectanceClamp.mlmodelc"}));
  ASSERT_EQ(packageRequests(), 1u);
  const auto request = server_.requests().back();
  EXPECT_EQ(request.path, kPackagePath + serial + ".zip");
  const auto cacheControl = request.headers.find("Cache-Control");
  ASSERT_NE(cacheControl, request.headers.end());
  EXPECT_EQ(cacheControl->second, "no-cache");

  const Chain again = get(serial);
  ASSERT_TRUE(again.models);
  EXPECT_EQ(again.models->size(), 3u);
  EXPECT_EQ(again.model, fx::kSpectroModel);
  EXPECT_EQ(packageRequests(), 1u) << "a fresh stored package needs no network";
  EXPECT_LT(worstError(again, serial), 0.002);
}

TEST_F(SpectroDownloadTest, DueRefreshDownloadsAgainInPlaceAndFallsBackWhenOffline) {
  const auto serial = fx::iriselSerial(fx::PackageKind::TwoModels);
  ASSERT_FALSE(get(serial).error);
  const auto compiled = dir_ / serial / "spectralInverse.mlmodelc";
  ASSERT_TRUE(fs::exists(compiled));
  std::ofstream(compiled / "marker") << "from the first download";

  moveClockPastRefresh();
  EXPECT_TRUE(HCFRealmManager::spectroNeedsUpdatedData(serial));
  const Chain refreshed = get(serial);
  ASSERT_TRUE(refreshed.models);
  EXPECT_EQ(refreshed.models->size(), 2u);
  EXPECT_EQ(packageRequests(), 2u);
  EXPECT_TRUE(fs::exists(compiled / "model.json"));
  EXPECT_FALSE(fs::exists(compiled / "marker")) << "the compiled model is replaced, not merged";
  EXPECT_FALSE(fs::exists(dir_ / serial / "spectralInverse.mlmodelc.mlmodelc"));
  EXPECT_LT(worstError(refreshed, serial), 0.002);

  // Still due (the clock stays ahead): the cloud fails, then goes away; the old chain serves.
  const auto farther = std::chrono::system_clock::now() + 50h;
  dispatch::setWallClock([farther] { return farther; });
  server_.setFault(kPackagePath + serial + ".zip", {.status = 503, .body = "busy"});
  const Chain failing = get(serial);
  ASSERT_FALSE(failing.error);
  ASSERT_TRUE(failing.models);
  EXPECT_EQ(failing.models->size(), 2u);
  EXPECT_EQ(failing.model, fx::kSpectroModel);
  EXPECT_EQ(packageRequests(), 3u);

  server_.stop();
  const Chain offline = get(serial);
  ASSERT_FALSE(offline.error);
  EXPECT_EQ(offline.models->size(), 2u);
  EXPECT_LT(worstError(offline, serial), 0.002);
}

TEST_F(SpectroDownloadTest, SingleModelPackageIsUsedButNotKeptAndOldPackagesUseTheTwoNameList) {
  const auto single = fx::iriselSerial(fx::PackageKind::OneModel);
  const Chain first = get(single);
  ASSERT_FALSE(first.error);
  ASSERT_EQ(first.models->size(), 1u);
  EXPECT_LT(worstError(first, single), 0.002);
  EXPECT_FALSE(HCFRealmManager::spectroExists(single));
  ASSERT_FALSE(get(single).error);
  EXPECT_EQ(packageRequests(), 2u) << "nothing stored, so downloaded again";

  const auto legacy = fx::iriselSerial(fx::PackageKind::NoOrder);
  const Chain old = get(legacy);
  ASSERT_FALSE(old.error) << old.error->localizedDescription;
  EXPECT_EQ(old.models->size(), 2u);
  EXPECT_TRUE(logged("No ANN order list provided"));
  const auto stored = HCFRealmManager::fetchSpectro(legacy);
  ASSERT_TRUE(stored);
  EXPECT_EQ(storedPaths(*stored),
            (std::vector<std::string>(2, "/" + legacy + "/vectorNormalization.mlmodelc")));
}

TEST_F(SpectroDownloadTest, EveryFailureRowComesFromARealAnswer) {
  // Status other than 200.
  const std::string unknown = "00E15E0000FF";
  Chain c = download(unknown);
  ASSERT_TRUE(c.error);
  EXPECT_EQ(c.error->code, 9011);
  EXPECT_EQ(c.error->localizedDescription, "Unable to fetch tuning data from web");
  EXPECT_TRUE(logged("Failed to fetch calibration data for device: " + unknown));
  EXPECT_FALSE(c.models);
  EXPECT_FALSE(c.model);

  // Not a zip: the package cannot be unpacked into its folder.
  const auto notZip = fx::iriselSerial(fx::PackageKind::NotAZip);
  c = download(notZip);
  ASSERT_TRUE(c.error);
  EXPECT_EQ(c.error->code, 9011);
  EXPECT_TRUE(logged("Failed to create directory " + (dir_ / notZip).string()));

  // A model that does not compile, and one that is missing from the archive: 9100, saying which.
  const std::vector<std::pair<fx::PackageKind, std::string>> defects = {
      {fx::PackageKind::Unsupported, "the model \"spectralInverse\" does not compile"},
      {fx::PackageKind::MissingModel, "the model \"reflectanceClamp\" is not in the package"}};
  for (const auto& [kind, why] : defects) {
    const auto serial = fx::iriselSerial(kind);
    c = download(serial);
    ASSERT_TRUE(c.error) << serial;
    EXPECT_EQ(c.error->code, 9100);
    EXPECT_EQ(c.error->localizedDescription.rfind(
                  "The model package of " + serial + " cannot be used: " + why, 0),
              0u)
        << c.error->localizedDescription;
    EXPECT_FALSE(HCFRealmManager::spectroExists(serial));
  }

  // A body cut short, and no server at all: the transport's own errors.
  const auto good = fx::iriselSerial(fx::PackageKind::ThreeModels);
  server_.setFault(kPackagePath + good + ".zip", {.cutAfter = 100, .times = 1});
  c = download(good);
  ASSERT_TRUE(c.error);
  EXPECT_EQ(c.error->domain, "NSURLErrorDomain");
  server_.stop();
  c = download(good);
  ASSERT_TRUE(c.error);
  EXPECT_EQ(c.error->domain, "NSURLErrorDomain");
  EXPECT_EQ(c.error->code, http::url_error::kCannotConnectToHost);
  EXPECT_FALSE(HCFRealmManager::spectroExists(good));
}

// A refresh is installed whole or not at all: whatever is wrong with the new package, the one
// before stays as it was, and nothing of the attempt is left behind.
TEST_F(SpectroDownloadTest, ARefreshThatFailsKeepsThePackageBeforeWhole) {
  const auto serial = fx::iriselSerial(fx::PackageKind::ThreeModels);
  ASSERT_FALSE(get(serial).error);
  const auto files = [&] {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir_)) {
      names.push_back(fs::relative(e.path(), dir_).string());
    }
    std::sort(names.begin(), names.end());
    return names;
  };
  const auto before = files();
  const auto model = [](double scale, std::int64_t in, std::int64_t out) {
    std::vector<double> w(static_cast<std::size_t>(in * out), 0.0);
    for (std::int64_t i = 0; i < std::min(in, out); ++i)
      w[static_cast<std::size_t>(i * out + i)] = scale;
    fx::OnnxGraph g({in});
    g.weights("W", {in, out}, w).node("MatMul", {"dense_1_input__0", "W"}, "output_node0__0");
    return g.bytes();
  };
  const std::string order = R"({"ann_order":["a","b"],"model":"Irisel S1","batch":"2"})";
  const std::vector<std::tuple<const char*, hcf::Bytes, std::int64_t, std::string>> refreshes = {
      {"second model does not compile", fx::modelPackage(serial, fx::PackageKind::Unsupported),
       9100, "the model \"spectralInverse\" does not compile"},
      {"models that do not fit together",
       fx::zipArchive(
           {{"info.json", order}, {"a.mlmodel", model(2, 32, 3)}, {"b.mlmodel", model(2, 4, 4)}}),
       9100, "the chain does not run: model \"b\" takes 4 values, the one before gives 3"},
      {"a weight that is not a number",
       fx::zipArchive({{"info.json", order},
                       {"a.mlmodel", model(std::nan(""), 32, 3)},
                       {"b.mlmodel", model(2, 3, 3)}}),
       9100, "the model \"a\""},
      {"no info.json", fx::zipArchive({{"a.mlmodel", model(2, 32, 3)}}), 9100,
       "it has no info.json"},
      {"a model name that leaves the folder",
       fx::zipArchive({{"info.json", R"({"ann_order":["../a","b"]})"}}), 9100,
       "the model name \"../a.mlmodel\" is not a plain file name"},
      {"not an archive", hcf::Bytes{'P', 'K', 3, 4}, 9011, ""},
  };
  for (const auto& [what, zip, code, why] : refreshes) {
    SCOPED_TRACE(what);
    world_->putPackage(serial, std::string(zip.begin(), zip.end()));
    const Chain failed = download(serial);
    ASSERT_TRUE(failed.error);
    EXPECT_EQ(failed.error->code, code);
    EXPECT_NE(failed.error->localizedDescription.find(why), std::string::npos)
        << failed.error->localizedDescription;
    EXPECT_EQ(files(), before);
    moveClockPastRefresh();
    const Chain kept = get(serial);  // due for a refresh that fails: the package before serves
    ASSERT_TRUE(kept.models);
    EXPECT_LT(worstError(kept, serial), 0.002);
    dispatch::setWallClock({});
  }
  // A refresh that succeeds leaves the new package alone: no file of the one before, no archive.
  const auto good = fx::zipArchive(
      {{"info.json", order}, {"a.mlmodel", model(2, 32, 3)}, {"b.mlmodel", model(2, 3, 3)}});
  world_->putPackage(serial, std::string(good.begin(), good.end()));
  ASSERT_FALSE(download(serial).error);
  for (const auto& name : files()) {
    EXPECT_TRUE(name.rfind(serial, 0) == 0 || name.find(".realm") != std::string::npos) << name;
    EXPECT_EQ(name.find("spectralInverse"), std::string::npos) << name;
    EXPECT_EQ(name.find(".zip"), std::string::npos) << name;
  }
}

TEST_F(SpectroDownloadTest, UnsafePackagesAndSerialsWriteNothingOutsideTheirFolder) {
  const auto slip = fx::iriselSerial(fx::PackageKind::ZipSlip);
  Chain c = download(slip);
  ASSERT_TRUE(c.error);
  EXPECT_EQ(c.error->code, 9011);
  EXPECT_FALSE(fs::exists(dir_ / (slip + "-escaped.txt")));
  EXPECT_FALSE(fs::exists(dir_.parent_path() / (slip + "-escaped.txt")));
  EXPECT_FALSE(HCFRealmManager::spectroExists(slip));

  // A serial that is no plain file name: the answer (here a real package under the escaped
  // name) is never unpacked.
  const auto good = fx::modelPackage("x", fx::PackageKind::ThreeModels);
  world_->putPackage("..", std::string(good.begin(), good.end()));
  for (const std::string bad : {"..", "a/b", ""}) {
    c = download(bad);
    ASSERT_TRUE(c.error) << bad;
    EXPECT_EQ(c.error->code, 9011) << bad;
  }
  EXPECT_FALSE(fs::exists(dir_.parent_path() / ".zip"));
  EXPECT_FALSE(fs::exists(dir_ / "a"));
}
