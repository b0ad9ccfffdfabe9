// The hcf program as a person uses it: arguments in, text and exit status out.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "cli_runner.h"

using hcf_test::check;
using hcf_test::Outcome;
using hcf_test::runHcf;

namespace {

// A flat 40 % grey as the kit writes a spectral scan, and a colorimeter's scan.
std::string spectralScan() {
  std::string curve;
  for (int i = 0; i < 31; ++i) curve += std::string(i ? "," : "") + "0.4";
  return R"({"batch":"s1-1","model":"Irisel S1","serial":"00E15E000001",)"
         R"("raw_color":[0.1,0.2,0.3,0.4,0.5],"start":400,"step":10,"curve":[)" +
         curve + "]}";
}

const std::string kTristimulusScan =
    R"({"batch":"7","serial":"00A1B2C3D4E5","model":"2.0","raw_color":[1,2,3],)"
    R"("adjusted_lab":{"L":50,"a":10,"b":-20,"observer":"TWO_DEGREE","illuminant":"D50"}})";

}  // namespace

TEST(HcfCommandLine, ColourVerbsNamesValuesAndStatuses) {
  const std::string illuminants = "(D50, D65, A, B, C, F2, F7, F11)";
  const hcf_test::CommandRow rows[] = {
      // Sharma pair 10 (published 7.1792), every digit of the double.
      {"color delta-e 50 2.49 -0.001 50 -2.49 0.001", "", 0, "7.17916264", ""},
      {"color delta-e --method cmc:1:1 50 20 5 52 18 9", "", 0, "\n", ""},
      {"color delta-e --method bogus 50 0 0 60 0 0", "", 2, "",
       "hcf color delta-e: unknown colour-difference method 'bogus' (de_2000 or ciede2000"},
      {"color delta-e --method 94_gfx 50 0 0 60 0 0", "", 2, "", "unknown colour-difference"},
      {"color delta-e 50 0 0 60 0", "", 2, "", "delta-e takes 6 numbers, got 5"},
      // CIE 1976 (3-4-5 in a* b*), with ΔL*, ΔC*ab and ΔH*ab of colour 1 from colour 2.
      {"color delta-e --method de_76 --components 50 3 4 50 0 0", "", 0, "5 0 5 0\n", ""},
      {"color delta-e --method cie76 --format csv 50 0 0 60 0 0", "", 0, "delta_e\n10\n", ""},
      {"color delta-e --method cmc --reference bogus 50 0 0 60 0 0", "", 2, "",
       "unknown reference 'bogus' (sample or first"},
      {"search --method de76 --lab 50 0 0", "", 2, "",
       "'de76' names CIE 1976 (ΔE*ab), which is no colour-difference method of searches"},
      {"color delta-e --format csv 50 0 0 60 0 0", "", 0, "delta_e\n", ""},
      {"color delta-e --format yaml 50 0 0 60 0 0", "", 2, "",
       "unknown format 'yaml' (text, json, csv)"},
      {"color delta-e --json --format csv 50 0 0 60 0 0", "", 2, "", "disagree"},
      {"color convert --from lab --to xyz --illuminant XYZ 50 0 0", "", 2, "",
       "unknown illuminant 'XYZ' " + illuminants},
      {"color convert --from lab --to xyz --observer 7 50 0 0", "", 2, "",
       "unknown observer '7' (2, 2°, 2deg or 1931; 10, 10°, 10deg or 1964)"},
      {"color convert --from lab --to xyz --observer 1964 --illuminant f11 50 0 0", "", 0, " ", ""},
      {"color convert --from rgb --to hex 255 0 0", "", 2, "",
       "RGB components are 0 to 1, not 255 (for 0 to 255 use --from rgb255)"},
      {"color convert --from rgb --to hex 1 0 1", "", 0, "FF00FF\n", ""},
      {"color convert --from rgb255 --to hex 255 0 255", "", 0, "FF00FF\n", ""},
      {"color convert --from rgb255 --to hex 256 0 0", "", 2, "", "0 to 255, not 256"},
      {"color convert --from hex --to rgb255 '#ff8000'", "", 0, "255 128 0\n", ""},
      {"color convert --from hex --to rgb ff8000", "", 0, "1 0.5019607843137255 0\n", ""},
      {"color convert --from hex --to lab 12345G", "", 2, "", "not a hex colour: '12345G'"},
      {"color convert --from cmyk --to lab 1 2 3", "", 2, "", "unknown colour space 'cmyk'"},
      {"color convert --from lab --to xyz 1 2", "", 2, "", "convert takes 3 numbers, got 2"},
      {"color convert --from lab --to xyz 50 nan 3", "", 2, "", "not a number: 'nan'"},
      {"color convert --from lab --to xyz 50 1e999 3", "", 2, "", "not a number: '1e999'"},
      {"color convert --from lab --to lch 50 0 -10", "", 0, "50 10 270\n", ""},
      {"color convert --from lab --to lch --json 50 0 -10", "", 0,
       R"({"L":50.0,"C":10.0,"h":270.0})", ""},
      {"color convert --from lab --to lch --format csv 50 0 -10", "", 0, "L,C,h\n50,10,270\n", ""},
      {"color convert --from lab --to lab -- -5 -0.5 .5", "", 0, "-5 -0.5 0.5\n", ""},
      // A result too large for a double is an error, never "inf".
      {"color convert --from lab --to xyz 1e300 0 0", "", 1, "", "hcf color convert: "},
      {"color convert --to lab 1 2 3", "", 2, "", "convert needs --from SPACE and --to SPACE"},
      {"color convert --from lab --to lab --bogus 1 1 2 3", "", 2, "", "unknown option --bogus"},
      {"color adapt --from-illuminant D50 --to-illuminant foo 1 2 3", "", 2, "",
       "unknown illuminant 'foo' " + illuminants},
      {"color adapt --to-illuminant D65 1 2 3", "", 2, "", "adapt needs --from-illuminant"},
      {"color adapt --from-illuminant d50 --to-illuminant D65 96.422 100 82.521", "", 0,
       "95.047000", ""},
      // Standard input: one result a line, blank lines and comments skipped, bad lines marked.
      {"color delta-e", "# sample standard\n\n50 0 0 60 0 0\nfoo\n  # more\n1,2,3\n", 1,
       "\nerror\nerror\n", "line 6: delta-e takes 6 numbers, got 3"},
      {"color adapt --from-illuminant A --to-illuminant A --format json", "1 2 3\n4 5\n", 1,
       "{\"X\":1.0,\"Y\":2.0,\"Z\":3.0}\n{\"error\":\"adapt takes 3 numbers, got 2\"}\n",
       "line 2: "},
      {"color convert --from lab --to hex --format csv", "50 0 0\n", 0, "hex\n777777\n", ""},
      // A CGATS file on standard input: a D50 colour a row; CGATS out, a SAMPLE_ID a result.
      {"color convert --to lab",
       "CTI3\r\nBEGIN_DATA_FORMAT\r\nSAMPLE_ID XYZ_X XYZ_Y XYZ_Z\r\n"
       "END_DATA_FORMAT\r\nBEGIN_DATA\r\nA1 0 100 0\r\nEND_DATA\r\n",
       0, "100 ", ""},
      {"color convert --to lch --format cgats",
       "CGATS.17\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L "
       "LAB_A LAB_B\nEND_DATA_FORMAT\nBEGIN_DATA\n\"A 1\" 50 0 -10\nEND_DATA\n",
       0,
       "SAMPLE_ID\tLAB_L\tLAB_C\tLAB_H\nEND_DATA_FORMAT\nNUMBER_OF_SETS 1\nBEGIN_DATA\n\"A "
       "1\"\t50\t10\t270\n",
       ""},
      {"color convert --from xyz --to lab",
       "CGATS.17\nBEGIN_DATA_FORMAT\nLAB_L LAB_A LAB_B\n"
       "END_DATA_FORMAT\nBEGIN_DATA\n50 0 0\nEND_DATA\n",
       2, "", "leave out --from"},
      {"color convert --from lab --to lab --format cgats", "50 0 0\nbad\n", 1,
       "BEGIN_DATA\n1\t50\t0\t0\nEND_DATA\n", "line 2: convert takes 3 numbers, got 1"},
      {"color convert --to lab",
       "CGATS.17\nBEGIN_DATA_FORMAT\nLAB_L LAB_A\nEND_DATA_FORMAT\n"
       "BEGIN_DATA\n50 0 0\nEND_DATA\n",
       1, "", "standard input, line 6: 3 values"},
      {"color delta-e",
       "CGATS.17\nBEGIN_DATA_FORMAT\nLAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n"
       "BEGIN_DATA\n50 0 0\nEND_DATA\n",
       2, "", "--standard FILE"},
      {"color convert --from lab --to hex --format cgats 50 0 0", "", 2, "",
       "--format cgats prints colours in xyz, lab or lch"},
      {"color frobnicate", "", 2, "", "unknown command 'frobnicate' (delta-e, convert, adapt)"},
      {"color", "", 2, "", "usage: hcf color"},
      {"color --help", "", 0, "adapt --from-illuminant", ""},
      {"color convert --help", "", 0, "delta-e [--method NAME]", ""},
  };
  for (const auto& row : rows) check(row);
  // Every name of a method computes that method.
  const std::string pair = " 50 40 10 55 30 25";
  for (const char* same : {"cmc", "CMC21", "cmc:2:1", "cmc2:1"}) {
    EXPECT_EQ(runHcf(std::string("color delta-e --method ") + same + pair).out,
              runHcf("color delta-e --method de_cmc_21" + pair).out)
        << same;
  }
  for (const char* same : {"ciede2000", "2000", "de00"}) {
    EXPECT_EQ(runHcf(std::string("color delta-e --method ") + same + pair).out,
              runHcf("color delta-e" + pair).out)
        << same;
  }
  EXPECT_NE(runHcf("color delta-e --method cie94" + pair).out, runHcf("color delta-e" + pair).out);
  // --reference standard lets colour 2 set the weights: the pair swapped, the same value.
  EXPECT_EQ(runHcf("color delta-e --method cmc --reference standard 55 30 25 50 40 10").out,
            runHcf("color delta-e --method cmc 50 40 10 55 30 25").out);
  EXPECT_EQ(runHcf("color delta-e --method cie94 --reference sample" + pair).out,
            runHcf("color delta-e --method cie94 --reference first" + pair).out);
  // Colour 1 is the sample: CMC is asymmetric.
  EXPECT_NE(runHcf("color delta-e --method cmc 50 40 10 55 30 25").out,
            runHcf("color delta-e --method cmc 55 30 25 50 40 10").out);
}

