// hcf-cloud: the reference cloud on loopback.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "cloud_server.h"
#include "cloud_world.h"
#include "fixtures.h"

namespace {
volatile std::sig_atomic_t gStop = 0;
void onSignal(int) { gStop = 1; }
}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  int port = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--port" || a == "--host") && i + 1 < argc) {
      const std::string v = argv[++i];
      if (a == "--port") {
        try {
          port = std::stoi(v);
        } catch (const std::exception&) {
          std::fprintf(stderr, "hcf-cloud: not a port: %s\n", v.c_str());
          return 2;
        }
      } else {
        host = v;
      }
    } else if (a == "--help" || a == "-h") {
      std::printf("usage: hcf-cloud [--host 127.0.0.1] [--port N]\n");
      return 0;
    } else {
      std::fprintf(stderr, "hcf-cloud: unknown argument %s\n", a.c_str());
      return 2;
    }
  }
  hcf_cloud::CloudServer server;
  hcf_cloud::addTransportTestRoutes(server);
  // The kit's endpoints, answered from the generated reference world (logins, calibration
  // records, alignment documents, spectrometer model packages).
  auto world = std::make_shared<hcf_cloud::CloudWorld>();
  hcf_cloud::fixtures::populate(*world);
  hcf_cloud::addKitRoutes(server, world);
  try {
    port = server.start(host, port);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hcf-cloud: %s\n", e.what());
    return 1;
  }
  std::printf("hcf-cloud listening on %s (SDK key \"%s\")\n", server.baseUrl().c_str(),
              hcf_cloud::fixtures::kDemoSdkKey);
  std::fflush(stdout);
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  while (!gStop) server.pause(std::chrono::milliseconds(200));
  server.stop();
  return 0;
}
