// The reference cloud inside a program: a world holding the demo's fixtures (keys, calibration
// records, model packages), with the kit's and the catalogue's routes, served on loopback.
// The demo, the instrument commands and the Python module's simulator all run on it.
#pragma once

#include <memory>
#include <string>

#include "cloud_server.h"
#include "cloud_world.h"

namespace hcf_cloud {

class ReferenceCloud {
 public:
  /// Populates the world with the fixtures and serves it on a free loopback port.
  /// Throws std::runtime_error when no port can be bound.
  ReferenceCloud();
  /// Stops serving.
  ~ReferenceCloud();
  ReferenceCloud(const ReferenceCloud&) = delete;
  ReferenceCloud& operator=(const ReferenceCloud&) = delete;

  /// What the cloud knows; packages and catalogues may be added while it serves.
  CloudWorld& world() { return *world_; }
  /// The server, for faults and the requests it saw.
  CloudServer& server() { return server_; }
  /// "http://127.0.0.1:<port>".
  std::string baseUrl() const { return server_.baseUrl(); }

 private:
  std::shared_ptr<CloudWorld> world_;
  CloudServer server_;
};

}  // namespace hcf_cloud
