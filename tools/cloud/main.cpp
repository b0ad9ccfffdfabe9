// hcf-cloud: the reference cloud on loopback.
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>

#include "catalog_fixture.h"
#include "catalog_routes.h"
#include "cloud_server.h"
#include "cloud_world.h"
#include "fixtures.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }

// A whole decimal number of digits only, no larger than `max`; nothing otherwise.
std::optional<unsigned long long> wholeNumber(const std::string& text, unsigned long long max) {
  unsigned long long value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc() || ptr != end || value > max) return std::nullopt;
  return value;
}
}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = 0;
  std::size_t catalogSize = 2000;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--catalog" && i + 1 < argc) {
      const auto count = wholeNumber(argv[++i], std::numeric_limits<std::size_t>::max());
      if (!count) {
        std::fprintf(stderr, "hcf-cloud: not a product count: %s\n", argv[i]);
        return 2;
      }
      catalogSize = static_cast<std::size_t>(*count);
    } else if ((a == "--port" || a == "--host") && i + 1 < argc) {
      const std::string v = argv[++i];
      if (a == "--port") {
        const auto number = wholeNumber(v, 65535);
        if (!number) {
          std::fprintf(stderr,
                       "hcf-cloud: --port takes a port from 1 to 65535 (0: any free port), not "
                       "'%s'\n",
                       v.c_str());
          return 2;
        }
        port = static_cast<int>(*number);
      } else {
        host = v;
      }
    } else if (a == "--help" || a == "-h") {
      std::printf("usage: hcf-cloud [--host 127.0.0.1] [--port N] [--catalog PRODUCTS]\n");
      return 0;
    } else {
      std::fprintf(stderr, "hcf-cloud: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  // The port first: a port that cannot be had fails at once, before the catalogue is made.
  hcf_cloud::CloudServer server;
  try {
    port = server.start(host, port);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hcf-cloud: %s\n", e.what());
    return 1;
  }
  hcf_cloud::addTransportTestRoutes(server);
  // The kit's endpoints, answered from the generated reference world (logins, calibration
  // records, alignment documents, spectrometer model packages).
  auto world = std::make_shared<hcf_cloud::CloudWorld>();
  hcf_cloud::fixtures::populate(*world);
  hcf_cloud::addKitRoutes(server, world);
  // The product catalogue of the demo package: searched by the service, downloaded by the kit.
  const auto catalogDir =
      std::filesystem::temp_directory_path() / ("hcf-cloud-" + std::to_string(::getpid()));
  try {
    const auto files = hcf_cloud::fixtures::publishCatalog(*world, catalogDir, catalogSize);
    std::printf("catalogue of %llu products: %s\n", static_cast<unsigned long long>(files.products),
                files.archive.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hcf-cloud: %s\n", e.what());
    std::error_code ec;
    std::filesystem::remove_all(catalogDir, ec);
    return 1;
  }
  hcf_cloud::addCatalogRoutes(server, world);
  std::printf("hcf-cloud listening on %s (SDK key \"%s\")\n", server.baseUrl().c_str(),
              hcf_cloud::fixtures::kDemoSdkKey);
  std::fflush(stdout);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  while (!gStop) server.pause(std::chrono::milliseconds(200));
  server.stop();
  std::error_code ec;
  std::filesystem::remove_all(catalogDir, ec);
  return 0;
}
