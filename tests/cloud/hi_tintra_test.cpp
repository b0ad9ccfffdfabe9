// The device-data service against the reference cloud, every failure row by a real answer.
#include "hcf/cloud/hi_tintra.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "../support/cloud_test_support.h"
#include "cloud_world.h"
#include "fixtures.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/platform/dispatch/queues.h"
#include "hcf/platform/notify/notification_center.h"
#include "hcf/store/hcf_realm_manager.h"

using namespace hcf;
using namespace std::chrono_literals;
namespace fx = hcf_cloud::fixtures;

namespace {

struct Outcome {
  std::optional<TintraDevice> record;
  std::optional<HCFError> error;
};

class DeviceDataTest : public hcf_test::CloudTest {
 protected:
  void SetUp() override {
    CloudTest::SetUp();
    HITintraSession::currentSession().setApiKey(fx::kDemoDeviceKey);
    dispatch::mainQueue().reset(std::make_shared<dispatch::ManualClock>());
  }

  // Returns once every request and every answer in flight is done (the main queue waits for
  // work in flight before it calls itself idle).
  void settle() {
    dispatch::mainQueue().runUntil([] { return false; });
  }
  void TearDown() override { CloudTest::TearDown(); }

  Outcome fetch(const std::string& serial) {
    std::promise<Outcome> done;
    HITintra::fetchTintraData(
        serial,
        [&](const TintraDevice& r) {
          done.set_value({r, std::nullopt});
        },
        [&](const HCFError& e) {
          done.set_value({std::nullopt, e});
        });
    auto f = done.get_future();
    EXPECT_EQ(f.wait_for(20s), std::future_status::ready);
    return f.get();
  }

  std::size_t requestsTo(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& r : server_.requests()) n += r.path.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
};

}  // namespace

TEST_F(DeviceDataTest, RecordIsDownloadedCachedAndThenServedWithoutTraffic) {
  const std::string serial = fx::serialFor("2.0");
  Outcome first = fetch(serial);
  ASSERT_TRUE(first.record) << first.error->localizedDescription;
  EXPECT_EQ(first.record->serial(), serial);
  ASSERT_EQ(server_.requests().size(), 1u);
  const auto req = server_.requests()[0];
  EXPECT_EQ(req.headers.find("HI-Auth-Token")->second, fx::kDemoDeviceKey);
  EXPECT_EQ(req.headers.find("Content-Type")->second, "application/x-protobuf");
  EXPECT_TRUE(HCFRealmManager::fetchTintraDeviceWithSerial(serial));
  Outcome second = fetch(serial);
  ASSERT_TRUE(second.record);
  EXPECT_EQ(server_.requests().size(), 1u);  // the cache answered
  EXPECT_TRUE(TintraDeviceRecord::isEqual(*first.record, *second.record));
}

TEST_F(DeviceDataTest, CachedRecordWithoutAdjustmentIsDownloadedAgain) {
  const std::string serial = fx::serialFor("1.3");
  auto stale = fx::makeRecord({.serial = serial, .tintraModel = "1.3"});  // no adjustment method
  HCFRealmManager::addTintraDevice(stale);
  Outcome o = fetch(serial);
  ASSERT_TRUE(o.record);
  EXPECT_EQ(requestsTo("/b2/"), 1u);
  EXPECT_TRUE(TintraDeviceProtoHelper::topCalHasAdjustmentMethodForDevice(
      *HCFRealmManager::fetchTintraDeviceWithSerial(serial)));
}

TEST_F(DeviceDataTest, ColorOrlaComesWithItsBatchAlignment) {
  const std::string serial = fx::orlaSerial(12);
  Outcome o = fetch(serial);
  ASSERT_TRUE(o.record) << o.error->localizedDescription;
  EXPECT_EQ(requestsTo("/orla_alignment_ann/12.json"), 1u);
  auto alignment = HCFRealmManager::fetchAlignmentForSource(12);
  ASSERT_TRUE(alignment);
  EXPECT_EQ(alignment->updatedAt,
            static_cast<std::int32_t>(B2Public::stringToDate("Sun, 06 Nov 2026 08:49:37 GMT")));
  EXPECT_EQ(alignment->sortedTargetBatches(), (std::vector<std::string>{"95", "7"}));
  // Cached with its alignment: no traffic. Without it: both downloaded again.
  fetch(serial);
  EXPECT_EQ(requestsTo("/b2/"), 1u);
  const auto file = HCFRealmManager::storeFile(StoreKind::DeviceData);
  HCFRealmManager::performRealmWipeForRealmURL(file);
  HCFRealmManager::addTintraDevice(*o.record);
  fetch(serial);
  EXPECT_EQ(requestsTo("/b2/"), 2u);
  EXPECT_EQ(requestsTo("/orla_alignment_ann/12.json"), 2u);
}

