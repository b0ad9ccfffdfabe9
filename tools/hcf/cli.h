// Command-line plumbing shared by the subcommands: arguments, numbers, errors, exit statuses.
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hcf_tool {

/// Exit statuses, the same for every command.
inline constexpr int kExitOk = 0;      // done (also when nothing was found)
inline constexpr int kExitFailed = 1;  // understood but not done: a file, the network, an
                                       // instrument or input data failed
inline constexpr int kExitUsage = 2;   // the command line is wrong

/// A mistake in the command line; the message is printed as it stands, the status is 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A command that was understood but could not be done; the message is printed as it stands,
/// the status is 1.
class Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A command line split into options and positional words. "--" ends the options: every word
/// after it is positional. A word that starts with '-' followed by a digit or '.' is a
/// (negative) number, not an option; "-" alone is a positional word (standard input).
struct Args {
  /// Every value given to each option, in order (flags: one empty value per use).
  std::map<std::string, std::vector<std::string>> options;
  std::vector<std::string> positional;
  bool help = false;

  /// Parses `words`, accepting only the options in `valued` (one value each time, "--name
  /// value" or "--name=value"; given again, the last counts for `option` and `values` keeps
  /// each), the switches in `flags` (no value), and the options of `multi` that take that many
  /// values at once ("--lab L a b"; the last use counts).
  static Args parse(const std::vector<std::string>& words, const std::vector<std::string>& valued,
                    const std::vector<std::string>& flags = {},
                    const std::vector<std::pair<std::string, int>>& multi = {});
  /// The last value of `name` (empty for a flag), or nothing when it was not given.
  std::optional<std::string> option(const std::string& name) const;
  /// Every value of `name`, in order.
  std::vector<std::string> values(const std::string& name) const;
  bool has(const std::string& name) const { return options.count(name) != 0; }
};

/// A finite decimal number; anything else raises UsageError naming the text.
double parseNumber(std::string_view text);

/// Splits a line into fields at blanks, tabs and commas.
std::vector<std::string> splitFields(std::string_view line);

/// The shortest text that reads back as the same number ("0.1", "7.179162640437239", "1e+22").
/// A value that is not finite raises Failure: it is never printed.
std::string formatNumber(double value);
/// The same for a single-precision value, with the digits a float has ("19.680838").
std::string formatNumber(float value);

/// Runs `convertLine` on each line of standard input and prints its result, one line out per
/// line in; blank lines and lines whose first non-blank character is '#' are skipped. A line
/// that raises UsageError, Failure or HCFException is reported on standard error with its number,
/// and `errorLine(reason)` stands in its place. `header`, when not empty, is printed first. Returns
/// kExitOk, or kExitFailed when a line was bad.
int runBatchLines(const std::function<std::string(std::string_view)>& convertLine,
                  const std::function<std::string(const std::string&)>& errorLine,
                  const std::string& header = "");

/// Runs `body` and turns what it throws into a message on standard error, "PREFIX: reason",
/// and the exit status: UsageError 2, Failure and every other failure 1. Texts of the
/// libraries underneath are reworded (a file system error names the path and the system's
/// reason).
int reported(const std::string& prefix, const std::function<int()>& body);

/// The words after the first `skip` of `words`.
std::vector<std::string> after(const std::vector<std::string>& words, std::size_t skip = 1);

}  // namespace hcf_tool