TEST(HcfCommandLine, ScanTourMeasureAndProgramStatuses) {
  const hcf_test::ScratchFolder dir;
  const std::string list = dir / "scans.json";
  std::ofstream(list) << "[" << spectralScan() << ",\n" << kTristimulusScan << "]\n";
  const std::string deep = dir / "deep.json";
  std::ofstream(deep) << std::string(180000, '[');
  const std::string chart = dir / "chart.ti3";
  std::ofstream(chart) << "CTI3\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n"
                          "BEGIN_DATA\nA1 50 0 0\nEND_DATA\n";
  const std::string noBus = "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/nonexistent";
  const hcf_test::CommandRow rows[] = {
      {"scan lab -", spectralScan(), 0, "69.4695", ""},  // L* of 40 % reflectance
      {"scan lab -", kTristimulusScan, 0, "50 10 -20\n", ""},
      {"scan lab --illuminant a --observer 10 -", spectralScan(), 0, "69.46", ""},
      {"scan lab '" + list + "'", "", 0, "\n50 10 -20\n", ""},
      {"scan lab --observer 10 '" + list + "'", "", 1, "\nerror\n",
       "scan 1 has no Lab for the 10° observer"},
      {"scan lab --format csv '" + list + "'", "", 0, "L,a,b\n69.4695", ""},
      {"scan lab --illuminant D75 -", kTristimulusScan, 2, "", "unknown illuminant 'D75'"},
      {"scan lab --observer 5 -", kTristimulusScan, 2, "", "unknown observer '5'"},
      {"scan lab -", "not json", 1, "", "standard input: Invalid data: JSON text is not valid"},
      {"scan lab -", R"({"curve":"flat","model":"m","serial":"s","raw_color":[],"batch":"b"})", 1,
       "", "\"curve\" must be an array of numbers"},
      {"scan lab '" + deep + "'", "", 1, "", "nests deeper than 512 levels"},
      {"scan lab /nonexistent/scan.json", "", 1, "",
       "cannot read '/nonexistent/scan.json': No such file or directory"},
      {"scan lab '" + dir.path().string() + "'", "", 1, "", "Is a directory"},
      {"scan lab", "", 2, "", "scan lab takes one FILE"},
      {"scan show -", spectralScan(), 0, "kind        spectral", ""},
      {"scan show '" + list + "'", "", 0, "scan        1\nkind        tristimulus", ""},
      {"scan show --json -", kTristimulusScan, 0, "\"kind\": \"tristimulus\"", ""},
      {"scan show --format csv -", kTristimulusScan, 0,
       "scan,kind,serial,model,hex,illuminant,observer,L,a,b\n0,tristimulus,", ""},
      {"scan show /nonexistent.json", "", 1, "", "cannot read"},
      {"scan show --format cgats -", spectralScan(), 0,
       "SPECTRAL_NM_700\nEND_DATA_FORMAT\nNUMBER_OF_SETS 1\nBEGIN_DATA\n0\t69.4695", ""},
      {"scan lab --format cgats --observer 10 '" + list + "'", "", 1, "OBSERVER \"10\"\n",
       "scan 1 has no Lab for the 10° observer"},
      {"scan lab -",
       "CTI3\nBEGIN_DATA_FORMAT\nSAMPLE_ID LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\n"
       "BEGIN_DATA\nA1 50 10 -20\nEND_DATA\n",
       0, "50 10 -20\n", ""},
      {"color delta-e --method de_76 --standard '" + chart + "'",
       "CGATS.17\nBEGIN_DATA_FORMAT\n"
       "SAMPLE_ID LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\nBEGIN_DATA\nA1 50 3 4\nEND_DATA\n",
       0, "5\n", ""},
      {"color delta-e --standard '" + chart + "'",
       "CGATS.17\nBEGIN_DATA_FORMAT\n"
       "SAMPLE_ID LAB_L LAB_A LAB_B\nEND_DATA_FORMAT\nBEGIN_DATA\nB1 50 3 4\nEND_DATA\n",
       1, "", "pairs sample B1 with standard A1"},
      {"scan show", "", 2, "", "scan show takes one FILE"},
      {"scan frob -", "", 2, "", "unknown command 'frob' (lab, show)"},
      {"scan", "", 2, "", "usage: hcf scan"},
      {"scan --help", "", 0, "show FILE", ""},
      {"tour", "", 0, "dark skin", ""},
      {"tour --help", "", 0, "usage: hcf tour", ""},
      {"tour now", "", 2, "", "tour takes no arguments"},
      {"discover --sim --format csv", "", 0, "name,serial,rssi\n", ""},
      {"discover --sim=yes", "", 2, "", "option --sim takes no value"},
      {"measure --sim --serial NOPE", "", 1, "", "hcf measure: connect: "},
      {"measure --patch red", "", 2, "", "choose the Bluetooth backend"},
      {"measure --ble radio", "", 2, "", "unknown Bluetooth backend 'radio' (sim or bluez)"},
      {"measure --sim --patch mauve", "", 2, "", "no chart patch named 'mauve' ('dark skin', "},
      {"measure --sim --fault on-fire", "", 2, "", "unknown fault 'on-fire'"},
      {"measure --ble bluez --fault silent-measurement", "", 2, "", "needs simulated"},
      // Without bluetoothd, the message names the radio's state and what to do.
      {"discover --ble bluez", "", 1, "", "Bluetooth state Unsupported", noBus},
      {"measure --ble bluez", "", 1, "", "Bluetooth state Unsupported", noBus},
      {"demo --help", "", 0, "usage: hcf demo", ""},
      // The kit's log goes to standard error when HCF_LOG is set (to anything but 0 or nothing).
      {"discover --sim", "", 0, "", "hcf: didDiscoverPeripheral", "HCF_LOG=1"},
      {"version", "", 0, "hcf ", ""},
      {"--help", "", 0, "filters", ""},
      {"frobnicate", "", 2, "", "unknown command 'frobnicate'"},
      {"", "", 2, "", "usage: hcf"},
  };
  for (const auto& row : rows) check(row);
  for (const char* off : {"HCF_LOG=0", "HCF_LOG="}) {
    EXPECT_EQ(
        hcf_test::runCommand(std::string("env ") + off + " '" HCF_TOOL_PATH "' discover --sim").err,
        "")
        << off;
  }
}

