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
#include "output_format.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kOptions =
    "      --sim uses the reference cloud on loopback; otherwise the cloud of HCF_CLOUD_URL\n"
    "      with --sdk-key KEY (or HCF_SDK_KEY). --data DIR is the kit's data directory (by\n"
    "      default $XDG_DATA_HOME/hcf or ~/.local/share/hcf), --sim or not.\n";

// Logs in to the cloud of `args` with the kit's data directory that of --data, or its own.
std::unique_ptr<CloudContext> loggedIn(const Args& args) {
  auto cloud = std::make_unique<CloudContext>(args);
  // Not the simulated session's temporary folder, which goes when the command ends.
  HCFRealmManager::setDocDirectory(args.option("--data"));
  if (auto e = cloud->logIn(); !e.empty()) throw Failure("login failed: " + e);
  return cloud;
}

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
  const auto cloud = loggedIn(args);
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
    throw Failure(cancelled ? "cancelled; the installed catalogue is unchanged"
                            : failure->localizedDescription);
  }
  const auto count = awaitAnswer<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager.countDownloadedProducts(done); });
  std::cout
      << (count ? std::get<0>(*count) : 0) << " products installed in "
      << HCFRealmManager::storeFile(StoreKind::Products, HCFCentral::creds().packageID).string()
      << '\n';
  return kExitOk;
}

int catalogStatusCommand(const std::vector<std::string>& words) {
  const Args args = Args::parse(words, {"--sdk-key", "--data", "--format"}, {"--sim", kJsonFlag});
  if (args.help) {
    std::cout << "usage: hcf catalog status [--sim] [--sdk-key KEY] [--data DIR]\n"
                 "                          [--format text|json|csv]\n"
                 "      When the cloud's catalogue last changed, how many products are stored,\n"
                 "      and whether a download is needed.\n"
              << kOptions;
    return kExitOk;
  }
  const Format format = formatOf(args);
  const auto cloud = loggedIn(args);
  HCFProductManager manager;
  const auto status =
      awaitAnswer<std::optional<HCFNetProductsStatusResponse>, std::optional<HCFError>>(
          [&](auto done) { manager.fetchProductsStatus(done); });
  if (!status || !std::get<0>(*status)) {
    const auto error = status ? std::get<1>(*status) : std::nullopt;
    throw Failure(error ? error->localizedDescription : "the cloud did not answer");
  }
  const auto count = awaitAnswer<std::uint64_t, std::optional<HCFError>>(
      [&](auto done) { manager.countDownloadedProducts(done); });
  const auto required = awaitAnswer<bool, std::optional<HCFError>>(
      [&](auto done) { manager.checkIfProductDownloadRequired(done); });
  if (!required) throw Failure("the kit did not tell whether a download is needed");
  const std::string changed =
      HCFNetCommon::RFC3339StringFromDate(std::get<0>(*status)->productsUpdatedAt);
  const std::uint64_t stored = count ? std::get<0>(*count) : 0;
  const bool needed = std::get<0>(*required);
  if (format == Format::Json) {
    std::cout << jsonText({{"cloud_catalogue_changed", changed},
                           {"products_stored", stored},
                           {"download_needed", needed}})
              << '\n';
  } else if (format == Format::Csv) {
    std::cout << "cloud_catalogue_changed,products_stored,download_needed\n"
              << csvRow({changed, std::to_string(stored), needed ? "yes" : "no"}) << '\n';
  } else {
    std::cout << "cloud catalogue changed   " << printable(changed) << '\n'
              << "products stored           " << stored << '\n'
              << "download needed           " << (needed ? "yes" : "no") << '\n';
  }
  return kExitOk;
}

}  // namespace hcf_tool
