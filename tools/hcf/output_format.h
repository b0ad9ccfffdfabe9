// What a command prints its results as (--format text|json|csv), and the checks every output
// passes: colour escapes only for a terminal that wants them, no non-finite number, and the
// output written in full.
#pragma once

#include <hcf/core/json_fwd.h>

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "cli.h"

namespace hcf_tool {

/// How results are printed: text, JSON, CSV, or a CGATS.17 table (only where colours or scans
/// are printed).
enum class Format { Text, Json, Csv, Cgats };

/// The options every printing command takes, for Args::parse: "--format" (valued) and "--json"
/// (a flag, the same as "--format json").
inline const std::vector<std::string> kFormatOption = {"--format"};
inline const std::string kJsonFlag = "--json";

/// The format of --format (text, json or csv, and cgats when `cgats`) or --json; text when
/// neither is given.
Format formatOf(const Args& args, bool cgats = false);

/// True when standard output may carry colour escapes (swatches): it is a terminal, NO_COLOR is
/// unset or empty, and TERM is not "dumb".
bool colourOutput();

/// One CSV field (RFC 4180): quoted, with quotes doubled, when it holds a comma, a quote or a
/// line break; made printable first.
std::string csvField(std::string_view text);
/// The fields joined by commas.
std::string csvRow(const std::vector<std::string>& fields);

/// One value of a result line: a number or a text (a hex colour).
struct Field {
  std::string name;
  std::variant<double, std::string> value;
};
using Fields = std::vector<Field>;

/// One result line: the values separated by blanks (text) or commas (csv, made printable and
/// quoted as needed), or one compact JSON object. A number that is not finite raises Failure.
std::string renderFields(const Fields& fields, Format format);
/// What stands for a result that could not be had in a list of them: "error", or
/// {"error":"REASON"} in json.
std::string errorLine(const std::string& reason, Format format);

/// A single-precision value as the double whose shortest text is the float's ("19.680838", not
/// "19.680837631225586"), for JSON.
double floatDigits(float value);
/// `value` with every number that is exactly a single-precision value held as a double (the
/// catalogue's colours and differences) given the float's digits.
hcf::JsonValue withFloatDigits(hcf::JsonValue value);

/// `value` as indented, printable JSON (`printableJson`); raises Failure naming the first
/// number that is not finite instead of printing it as null.
std::string jsonText(const hcf::JsonValue& value);

/// Flushes standard output and standard error. When standard output could not be written
/// (a full disk, /dev/full, a closed pipe), says so with the system's reason and gives
/// kExitFailed; otherwise gives `status`.
int finishOutput(int status);

}  // namespace hcf_tool
