// The cloud a command talks to: the reference cloud on loopback (--sim), or the kit's
// endpoints (HCF_CLOUD_URL) with an SDK key.
#pragma once

#include <hcf/hcf.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "await_answer.h"
#include "cli.h"
#include "sim_session.h"

namespace hcf_tool {

inline constexpr std::size_t kSimCatalogSize = 2000;

// The cloud to use: the reference cloud on loopback (--sim), else the kit's endpoints
// (HCF_CLOUD_URL, which must be set) with the SDK key of --sdk-key or HCF_SDK_KEY. Keeps the
// session alive.
struct CloudContext {
  std::unique_ptr<SimSession> sim;
  std::string sdkKey;

  explicit CloudContext(const Args& args) {
    using namespace hcf;
    if (args.has("--sim")) {
      sim = std::make_unique<SimSession>();
      sim->publishCatalog(kSimCatalogSize);
      sdkKey = "demo-sdk-key";
    } else {
      const char* url = std::getenv("HCF_CLOUD_URL");
      if (!url || !*url) throw UsageError("no cloud configured: set HCF_CLOUD_URL or use --sim");
      const char* env = std::getenv("HCF_SDK_KEY");
      sdkKey = args.option("--sdk-key").value_or(env ? env : "");
      if (sdkKey.empty()) throw UsageError("give --sdk-key KEY (or HCF_SDK_KEY), or use --sim");
    }
  }

  // Logs in; the error text, or empty.
  std::string logIn() {
    const auto answer = awaitAnswer<std::optional<hcf::HCFError>>(
        [&](auto done) { hcf::HCFCentral::tryCasAuthWithSDKKey(sdkKey, done); });
    if (!answer) return "the cloud did not answer";
    const auto& error = std::get<0>(*answer);
    return error ? error->localizedDescription : "";
  }
};

}  // namespace hcf_tool
