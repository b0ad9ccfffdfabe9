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

using hcf_test::Outcome;
using hcf_test::runHcf;

TEST(HcfColorDeltaE, PrintsTheDifferenceWithTenSignificantDigits) {
  // Sharma pair 10 (published 7.1792).
  const Outcome r = runHcf("color delta-e 50 2.49 -0.001 50 -2.49 0.001");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "7.17916264\n");
  // Colour 1 is the sample: CMC is asymmetric.
  EXPECT_NE(runHcf("color delta-e --method de_cmc_21 50 40 10 55 30 25").out,
            runHcf("color delta-e --method de_cmc_21 55 30 25 50 40 10").out);
  // Lenient method names, negative numbers as values.
  EXPECT_EQ(runHcf("color delta-e --method DE_94_GFX 50 3 4 40 0 0").out,
            runHcf("color delta-e --method=94_gfx 50 3 4 40 -0 0").out);
  EXPECT_EQ(runHcf("color delta-e --method nonsense 50 2.49 -0.001 50 -2.49 0.001").out, r.out);
}

TEST(HcfColorDeltaE, BatchKeepsLinesAlignedAndReportsBadOnes) {
  const Outcome r = runHcf("color delta-e", "50 0 0 60 0 0\nfoo\n1,2,3\n50 20 5 52 18 9\n\n");
  EXPECT_EQ(r.status, 1);
  std::istringstream lines(r.out);
  std::string l1, l2, l3, l4, l5;
  std::getline(lines, l1);
  std::getline(lines, l2);
  std::getline(lines, l3);
  std::getline(lines, l4);
  std::getline(lines, l5);
  EXPECT_EQ(l2, "error");
  EXPECT_EQ(l3, "error");
  EXPECT_EQ(l5, "error");
  EXPECT_EQ(l4 + "\n", runHcf("color delta-e 50 20 5 52 18 9").out);
  EXPECT_NE(r.err.find("line 2: "), std::string::npos);
  EXPECT_NE(r.err.find("line 3: delta-e takes 6 numbers, got 3"), std::string::npos);
  EXPECT_NE(r.err.find("line 5: "), std::string::npos);
  EXPECT_EQ(runHcf("color delta-e", "50 0 0 60 0 0\n").status, 0);
}

TEST(HcfColorConvert, SpacesIlluminantsAndObservers) {
  EXPECT_EQ(runHcf("color convert --from rgb --to hex 1 0.5 0").out, "FF7F00\n");
  EXPECT_EQ(runHcf("color convert --from hex --to rgb '#ff8000'").out, "1 0.5019607843 0\n");
  const Outcome white =
      runHcf("color convert --from xyz --to lab --illuminant d65 95.047 100 108.883");
  EXPECT_EQ(white.status, 0);
  EXPECT_EQ(white.out.substr(0, 4), "100 ");
  EXPECT_EQ(runHcf("color convert --from lab --to lch 50 0 -10").out, "50 10 270\n");
  EXPECT_EQ(runHcf("color convert --from lch --to lab 50 10 90").out.substr(0, 5), "50 6.");
  // The observer changes the white point, so the same XYZ gives a different Lab.
  EXPECT_NE(runHcf("color convert --from xyz --to lab --observer 10 30 40 20").out,
            runHcf("color convert --from xyz --to lab 30 40 20").out);
  // rgb -> lab -> rgb under the 10° observer comes back to the same colour.
  const Outcome lab =
      runHcf("color convert --from rgb --to lab --illuminant A --observer 10 0.3 0.5 0.7");
  const Outcome back =
      runHcf("color convert --from lab --to hex --illuminant A --observer 10", lab.out);
  EXPECT_EQ(back.out, runHcf("color convert --from rgb --to hex 0.3 0.5 0.7").out);
  // xyz -> luv -> xyz.
  const Outcome luv = runHcf("color convert --from xyz --to luv --illuminant F11 30 40 20");
  EXPECT_EQ(runHcf("color convert --from luv --to xyz --illuminant F11", luv.out).out,
            "30 40 20\n");
}

