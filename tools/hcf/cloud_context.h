// The cloud a command talks to: the reference cloud on loopback (--sim), or the kit's
// endpoints (HCF_CLOUD_URL) with an SDK key.
#pragma once

#include <hcf/hcf.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "cli.h"
#include "sim_session.h"

namespace hcf_tool {

inline constexpr std::size_t kSimCatalogSize = 2000;

// The cloud to use: the reference cloud on loopback (--sim), else the kit's endpoints
// (HCF_CLOUD_URL) with the SDK key of --sdk-key or HCF_SDK_KEY. Keeps the session alive.
struct CloudContext {
  std::unique_ptr<SimSession> sim;
  std::string sdkKey;

  explicit CloudContext(const Args& args) {
    using namespace hcf;
    if (args.option("--sim")) {
      sim = std::make_unique<SimSession>();
      sim->publishCatalog(kSimCatalogSize);
      sdkKey = "demo-sdk-key";
    } else {
      const char* env = std::getenv("HCF_SDK_KEY");
      sdkKey = args.option("--sdk-key").value_or(env ? env : "");
      if (sdkKey.empty()) throw UsageError("give --sdk-key KEY (or HCF_SDK_KEY), or use --sim");
    }
    if (const auto data = args.option("--data")) HCFRealmManager::setDocDirectory(*data);
  }

  // Drives the main queue until `done`, or at most `limit` (simulated or real time).
  bool runUntil(const std::function<bool()>& done, hcf::dispatch::Duration limit) {
    using namespace hcf;
    if (sim) return sim->runUntil(done, limit);
    auto& queue = dispatch::mainQueue();
    return queue.runUntil(done, queue.now() + limit);
  }

  // Logs in; the error text, or empty.
  std::string logIn() {
    using namespace hcf;
    std::optional<std::optional<HCFError>> result;
    HCFCentral::tryCasAuthWithSDKKey(sdkKey, [&](std::optional<HCFError> e) {
      result = std::move(e);
      dispatch::mainQueue().async([] {});
    });
    runUntil([&] { return result.has_value(); }, std::chrono::seconds(60));
    if (!result) return "the cloud did not answer";
    return *result ? (*result)->localizedDescription : "";
  }
};

}  // namespace hcf_tool
