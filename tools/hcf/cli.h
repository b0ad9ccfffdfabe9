// Command-line plumbing shared by the subcommands: arguments, numbers, errors, output.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace hcf_tool {

/// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitBadLines = 1;  // batch mode: some lines were bad, the rest done
inline constexpr int kExitUsage = 2;     // bad command line or bad input

/// A mistake in what the user gave; the message is printed as it stands.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A command line split into options ("--name value" or "--name=value") and positional words.
/// A word that starts with '-' followed by a digit or '.' is a (negative) number, not an option.
struct Args {
  std::map<std::string, std::string> options;
  std::vector<std::string> positional;
  bool help = false;

  /// Parses `words`, accepting only the option names in `known` (each taking a value) and the
  /// switches in `flags` (taking none; present with an empty value).
  static Args parse(const std::vector<std::string>& words, const std::vector<std::string>& known,
                    const std::vector<std::string>& flags = {});
  std::optional<std::string> option(const std::string& name) const;
};

/// A finite decimal number; anything else raises UsageError naming the text.
double parseNumber(std::string_view text);

/// Splits a line into fields at blanks, tabs and commas.
std::vector<std::string> splitFields(std::string_view line);

/// "%.10g".
std::string formatNumber(double value);

/// Runs `convertLine` on each line of standard input and prints its result, one line out per
/// line in. A line that raises UsageError is reported on standard error with its number, and
/// "error" stands in its place. Returns kExitOk, or kExitBadLines when a line was bad.
int runBatchLines(const std::function<std::string(std::string_view)>& convertLine);

}  // namespace hcf_tool
