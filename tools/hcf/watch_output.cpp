#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>

#include "await_answer.h"
#include "color_options.h"
#include "download_progress.h"
#include "input_files.h"
#include "terminal_text.h"
#include "watch.h"

namespace hcf_tool {

namespace {

using namespace hcf;

std::string fixed(double v, int digits = 4) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%.*f", digits, v);
  return buf;
}

std::string signedFixed(double v) {
  if (std::abs(v) < 0.005) v = 0;  // no "-0.00"
  char buf[48];
  std::snprintf(buf, sizeof buf, "%+.2f", v);
  return buf;
}

const char* methodLabel(HCFDeltaEMethod method) {
  switch (method) {
    case HCFDeltaEMethod::CMC21:
      return "\u0394E CMC(2:1)";
    case HCFDeltaEMethod::CMC11:
      return "\u0394E CMC(1:1)";
    case HCFDeltaEMethod::CIE94GraphicArts:
      return "\u0394E94 (graphic arts)";
    case HCFDeltaEMethod::CIE94Textiles:
      return "\u0394E94 (textiles)";
    case HCFDeltaEMethod::CIEDE2000:
      break;
  }
  return "\u0394E00";
}

int positiveCount(const Args& args, const std::string& name, int fallback) {
  const auto text = args.option(name);
  if (!text) return fallback;
  const double v = parseNumber(*text);
  if (v < 1 || v > 1000 || v != std::floor(v)) {
    throw UsageError(name + " takes a whole number from 1 to 1000, not '" + *text + "'");
  }
  return static_cast<int>(v);
}

}  // namespace

HCFLabColor referenceColour(const std::string& text) {
  const auto fields = splitFields(text);
  if (fields.size() == 3) {
    try {
      return HCFLabColor::labColorWithL(parseNumber(fields[0]), parseNumber(fields[1]),
                                        parseNumber(fields[2]), HCFIlluminant::D50);
    } catch (const UsageError&) {
      // not three numbers: maybe a file name with blanks or commas
    }
  }
  if (const auto rgb = HCFRGBColor::rgbColorWithHex(text)) return rgb->labColor(HCFIlluminant::D50);
  const std::string content = readInput(text);
  if (looksLikeCgats(content)) {
    const auto samples = samplesFrom(readCgats(content));
    if (samples.empty()) throw Failure(inputName(text) + " holds no measurement");
    return samples.front().lab;
  }
  auto scan = HCFTintVaultSerialization::colorScanFromText(content);
  if (!scan) {
    throw UsageError("--reference '" + text +
                     "' is neither L,a,b, a hexadecimal colour, a scan file nor CGATS: " +
                     scan.error().localizedDescription);
  }
  const auto lab = (*scan)->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
  if (!lab) throw Failure(inputName(text) + ": the scan has no colour under D50");
  return *lab;
}

WatchOptions watchOptionsOf(const Args& args) {
  WatchOptions o;
  o.average = positiveCount(args, "--average", 1);
  o.nearest = args.has("--nearest") ? positiveCount(args, "--nearest", 0) : 0;
  if (o.nearest > 50) throw UsageError("--nearest takes at most 50");
  o.method = methodOption(args);
  if (const auto r = args.option("--reference")) o.reference = referenceColour(*r);
  if (const auto t = args.option("--tolerance")) {
    if (!o.reference) throw UsageError("--tolerance needs --reference: the colour to be within");
    o.tolerance = parseNumber(*t);
    if (*o.tolerance < 0) throw UsageError("--tolerance cannot be negative");
  }
  o.log = args.option("--log");
  const auto format = args.option("--log-format");
  if (format && !o.log) throw UsageError("--log-format needs --log FILE");
  std::string name = format.value_or("");
  if (!format && o.log) {
    const auto dot = o.log->rfind('.');
    const std::string ext = dot == std::string::npos ? "" : o.log->substr(dot + 1);
    name = ext == "csv" ? "csv" : (ext == "jsonl" || ext == "ndjson") ? "jsonl" : "cgats";
  }
  if (name == "csv") {
    o.logFormat = WatchOptions::LogFormat::Csv;
  } else if (name == "jsonl" || name == "json") {
    o.logFormat = WatchOptions::LogFormat::JsonLines;
  } else if (name == "cgats" || name.empty()) {
    o.logFormat = WatchOptions::LogFormat::Cgats;
  } else {
    throw UsageError("unknown --log-format '" + name + "' (cgats, csv or jsonl)");
  }
  return o;
}

