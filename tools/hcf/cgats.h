// CGATS.17 text files (ISO 28178), the form ArgyllCMS and Little CMS exchange measurements in:
// a small table model, a tolerant reader, a writer, and the colour rows of measurements.
//
// A spot-reading log keeps one table and adds a reading at a time:
//
//   CgatsTable log = measurementTable("hcf spot readings", /*spectral=*/true);
//   appendScan(log, *scan, "1");    // raises Failure for a scan the table cannot hold
//   writeCgatsFile("readings.cgats", log);  // the whole file, replaced atomically
#pragma once

#include <hcf/hcf.h>

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cli.h"

namespace hcf_tool {

/// What a CGATS text that cannot be read raises: the message starts with the line it is about
/// ("line 12: 5 values, the data format has 7 fields").
class CgatsError : public Failure {
 public:
  using Failure::Failure;
};

/// One table of a CGATS file: its header keywords, its data format and its data.
struct CgatsTable {
  /// The identifier on the first line: "CGATS.17", or another program's ("CTI3", "LGOROWLENGTH").
  std::string fileType = "CGATS.17";
  /// The header keywords and their values (unquoted), in file order. NUMBER_OF_FIELDS and
  /// NUMBER_OF_SETS are not kept: the writer counts `fields` and `rows`; KEYWORD declarations
  /// are not kept either: the writer declares what CGATS.17 does not define.
  std::vector<std::pair<std::string, std::string>> keywords;
  /// The field names of the data format, in column order ("SAMPLE_ID", "LAB_L", ...).
  std::vector<std::string> fields;
  /// The data sets, one value (unquoted text) per field each.
  std::vector<std::vector<std::string>> rows;