TEST(HcfColorConvert, BadInputIsAClearErrorWithStatusTwo) {
  const Outcome count = runHcf("color convert --from lab --to xyz 1 2");
  EXPECT_EQ(count.status, 2);
  EXPECT_EQ(count.out, "");
  EXPECT_NE(count.err.find("convert takes 3 numbers, got 2"), std::string::npos);
  const Outcome space = runHcf("color convert --from cmyk --to lab 1 2 3");
  EXPECT_EQ(space.status, 2);
  EXPECT_NE(space.err.find("unknown colour space 'cmyk'"), std::string::npos);
  const Outcome notNumber = runHcf("color convert --from lab --to xyz 50 a 3");
  EXPECT_EQ(notNumber.status, 2);
  EXPECT_NE(notNumber.err.find("not a number: 'a'"), std::string::npos);
  EXPECT_EQ(runHcf("color convert --from lab --to xyz 50 nan 3").status, 2);
  EXPECT_EQ(runHcf("color convert --from lab --to xyz 50 1e999 3").status, 2);
  EXPECT_EQ(runHcf("color convert --from hex --to lab 12345G").status, 2);
  EXPECT_EQ(runHcf("color convert --to lab 1 2 3").status, 2);
  EXPECT_EQ(runHcf("color convert --from lab --to lab --bogus 1 1 2 3").status, 2);
  EXPECT_EQ(runHcf("color frobnicate").status, 2);
  EXPECT_EQ(runHcf("frobnicate").status, 2);
  EXPECT_EQ(runHcf("").status, 2);
}

TEST(HcfColorAdapt, BradfordBetweenIlluminants) {
  const Outcome r =
      runHcf("color adapt --from-illuminant D50 --to-illuminant D65 96.422 100 82.521");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "95.04700022 100.0000027 108.8829949\n");
  const Outcome batch = runHcf("color adapt --from-illuminant A --to-illuminant A", "1 2 3\n4 5\n");
  EXPECT_EQ(batch.out, "1 2 3\nerror\n");
  EXPECT_EQ(batch.status, 1);
  EXPECT_EQ(runHcf("color adapt --to-illuminant D65 1 2 3").status, 2);
}

TEST(HcfDemo, MeasuresWithSimulatedInstrumentsEndToEnd) {
  const auto page = std::filesystem::temp_directory_path() /
                    ("hcf-demo-page-" + std::to_string(::getpid()) + ".html");
  const Outcome r = runHcf("demo --html '" + page.string() + "'");
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
  // inspirations.
  const std::string html = hcf_test::slurp(page);
  std::size_t swatches = 0;
  for (auto at = html.find("class=\"sw\""); at != std::string::npos;
       at = html.find("class=\"sw\"", at + 1)) {
    ++swatches;
  }
  EXPECT_EQ(swatches, 6u * 4 + 4);
  EXPECT_NE(html.find("<h1>Inspirations</h1>"), std::string::npos);
  // Every swatch's colour is a CSS colour.
  for (auto at = html.find("background:"); at != std::string::npos;
       at = html.find("background:", at + 1)) {
    EXPECT_EQ(html[at + 11], '#') << html.substr(at, 20);
  }
  std::filesystem::remove(page);
}

TEST(HcfTour, ToursTheColourChecker) {
  const Outcome r = runHcf("tour");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("dark skin"), std::string::npos);
  EXPECT_NE(r.out.find("de_cmc_21"), std::string::npos);
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

  const Outcome strongest = runHcf("measure --sim --patch red");  // the ColorOrla
  EXPECT_EQ(strongest.status, 0) << strongest.err;
  EXPECT_NE(strongest.out.find("red"), std::string::npos);
  EXPECT_EQ(runHcf("measure --patch red").status, 2);  // no backend chosen
  EXPECT_EQ(runHcf("measure --ble radio --patch red").status, 2);
  EXPECT_EQ(runHcf("measure --sim --patch mauve").status, 2);
  EXPECT_EQ(runHcf("measure --sim --serial NOPE").status, 1);
  EXPECT_EQ(runHcf("discover --sim=yes").status, 2);
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
  EXPECT_EQ(runHcf("measure --sim --fault on-fire").status, 2);
  EXPECT_EQ(runHcf("measure --ble bluez --fault silent-measurement").status, 2);
}