TEST(HcfCommandLine, OutputThatCannotBeWrittenFailsWithTheReason) {
  for (const char* args :
       {"color delta-e 50 0 0 60 0 0", "tour", "color --help", "scan lab --json -"}) {
    const Outcome r = hcf_test::runCommand(
        "{ '" HCF_TOOL_PATH "' " + std::string(args) + " >/dev/full; }", spectralScan());
    EXPECT_EQ(r.status, 1) << args;
    EXPECT_NE(r.err.find("could not be written: No space left on device"), std::string::npos)
        << args << ": " << r.err;
  }
}

TEST(HcfCommandLine, SwatchesOnlyForATerminalThatWantsColour) {
  const struct {
    std::vector<std::string> environment;
    bool swatches;
  } rows[] = {
      {{"TERM=xterm-256color"}, true},
      {{"TERM=xterm-256color", "NO_COLOR=1"}, false},
      {{"TERM=xterm-256color", "NO_COLOR="}, true},  // empty: not set
      {{"TERM=dumb"}, false},
  };
  for (const auto& row : rows) {
    const Outcome r = hcf_test::runHcfOnTerminal({"tour"}, row.environment);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.find("\x1b[48;2;") != std::string::npos, row.swatches)
        << row.environment.back();
  }
  EXPECT_EQ(runHcf("tour").out.find("\x1b["), std::string::npos);  // not a terminal
}