  /// The column of the field `name` (exact match), or nothing.
  std::optional<std::size_t> fieldIndex(std::string_view name) const;
  /// The value of the first keyword `name`, or nothing.
  std::optional<std::string> keyword(std::string_view name) const;
  /// Sets the keyword `name` to `value`: the first one of that name is replaced, or it is added
  /// at the end.
  void setKeyword(const std::string& name, const std::string& value);
};

/// True when `text` reads as CGATS: its first line that is neither blank nor a '#' comment holds
/// one identifier (letters, digits, '.', '_', '-', starting with a letter), and a
/// BEGIN_DATA_FORMAT line follows. A JSON document or lines of numbers never do.
bool looksLikeCgats(std::string_view text);

/// The first table of `text`, read as ArgyllCMS reads it: values separated by any blanks or
/// tabs, lines ended by CR, LF or CRLF, '#' comments, KEYWORD declarations, quoted values with
/// doubled quotes inside, keywords with or without quotes, and any identifier as the file type.
/// A data row is one line. Tables after the first (ArgyllCMS adds calibration curves so) are not
/// read. Raises CgatsError naming the line for an empty file, a header line that is no keyword,
/// a missing or empty data format, a data row whose count of values differs from the fields',
/// NUMBER_OF_FIELDS or NUMBER_OF_SETS disagreeing with the data, a missing END_DATA_FORMAT or
/// END_DATA, and an unterminated quote. Time and memory grow linearly with the text.
CgatsTable readCgats(std::string_view text);

/// The current UTC time as ISO 8601 ("2026-12-10T05:15:00Z").
std::string utcNowIso8601();

/// The table as CGATS text: the file type; ORIGINATOR, CREATED and DESCRIPTOR (from the
/// keywords when they are there, else "hcf" and the current UTC time as ISO 8601; no DESCRIPTOR);
/// the other keywords with quoted values, each that CGATS.17 does not define declared by
/// KEYWORD first; NUMBER_OF_FIELDS, the data format, NUMBER_OF_SETS and the data, values
/// separated by tabs and quoted when they are empty or hold a blank, a tab, a quote or a '#'
/// (quotes doubled). Raises Failure for what no CGATS text can hold: a line break in a value, a
/// field name that is empty or holds a blank or quote, a row of the wrong length.
std::string cgatsText(const CgatsTable& table);

/// Writes `cgatsText(table)` to `path` atomically: into a new file in the same folder, flushed
/// to disk, then renamed over `path`, so that a reader sees the old file or the new one whole.
/// An existing file keeps its permissions. Raises Failure with the system's reason.
void writeCgatsFile(const std::filesystem::path& path, const CgatsTable& table);

// ---- Colour rows ---------------------------------------------------------------------------

/// The wavelengths of the spectral columns of `measurementTable`: 400 to 700 nm every 10 nm,
/// the range every spectrometer of the kit covers.
inline constexpr unsigned kCgatsSpectralStartNm = 400;
inline constexpr unsigned kCgatsSpectralEndNm = 700;
inline constexpr unsigned kCgatsSpectralStepNm = 10;

/// An empty table of measurements: fields SAMPLE_ID, LAB_L LAB_A LAB_B (CIELAB under D50 for
/// the 2° observer, as ICC profiles and ArgyllCMS expect), XYZ_X XYZ_Y XYZ_Z (D50, 2°, white
/// Y = 100), and when `spectral` the reflectance (0 to 1) at each band as SPECTRAL_NM_400 …
/// SPECTRAL_NM_700 with the ArgyllCMS keywords SPECTRAL_BANDS, SPECTRAL_START_NM,
/// SPECTRAL_END_NM and SPECTRAL_NORM ("1"). Keywords DESCRIPTOR `descriptor`, ILLUMINANT "D50"
/// and OBSERVER "2".
CgatsTable measurementTable(const std::string& descriptor, bool spectral);

/// Adds one row for `scan` to `table`, filling each of the table's fields: SAMPLE_ID with
/// `sampleId`, LAB_* with the scan's D50 2° Lab, XYZ_* with its XYZ (a spectrometer's the
/// integral of its curve, a colorimeter's from its Lab), SPECTRAL_NM_n with its
/// curve at n nm. Raises Failure, leaving the table unchanged, for a scan without a finite D50
/// 2° Lab, a spectral field the scan has no curve point for (a colorimeter's scan has no
/// curve), or a field it does not know.
void appendScan(CgatsTable& table, const hcf::HCFColorScan& scan, const std::string& sampleId);

/// A reflectance curve read from spectral columns: samples every 10 nm from `startNm`, as
/// reflectance factors (1 for a perfect white).
struct CgatsSpectrum {
  unsigned startNm = 0;
  std::vector<double> reflectance;
};

/// One row's colour.
struct CgatsSample {
  /// SAMPLE_ID, else SAMPLE_NAME, else the row's number counted from 1.
  std::string id;
  /// CIELAB under D50 for the 2° observer.
  hcf::HCFLabColor lab;
  /// The reflectance curve, when the table has spectral columns.
  std::optional<CgatsSpectrum> spectrum;
};

/// Each row's sample id and D50 2° Lab, taken from LAB_L LAB_A LAB_B, else from XYZ_X XYZ_Y
/// XYZ_Z (white Y = 100), else integrated from the spectral columns under D50 for the 2°
/// observer as the kit's scans are (`HCFCieSpectralMath::xyzFromSpectrum`). Spectral columns
/// may be named SPECTRAL_NM_560, SPECTRAL_NM560, SPEC_560 or nm560; their values are divided by
/// SPECTRAL_NORM when it is given, else taken as percent for SPEC_ (ArgyllCMS) and as factors
/// for the others. Bands closer than 10 nm are taken at every 10 nm. Lab and XYZ under another
/// ILLUMINANT or OBSERVER (keywords, as `illuminantNamed` and `observerNamed` read them) are
/// adapted to D50 2° (Bradford). Raises CgatsError when none of these columns is there, and for
/// a value that is not a finite number, naming the row and field.
std::vector<CgatsSample> samplesFrom(const CgatsTable& table);

}  // namespace hcf_tool
