// hcf catalog, search and filters: building a prepared products store and its archive, looking
// into one, downloading the catalogue, and searching it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>

#include "cli_runner.h"
#include "hcf/core/json.h"
#include "platform/zip/unzip.h"

using hcf_test::check;
using hcf_test::Outcome;
using hcf_test::runHcf;

namespace {

// A store of `count` fixture products in `dir`: DIR/halvern-products-t.realm.
std::string builtStore(const hcf_test::ScratchFolder& dir, int count) {
  const std::string lines = dir / "products.jsonl";
  EXPECT_EQ(
      runHcf("catalog fixture --count " + std::to_string(count) + " --out '" + lines + "'").status,
      0);
  EXPECT_EQ(
      runHcf("catalog build '" + lines + "' --package-id t --out '" + dir.path().string() + "'")
          .status,
      0);
  return dir / "halvern-products-t.realm";
}

}  // namespace

TEST(HcfCatalog, BuildsAStoreAndItsArchiveFromProductLines) {
  const hcf_test::ScratchFolder dir;
  const std::string lines = dir / "products.jsonl";
  // The named-colour list is built into the program: it runs from any folder.
  const Outcome fixture =
      hcf_test::runCommand("cd '" + dir.path().string() + "' && '" + HCF_TOOL_PATH +
                           "' catalog fixture --count 25 --out '" + lines + "'");
  ASSERT_EQ(fixture.status, 0) << fixture.err;
  EXPECT_EQ(fixture.out.substr(0, 12), "25 products,");
  EXPECT_NE(hcf_test::slurp(lines).find("\"100 Mph\""), std::string::npos);

  const Outcome built = runHcf("catalog build '" + lines + "' --package-id acme-2 --out '" +
                               dir.path().string() + "'");
  ASSERT_EQ(built.status, 0) << built.err;
  EXPECT_NE(built.out.find("products       25\n"), std::string::npos) << built.out;
  const auto store = dir.path() / "halvern-products-acme-2.realm";
  const auto archive = dir.path() / "prod-dbs-acme-2.zip";
  ASSERT_TRUE(std::filesystem::exists(store));
  // The archive holds the store under its own name, as the downloader expects.
  const auto unpacked = hcf::zip::unzipFileAtPath(archive, dir.path() / "unpacked");
  ASSERT_TRUE(unpacked.ok());
  ASSERT_EQ(unpacked->size(), 1u);
  EXPECT_EQ((*unpacked)[0].filename(), store.filename());
  EXPECT_EQ(std::filesystem::file_size((*unpacked)[0]), std::filesystem::file_size(store));

  // Bad lines are named with their numbers on standard error; nothing is written.
  const Outcome bad =
      runHcf("catalog build - --package-id broken --out '" + dir.path().string() + "'",
             "{\"uuid\":\"a\"}\nnot json\n");
  EXPECT_EQ(bad.status, 1);
  EXPECT_NE(bad.err.find("-:2: not JSON"), std::string::npos) << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "halvern-products-broken.realm"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "prod-dbs-broken.zip"));
}

