// The pieces of spot reading (hcf measure --watch): its options, a reading (one scan or the
// average of several), what is printed for it, and the log it is kept in.
#pragma once

#include <hcf/hcf.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cgats.h"
#include "cli.h"
#include "sim_session.h"

namespace hcf_tool {

/// The options of a spot-reading session.
struct WatchOptions {
  int average = 1;                            ///< scans averaged into one reading
  std::optional<hcf::HCFLabColor> reference;  ///< the colour readings are compared with (D50)
  hcf::HCFDeltaEMethod method = hcf::HCFDeltaEMethod::CIEDE2000;
  std::optional<double> tolerance;  ///< the last reading's difference decides the exit status
  int nearest = 0;                  ///< catalogue products shown per reading
  std::optional<std::string> log;   ///< file readings are kept in
  enum class LogFormat { Cgats, Csv, JsonLines } logFormat = LogFormat::Cgats;
};

/// The options of `args`: --average N, --reference (L,a,b | hex | a scan file, JSON or CGATS),
/// --method, --tolerance T (needs --reference), --nearest K, --log FILE with --log-format
/// cgats|csv|jsonl (else by the file's extension: .csv, .jsonl or .ndjson; CGATS otherwise).
/// UsageError for a bad one.
WatchOptions watchOptionsOf(const Args& args);

/// The reference colour `text` stands for: "L,a,b" (or "L a b", CIELAB D50), a hexadecimal
/// sRGB colour ("#B03A2E"), or a file holding a scan (JSON, as hcf measure --format json writes
/// it) or CGATS measurements (the first row).
hcf::HCFLabColor referenceColour(const std::string& text);

/// One reading: a scan, or the average of several.
struct Reading {
  int number = 0;
  std::size_t averaged = 1;
  hcf::HCFXYZColor xyz;       ///< D50, 2°, white Y = 100 (the mean of the scans' XYZ)
  hcf::HCFLabColor lab;       ///< the Lab of `xyz`
  std::vector<double> curve;  ///< the mean reflectance from 400 nm every 10 nm (spectrometer)
  bool overRange = false;     ///< a scan reached full scale: the colour is not reliable
};

/// The reading of `scans` (at least one, each with a D50 2° Lab): XYZ and curves averaged.
std::optional<Reading> averageOf(const std::vector<std::shared_ptr<hcf::HCFColorScan>>& scans);

/// The difference of `sample` to `reference`: ΔE by `method` and the CIELAB ΔL*, ΔC*, ΔH*.
struct Difference {
  double deltaE = 0, dL = 0, dC = 0, dH = 0;
};
Difference differenceOf(const hcf::HCFLabColor& sample, const hcf::HCFLabColor& reference,
                        hcf::HCFDeltaEMethod method);

/// Prints a reading (and its difference and nearest products, as `options` ask); warns on
/// standard error when it is over range. The difference to the reference, if there is one.
std::optional<double> report(const Reading& reading, const WatchOptions& options, SimSession& s);

/// Downloads the session's catalogue when the kit says one is needed.
void prepareCatalog(SimSession& s);

/// hcf measure --watch on `radio`: the session, until q, the end of standard input or Ctrl-C.
/// The exit status: with a tolerance, whether the last reading was within it.
int watchCommand(const Args& args, Radio radio);

/// The log of a session: each reading is written as it is taken (a CGATS file is replaced
/// whole each time, so it is always complete; CSV and JSON lines are appended and flushed).
class WatchLog {
 public:
  WatchLog(const WatchOptions& options, bool spectral);
  void add(const Reading& reading);

 private:
  std::optional<std::string> path_;
  WatchOptions::LogFormat format_;
  std::optional<hcf::HCFLabColor> reference_;
  hcf::HCFDeltaEMethod method_;
  bool spectral_;
  CgatsTable table_;
  std::ofstream out_;
};

}  // namespace hcf_tool