TEST(HcfColorConvert, RoundTripsThroughEverySpace) {
  // rgb -> lab -> rgb under the 10° observer comes back to the same colour.
  const Outcome lab =
      runHcf("color convert --from rgb --to lab --illuminant A --observer 10 0.31 0.52 0.73");
  const Outcome back =
      runHcf("color convert --from lab --to hex --illuminant A --observer 10", lab.out);
  EXPECT_EQ(back.out, runHcf("color convert --from rgb --to hex 0.31 0.52 0.73").out);
  // The observer changes the white point, so the same XYZ gives another Lab.
  EXPECT_NE(runHcf("color convert --from xyz --to lab --observer 10 30 40 20").out,
            runHcf("color convert --from xyz --to lab 30 40 20").out);
  // Printed numbers carry every digit: xyz -> luv -> xyz and lab -> xyz -> lab come back.
  const struct {
    const char* there;
    const char* back;
    double values[3];
    double tolerance;
  } trips[] = {
      {"--from xyz --to luv --illuminant F11",
       "--from luv --to xyz --illuminant F11",
       {30, 40, 20},
       1e-12},
      {"--from lab --to xyz", "--from xyz --to lab", {62.7, 35.8, 56.5}, 1e-4},  // float cubes
  };
  for (const auto& trip : trips) {
    std::string input;
    for (const double v : trip.values) input += std::to_string(v) + " ";
    const Outcome there = runHcf(std::string("color convert ") + trip.there, input + "\n");
    std::istringstream values(runHcf(std::string("color convert ") + trip.back, there.out).out);
    for (const double expected : trip.values) {
      double got = 0;
      values >> got;
      EXPECT_NEAR(got, expected, trip.tolerance * expected) << trip.there;
    }
  }
}