std::optional<Reading> averageOf(const std::vector<std::shared_ptr<HCFColorScan>>& scans) {
  Reading r;
  double X = 0, Y = 0, Z = 0;
  std::size_t n = 0;
  std::vector<double> curve;
  bool spectral = true;
  for (const auto& scan : scans) {
    const auto lab = scan ? scan->lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50) : std::nullopt;
    if (!lab) continue;
    const auto xyz = lab->XYZColor();
    X += xyz.X;
    Y += xyz.Y;
    Z += xyz.Z;
    ++n;
    r.overRange = r.overRange || scan->overRange;
    const auto* s = dynamic_cast<const HCFSpectralScan*>(scan.get());
    if (!s) {
      spectral = false;
    } else if (curve.empty()) {
      curve = s->curve;
    } else {
      for (std::size_t i = 0; i < curve.size() && i < s->curve.size(); ++i) curve[i] += s->curve[i];
    }
  }
  if (n == 0) return std::nullopt;
  const double k = static_cast<double>(n);
  r.averaged = n;
  r.xyz = HCFXYZColor::XYZColorWithX(X / k, Y / k, Z / k, HCFIlluminant::D50);
  r.lab = r.xyz.toLab();
  if (spectral) {
    for (auto& v : curve) v /= k;
    r.curve = std::move(curve);
  }
  return r;
}

Difference differenceOf(const HCFLabColor& sample, const HCFLabColor& reference,
                        HCFDeltaEMethod method) {
  Difference d;
  d.deltaE = HTColorUtils::deltaEForSample(sample, reference, method);
  d.dL = sample.L - reference.L;
  const double c1 = std::hypot(sample.A, sample.B), c2 = std::hypot(reference.A, reference.B);
  d.dC = c1 - c2;
  const double da = sample.A - reference.A, db = sample.B - reference.B;
  const double dH2 = da * da + db * db - d.dC * d.dC;
  // ΔH* takes the sign of the hue angle's difference (sample minus reference).
  double dh = std::atan2(sample.B, sample.A) - std::atan2(reference.B, reference.A);
  if (dh > std::numbers::pi) dh -= 2 * std::numbers::pi;
  if (dh < -std::numbers::pi) dh += 2 * std::numbers::pi;
  d.dH = std::copysign(std::sqrt(std::max(0.0, dH2)), dh);
  return d;
}

std::optional<double> report(const Reading& r, const WatchOptions& o, SimSession&) {
  std::printf("reading %d%s: L* %s  a* %s  b* %s  (D50, 2\u00b0)  #%s\n", r.number,
              r.averaged > 1 ? (" (average of " + std::to_string(r.averaged) + ")").c_str() : "",
              fixed(r.lab.L, 2).c_str(), fixed(r.lab.A, 2).c_str(), fixed(r.lab.B, 2).c_str(),
              r.xyz.RGBColorInSpace(HCFRGBSpace::sRGB).hex().c_str());
  if (r.overRange) {
    std::fprintf(stderr,
                 "warning: reading %d is over range: a count reached full scale, so its colour "
                 "is not reliable; measure again\n",
                 r.number);
  }
  std::optional<double> difference;
  if (o.reference) {
    const Difference d = differenceOf(r.lab, *o.reference, o.method);
    difference = d.deltaE;
    std::printf("  %s %s to the reference  \u0394L* %s  \u0394C* %s  \u0394H* %s",
                methodLabel(o.method), fixed(d.deltaE, 2).c_str(), signedFixed(d.dL).c_str(),
                signedFixed(d.dC).c_str(), signedFixed(d.dH).c_str());
    if (o.tolerance) {
      std::printf("  %s tolerance %s", d.deltaE <= *o.tolerance ? "within" : "OUTSIDE",
                  formatNumber(*o.tolerance).c_str());
    }
    std::printf("\n");
  }
  if (o.nearest > 0) {
    auto search = HCFProductSearch::productSearch();
    auto term = std::make_shared<HCFGenericColorSearchTerm>();
    term->auxLab = r.lab;
    search.colorTerm = term;
    search.limit = o.nearest;
    const auto found = awaitAnswer<std::vector<HCFProductSearchResult>, std::optional<HCFError>>(
        [&](auto done) { search.execute(done); });
    if (!found || std::get<1>(*found)) {
      std::printf("  nearest products: the search failed%s\n",
                  found && std::get<1>(*found)
                      ? (": " + printable(std::get<1>(*found)->localizedDescription)).c_str()
                      : "");
    } else {
      const auto& results = std::get<0>(*found);
      if (results.empty()) std::printf("  nearest products: none in the catalogue\n");
      for (std::size_t i = 0; i < results.size(); ++i) {
        std::printf("  %zu. %-12s %-30s \u0394E00 %5.2f\n", i + 1,
                    printable(results[i].product.code()).c_str(),
                    printable(results[i].product.name()).c_str(),
                    static_cast<double>(results[i].deltaE.value_or(0)));
      }
    }
  }
  return difference;
}

void prepareCatalog(SimSession& s) {
  auto manager = HCFCentral::productManager();
  const auto required = awaitAnswer<bool, std::optional<HCFError>>(
      [&](auto done) { manager->checkIfProductDownloadRequired(done); });
  if (!required || !std::get<0>(*required)) return;
  auto bar = std::make_shared<ProgressBar>("catalogue");
  manager->downloadProductsWithDelegate(bar);
  s.runUntil([&] { return bar->ended(); }, std::chrono::minutes(5));
  if (const auto failure = bar->failure()) {
    throw Failure("catalogue download: " + failure->localizedDescription);
  }
}

