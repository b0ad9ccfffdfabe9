#include "cli.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>

#include "terminal_text.h"

namespace hcf_tool {

namespace {

bool looksLikeNumber(std::string_view word) {
  return word.size() >= 2 && word[0] == '-' &&
         (std::isdigit(static_cast<unsigned char>(word[1])) || word[1] == '.');
}

}  // namespace

Args Args::parse(const std::vector<std::string>& words, const std::vector<std::string>& known,
                 const std::vector<std::string>& flags) {
  Args args;
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    if (w == "--help" || w == "-h") {
      args.help = true;
      continue;
    }
    if (w.size() > 1 && w[0] == '-' && !looksLikeNumber(w)) {
      std::string name = w;
      std::optional<std::string> value;
      if (const auto eq = w.find('='); eq != std::string::npos) {
        name = w.substr(0, eq);
        value = w.substr(eq + 1);
      }
      bool isFlag = false;
      for (const auto& f : flags) isFlag = isFlag || f == name;
      if (isFlag) {
        if (value) throw UsageError("option " + name + " takes no value");
        args.options[name] = "";
        continue;
      }
      bool isKnown = false;
      for (const auto& k : known) isKnown = isKnown || k == name;
      if (!isKnown) throw UsageError("unknown option " + name);
      if (!value) {
        if (i + 1 >= words.size()) throw UsageError("option " + name + " needs a value");
        value = words[++i];
      }
      args.options[name] = *value;
      continue;
    }
    args.positional.push_back(w);
  }
  return args;
}

std::optional<std::string> Args::option(const std::string& name) const {
  const auto it = options.find(name);
  if (it == options.end()) return std::nullopt;
  return it->second;
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
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() &&
           (line[i] == ' ' || line[i] == '\t' || line[i] == ',' || line[i] == '\r')) {
      ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != ',' &&
           line[i] != '\r') {
      ++i;
    }
    if (i > start) fields.emplace_back(line.substr(start, i - start));
  }
  return fields;
}

std::string formatNumber(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", value);
  return buf;
}

int runBatchLines(const std::function<std::string(std::string_view)>& convertLine) {
  std::ios::sync_with_stdio(false);
  std::string line;
  std::string out;
  long lineNumber = 0;
  int status = kExitOk;
  while (std::getline(std::cin, line)) {
    ++lineNumber;
    try {
      out += convertLine(line);
    } catch (const UsageError& e) {
      std::cerr << "line " << lineNumber << ": " << printable(e.what()) << '\n';
      out += "error";
      status = kExitBadLines;
    }
    out += '\n';
    if (out.size() > (1 << 16)) {
      std::cout << out;
      out.clear();
    }
  }
  std::cout << out << std::flush;
  return status;
}

}  // namespace hcf_tool
