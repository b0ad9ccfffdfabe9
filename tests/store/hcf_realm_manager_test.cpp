// The device-data cache.
#include <thread>

#include "../support/store_test_support.h"
#include "fixtures.h"
#include "hcf/platform/dispatch/clock.h"

using namespace hcf;
using hcf_test::StoreTest;

namespace {
Bytes bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
}  // namespace

TEST_F(StoreTest, RecordsComeBackEqualFieldByField) {
  const auto record =
      hcf_cloud::fixtures::makeRecord({.serial = "00AA00BB00CC",
                                       .tintraModel = "4.0",
                                       .batchNumber = 12,
                                       .adjustment = hcf_cloud::fixtures::Adjustment::Network,
                                       .competingEntries = true});
  HCFRealmManager::addTintraDevice(record);
  auto back = HCFRealmManager::fetchTintraDeviceWithSerial("00AA00BB00CC");
  ASSERT_TRUE(back);
  EXPECT_TRUE(TintraDeviceRecord::isEqual(*back, record));
  EXPECT_FALSE(HCFRealmManager::fetchTintraDeviceWithSerial("00AA00BB00CD"));
  // Adding again replaces.
  auto changed = record;
  changed.set_updated_at(5);
  HCFRealmManager::addTintraDevice(changed);
  EXPECT_EQ(HCFRealmManager::fetchTintraDeviceWithSerial("00AA00BB00CC")->updated_at(), 5);
}

TEST_F(StoreTest, AlignmentKeepsTheNewerAndIgnoresBatchesBelowOne) {
  HCFRealmManager::addUpdateAlignmentHash(bytes("{\"v\":1}"), 7, 100);
  HCFRealmManager::addUpdateAlignmentHash(bytes("{\"v\":2}"), 7, 100);  // same time: kept
  EXPECT_EQ((*HCFRealmManager::fetchAlignmentForSource(7)->alignmentDic())["v"], 1);
  HCFRealmManager::addUpdateAlignmentHash(bytes("{\"v\":3}"), 7, 99);  // older: kept
  EXPECT_EQ((*HCFRealmManager::fetchAlignmentForSource(7)->alignmentDic())["v"], 1);
  HCFRealmManager::addUpdateAlignmentHash(bytes("{\"v\":4}"), 7, 101);  // newer: replaced
  EXPECT_EQ((*HCFRealmManager::fetchAlignmentForSource(7)->alignmentDic())["v"], 4);
  HCFRealmManager::addUpdateAlignmentHash(bytes("{}"), 0, 500);
  HCFRealmManager::addUpdateAlignmentHash(bytes("{}"), -3, 500);
  HCFRealmManager::addUpdateAlignmentHash(std::nullopt, 9, 500);
  EXPECT_EQ(HCFRealmManager::fetchAlignmentSources(), (std::vector<std::int32_t>{7}));
  EXPECT_FALSE(HCFRealmManager::fetchAlignmentForSource(8));
}

TEST(HAlignmentHash, DerivedAccessors) {
  HAlignmentHash h;
  h.sourceBatch = 5;
  h.jsonData = bytes(R"({"uANN":{"5":{"1":{},"2":{},"3":{}}},"priorities":["3","9","1"]})");
  EXPECT_EQ(h.sortedTargetBatches(), (std::vector<std::string>{"3", "1", "2"}));
  EXPECT_EQ(h.priorityArray()->size(), 3u);
  h.jsonData = bytes(R"({"uANN":{"6":{}},"priorities":[]})");
  EXPECT_FALSE(h.sortedTargetBatches());
  EXPECT_FALSE(h.priorityArray());  // empty
  h.jsonData = bytes("not json");
  EXPECT_FALSE(h.alignmentDic());
  EXPECT_FALSE(h.sortedTargetBatches());
  h.jsonData.reset();
  EXPECT_FALSE(h.alignmentDic());
  // The fixture's documents put batch 95 first.
  h.sourceBatch = 7;
  h.jsonData = bytes(hcf_cloud::fixtures::alignmentDocument(7));
  EXPECT_EQ(h.sortedTargetBatches(), (std::vector<std::string>{"95", "12"}));
}

