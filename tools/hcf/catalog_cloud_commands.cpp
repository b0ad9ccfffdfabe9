// hcf catalog download | status: the product catalogue from the cloud (or the reference cloud
// on loopback with --sim).
#include <hcf/hcf.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "await_answer.h"
#include "catalog_commands.h"
#include "cli.h"
#include "cloud_context.h"
#include "download_progress.h"
#include "interrupt.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kOptions =
    "      --sim uses the reference cloud on loopback; otherwise the cloud of HCF_CLOUD_URL\n"
    "      with --sdk-key KEY (or HCF_SDK_KEY). --data DIR is the kit's data directory.\n";

}  // namespace

int catalogDownloadCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--sdk-key", "--data"}, {"--sim"});
  if (args.help) {
    std::cout << "usage: hcf catalog download [--sim] [--sdk-key KEY] [--data DIR]\n"
                 "      Downloads and installs the product catalogue with a progress bar.\n"
              << kOptions
              << "      Ctrl-C (or SIGTERM) cancels; the catalogue installed before stays as it\n"
                 "      was and nothing downloaded is left behind.\n";
    return kExitOk;
  }
  CloudContext cloud(args);
  if (auto e = cloud.logIn(); !e.empty()) {
    std::cerr << "hcf catalog download: login failed: " << printable(e) << '\n';
    return kExitBadLines;
  }
  HCFProductManager manager;
  auto bar = std::make_shared<ProgressBar>("catalogue");
  const StopRequests stops;
  manager.downloadProductsWithDelegate(bar);
  bool cancelled = false;
  auto& queue = dispatch::mainQueue();
  while (!bar->ended()) {
    queue.runUntil([&] { return bar->ended() || stopRequested(); },
                   queue.now() + std::chrono::milliseconds(100));
    if (stopRequested() && !cancelled) {
      cancelled = true;
      manager.cancelDownload();
    }
  }
  if (const auto failure = bar->failure()) {
    std::cerr << "hcf catalog download: "
              << (cancelled ? "cancelled; the installed catalogue is unchanged"
                            : printable(failure->localizedDescription))
              << '\n';
    return kExitBadLines;
  }
  const auto count = awaitAnswer<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager.countDownloadedProducts(done); });
  std::printf(
      "%llu products installed in %s\n",
      static_cast<unsigned long long>(count ? std::get<0>(*count) : 0),
      HCFRealmManager::storeFile(StoreKind::Products, HCFCentral::creds().packageID).c_str());
  return kExitOk;
}

int catalogStatusCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--sdk-key", "--data"}, {"--sim"});
  if (args.help) {
    std::cout << "usage: hcf catalog status [--sim] [--sdk-key KEY] [--data DIR]\n"
                 "      When the cloud's catalogue last changed, how many products are stored,\n"
                 "      and whether a download is needed.\n"
              << kOptions;
    return kExitOk;
  }
  CloudContext cloud(args);
  if (auto e = cloud.logIn(); !e.empty()) {
    std::cerr << "hcf catalog status: login failed: " << printable(e) << '\n';
    return kExitBadLines;
  }
  HCFProductManager manager;
  const auto status =
      awaitAnswer<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { manager.fetchProductsStatus(done); });
  if (!status || !std::get<0>(*status)) {
    const auto error = status ? std::get<1>(*status) : std::nullopt;
    std::cerr << "hcf catalog status: "
              << (error ? printable(error->localizedDescription) : "no answer") << '\n';
    return kExitBadLines;
  }
  const auto count = awaitAnswer<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager.countDownloadedProducts(done); });
  const auto required = awaitAnswer<bool, std::optional<HCFError>>(
      [&](auto done) { manager.checkIfProductDownloadRequired(done); });
  std::printf("cloud catalogue changed   %s\n",
              HCFNetCommon::RFC3339StringFromDate(std::get<0>(*status)->productsUpdatedAt).c_str());
  std::printf("products stored           %llu\n",
              static_cast<unsigned long long>(count ? std::get<0>(*count) : 0));
  std::printf("download needed           %s\n",
              required ? (std::get<0>(*required) ? "yes" : "no") : "(no answer)");
  return kExitOk;
}

}  // namespace hcf_tool