TEST(HcfDemo, MeasuresWithSimulatedInstrumentsEndToEnd) {
  const hcf_test::ScratchFolder dir;
  const auto page = dir / "page.html";
  const Outcome r = runHcf("demo --html '" + page + "'");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const char* seen :
       {"ColorOrla-00C0FFEE4095", "Irisel-00E15E000001", "white-calibrated", "dark skin",
        "Lab D65 10°", "LCh D50 2°", "de_cmc_21", "state: AwaitingConfirmation", "chosen and ready",
        "download needed: yes", "2000 products stored", "nearest products to red (ColorOrla)",
        "nearest inspirations to"}) {
    EXPECT_NE(r.out.find(seen), std::string::npos) << seen;
  }
  EXPECT_NE(r.err.find("catalogue 100%"), std::string::npos) << r.err;
  EXPECT_EQ(r.out.find("\x1b["), std::string::npos);  // no colour codes when not a terminal
  // The page: a swatch for each of the six measured colours, three matches each, and the
  // inspirations; every swatch's colour is a CSS colour.
  const std::string html = hcf_test::slurp(page);
  std::size_t swatches = 0;
  for (auto at = html.find("class=\"sw\""); at != std::string::npos;
       at = html.find("class=\"sw\"", at + 1)) {
    ++swatches;
  }
  EXPECT_EQ(swatches, 6u * 4 + 4);
  EXPECT_NE(html.find("<h1>Inspirations</h1>"), std::string::npos);
  for (auto at = html.find("background:"); at != std::string::npos;
       at = html.find("background:", at + 1)) {
    EXPECT_EQ(html[at + 11], '#') << html.substr(at, 20);
  }
  const Outcome unwritable = runHcf("demo --html /nonexistent/page.html");
  EXPECT_EQ(unwritable.status, 1);
  EXPECT_NE(unwritable.err.find("cannot write '/nonexistent/page.html': No such file"),
            std::string::npos)
      << unwritable.err;
}

