// Endpoints with known answers, for the tests of the kit's HTTP layer.
#include <nlohmann/json.hpp>

#include "cloud_server.h"

namespace hcf_cloud {

namespace {

Answer json(const nlohmann::ordered_json& value, int status = 200) {
  return Answer{status, value.dump(), "application/json", {}};
}

}  // namespace

void addTransportTestRoutes(CloudServer& server) {
  server.route("*", "/test/json", [](const httplib::Request&) {
    return json({{"ok", true}, {"items", {1, 2, 3}}, {"name", "Grüne Wiese"}});
  });
  // Echoes what arrived: method, headers and body.
  server.route("*", "/test/echo", [](const httplib::Request& req) {
    nlohmann::ordered_json headers = nlohmann::ordered_json::object();
    for (const auto& [k, v] : req.headers) headers[k] = v;
    return json({{"method", req.method}, {"headers", headers}, {"body", req.body}});
  });
  // /test/status/<code>[?message=...][&raw=...]: that status, a {"message"} body or a raw one.
  server.route("*", R"(/test/status/(\d+))", [](const httplib::Request& req) {
    Answer a;
    a.status = std::stoi(req.matches[1]);
    if (req.has_param("raw")) {
      a.body = req.get_param_value("raw");
      a.contentType = "text/plain";
    } else if (req.has_param("message")) {
      a.body = nlohmann::ordered_json{{"message", req.get_param_value("message")}}.dump();
    }
    return a;
  });
  server.route("*", "/test/empty", [](const httplib::Request&) {
    return Answer{200, "", "application/json", {}};
  });
  server.route("*", "/test/text", [](const httplib::Request&) {
    return Answer{200, "this is not JSON", "text/plain", {}};
  });
  server.route("*", "/test/fragment", [](const httplib::Request&) {
    return Answer{200, "\"just a string\"", "application/json", {}};
  });
  server.route("*", "/test/binary", [](const httplib::Request&) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    return Answer{200, bytes, "application/octet-stream", {}};
  });
  // Binary content the server compresses itself.
  server.route("*", "/test/gzip-binary", [](const httplib::Request&) {
    std::string bytes;
    for (int i = 0; i < 4096; ++i) bytes += static_cast<char>(i % 7);
    Answer a{200, gzip(bytes), "application/octet-stream", {}};
    a.headers.emplace("Content-Encoding", "gzip");
    return a;
  });
  server.route("*", "/test/slow", [&server](const httplib::Request& req) {
    const int ms = req.has_param("ms") ? std::stoi(req.get_param_value("ms")) : 2000;
    server.pause(std::chrono::milliseconds(ms));
    return json({{"slow", true}});
  });
  server.route("*", "/test/cut", [](const httplib::Request&) {
    return Answer{200, std::string(1000, 'x'), "application/octet-stream", {}};
  });
  server.route("*", "/test/redirect", [](const httplib::Request&) {
    Answer a{302, "", "text/plain", {}};
    a.headers.emplace("Location", "/test/json");
    return a;
  });
}

}  // namespace hcf_cloud