WatchLog::WatchLog(const WatchOptions& options, bool spectral)
    : path_(options.log),
      format_(options.logFormat),
      reference_(options.reference),
      method_(options.method),
      spectral_(spectral),
      table_(measurementTable("hcf spot readings", spectral)) {
  if (!path_ || format_ == WatchOptions::LogFormat::Cgats) {
    if (path_) writeCgatsFile(*path_, table_);  // an empty table: the file is writable
    return;
  }
  out_.open(*path_, std::ios::trunc);
  if (!out_) throw Failure("cannot write '" + *path_ + "': " + std::strerror(errno));
  if (format_ == WatchOptions::LogFormat::Csv) {
    out_ << "SAMPLE_ID,LAB_L,LAB_A,LAB_B,XYZ_X,XYZ_Y,XYZ_Z,AVERAGED,OVER_RANGE";
    if (reference_) out_ << ",DELTA_E,DELTA_L,DELTA_C,DELTA_H";
    if (spectral_) {
      for (unsigned nm = kCgatsSpectralStartNm; nm <= kCgatsSpectralEndNm;
           nm += kCgatsSpectralStepNm) {
        out_ << ",SPECTRAL_NM_" << nm;
      }
    }
    out_ << '\n' << std::flush;
  }
}

void WatchLog::add(const Reading& r) {
  if (!path_) return;
  const std::string id = std::to_string(r.number);
  if (format_ == WatchOptions::LogFormat::Cgats) {
    std::vector<std::string> row;
    for (const auto& field : table_.fields) {
      if (field == "SAMPLE_ID") {
        row.push_back(id);
      } else if (field == "LAB_L") {
        row.push_back(fixed(r.lab.L));
      } else if (field == "LAB_A") {
        row.push_back(fixed(r.lab.A));
      } else if (field == "LAB_B") {
        row.push_back(fixed(r.lab.B));
      } else if (field == "XYZ_X") {
        row.push_back(fixed(r.xyz.X));
      } else if (field == "XYZ_Y") {
        row.push_back(fixed(r.xyz.Y));
      } else if (field == "XYZ_Z") {
        row.push_back(fixed(r.xyz.Z));
      } else if (field.rfind("SPECTRAL_NM_", 0) == 0) {
        const auto nm = static_cast<unsigned>(std::stoul(field.substr(12)));
        const std::size_t i = (nm - kCgatsSpectralStartNm) / kCgatsSpectralStepNm;
        row.push_back(i < r.curve.size() ? fixed(r.curve[i], 5) : "0");
      } else {
        row.push_back("");
      }
    }
    table_.rows.push_back(std::move(row));
    writeCgatsFile(*path_, table_);
    return;
  }
  std::optional<Difference> d;
  if (reference_) d = differenceOf(r.lab, *reference_, method_);
  if (format_ == WatchOptions::LogFormat::Csv) {
    out_ << id << ',' << fixed(r.lab.L) << ',' << fixed(r.lab.A) << ',' << fixed(r.lab.B) << ','
         << fixed(r.xyz.X) << ',' << fixed(r.xyz.Y) << ',' << fixed(r.xyz.Z) << ',' << r.averaged
         << ',' << (r.overRange ? 1 : 0);
    if (d) {
      out_ << ',' << fixed(d->deltaE) << ',' << fixed(d->dL) << ',' << fixed(d->dC) << ','
           << fixed(d->dH);
    }
    // The header's bands, 400 to 700 nm; a curve may reach further.
    const std::size_t bands =
        (kCgatsSpectralEndNm - kCgatsSpectralStartNm) / kCgatsSpectralStepNm + 1;
    if (spectral_) {
      for (std::size_t i = 0; i < bands; ++i) {
        out_ << ',' << (i < r.curve.size() ? fixed(r.curve[i], 5) : std::string());
      }
    }
  } else {
    JsonValue line = {{"sample", r.number},
                      {"lab", {{"L", r.lab.L}, {"a", r.lab.A}, {"b", r.lab.B}}},
                      {"xyz", {{"X", r.xyz.X}, {"Y", r.xyz.Y}, {"Z", r.xyz.Z}}},
                      {"illuminant", "D50"},
                      {"observer", "2"},
                      {"averaged", r.averaged},
                      {"overRange", r.overRange}};
    if (d) {
      line["deltaE"] = d->deltaE;
      line["method"] = HTColorUtils::toDeltaEStr(method_);
      line["dL"] = d->dL;
      line["dC"] = d->dC;
      line["dH"] = d->dH;
    }
    if (!r.curve.empty()) {
      line["reflectance"] = {{"startNm", kCgatsSpectralStartNm},
                             {"stepNm", kCgatsSpectralStepNm},
                             {"values", r.curve}};
    }
    out_ << line.dump();
  }
  out_ << '\n' << std::flush;
  if (!out_) throw Failure("cannot write '" + *path_ + "': " + std::strerror(errno));
}

}  // namespace hcf_tool