TEST(HcfMeasure, SimulatedMeasurementSavesAScanThatReadsBack) {
  const Outcome listed = runHcf("discover --sim");
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.out.find("Irisel-00E15E000001"), std::string::npos);
  EXPECT_NE(listed.out.find("-48 dBm"), std::string::npos);

  // The spectrometer measures "blue sky" (L 49.32, a -3.82, b -22.54 under D50) as a scan
  // dictionary, which the scan command reads back.
  const Outcome json = runHcf("measure --sim --serial 00E15E000001 --patch 'blue sky' --json");
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_NE(json.out.find("\"curve\""), std::string::npos);
  const Outcome lab = runHcf("scan lab -", json.out);
  ASSERT_EQ(lab.status, 0) << lab.err;
  std::istringstream values(lab.out);
  double L = 0, a = 0, b = 0;
  values >> L >> a >> b;
  EXPECT_NEAR(L, 49.32, 0.05);
  EXPECT_NEAR(a, -3.82, 0.05);
  EXPECT_NEAR(b, -22.54, 0.05);
  const Outcome csv = runHcf("measure --sim --patch red --format csv");
  EXPECT_EQ(csv.status, 0) << csv.err;
  EXPECT_EQ(csv.out.rfind("scan,kind,serial,model,hex,illuminant,observer,L,a,b\n", 0), 0u);
}

// An instrument that stops answering: the command fails after the kit's time-out with a
// message saying which step did not finish (simulated time passes at once).
TEST(HcfMeasure, AnInstrumentThatNeverAnswersFailsWithAClearMessage) {
  const struct {
    const char* args;
    const char* message;
  } cases[] = {
      {"--fault silent-calibration", "white calibration: The white calibration did not arrive"},
      {"--fault silent-measurement", "measure: The measurement did not arrive in time"},
      {"--serial 00E15E000001 --fault silent-measurement",
       "measure: The measurement did not arrive in time"},
  };
  for (const auto& c : cases) {
    const Outcome r = runHcf(std::string("measure --sim ") + c.args);
    EXPECT_EQ(r.status, 1) << c.args << ": " << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
    EXPECT_EQ(r.out, "") << c.args;
  }
}

