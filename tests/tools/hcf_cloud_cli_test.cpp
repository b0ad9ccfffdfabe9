// hcf-cloud: the reference cloud program refuses a port it cannot have, and says why.
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "cloud_server.h"

TEST(HcfCloud, RefusesAPortItCannotHave) {
  hcf_cloud::CloudServer first;
  const std::string taken = std::to_string(first.start());
  struct Row {
    std::string port;
    int status;
    std::string message;
  };
  const Row rows[] = {
      {"70000", 2, "--port takes a port from 1 to 65535 (0: any free port), not '70000'"},
      {"-1", 2, "not '-1'"},
      {"abc", 2, "not 'abc'"},
      {"80x", 2, "not '80x'"},
      {taken, 1, "port " + taken + " is in use"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.port);
    // A guard, not a measure: a program that listened anyway would never end by itself.
    const auto r = hcf_test::runCommand("timeout 60 '" HCF_CLOUD_PATH "' --catalog 1 --port '" +
                                        row.port + "'");
    EXPECT_EQ(r.status, row.status) << r.err;
    EXPECT_NE(r.err.find(row.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}