// SIGTERM ends a command as Ctrl-C does: its temporary folder is removed before it ends with
// the signal's status.
TEST(HcfSignals, SigtermRemovesTheCommandsTemporaryFolder) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("/dev/null", "w", stdout);
    std::freopen("/dev/null", "w", stderr);
    ::execl(HCF_TOOL_PATH, "hcf", "demo", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  const auto folder = std::filesystem::temp_directory_path() / ("hcf-demo-" + std::to_string(pid));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!std::filesystem::exists(folder) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_FALSE(std::filesystem::exists(folder));
  ASSERT_TRUE(WIFEXITED(status));
  // 0 only when the demo finished before the signal came.
  EXPECT_TRUE(WEXITSTATUS(status) == 128 + SIGTERM || WEXITSTATUS(status) == 0)
      << WEXITSTATUS(status);
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

TEST(HcfScan, SavedScansShowTheirLabUnderAnyIlluminantAndObserver) {
  // A flat 40 % grey saved as the kit writes a spectral scan.
  std::string curve;
  for (int i = 0; i < 31; ++i) curve += std::string(i ? "," : "") + "0.4";
  const std::string spectral =
      R"({"batch":"s1-1","model":"Irisel S1","serial":"00E15E000001",)"
      R"("raw_color":[0.1,0.2,0.3,0.4,0.5],"start":400,"step":10,"curve":[)" +
      curve + "]}";
  const Outcome d50 = runHcf("scan lab -", spectral);
  EXPECT_EQ(d50.status, 0) << d50.err;
  EXPECT_EQ(d50.out.substr(0, 7), "69.4695");  // L* of 40 % reflectance; a grey has a*, b* ≈ 0
  const Outcome a10 = runHcf("scan lab --illuminant a --observer 10 -", spectral);
  EXPECT_EQ(a10.status, 0);
  EXPECT_EQ(a10.out.substr(0, 5), "69.46");
  EXPECT_NE(a10.out, d50.out);
  const Outcome shown = runHcf("scan show -", spectral);
  EXPECT_NE(shown.out.find("kind        spectral"), std::string::npos);
  EXPECT_NE(shown.out.find("F11"), std::string::npos);

  const std::string tristim =
      R"({"batch":"7","serial":"00A1B2C3D4E5","model":"2.0","raw_color":[1,2,3],)"
      R"("adjusted_lab":{"L":50,"a":10,"b":-20,"observer":"TWO_DEGREE","illuminant":"D50"}})";
  EXPECT_EQ(runHcf("scan lab -", tristim).out, "50 10 -20\n");
  const Outcome noTen = runHcf("scan lab --observer 10 -", tristim);
  EXPECT_EQ(noTen.status, 2);
  EXPECT_NE(noTen.err.find("no Lab for that observer"), std::string::npos);

  const Outcome wrongType = runHcf("scan lab -", R"({"curve":"flat","model":"m","serial":"s",)"
                                                 R"("raw_color":[],"batch":"b"})");
  EXPECT_EQ(wrongType.status, 2);
  EXPECT_NE(wrongType.err.find("\"curve\" must be an array of numbers"), std::string::npos);
  EXPECT_EQ(runHcf("scan lab -", "not json").status, 2);
  EXPECT_EQ(runHcf("scan lab /nonexistent/scan.json").status, 2);
  EXPECT_NE(runHcf("scan lab --illuminant D75 -", tristim).err.find("unknown illuminant 'D75'"),
            std::string::npos);
  EXPECT_EQ(runHcf("scan lab --observer 5 -", tristim).status, 2);
  EXPECT_EQ(runHcf("scan lab").status, 2);
  EXPECT_EQ(runHcf("scan").status, 2);
}