// A sample brighter than the white tile drives the counts to full scale: the scan is still
// printed, marked over range, with a warning; a darker one is not marked.
TEST(HcfMeasure, ASaturatedReadingIsMarkedOverRange) {
  const struct {
    const char* args;
    bool overRange;
  } cases[] = {
      {"--patch 'white 9.5 (.05 D)' --fault fluorescent", true},
      {"--patch 'white 9.5 (.05 D)' --fault fluorescent --format json", true},
      {"--serial 00E15E000001 --patch 'white 9.5 (.05 D)' --fault fluorescent --format json", true},
      {"--patch 'black 2 (1.5 D)' --fault fluorescent --format json", false},
  };
  for (const auto& c : cases) {
    const Outcome r = runHcf(std::string("measure --sim ") + c.args);
    EXPECT_EQ(r.status, 0) << c.args << ": " << r.err;
    EXPECT_EQ(r.err.find("over range") != std::string::npos, c.overRange) << c.args << r.err;
    const bool marked = r.out.find("\"over_range\": true") != std::string::npos ||
                        r.out.find("over range") != std::string::npos;
    EXPECT_EQ(marked, c.overRange) << c.args << ": " << r.out;
  }
}

// SIGTERM ends a command as Ctrl-C does: its private temporary folder is removed before it
// ends with the signal's status.
TEST(HcfSignals, SigtermRemovesTheCommandsTemporaryFolder) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execl(HCF_TOOL_PATH, "hcf", "demo", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // mkdtemp names it "hcf-demo-<pid>-XXXXXX".
  const std::string prefix = "hcf-demo-" + std::to_string(pid) + "-";
  const auto folder = [&]() -> std::filesystem::path {
    std::error_code ec;
    for (const auto& e :
         std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec)) {
      if (e.path().filename().string().rfind(prefix, 0) == 0) return e.path();
    }
    return {};
  };
  std::filesystem::path made;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while ((made = folder()).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_FALSE(made.empty());
  EXPECT_TRUE(folder().empty());
  ASSERT_TRUE(WIFEXITED(status));
  // 0 only when the demo finished before the signal came.
  EXPECT_TRUE(WEXITSTATUS(status) == 128 + SIGTERM || WEXITSTATUS(status) == 0)
      << WEXITSTATUS(status);
}

// A command killed outright leaves its folder behind; the next session removes it, and only
// folders of processes that are gone.
TEST(HcfSignals, FoldersOfKilledCommandsAreRemovedByTheNextSession) {
  const auto temp = std::filesystem::temp_directory_path();
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const auto abandoned = temp / ("hcf-demo-" + std::to_string(gone) + "-Ab12Cd");
  const auto alive = temp / ("hcf-demo-" + std::to_string(::getpid()) + "-Ef34Gh");
  std::filesystem::create_directories(abandoned / "cloud");
  std::filesystem::create_directories(alive);
  ASSERT_EQ(runHcf("discover --sim").status, 0);
  EXPECT_FALSE(std::filesystem::exists(abandoned));
  EXPECT_TRUE(std::filesystem::exists(alive));
  std::filesystem::remove_all(alive);
}

// The real BlueZ backend against the fake bluetoothd serving the same instruments: the same
// discovery and the same measurements, to the last digit.
TEST(HcfMeasure, OverBluezItMeasuresExactlyAsOnTheSimulator) {
  const auto overBluez = [](const std::string& patch, const std::string& args) {
    return hcf_test::runCommand(std::string("'") + HCF_FAKE_BLUEZ_PATH + "' --patch '" + patch +
                                "' -- '" + HCF_TOOL_PATH + "' " + args);
  };
  const Outcome listed = overBluez("red", "discover --ble bluez");
  ASSERT_EQ(listed.status, 0) << listed.err;
  EXPECT_EQ(listed.out, runHcf("discover --sim").out);

  const Outcome orla = overBluez("red", "measure --ble bluez --patch red --json");
  ASSERT_EQ(orla.status, 0) << orla.err;
  EXPECT_EQ(orla.out, runHcf("measure --sim --patch red --json").out);
  EXPECT_NE(orla.err.find("white tile"), std::string::npos);  // the person is asked

  const std::string irisel = "--serial 00E15E000001 --patch 'blue sky'";
  const Outcome spectral = overBluez("blue sky", "measure --ble bluez " + irisel);
  ASSERT_EQ(spectral.status, 0) << spectral.err;
  EXPECT_EQ(spectral.out, runHcf("measure --sim " + irisel).out);
}