TEST_F(DeviceDataTest, EveryFailureOfTheTable) {
  Outcome o = fetch("FFFFFFFFFFFF");  // unknown serial: 404
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, 9014);
  EXPECT_EQ(o.error->localizedDescription,
            "Device calibration fetch from web failed. Serial:FFFFFFFFFFFF");

  server_.setFault("/b2/ext_api/v1/tintra_device.protobuf", {.body = "\xff\xff\xff", .times = 1});
  o = fetch(fx::serialFor("2.1"));  // bytes that are not a record
  EXPECT_EQ(o.error->code, 9014);

  o = fetch(fx::kUncalibratedSerial);
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, 9012);
  EXPECT_EQ(o.error->localizedDescription,
            std::string("Defective device(calibration). Serial:") + fx::kUncalibratedSerial);
  o = fetch(fx::kUnbatchedSerial);
  EXPECT_EQ(o.error->code, 9013);
  EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial(fx::kUnbatchedSerial));  // not cached

  o = fetch(fx::kOrphanOrlaSerial);  // no alignment for batch 99
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, 9011);
  EXPECT_EQ(o.error->localizedDescription, "Unable to fetch tuning data from web");
  EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial(fx::kOrphanOrlaSerial));

  HITintraSession::currentSession().setApiKey("wrong-key");  // 401
  o = fetch(fx::serialFor("3.0"));
  EXPECT_EQ(o.error->code, 9014);
}

TEST_F(DeviceDataTest, EmptySerialFailsWithoutARequestAndSerialsAreEncoded) {
  Outcome o = fetch("");
  ASSERT_TRUE(o.error);
  EXPECT_EQ(o.error->code, 9014);
  EXPECT_TRUE(server_.requests().empty());
  const std::string odd = "A B&C#D/E";
  auto record =
      fx::makeRecord({.serial = odd, .tintraModel = "2.0", .adjustment = fx::Adjustment::Table});
  const Bytes b = TintraDeviceRecord::data(record);
  world_->putRecord(odd, std::string(b.begin(), b.end()));
  o = fetch(odd);
  ASSERT_TRUE(o.record) << o.error->localizedDescription;
  EXPECT_EQ(o.record->serial(), odd);
}

TEST_F(DeviceDataTest, AlignmentRefreshReplacesOnlyNewerFiles) {
  HCFRealmManager::addUpdateAlignmentHash(Bytes{'{', '}'}, 7, 1);  // older than the server's
  const std::int32_t serverTime =
      static_cast<std::int32_t>(B2Public::stringToDate("Sun, 06 Nov 2026 08:49:37 GMT"));
  HCFRealmManager::addUpdateAlignmentHash(Bytes{'[', ']'}, 12, serverTime);  // as new
  HCFRealmManager::addUpdateAlignmentHash(Bytes{'"', '"'}, 99, 5);           // the server has none
  HITintra::updateAlignmentData();
  settle();
  EXPECT_EQ(requestsTo("/orla_alignment_ann/"), 3u);
  EXPECT_EQ(HCFRealmManager::fetchAlignmentForSource(7)->updatedAt, serverTime);
  EXPECT_EQ(*HCFRealmManager::fetchAlignmentForSource(12)->jsonData, (Bytes{'[', ']'}));
  EXPECT_EQ(HCFRealmManager::fetchAlignmentForSource(99)->updatedAt, 5);
  // The application becoming active refreshes again.
  const auto before = requestsTo("/orla_alignment_ann/");
  HITintra::addANNObserver();
  notify::NotificationCenter::defaultCenter().post(notify::kApplicationDidBecomeActiveNotification);
  settle();
  EXPECT_EQ(requestsTo("/orla_alignment_ann/"), before + 6);
}

