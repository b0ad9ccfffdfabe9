// hcf doctor against a fake bluetoothd on a private bus and the reference cloud on loopback:
// each thing a measurement needs, missing in turn, is named on its own line with what to do,
// and the exit status says whether a measurement can be made.
#include <gtest/gtest.h>

#include <fstream>

#include "catalog_fixture.h"
#include "cli_runner.h"
#include "cloud_server.h"
#include "fake_bluez_bus.h"
#include "fixtures.h"
#include "hcf/core/json.h"
#include "reference_cloud.h"

namespace {

// One situation: how the fake bluetoothd starts, what hcf doctor is given, and the line that
// must say what is wrong.
struct Row {
  std::string what;
  std::string fake = "{}";  // the fake bluetoothd's parameters
  bool lockedBus = false;   // a bus whose policy refuses org.bluez to everyone
  bool daemonGone = false;  // the bus without bluetoothd on it
  std::string data;         // --data (the folder with a downloaded catalogue when empty)
  std::string url;          // HCF_CLOUD_URL (the reference cloud when empty)
  std::string key = hcf_cloud::fixtures::kDemoSdkKey;
  int status = 0;
  std::string check;  // the line that fails, or empty: every line ok
  std::string state;  // its status
  std::string detail;
  std::string advice;
};

// A loopback URL whose port nobody listens on.
std::string closedPort() {
  hcf_cloud::CloudServer server;
  const int port = server.start();
  server.stop();
  return "http://127.0.0.1:" + std::to_string(port);
}

TEST(HcfDoctor, NamesWhatAMeasurementLacksAndWhatToDo) {
  hcf_cloud::ReferenceCloud cloud;
  const hcf_test::ScratchFolder dir("hcf-doctor");
  hcf_cloud::fixtures::publishCatalog(cloud.world(), dir.path() / "cloud", 20);
  const std::string kit = dir / "kit";
  const std::string empty = dir / "empty";
  const std::string file = dir / "file";
  std::filesystem::create_directory(empty);
  std::ofstream(file) << "not a folder\n";
  const std::string env = "HCF_CLOUD_URL=" + cloud.baseUrl() + " HCF_SDK_KEY=demo-sdk-key";
  const auto downloaded = hcf_test::runCommand(
      "env " + env + " '" HCF_TOOL_PATH "' catalog download --data '" + kit + "'");
  ASSERT_EQ(downloaded.status, 0) << downloaded.err;

  const Row rows[] = {
      {.what = "all good", .status = 0},
      {.what = "no bluetoothd",
       .daemonGone = true,
       .status = 1,
       .check = "bluetoothd",
       .state = "problem",
       .detail = "not running: no org.bluez",
       .advice = "sudo systemctl start bluetooth"},
      {.what = "adapter off",
       .fake = R"({"powered": false})",
       .status = 1,
       .check = "adapter",
       .state = "problem",
       .detail = "hci0 is",
       .advice = "bluetoothctl power on"},
      {.what = "no adapter",
       .fake = R"({"adapter": false})",
       .status = 1,
       .check = "adapter",
       .state = "problem",
       .detail = "bluetoothd has no adapter",
       .advice = "plug in a Bluetooth LE adapter"},
      {.what = "access refused",
       .lockedBus = true,
       .status = 1,
       .check = "permission",
       .state = "problem",
       .detail = "(AccessDenied)",
       .advice = "bluetooth group"},
      {.what = "cloud unreachable",
       .url = closedPort(),
       .status = 1,
       .check = "cloud",
       .state = "problem",
       .detail = "cannot reach http://127.0.0.1:",
       .advice = "check HCF_CLOUD_URL"},
      {.what = "key refused",
       .key = "not-a-key",
       .status = 1,
       .check = "cloud",
       .state = "problem",
       .detail = "key refused by " + cloud.baseUrl() + ": ",
       .advice = "check HCF_SDK_KEY"},
      {.what = "no key",
       .key = "",
       .status = 1,
       .check = "cloud",
       .state = "problem",
       .detail = "no SDK key set",
       .advice = "set HCF_SDK_KEY"},
      {.what = "data directory a file",
       .data = file,
       .status = 1,
       .check = "data directory",
       .state = "problem",
       .detail = file + " is not a directory",
       .advice = "choose another with --data DIR"},
      {.what = "no catalogue",
       .data = empty,
       .status = 0,
       .check = "catalogue",
       .state = "warning",
       .detail = "none installed in " + empty + " for package demo-package",
       .advice = "run hcf catalog download --data '" + empty + "'"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    const std::optional<std::filesystem::path> policy =
        row.lockedBus ? std::optional<std::filesystem::path>(HCF_LOCKED_BUS_CONF) : std::nullopt;
    hcf_bluez::FakeBluez fake(row.fake, policy);
    if (row.daemonGone) fake.vanish();
    const std::string command = "env HCF_CLOUD_URL='" +
                                (row.url.empty() ? cloud.baseUrl() : row.url) + "' HCF_SDK_KEY='" +
                                row.key + "' '" HCF_TOOL_PATH "' doctor --format json --data '" +
                                (row.data.empty() ? kit : row.data) + "'";
    const auto r = hcf_test::runCommand(command);
    EXPECT_EQ(r.status, row.status) << r.out << r.err;
    const auto checks = hcf::JsonValue::parse(r.out);
    ASSERT_EQ(checks.size(), 9u) << r.out;
    for (const auto& c : checks) {
      const std::string name = c["check"];
      SCOPED_TRACE(c.dump());
      // Without bluetoothd, access depends on who runs the test.
      if (name == "permission" && row.daemonGone) continue;
      if (name != row.check) {
        // The other lines say nothing is wrong (the adapter is not looked at without access).
        const bool follows = name == "adapter" && (row.lockedBus || row.daemonGone);
        const bool folder = name == "catalogue" && row.check == "data directory";
        EXPECT_EQ(c["status"], follows || folder ? "warning" : "ok");
        continue;
      }
      EXPECT_EQ(c["status"], row.state);
      EXPECT_NE(c["detail"].get<std::string>().find(row.detail), std::string::npos);
      EXPECT_NE(c["advice"].get<std::string>().find(row.advice), std::string::npos);
    }
  }
}

}  // namespace
