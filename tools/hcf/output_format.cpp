#include "output_format.h"

#include <hcf/core/json.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include "terminal_text.h"

namespace hcf_tool {

namespace {

// The place of the first number of `value` that is not finite ("[2].delta_e"), or nothing.
std::optional<std::string> nonFinitePlace(const hcf::JsonValue& value, const std::string& here) {
  if (value.is_number_float()) {
    if (!std::isfinite(value.get<double>())) return here.empty() ? "the value" : here;
    return std::nullopt;
  }
  if (value.is_array()) {
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (auto place = nonFinitePlace(value[i], here + "[" + std::to_string(i) + "]")) return place;
    }
  } else if (value.is_object()) {
    for (const auto& [key, item] : value.items()) {
      if (auto place = nonFinitePlace(item, here.empty() ? key : here + "." + key)) return place;
    }
  }
  return std::nullopt;
}

void shortenFloats(hcf::JsonValue& value) {
  if (value.is_number_float()) {
    const double d = value.get<double>();
    const auto f = static_cast<float>(d);
    if (std::isfinite(d) && static_cast<double>(f) == d) value = floatDigits(f);
    return;
  }
  if (value.is_structured()) {
    for (auto& item : value) shortenFloats(item);
  }
}

}  // namespace

Format formatOf(const Args& args, bool cgats) {
  const auto name = args.option("--format");
  if (args.has(kJsonFlag)) {
    if (name && *name != "json") throw UsageError("--json and --format " + *name + " disagree");
    return Format::Json;
  }
  if (!name || *name == "text") return Format::Text;
  if (*name == "json") return Format::Json;
  if (*name == "csv") return Format::Csv;
  if (cgats && *name == "cgats") return Format::Cgats;
  throw UsageError("unknown format '" + *name + "' (text, json, csv" + (cgats ? ", cgats)" : ")"));
}

bool colourOutput() {
  const char* noColor = std::getenv("NO_COLOR");
  const char* term = std::getenv("TERM");
  return isatty(STDOUT_FILENO) == 1 && !(noColor && *noColor) &&
         !(term && std::string_view(term) == "dumb");
}

std::string csvField(std::string_view text) {
  const std::string safe = printable(text);
  if (safe.find_first_of(",\"") == std::string::npos) return safe;
  std::string out = "\"";
  for (const char c : safe) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + '"';
}

std::string csvRow(const std::vector<std::string>& fields) {
  std::string out;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    out += csvField(fields[i]);
  }
  return out;
}

std::string renderFields(const Fields& fields, Format format) {
  if (format == Format::Json) {
    hcf::JsonValue object = hcf::JsonValue::object();
    for (const auto& f : fields) {
      if (const auto* number = std::get_if<double>(&f.value)) {
        formatNumber(*number);  // refuses a value that is not finite
        object[f.name] = *number;
      } else {
        object[f.name] = std::get<std::string>(f.value);
      }
    }
    return printableJson(object, -1);
  }
  std::string out;
  for (const auto& f : fields) {
    if (!out.empty()) out += format == Format::Csv ? ',' : ' ';
    const auto* number = std::get_if<double>(&f.value);
    const std::string text = number ? formatNumber(*number) : std::get<std::string>(f.value);
    out += format == Format::Csv ? csvField(text) : printable(text);
  }
  return out;
}

std::string errorLine(const std::string& reason, Format format) {
  return format == Format::Json ? printableJson(hcf::JsonValue{{"error", reason}}, -1)
                                : std::string("error");
}

double floatDigits(float value) {
  char buf[32];
  const auto res = std::to_chars(buf, buf + sizeof buf, value);
  double out = 0;
  std::from_chars(buf, res.ptr, out);
  return out;
}

hcf::JsonValue withFloatDigits(hcf::JsonValue value) {
  shortenFloats(value);
  return value;
}

std::string jsonText(const hcf::JsonValue& value) {
  if (const auto place = nonFinitePlace(value, "")) {
    throw Failure(*place + " is not a finite number; it is not printed");
  }
  return printableJson(value);
}

int finishOutput(int status) {
  errno = 0;
  std::cout.flush();  // through standard output's buffer, which the next line writes out
  const bool flushed = std::fflush(stdout) == 0;
  const int reason = errno;
  if (flushed && std::ferror(stdout) == 0 && std::cout.good()) {
    std::fflush(stderr);
    return status;
  }
  std::fprintf(stderr, "hcf: the output could not be written%s%s\n", reason ? ": " : "",
               reason ? std::strerror(reason) : "");
  std::fflush(stderr);
  return kExitFailed;
}

}  // namespace hcf_tool