// A body that is not the batch's alignment document never replaces the kept one, however new
// its date; on a first download it fails the instrument with 9011 and nothing is cached.
TEST_F(DeviceDataTest, OnlyAlignmentDocumentsAreKept) {
  JsonValue twoOutputs = JsonValue::parse(fx::alignmentDocument(7));
  for (auto& [target, net] : twoOutputs["uANN"]["7"].items()) {
    // The output layer loses its last node.
    auto shape = net["shape"];
    shape.back() = 2;
    net["shape"] = shape;
    const std::size_t last = net["weights"].size() - 1;
    net["weights"][last].erase(net["weights"][last].size() - 1);
    net["biasWeights"][last].erase(net["biasWeights"][last].size() - 1);
  }
  const std::vector<std::pair<const char*, std::string>> bodies = {
      {"maintenance page", "<html><body>Back soon</body></html>"},
      {"empty object", "{}"},
      {"another batch's document", fx::alignmentDocument(12)},
      {"networks with two outputs", twoOutputs.dump()},
      {"cut off", fx::alignmentDocument(7).substr(0, 40)},
  };
  const std::string kept = fx::alignmentDocument(7);
  for (const auto& [what, body] : bodies) {
    SCOPED_TRACE(what);
    HCFRealmManager::performRealmWipeForRealmURL(HCFRealmManager::storeFile(StoreKind::DeviceData));
    HCFRealmManager::addUpdateAlignmentHash(Bytes(kept.begin(), kept.end()), 7, 1);
    world_->putAlignment(7, {body, "Mon, 07 Dec 2026 08:49:37 GMT"});
    HITintra::updateAlignmentData();
    settle();
    EXPECT_EQ(*HCFRealmManager::fetchAlignmentForSource(7)->jsonData,
              Bytes(kept.begin(), kept.end()));
    HCFRealmManager::performRealmWipeForRealmURL(HCFRealmManager::storeFile(StoreKind::DeviceData));
    Outcome o = fetch(fx::orlaSerial(7));
    ASSERT_TRUE(o.error);
    EXPECT_EQ(o.error->code, 9011);
    EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial(fx::orlaSerial(7)));
  }
  world_->putAlignment(7, {kept, "Mon, 07 Dec 2026 08:49:37 GMT"});
  EXPECT_TRUE(fetch(fx::orlaSerial(7)).record);
}

// A damaged device-data store never blames the instrument: it is set aside, made again and
// filled from the cloud.
TEST_F(DeviceDataTest, ADamagedStoreIsMadeAgainAndFilledFromTheCloud) {
  const std::string serial = fx::serialFor("2.0");
  const auto file = HCFRealmManager::storeFile(StoreKind::DeviceData);
  for (const bool wholeFile : {true, false}) {
    SCOPED_TRACE(wholeFile ? "not a database" : "damaged pages");
    ASSERT_TRUE(fetch(serial).record);
    {
      // Everything written so far into the file itself, so that damaging it loses the record.
      sqlite3* db = nullptr;
      ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
      EXPECT_EQ(sqlite3_exec(db, "PRAGMA wal_checkpoint(TRUNCATE)", nullptr, nullptr, nullptr),
                SQLITE_OK);
      sqlite3_close(db);
      std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
      const auto size = std::filesystem::file_size(file);
      f.seekp(wholeFile ? 0 : 4096);  // the whole file, or every page after the first
      f << std::string(size, 'Z').substr(wholeFile ? 0 : 4096);
    }
    HCFRealmManager::performRealmWipeForRealmURL("/nonexistent");  // new connections
    const auto before = requestsTo("/b2/");
    Outcome o = fetch(serial);
    ASSERT_TRUE(o.record) << o.error->localizedDescription;
    EXPECT_EQ(requestsTo("/b2/"), before + 1);
    EXPECT_TRUE(HCFRealmManager::fetchTintraDeviceWithSerial(serial));
    EXPECT_TRUE(std::filesystem::exists(file.string() + ".damaged"));
    std::filesystem::remove(file.string() + ".damaged");
  }
}

TEST_F(DeviceDataTest, StartSetsTheKeyAndAnswersAtOnce) {
  bool called = false;
  HITintra::startWithKey(
      "key-2", [&](HITintraSession& s) { called = s.apiKey() == "key-2"; },
      [](const HCFError&) { FAIL() << "starting cannot fail"; });
  EXPECT_TRUE(called);
  EXPECT_EQ(B2Public::initWithApiKey("k").b2Params().size(), 1u);
  EXPECT_TRUE(B2Public::initWithApiKey(std::nullopt).b2Params().empty());
  EXPECT_EQ(B2Public::initWithApiKey("k").b2URLString(), server_.baseUrl() + "/b2/ext_api/v1/");
}

TEST(B2Public, HttpDates) {
  EXPECT_EQ(B2Public::stringToDate("Sun, 06 Nov 1994 08:49:37 GMT"), 784111777u);
  EXPECT_EQ(B2Public::stringToDate("Sunday, 06-Nov-94 08:49:37 GMT"), 0u);  // not the fixed form
  EXPECT_EQ(B2Public::stringToDate("yesterday"), 0u);
  EXPECT_EQ(B2Public::stringToDate(""), 0u);
}
