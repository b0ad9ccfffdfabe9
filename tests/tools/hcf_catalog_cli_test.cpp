// hcf catalog: building a prepared products store and its archive, and looking into one.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "cli_runner.h"
#include "hcf/core/json.h"
#include "platform/zip/unzip.h"

using hcf_test::Outcome;
using hcf_test::runHcf;

TEST(HcfCatalog, BuildsAStoreAndItsArchiveFromProductLines) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-catalog-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto lines = (dir / "products.jsonl").string();
  const Outcome fixture = runHcf("catalog fixture --count 25 --names '" HCF_DATA_DIR
                                 "/colors/color-name-list.csv' --out '" +
                                 lines + "'");
  ASSERT_EQ(fixture.status, 0) << fixture.err;
  EXPECT_EQ(fixture.out.substr(0, 12), "25 products,");

  const Outcome built =
      runHcf("catalog build '" + lines + "' --package-id acme-2 --out '" + dir.string() + "'");
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_NE(built.out.find("products       25\n"), std::string::npos) << built.out;
  const auto store = dir / "halvern-products-acme-2.realm";
  const auto archive = dir / "prod-dbs-acme-2.zip";
  ASSERT_TRUE(std::filesystem::exists(store));
  // The archive holds the store under its own name, as the downloader expects.
  const auto unpacked = hcf::zip::unzipFileAtPath(archive, dir / "unpacked");
  ASSERT_TRUE(unpacked.ok());
  ASSERT_EQ(unpacked->size(), 1u);
  EXPECT_EQ((*unpacked)[0].filename(), store.filename());
  EXPECT_EQ(std::filesystem::file_size((*unpacked)[0]), std::filesystem::file_size(store));

  const Outcome info = runHcf("catalog info --plans '" + store.string() + "'");
  EXPECT_EQ(info.status, 0);
  EXPECT_NE(info.out.find("schema version 13"), std::string::npos);
  EXPECT_NE(info.out.find("sorted page:"), std::string::npos);

  // Bad lines are named with their numbers on standard error; nothing is written.
  const Outcome bad = runHcf("catalog build - --package-id broken --out '" + dir.string() + "'",
                             "{\"uuid\":\"a\"}\nnot json\n");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("-:2: not JSON"), std::string::npos) << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "halvern-products-broken.realm"));
  EXPECT_FALSE(std::filesystem::exists(dir / "prod-dbs-broken.zip"));

  EXPECT_EQ(runHcf("catalog build - --package-id ../up --out '" + dir.string() + "'").status, 2);
  EXPECT_EQ(runHcf("catalog build - --out '" + dir.string() + "'").status, 2);
  EXPECT_EQ(runHcf("catalog info '" + lines + "'").status, 1);
  EXPECT_EQ(runHcf("catalog").status, 2);
  std::filesystem::remove_all(dir);
}

TEST(HcfSearch, FindsTheNearestProductsAndShowsTheFilterPanel) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-search-cli-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto lines = (dir / "products.jsonl").string();
  ASSERT_EQ(runHcf("catalog fixture --count 80 --names '" HCF_DATA_DIR
                   "/colors/color-name-list.csv' --out '" +
                   lines + "'")
                .status,
            0);
  ASSERT_EQ(
      runHcf("catalog build '" + lines + "' --package-id t --out '" + dir.string() + "'").status,
      0);
  const std::string store = "--store '" + (dir / "halvern-products-t.realm").string() + "' ";

  // The first named colour searched by its own hex comes first, at a difference near 0.
  const Outcome own = runHcf("search " + store + "--hex c93f38 --limit 3");
  ASSERT_EQ(own.status, 0) << own.err;
  EXPECT_EQ(own.out.substr(0, 20), "   1  HC-00000     1");  // "100 Mph", code HC-00000
  EXPECT_NE(own.out.find(" 0.0"), std::string::npos) << own.out;
  EXPECT_EQ(std::count(own.out.begin(), own.out.end(), '\n'), 3);

  const Outcome json = runHcf("search " + store + "--lab 50 0 0 --limit 2 --json");
  EXPECT_EQ(json.status, 0);
  EXPECT_NE(json.out.find("\"delta_e\""), std::string::npos);
  EXPECT_NE(json.out.find("\"product\""), std::string::npos);

  const Outcome filtered = runHcf("search " + store + "--filter finish=gloss --limit 100");
  EXPECT_EQ(filtered.status, 0);
  EXPECT_GT(std::count(filtered.out.begin(), filtered.out.end(), '\n'), 5);
  EXPECT_EQ(runHcf("search " + store + "--filter finishgloss").status, 2);
  EXPECT_EQ(runHcf("search " + store + "--lab 50 0").status, 2);
  EXPECT_EQ(runHcf("search " + store + "--hex 12345").status, 2);
  EXPECT_EQ(runHcf("search " + store + "--lab 50 0 0 --method de_99").status, 2);
  EXPECT_EQ(runHcf("search --store /nonexistent.realm --lab 50 0 0").status, 2);

  const Outcome panel = runHcf("filters " + store + "--select finish=gloss");
  EXPECT_EQ(panel.status, 0) << panel.err;
  EXPECT_NE(panel.out.find("finish\n"), std::string::npos) << panel.out;
  EXPECT_NE(panel.out.find("  * gloss ("), std::string::npos) << panel.out;

  // A file of the version the kit discards is reported, with a non-zero exit, and left as it
  // was: a command never writes the file it reads.
  const auto old = dir / "old.realm";
  std::filesystem::copy_file(dir / "halvern-products-t.realm", old);
  {
    std::fstream f(old, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(60);  // the header's user version, big-endian
    const char version[4] = {0, 0, 0, 10};
    f.write(version, 4);
  }
  const auto size = std::filesystem::file_size(old);
  const auto written = std::filesystem::last_write_time(old);
  for (const char* command : {"search --lab 50 0 0 ", "filters "}) {
    const Outcome refused = runHcf(std::string(command) + "--store '" + old.string() + "'");
    EXPECT_EQ(refused.status, 2) << command;
    EXPECT_NE(refused.err.find("schema version 10, which this kit discards"), std::string::npos)
        << refused.err;
  }
  EXPECT_EQ(std::filesystem::file_size(old), size);
  EXPECT_EQ(std::filesystem::last_write_time(old), written);
  std::filesystem::remove_all(dir);
}

