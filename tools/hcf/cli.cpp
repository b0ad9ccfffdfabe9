#include "cli.h"

#include <hcf/hcf.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <new>
#include <system_error>

#include "terminal_text.h"

namespace hcf_tool {

namespace {

bool looksLikeNumber(std::string_view word) {
  return word.size() >= 2 && word[0] == '-' &&
         (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.');
}

bool listed(const std::vector<std::string>& names, const std::string& name) {
  for (const auto& n : names) {
    if (n == name) return true;
  }
  return false;
}

template <typename T>
std::string shortest(T value) {
  if (!std::isfinite(value)) {
    throw Failure("a result is not a finite number (" +
                  std::string(std::isnan(value) ? "nan" : "inf") +
                  "): the input is outside what the conversion can take");
  }
  char buf[64];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, res.ptr);
}

// A line with nothing to convert: blank, or a comment.
bool skipped(std::string_view line) {
  const auto first = line.find_first_not_of(" \t\r");
  return first == std::string_view::npos || line[first] == '#';
}

}  // namespace

Args Args::parse(const std::vector<std::string>& words, const std::vector<std::string>& valued,
                 const std::vector<std::string>& flags,
                 const std::vector<std::pair<std::string, int>>& multi) {
  Args args;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (optionsEnded || w.size() < 2 || w[0] != '-' || looksLikeNumber(w)) {
      args.positional.push_back(w);
      continue;
    }
    if (w == "--") {
      optionsEnded = true;
      continue;
    }
    if (w == "--help" || w == "-h") {
      args.help = true;
      continue;
    }
    std::string name = w;
    std::optional<std::string> value;
    if (const auto eq = w.find('='); eq != std::string::npos) {
      name = w.substr(0, eq);
      value = w.substr(eq + 1);
    }
    if (listed(flags, name)) {
      if (value) throw UsageError("option " + name + " takes no value");
      args.options[name].emplace_back();
      continue;
    }
    if (listed(valued, name)) {
      if (!value) {
        if (i + 1 >= words.size()) throw UsageError("option " + name + " needs a value");
        value = words[++i];
      }
      args.options[name].push_back(*value);
      continue;
    }
    const auto m = std::find_if(multi.begin(), multi.end(),
                                [&](const auto& entry) { return entry.first == name; });
    if (m == multi.end()) throw UsageError("unknown option " + name);
    const auto n = static_cast<std::size_t>(m->second);
    if (value || i + n >= words.size()) {
      throw UsageError("option " + name + " takes " + std::to_string(n) + " values");
    }
    args.options[name].assign(words.begin() + static_cast<std::ptrdiff_t>(i + 1),
                              words.begin() + static_cast<std::ptrdiff_t>(i + 1 + n));
    i += n;
  }
  return args;
}

std::optional<std::string> Args::option(const std::string& name) const {
  const auto it = options.find(name);
  if (it == options.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::vector<std::string> Args::values(const std::string& name) const {
  const auto it = options.find(name);
  return it == options.end() ? std::vector<std::string>{} : it->second;
}

double parseNumber(std::string_view text) {
  std::string_view t = text;
  if (!t.empty() && t[0] == '+') t.remove_prefix(1);
  double value = 0;
  const auto res = std::from_chars(t.data(), t.data() + t.size(), value);
  if (t.empty() || res.ec != std::errc() || res.ptr != t.data() + t.size() ||
      !std::isfinite(value)) {
    throw UsageError("not a number: '" + std::string(text) + "'");
  }
  return value;
}

std::vector<std::string> splitFields(std::string_view line) {
  std::vector<std::string> fields;
  const auto separator = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; };
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && separator(line[i])) ++i;
    const std::size_t start = i;
    while (i < line.size() && !separator(line[i])) ++i;
    if (i > start) fields.emplace_back(line.substr(start, i - start));
  }
  return fields;
}

std::string formatNumber(double value) { return shortest(value); }

std::string formatNumber(float value) { return shortest(value); }

int runBatchLines(const std::function<std::string(std::string_view)>& convertLine,
                  const std::function<std::string(const std::string&)>& errorLine,
                  const std::string& header) {
  char* buffer = nullptr;
  std::size_t capacity = 0;
  long lineNumber = 0;
  int status = kExitOk;
  if (!header.empty()) std::fputs((header + '\n').c_str(), stdout);
  for (;;) {
    errno = 0;
    const ssize_t length = ::getline(&buffer, &capacity, stdin);
    if (length < 0) break;
    ++lineNumber;
    std::string_view line(buffer, static_cast<std::size_t>(length));
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    if (skipped(line)) continue;
    std::string out;
    std::optional<std::string> reason;
    try {
      out = convertLine(line);
    } catch (const UsageError& e) {
      reason = e.what();
    } catch (const Failure& e) {
      reason = e.what();
    } catch (const hcf::HCFException& e) {  // a value the kit's maths cannot take
      reason = e.what();
    }
    if (reason) {
      std::fprintf(stderr, "line %ld: %s\n", lineNumber, printable(*reason).c_str());
      out = errorLine(*reason);
      status = kExitFailed;
    }
    out += '\n';
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  const int readError = errno;
  const bool failed = std::ferror(stdin) != 0;
  std::free(buffer);
  if (failed) {
    throw Failure(std::string("cannot read standard input: ") + std::strerror(readError));
  }
  return status;
}

int reported(const std::string& prefix, const std::function<int()>& body) {
  const auto say = [&](const std::string& message) {
    std::cout.flush();
    std::cerr << prefix << ": " << printable(message) << '\n';
  };
  try {
    return body();
  } catch (const UsageError& e) {
    say(e.what());
    return kExitUsage;
  } catch (const Failure& e) {
    say(e.what());
  } catch (const std::filesystem::filesystem_error& e) {
    say("'" + e.path1().string() + "': " + e.code().message());
  } catch (const std::system_error& e) {
    say(e.code().message());
  } catch (const std::bad_alloc&) {
    say("not enough memory");
  } catch (const hcf::HCFException& e) {
    say(e.what());
  } catch (const std::exception& e) {
    // Another library's text means nothing to the person at the shell; the log keeps it.
    hcf::logLine(prefix + ": " + e.what());
    say("internal error (HCF_LOG=1 shows its details)");
  }
  return kExitFailed;
}

std::vector<std::string> after(const std::vector<std::string>& words, std::size_t skip) {
  if (words.size() <= skip) return {};
  return {words.begin() + static_cast<std::ptrdiff_t>(skip), words.end()};
}

}  // namespace hcf_tool