TEST(HcfCatalog, VerbsNamesFilesAndStatuses) {
  const hcf_test::ScratchFolder dir;
  const std::string store = builtStore(dir, 80);
  const std::string lines = dir / "products.jsonl";
  const std::string out = dir.path().string();
  const std::string s = "--store '" + store + "' ";
  std::string curve;
  for (int i = 0; i < 31; ++i) curve += std::string(i ? "," : "") + "0.4";
  const std::string scan = R"({"batch":"s1-1","model":"Irisel S1","serial":"00E15E000001",)"
                           R"("raw_color":[0.1],"curve":[)" +
                           curve + "]}";
  const std::string noCloud = "-u HCF_CLOUD_URL";
  const hcf_test::CommandRow rows[] = {
      {"catalog info '" + store + "'", "", 0, "products       80\n", ""},
      {"catalog info --json '" + store + "'", "", 0, "\"schema_version\": 13", ""},
      {"catalog info --format csv '" + store + "'", "", 0,
       "products,inspirations,colours,spectra,filter_values,colour_groups,", ""},
      {"catalog info --plans '" + store + "'", "", 0, "sorted page:", ""},
      {"catalog info -", hcf_test::slurp(store), 0, "products       80\n", ""},
      {"catalog info '" + lines + "'", "", 1, "", "hcf catalog info: "},
      {"catalog info", "", 2, "", "catalog info takes one FILE"},
      {"catalog check '" + store + "'", "", 0, "a sound products store of 80 products", ""},
      {"catalog check /nonexistent.realm", "", 1, "", "hcf catalog check: "},
      {"catalog build - --package-id ../up --out '" + out + "'", "", 2, "",
       "a package id is letters"},
      {"catalog build - --out '" + out + "'", "", 2, "", "needs --package-id and --out"},
      {"catalog build /nonexistent.jsonl --package-id x --out '" + out + "'", "", 1, "",
       "cannot read '/nonexistent.jsonl': No such file or directory"},
      {"catalog fixture --count 3 --out -", "", 0, "\"uuid\"", "3 products"},
      {"catalog fixture --count 0 --out -", "", 2, "", "--count takes a whole number from 1"},
      {"catalog fixture --names /nonexistent.csv --out -", "", 1, "",
       "cannot read '/nonexistent.csv'"},
      {"catalog fixture --count 2 --out /nonexistent/x.jsonl", "", 1, "",
       "cannot write '/nonexistent/x.jsonl': No such file or directory"},
      {"catalog fixture --count 2", "", 2, "", "catalog fixture needs --out FILE"},
      {"catalog frob", "", 2, "",
       "unknown command 'frob' (build, info, check, fixture, download, status)"},
      {"catalog", "", 2, "", "usage: hcf catalog"},
      {"catalog --help", "", 0, "download [--sim]", ""},
      {"catalog --help", "", 0, "status [--sim]", ""},
      {"catalog status --help", "", 0, "usage: hcf catalog status", ""},
      {"catalog download", "", 2, "", "no cloud configured: set HCF_CLOUD_URL or use --sim",
       noCloud},
      {"catalog status", "", 2, "", "no cloud configured", noCloud},
      {"catalog status", "", 2, "", "give --sdk-key KEY", "-u HCF_SDK_KEY HCF_CLOUD_URL=http://x"},
      {"search " + s + "--hex c93f38 --limit 3", "", 0, "   1  HC-00000     100 Mph", ""},
      {"search " + s + "--lab 50 0 0 --limit 2 --json", "", 0, "\"delta_e\"", ""},
      {"search " + s + "--lab 50 -10 -10 --limit 2 --format csv", "", 0,
       "rank,code,name,delta_e,hex\n1,HC-", ""},
      {"search " + s + "--scan - --limit 1", scan, 0, "   1  HC-", ""},
      {"search " + s + "--scan - --limit 1", "[" + scan + "," + scan + "]", 1, "",
       "holds 2 scans where one was expected"},
      {"search " + s + "--scan /nonexistent.json", "", 1, "", "cannot read '/nonexistent.json'"},
      {"search " + s + "--text zzzzzz", "", 0, "", "hcf search: no products found"},
      {"search " + s + "--text zzzzzz --json", "", 0, "[]", ""},
      {"search " + s + "--filter finishgloss", "", 2, "", "a filter is key=value"},
      {"search " + s + "--lab 50 0", "", 2, "", "option --lab takes 3 values"},
      {"search " + s + "--hex 12345", "", 2, "", "--hex takes RRGGBB, not '12345'"},
      {"search " + s + "--lab 50 0 0 --method de_99", "", 2, "",
       "unknown colour-difference method 'de_99'"},
      {"search " + s + "--lab 50 0 0 --illuminant D75", "", 2, "", "unknown illuminant 'D75'"},
      {"search " + s + "--lab 50 0 0 --observer 7", "", 2, "", "unknown observer '7'"},
      {"search " + s + "--lab 50 0 0 --limit -1", "", 2, "", "--limit takes a whole number"},
      {"search --store /nonexistent.realm --lab 50 0 0", "", 1, "",
       "no products store at /nonexistent.realm"},
      {"search --store - --lab 50 0 0 --limit 1", hcf_test::slurp(store), 0, "   1  HC-", ""},
      {"search --online --store x.realm --lab 50 0 0", "", 2, "", "--online searches the cloud"},
      {"search --online --lab 50 0 0", "", 2, "", "no cloud configured", noCloud},
      {"search --help", "", 0, "--online", ""},
      {"filters " + s + "--select finish=gloss", "", 0, "  * gloss (", ""},
      {"filters " + s + "--json", "", 0, "\"selected\": false", ""},
      {"filters " + s + "--format csv", "", 0, "key,value,label,products,selected\n", ""},
      {"filters " + s + "--select finish", "", 2, "", "a filter is key=value, not 'finish'"},
      {"filters --store /nonexistent.realm", "", 1, "", "no products store at"},
      {"filters --help", "", 0, "--select key=value", ""},
  };
  for (const auto& row : rows) check(row);
  // The catalogue's values are single-precision: printed with the digits a float has.
  const Outcome json = runHcf("search " + s + "--lab 50 0 0 --limit 3 --json");
  const std::regex value("\"(delta_e|d50L|d50a|d50b)\": ([-0-9.e+]+)");
  int values = 0;
  for (auto it = std::sregex_iterator(json.out.begin(), json.out.end(), value);
       it != std::sregex_iterator(); ++it, ++values) {
    const std::string number = (*it)[2];
    EXPECT_LE(std::count_if(number.begin(), number.end(), ::isdigit), 9) << number;
  }
  EXPECT_GT(values, 3);
  const auto results = hcf::JsonValue::parse(json.out);
  ASSERT_EQ(results.size(), 3u);
  EXPECT_LE(results[0]["delta_e"].get<double>(), results[2]["delta_e"].get<double>());
}