TEST(HcfCatalog, DownloadsFromTheReferenceCloudAndReportsTheStatus) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-catalog-dl-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  const Outcome download = runHcf("catalog download --sim --data '" + dir.string() + "'");
  ASSERT_EQ(download.status, 0) << download.err;
  EXPECT_NE(download.out.find("2000 products installed"), std::string::npos) << download.out;
  EXPECT_NE(download.err.find("100%"), std::string::npos) << download.err;
  const Outcome status = runHcf("catalog status --sim --data '" + dir.string() + "'");
  ASSERT_EQ(status.status, 0) << status.err;
  EXPECT_NE(status.out.find("products stored           2000"), std::string::npos);
  EXPECT_NE(status.out.find("download needed           no"), std::string::npos) << status.out;
  EXPECT_EQ(runHcf("catalog download").status, 2);  // no key, no --sim: a usage error
  std::filesystem::remove_all(dir);
}

TEST(HcfCatalog, OnlineSearchesGoToTheSearchService) {
  const Outcome online = runHcf("search --online --sim --lab 50 20 10 --limit 3 --json");
  ASSERT_EQ(online.status, 0) << online.err;
  const auto results = hcf::JsonValue::parse(online.out);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_LE(results[0]["delta_e"].get<double>(), results[2]["delta_e"].get<double>());
  const Outcome inspirations = runHcf("search --inspirations --sim --hex B33739 --limit 2 --json");
  ASSERT_EQ(inspirations.status, 0) << inspirations.err;
  for (const auto& r : hcf::JsonValue::parse(inspirations.out)) {
    EXPECT_NE(r["product"].dump().find("Inspirations"), std::string::npos);
  }
  EXPECT_EQ(runHcf("search --online --store x.realm --lab 50 0 0").status, 2);
}

TEST(HcfSearch, ProductNamesCannotDriveTheTerminal) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("hcf-search-esc-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto lines = dir / "products.jsonl";
  ASSERT_EQ(runHcf("catalog fixture --count 3 --names '" HCF_DATA_DIR
                   "/colors/color-name-list.csv' --out '" +
                   lines.string() + "'")
                .status,
            0);
  // The first product is named with a sequence that sets the window title.
  std::string text = hcf_test::slurp(lines);
  for (std::size_t at; (at = text.find("\"100 Mph\"")) != std::string::npos;)
    text.replace(at, 9, "\"\\u001b]0;owned\\u0007\"");
  std::ofstream(lines, std::ios::trunc) << text;
  ASSERT_EQ(
      runHcf("catalog build '" + lines.string() + "' --package-id e --out '" + dir.string() + "'")
          .status,
      0);
  const Outcome found =
      runHcf("search --store '" + (dir / "halvern-products-e.realm").string() + "'");
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_NE(found.out.find("\xEF\xBF\xBD]0;owned\xEF\xBF\xBD"), std::string::npos) << found.out;
  EXPECT_EQ(found.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(found.out.find('\x07'), std::string::npos);
  std::filesystem::remove_all(dir);
}
