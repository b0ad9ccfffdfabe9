// Spot reading on the simulator: readings by Enter and by the instrument's button, averaging,
// the tolerance as exit status, and the logs read back (CGATS by the CGATS reader).
#include <gtest/gtest.h>

#include "cgats.h"
#include "cli_runner.h"
#include "fixtures.h"

using namespace hcf_test;
namespace fx = hcf_cloud::fixtures;

namespace {

hcf::HCFLabColor chartLab(const std::string& name) {
  for (const auto& p : fx::colorCheckerPatches()) {
    if (p.name == name)
      return hcf::HCFLabColor::labColorWithL(p.L, p.a, p.b, hcf::HCFIlluminant::D50);
  }
  throw std::invalid_argument(name);
}

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

TEST(HcfWatch, ReadingsByEnterAndButtonWithToleranceAsExitStatus) {
  struct Case {
    const char* what;
    std::string args;
    std::string input;
    int status;
    std::size_t readings;
    const char* shows;
  };
  const std::vector<Case> cases = {
      {"Enter twice, averaged", "--average 4", "\n\nq\n", 0, 2, "(average of 4)"},
      {"the instrument's button", "", "button\n", 0, 1, "reading 1:"},
      {"within tolerance of the red patch", "--reference 42.43,51.05,28.62 --tolerance 1.5", "\n",
       0, 1, "within tolerance 1.5"},
      {"the last reading decides", "--reference 42.43,51.05,28.62 --tolerance 1.5", "\nyellow\n", 1,
       2, "OUTSIDE tolerance 1.5"},
      {"a hexadecimal reference by CMC", "--reference '#0000FF' --method cmc21", "\n", 0, 1,
       "\u0394E CMC(2:1)"},
      {"no reading, a tolerance", "--reference 50,0,0 --tolerance 1", "q\n", 1, 0,
       "no reading was taken"},
      {"tolerance without a reference", "--tolerance 1", "\n", 2, 0, "--tolerance needs"},
      {"no averaging of zero scans", "--average 0", "\n", 2, 0, "--average takes"},
      {"no adapter on the simulator", "--adapter hci1", "\n", 2, 0, "--adapter goes with"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Outcome o = runHcf("measure --watch --sim " + c.args, c.input);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(count(o.out, "reading "), c.readings) << o.out;
    EXPECT_NE((o.out + o.err).find(c.shows), std::string::npos) << o.out << o.err;
  }
}

TEST(HcfWatch, LogsReadBack) {
  const ScratchFolder dir;
  const auto red = chartLab("red");
  // A colorimeter's readings as CGATS: read back by the CGATS reader, near the patch.
  Outcome o = runHcf("measure --watch --sim --average 2 --log " + dir / "spot.cgats", "\n\n");
  ASSERT_EQ(o.status, 0) << o.err;
  auto table = hcf_tool::readCgats(slurp(dir / "spot.cgats"));
  ASSERT_EQ(table.rows.size(), 2u);
  for (const char* field : {"SAMPLE_ID", "LAB_L", "LAB_A", "LAB_B", "XYZ_X", "XYZ_Y", "XYZ_Z"}) {
    EXPECT_TRUE(table.fieldIndex(field)) << field;
  }
  for (const auto& s : hcf_tool::samplesFrom(table)) EXPECT_LT(s.lab.deltaE00(red), 1.5) << s.id;

  // The spectrometer's adds the curve: its colour integrated from the spectral columns is the
  // one the LAB columns hold.
  o = runHcf("measure --watch --sim --serial 00E15E000001 --log " + dir / "spectra.txt", "\n");
  ASSERT_EQ(o.status, 0) << o.err;
  table = hcf_tool::readCgats(slurp(dir / "spectra.txt"));
  ASSERT_TRUE(table.fieldIndex("SPECTRAL_NM_550"));
  hcf_tool::CgatsTable spectral;
  spectral.keywords = table.keywords;
  std::vector<std::size_t> columns;
  for (std::size_t i = 0; i < table.fields.size(); ++i) {
    if (table.fields[i] == "SAMPLE_ID" || table.fields[i].rfind("SPECTRAL_NM_", 0) == 0) {
      spectral.fields.push_back(table.fields[i]);
      columns.push_back(i);
    }
  }
  for (const auto& row : table.rows) {
    spectral.rows.emplace_back();
    for (const auto i : columns) spectral.rows.back().push_back(row[i]);
  }
  const auto fromLab = hcf_tool::samplesFrom(table);
  const auto fromCurve = hcf_tool::samplesFrom(spectral);
  ASSERT_EQ(fromLab.size(), 1u);
  ASSERT_EQ(fromCurve.size(), 1u);
  EXPECT_LT(fromCurve[0].lab.deltaE00(fromLab[0].lab), 0.01);
  EXPECT_LT(fromLab[0].lab.deltaE00(red), 1.0);

  // CSV and JSON lines, by their extensions, with the difference to the reference.
  o = runHcf("measure --watch --sim --reference 42,51,28 --log " + dir / "spot.csv", "\n\n");
  ASSERT_EQ(o.status, 0) << o.err;
  const std::string csv = slurp(dir / "spot.csv");
  EXPECT_EQ(
      csv.rfind("SAMPLE_ID,LAB_L,LAB_A,LAB_B,XYZ_X,XYZ_Y,XYZ_Z,AVERAGED,OVER_RANGE,DELTA_E", 0),
      0u);
  EXPECT_EQ(count(csv, "\n"), 3u);
  o = runHcf("measure --watch --sim --log " + dir / "spot.jsonl", "\n");
  ASSERT_EQ(o.status, 0) << o.err;
  const auto line = hcf::JsonValue::parse(slurp(dir / "spot.jsonl"));
  EXPECT_LT(hcf::HCFLabColor::labColorWithL(line["lab"]["L"], line["lab"]["a"], line["lab"]["b"],
                                            hcf::HCFIlluminant::D50)
                .deltaE00(red),
            1.5);
}