TEST(HcfCatalog, DownloadsIntoTheDataDirectoryWhereSearchesFindIt) {
  const hcf_test::ScratchFolder dir;
  const std::string data = "XDG_DATA_HOME='" + dir.path().string() + "'";
  const std::string kit = dir / "hcf";
  const hcf_test::CommandRow before[] = {
      {"search --lab 50 0 0", "", 1, "",
       "no catalogue has been downloaded to " + kit +
           ": run hcf catalog download (or give --store FILE)",
       data},
      {"filters --data '" + kit + "'", "", 1, "", "no catalogue has been downloaded", data},
  };
  for (const auto& row : before) check(row);
  // Reading made no store.
  for (const auto& e : std::filesystem::directory_iterator(kit)) {
    EXPECT_EQ(e.path().extension(), "") << e.path();
  }

  const hcf_test::CommandRow download[] = {
      {"catalog download --sim", "", 0,
       "2000 products installed in " + kit + "/halvern-products-demo-package.realm", "100%", data},
      {"catalog status --sim", "", 0, "products stored           2000", "", data},
      {"catalog status --sim --format csv", "", 0,
       "cloud_catalogue_changed,products_stored,download_needed\n", "", data},
      {"catalog status --sim --json", "", 0, "\"download_needed\": false", "", data},
      {"search --lab 50 0 0 --limit 1", "", 0, "   1  HC-", "", data},
      {"filters --data '" + kit + "'", "", 0, "finish\n", ""},
  };
  for (const auto& row : download) check(row);

  std::filesystem::copy_file(kit + "/halvern-products-demo-package.realm",
                             kit + "/halvern-products-other.realm");
  check({"search --lab 50 0 0", "", 1, "",
         "several catalogues in " + kit +
             " (halvern-products-demo-package.realm, halvern-products-other.realm): choose one "
             "with --store FILE",
         data});
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
}

// A file of the version the kit discards is reported, with status 1, and left as it was: a
// command never writes the file it reads.
TEST(HcfSearch, AStoreOfADiscardedVersionIsRefusedAndLeftAlone) {
  const hcf_test::ScratchFolder dir;
  const auto old = dir.path() / "old.realm";
  std::filesystem::copy_file(builtStore(dir, 5), old);
  {
    std::fstream f(old, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(60);  // the header's user version, big-endian
    const char version[4] = {0, 0, 0, 10};
    f.write(version, 4);
  }
  const auto size = std::filesystem::file_size(old);
  const auto written = std::filesystem::last_write_time(old);
  for (const char* command : {"search --lab 50 0 0 ", "filters "}) {
    check({std::string(command) + "--store '" + old.string() + "'", "", 1, "",
           "schema version 10, which this kit discards"});
  }
  EXPECT_EQ(std::filesystem::file_size(old), size);
  EXPECT_EQ(std::filesystem::last_write_time(old), written);
}

TEST(HcfSearch, ProductNamesCannotDriveTheTerminalNorBreakCsv) {
  const hcf_test::ScratchFolder dir;
  const auto lines = dir.path() / "products.jsonl";
  ASSERT_EQ(runHcf("catalog fixture --count 3 --out '" + lines.string() + "'").status, 0);
  // The first product is named with a sequence that sets the window title, the second with a
  // comma and quotes.
  std::string text = hcf_test::slurp(lines);
  for (std::size_t at; (at = text.find("\"100 Mph\"")) != std::string::npos;)
    text.replace(at, 9, "\"\\u001b]0;owned\\u0007\"");
  for (std::size_t at; (at = text.find("\"18th Century Green\"")) != std::string::npos;)
    text.replace(at, 20, "\"Red, \\\"deep\\\"\"");
  std::ofstream(lines, std::ios::trunc) << text;
  ASSERT_EQ(runHcf("catalog build '" + lines.string() + "' --package-id e --out '" +
                   dir.path().string() + "'")
                .status,
            0);
  const std::string store = "--store '" + (dir / "halvern-products-e.realm") + "'";
  const Outcome found = runHcf("search " + store);
  ASSERT_EQ(found.status, 0) << found.err;
  EXPECT_NE(found.out.find("\xEF\xBF\xBD]0;owned\xEF\xBF\xBD"), std::string::npos) << found.out;
  EXPECT_EQ(found.out.find('\x1b'), std::string::npos);
  EXPECT_EQ(found.out.find('\x07'), std::string::npos);
  const Outcome csv = runHcf("search --format csv " + store);
  EXPECT_NE(csv.out.find(",\"Red, \"\"deep\"\"\","), std::string::npos) << csv.out;
}