TEST_F(StoreTest, SpectrometerEntriesNeedTwoModelPathsAndAgeByTheCalendar) {
  const JsonValue ann = {{"models", {"a", "b"}}};
  HCFRealmManager::storeSpectro("IRS1", "Irisel-1", "4", ann, {"models/a.mlmodelc"});
  EXPECT_FALSE(HCFRealmManager::spectroExists("IRS1"));
  EXPECT_TRUE(HCFRealmManager::spectroNeedsUpdatedData("IRS1"));
  const auto start = std::chrono::system_clock::now();
  auto now = start;
  dispatch::setWallClock([&] { return now; });
  HCFRealmManager::storeSpectro("IRS1", "Irisel-1", "4", ann,
                                {"models/a.mlmodelc", "models/b.mlmodelc"});
  EXPECT_TRUE(HCFRealmManager::spectroExists("IRS1"));
  EXPECT_EQ(HCFRealmManager::spectroModelForSerial("IRS1"), "Irisel-1");
  const auto urls = HCFRealmManager::fetchCompiledModelUrlsForSpectro("IRS1");
  ASSERT_TRUE(urls);
  EXPECT_EQ((*urls)[1], dir_ / "models/b.mlmodelc");
  EXPECT_EQ(*HCFRealmManager::fetchSpectro("IRS1")->annJSON(), ann);
  now = start + std::chrono::hours(24) + std::chrono::minutes(59);
  EXPECT_FALSE(HCFRealmManager::spectroNeedsUpdatedData("IRS1"));
  now = start + std::chrono::hours(25);
  EXPECT_TRUE(HCFRealmManager::spectroNeedsUpdatedData("IRS1"));
  EXPECT_EQ(HCFRealmManager::fetchSpectro("IRS1")->hrsSinceServerChecked(), 25);
  dispatch::setWallClock(nullptr);
  EXPECT_FALSE(HCFRealmManager::spectroModelForSerial("nobody"));
  HRLMSpectroModule broken;
  broken.annJsonData = bytes("{");
  broken.mlmodelcURLStringsData = bytes("[1]");
  EXPECT_FALSE(broken.annJSON());
  EXPECT_FALSE(broken.cModelUrls());
  // The stored form "/<serial>/<name>" is appended to the data directory, never taken as an
  // absolute path, and never leads out of it.
  HRLMSpectroModule stored;
  stored.mlmodelcURLStringsData = bytes(R"(["/IRS1/a.mlmodelc", "IRS1/b.mlmodelc"])");
  EXPECT_EQ(stored.cModelUrls(), (std::vector<std::filesystem::path>{dir_ / "IRS1/a.mlmodelc",
                                                                     dir_ / "IRS1/b.mlmodelc"}));
  stored.mlmodelcURLStringsData = bytes(R"(["/../../etc/x"])");
  EXPECT_FALSE(stored.cModelUrls());
}

TEST_F(StoreTest, ConcurrentWritersAreSerialisedNeverLost) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t] {
      for (int i = 1; i <= 25; ++i) {
        HCFRealmManager::addUpdateAlignmentHash(Bytes{'{', '}'}, t * 100 + i, i);
        hcf::TintraDevice d;
        d.set_serial("S" + std::to_string(t * 100 + i));
        HCFRealmManager::addTintraDevice(d);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(HCFRealmManager::fetchAlignmentSources().size(), 100u);
  for (int t = 0; t < 4; ++t) {
    EXPECT_TRUE(HCFRealmManager::fetchTintraDeviceWithSerial("S" + std::to_string(t * 100 + 25)));
  }
}

TEST(HRLMProductKV, HashIsKeyValueAndF) {
  EXPECT_EQ(HRLMProductKV::makeKvHash("Finish", "Matt"), "Finish$$Matt$$f");
}
