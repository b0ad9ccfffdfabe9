// hcf color delta-e | convert | adapt
#include <hcf/hcf.h>
#include <unistd.h>

#include <functional>
#include <iostream>
#include <span>

#include "cgats.h"
#include "cli.h"
#include "color_options.h"
#include "commands.h"
#include "input_files.h"
#include "output_format.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kColorUsage =
    "usage: hcf color <command> [options] [values]\n"
    "\n"
    "commands:\n"
    "  delta-e [--method NAME] [--reference sample|standard] [--components] L1 a1 b1 L2 a2 b2\n"
    "  delta-e [options] --standard FILE < SAMPLES\n"
    "      The colour difference of colour 1, the sample, from colour 2, the standard.\n"
    "      With --standard, standard input is a CGATS file of samples and FILE a CGATS file\n"
    "      of their standards, row by row (their SAMPLE_IDs, when both have them, must agree).\n"
    "      NAME: de_2000 (default; also ciede2000, 2000, de00), de_cmc_21 (cmc, cmc:2:1),\n"
    "      de_cmc_11 (cmc11, cmc:1:1), de_94_gfx (cie94), de_94_textiles (cie94-textiles),\n"
    "      de_76 (cie76, deltaeab: CIE 1976).\n"
    "      --reference names the colour whose L*, C* and hue set the weights of CMC and CIE94:\n"
    "      sample (colour 1, the default and the kit's own orientation) or standard (colour 2,\n"
    "      as ISO 105-J03 and CIE 116 define them). CIEDE2000 and CIE 1976 are symmetric.\n"
    "      --components adds dL dC dH: CIELAB's differences of colour 1 from colour 2, dH\n"
    "      signed by the hue angle.\n"
    "  convert --from SPACE --to SPACE [--illuminant NAME] [--observer NAME] VALUES\n"
    "      SPACE: xyz (white Y = 100), lab, lch, luv, rgb (sRGB, each 0 to 1), rgb255\n"
    "      (sRGB, each 0 to 255), hex.\n"
    "      Illuminant D50 (default), D65, A, B, C, F2, F7, F11; observer 2 (default) or 10.\n"
    "  adapt --from-illuminant NAME --to-illuminant NAME [--observer NAME] X Y Z\n"
    "      Bradford chromatic adaptation of XYZ.\n"
    "\n"
    "Every command takes --format text|json|csv (--json is --format json): text prints the\n"
    "values separated by blanks, csv a header line and comma-separated values, json one object\n"
    "per line. Numbers have the digits that read back as the same value. convert (to xyz, lab\n"
    "or lch) and adapt also take --format cgats: one CGATS.17 table of the results, with a\n"
    "SAMPLE_ID for each (the input's, else its line number), leaving out inputs that failed.\n"
    "With no values on the command line, each line of standard input is one input and each\n"
    "output line its result; blank lines and lines starting with '#' are skipped. A bad line\n"
    "prints 'error' ({\"error\": ...} in json) and the run goes on (exit status 1).\n"
    "Standard input may instead be a CGATS file (as ArgyllCMS and Little CMS write them,\n"
    "known by its first line, a file type such as CGATS.17 or CTI3): each row's colour, from\n"
    "LAB_L/A/B, XYZ_X/Y/Z or spectral columns, is one input, a D50 2° colour. convert needs no\n"
    "--from for it (lab if given) and adapts it to --illuminant and --observer; adapt takes it\n"
    "from D50.\n"
    "Put '--' before values that start with '-' and could be taken for options.\n";

// A computation of one result from its input words or a colour of a CGATS input, and the
// names of its fields.
struct Computation {
  std::vector<std::string> columns;
  std::function<Fields(std::span<const std::string>)> compute;
  /// The result for the colour of one CGATS row (D50, 2°) and its place among the rows.
  std::function<Fields(const CgatsSample&, std::size_t)> computeSample = nullptr;
  /// Why words (on the command line or lines of standard input) are not taken, if they are not.
  std::optional<std::string> wordsRefused = std::nullopt;
  /// Why a CGATS input is not taken, if it is not.
  std::optional<std::string> samplesRefused = std::nullopt;
  /// Checks the rows of a CGATS input before any is computed.
  std::function<void(const CgatsTable&, const std::vector<CgatsSample>&)> checkSamples = nullptr;
  /// The CGATS names of `columns` for --format cgats, and the keywords of the table: none where
  /// the results are no colours (no keywords: the command takes no --format cgats).
  std::vector<std::string> cgatsFields = {};
  std::vector<std::pair<std::string, std::string>> cgatsKeywords = {};
};

// One input: its place for messages ("line 3", "sample A1"), its SAMPLE_ID for CGATS output,
// and its result.
struct Input {
  std::string where;
  std::string id;
  std::function<Fields()> compute;
};

// An input for each line of `text` that runBatchLines would take: not blank, no '#' comment.
std::vector<Input> lineInputs(const std::string& text, const Computation& computation) {
  std::vector<Input> inputs;
  std::size_t number = 0;
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    ++number;
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos || line[first] == '#') continue;
    inputs.push_back({"line " + std::to_string(number), std::to_string(number),
                      [&computation, line] { return computation.compute(splitFields(line)); }});
  }
  return inputs;
}

// An input for each row of the CGATS `text`.
std::vector<Input> sampleInputs(const std::string& text, const Computation& computation) {
  if (computation.samplesRefused) throw UsageError(*computation.samplesRefused);
  CgatsTable table;
  std::vector<CgatsSample> samples;
  try {
    table = readCgats(text);
    samples = samplesFrom(table);
  } catch (const CgatsError& e) {
    throw Failure(inputName("-") + ", " + e.what());
  }
  if (computation.checkSamples) computation.checkSamples(table, samples);
  std::vector<Input> inputs;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    inputs.push_back(
        {"sample " + samples[i].id, samples[i].id,
         [&computation, sample = samples[i], i] { return computation.computeSample(sample, i); }});
  }
  return inputs;
}

std::string cgatsValue(const Field& field) {
  const auto* number = std::get_if<double>(&field.value);
  return number ? formatNumber(*number) : std::get<std::string>(field.value);
}

// Prints the result of each input in `format`. A failed input is said on standard error and
// stands as an error line (left out of a CGATS table); with `alone`, its error ends the run.
int printResults(const std::vector<Input>& inputs, Format format, const Computation& computation,
                 const std::string& command, bool alone) {
  CgatsTable table;
  table.keywords = {{"DESCRIPTOR", "hcf color " + command}};
  table.keywords.insert(table.keywords.end(), computation.cgatsKeywords.begin(),
                        computation.cgatsKeywords.end());
  table.fields = {"SAMPLE_ID"};
  table.fields.insert(table.fields.end(), computation.cgatsFields.begin(),
                      computation.cgatsFields.end());
  // A lone input's header comes with its result, so that a failure prints nothing.
  if (format == Format::Csv && !alone) std::cout << csvRow(computation.columns) << '\n';
  int status = kExitOk;
  for (const auto& input : inputs) {
    std::optional<std::string> reason;
    try {
      const Fields fields = input.compute();
      if (format == Format::Csv && alone) std::cout << csvRow(computation.columns) << '\n';
      if (format != Format::Cgats) {
        std::cout << renderFields(fields, format) << '\n';
        continue;
      }
      std::vector<std::string> row = {input.id};
      for (const auto& field : fields) row.push_back(cgatsValue(field));
      table.rows.push_back(std::move(row));
      continue;
    } catch (const UsageError& e) {
      if (alone) throw;
      reason = e.what();
    } catch (const Failure& e) {
      if (alone) throw;
      reason = e.what();
    } catch (const HCFException& e) {
      if (alone) throw;
      reason = e.what();
    }
    std::cerr << input.where << ": " << printable(*reason) << '\n';
    if (format != Format::Cgats) std::cout << errorLine(*reason, format) << '\n';
    status = kExitFailed;
  }
  if (format == Format::Cgats) std::cout << cgatsText(table);
  return status;
}

// Runs `computation` on the values of the command line, or on standard input when the command
// line has none: each of its lines, or each row of a CGATS file.
int runOnValues(const Args& args, const Computation& computation, const std::string& command) {
  const Format format = formatOf(args, !computation.cgatsKeywords.empty());
  if (format == Format::Cgats && computation.cgatsFields.empty()) {
    throw UsageError("--format cgats prints colours in xyz, lab or lch");
  }
  const auto checkWords = [&] {
    if (computation.wordsRefused) throw UsageError(*computation.wordsRefused);
  };
  if (!args.positional.empty()) {
    checkWords();
    const Input input{"", "1", [&] { return computation.compute(args.positional); }};
    return printResults({input}, format, computation, command, true);
  }
  // A person typing at a terminal gets each result as the line is entered.
  if (format != Format::Cgats && isatty(STDIN_FILENO) == 1) {
    checkWords();
    const auto line = [&](std::string_view text) {
      return renderFields(computation.compute(splitFields(text)), format);
    };
    return runBatchLines(
        line, [format](const std::string& reason) { return errorLine(reason, format); },
        format == Format::Csv ? csvRow(computation.columns) : "");
  }
  const std::string text = readInput("-");
  if (looksLikeCgats(text)) {
    return printResults(sampleInputs(text, computation), format, computation, command, false);
  }
  checkWords();
  return printResults(lineInputs(text, computation), format, computation, command, false);
}

std::vector<double> numbers(std::span<const std::string> words, std::size_t count,
                            const char* what) {
  if (words.size() != count) {
    throw UsageError(std::string(what) + " takes " + std::to_string(count) + " numbers, got " +
                     std::to_string(words.size()));
  }
  std::vector<double> out;
  for (const auto& w : words) out.push_back(parseNumber(w));
  return out;
}

Fields triple(const char* n1, double v1, const char* n2, double v2, const char* n3, double v3) {
  return {{n1, v1}, {n2, v2}, {n3, v3}};
}

// ---- delta-e ------------------------------------------------------------------------------

HCFDeltaEReference referenceOf(const Args& args) {
  const std::string name = args.option("--reference").value_or("sample");
  if (name == "sample" || name == "first") return HCFDeltaEReference::Sample;
  if (name == "standard" || name == "second") return HCFDeltaEReference::Standard;
  throw UsageError("unknown reference '" + name +
                   "' (sample or first: colour 1; standard or second: colour 2)");
}

bool hasSampleIds(const CgatsTable& table) {
  return table.fieldIndex("SAMPLE_ID") || table.fieldIndex("SAMPLE_NAME");
}

// The standards of --standard FILE, and whether their rows are named.
struct Standards {
  std::vector<CgatsSample> samples;
  bool named = false;
};

Standards readStandards(const std::string& file) {
  const std::string text = readInput(file);
  if (!looksLikeCgats(text)) {
    throw Failure(inputName(file) +
                  " is no CGATS file (its first line is no file type such as "
                  "CGATS.17, or it has no BEGIN_DATA_FORMAT)");
  }
  try {
    const CgatsTable table = readCgats(text);
    return {samplesFrom(table), hasSampleIds(table)};
  } catch (const CgatsError& e) {
    throw Failure(inputName(file) + ", " + e.what());
  }
}

// Samples and standards go row by row: as many of each, and the same ids where both name them.
void checkPairs(const Standards& standards, const CgatsTable& table,
                const std::vector<CgatsSample>& samples) {
  if (samples.size() != standards.samples.size()) {
    throw Failure("standard input has " + std::to_string(samples.size()) + " samples, --standard " +
                  std::to_string(standards.samples.size()) + " standards");
  }
  if (!standards.named || !hasSampleIds(table)) return;
  for (std::size_t i = 0; i < samples.size(); ++i) {
    if (samples[i].id != standards.samples[i].id) {
      throw Failure("row " + std::to_string(i + 1) + " pairs sample " + samples[i].id +
                    " with standard " + standards.samples[i].id +
                    ": the files list different samples or another order");
    }
  }
}

int deltaE(const Args& args) {
  const HCFDeltaEFormula formula =
      named(deltaEFormulaNamed(args.option("--method").value_or("de_2000")));
  const HCFDeltaEReference reference = referenceOf(args);
  const bool components = args.has("--components");
  std::vector<std::string> columns = {"delta_e"};
  if (components) columns.insert(columns.end(), {"dL", "dC", "dH"});
  const auto difference = [=](const HCFLabColor& sample, const HCFLabColor& standard) {
    Fields out = {{"delta_e", formula.method ? HTColorUtils::deltaEForSample(
                                                   sample, standard, *formula.method, reference)
                                             : sample.deltaE76(standard)}};
    if (components) {
      const LabDifference d = sample.labDifference(standard);
      out.insert(out.end(), {{"dL", d.dL}, {"dC", d.dC}, {"dH", d.dH}});
    }
    return out;
  };
  Computation computation{columns, [=](std::span<const std::string> words) {
                            const auto v = numbers(words, 6, "delta-e");
                            return difference(
                                HCFLabColor::labColorWithL(v[0], v[1], v[2], HCFIlluminant::D50),
                                HCFLabColor::labColorWithL(v[3], v[4], v[5], HCFIlluminant::D50));
                          }};
  const auto file = args.option("--standard");
  if (!file) {
    computation.samplesRefused =
        "delta-e compares a CGATS input with the standards of --standard FILE (a CGATS file)";
    return runOnValues(args, computation, "delta-e");
  }
  const auto standards = std::make_shared<const Standards>(readStandards(*file));
  computation.wordsRefused =
      "--standard FILE takes the samples from a CGATS file on standard input, not as values";
  computation.checkSamples = [standards](const CgatsTable& table,
                                         const std::vector<CgatsSample>& samples) {
    checkPairs(*standards, table, samples);
  };
  computation.computeSample = [standards, difference](const CgatsSample& sample, std::size_t i) {
    return difference(sample.lab, standards->samples[i].lab);
  };
  return runOnValues(args, computation, "delta-e");
}

// ---- convert ------------------------------------------------------------------------------

enum class Space { XYZ, Lab, LCh, Luv, RGB, RGB255, Hex };

struct SpaceName {
  const char* name;
  Space space;
  std::vector<std::string> columns;
  std::vector<std::string> cgatsFields;  // CGATS.17's names of the columns, where it has them
};

const std::vector<std::string> kXyzColumns = {"XYZ_X", "XYZ_Y", "XYZ_Z"};

const std::vector<SpaceName>& spaces() {
  static const std::vector<SpaceName> kSpaces = {
      {"xyz", Space::XYZ, {"X", "Y", "Z"}, kXyzColumns},
      {"lab", Space::Lab, {"L", "a", "b"}, {"LAB_L", "LAB_A", "LAB_B"}},
      {"lch", Space::LCh, {"L", "C", "h"}, {"LAB_L", "LAB_C", "LAB_H"}},
      {"luv", Space::Luv, {"L", "u", "v"}, {}},
      {"rgb", Space::RGB, {"r", "g", "b"}, {}},
      {"rgb255", Space::RGB255, {"r", "g", "b"}, {}},
      {"hex", Space::Hex, {"hex"}, {}},
  };
  return kSpaces;
}

// The keywords that say what a CGATS table of colours is relative to.
std::vector<std::pair<std::string, std::string>> viewingKeywords(HCFIlluminant illuminant,
                                                                 HCFStdObserver observer) {
  return {{"ILLUMINANT", HTColorUtils::toIlluminantStr(illuminant).value_or("")},
          {"OBSERVER", observer == HCFStdObserver::TenDegree ? "10" : "2"}};
}

const SpaceName& spaceNamed(const std::string& name) {
  for (const auto& s : spaces()) {
    if (name == s.name) return s;
  }
  throw UsageError("unknown colour space '" + name + "' (xyz, lab, lch, luv, rgb, rgb255, hex)");
}

HCFRGBColor parseHex(const std::string& text) {
  const auto rgb = HCFRGBColor::rgbColorWithHex(text);
  if (!rgb) {
    throw UsageError("not a hex colour: '" + text + "' (six hexadecimal digits, '#' optional)");
  }
  return *rgb;
}

// sRGB components on the scale `top` (1 or 255), each refused outside 0 to `top`.
HCFRGBColor rgbOf(const std::vector<double>& v, double top) {
  for (const double c : v) {
    if (c < 0 || c > top) {
      throw UsageError(top == 1.0 ? "RGB components are 0 to 1, not " + formatNumber(c) +
                                        " (for 0 to 255 use --from rgb255)"
                                  : "rgb255 components are 0 to 255, not " + formatNumber(c));
    }
  }
  return HCFRGBColor::rgbColorWithR(v[0] / top, v[1] / top, v[2] / top, HCFRGBSpace::sRGB);
}

struct Conversion {
  Space from;
  Space to;
  HCFIlluminant illuminant;
  HCFStdObserver observer;

  Fields run(std::span<const std::string> words) const;
  /// The result for a colour under D50 for the 2° observer, adapted to `illuminant` and
  /// `observer` first.
  Fields runD50(const HCFLabColor& lab) const;

 private:
  Fields fromXYZ(const HCFXYZColor& xyz) const;
  Fields fromLab(const HCFLabColor& lab) const;
  Fields fromRGB(const HCFRGBColor& rgb) const;
};

Fields rgbFields(const HCFRGBColor& rgb, Space space) {
  const double k = space == Space::RGB255 ? 255.0 : 1.0;
  return triple("r", rgb.r * k, "g", rgb.g * k, "b", rgb.b * k);
}

Fields Conversion::fromXYZ(const HCFXYZColor& xyz) const {
  switch (to) {
    case Space::XYZ:
      return triple("X", xyz.X, "Y", xyz.Y, "Z", xyz.Z);
    case Space::Lab:
    case Space::LCh:
      return fromLab(xyz.toLab());
    case Space::Luv: {
      const auto luv = xyz.toLUV();
      return triple("L", luv.L, "u", luv.u, "v", luv.v);
    }
    case Space::RGB:
    case Space::RGB255:
    case Space::Hex:
      return fromRGB(xyz.RGBColorInSpace(HCFRGBSpace::sRGB));
  }
  return {};
}

Fields Conversion::fromLab(const HCFLabColor& lab) const {
  switch (to) {
    case Space::Lab:
      return triple("L", lab.L, "a", lab.A, "b", lab.B);
    case Space::LCh: {
      const auto lch = lab.lchColor();
      return triple("L", lch.L, "C", lch.c, "h", lch.h);
    }
    case Space::RGB:
    case Space::RGB255:
      return rgbFields(lab.rgbColor(), to);
    case Space::Hex:
      return {{"hex", lab.hex()}};
    case Space::XYZ:
    case Space::Luv:
      return fromXYZ(lab.XYZColor());
  }
  return {};
}

Fields Conversion::fromRGB(const HCFRGBColor& rgb) const {
  if (to == Space::RGB || to == Space::RGB255) return rgbFields(rgb, to);
  if (to == Space::Hex) return {{"hex", rgb.hex()}};
  // sRGB's Lab is defined for the 2° observer; the 10° observer's colour is that XYZ adapted
  // from the 2° to the 10° white of the illuminant (the inverse of what the way back does).
  const HCFLabColor lab = rgb.labColor(illuminant);
  if (observer != HCFStdObserver::TenDegree) return fromLab(lab);
  const HCFXYZColor two = lab.XYZColor();
  const XYZTriple ten =
      CieStdMath::adapt(two.X, two.Y, two.Z, illuminant, HCFStdObserver::TwoDegree, illuminant,
                        HCFStdObserver::TenDegree);
  return fromXYZ(HCFXYZColor::XYZColorWithX(ten.X, ten.Y, ten.Z, illuminant, observer));
}

Fields Conversion::run(std::span<const std::string> words) const {
  if (from == Space::Hex) {
    if (words.size() != 1) {
      throw UsageError("hex input takes one colour, got " + std::to_string(words.size()) +
                       " values");
    }
    return fromRGB(parseHex(words[0]));
  }
  const auto v = numbers(words, 3, "convert");
  switch (from) {
    case Space::XYZ:
      return fromXYZ(HCFXYZColor::XYZColorWithX(v[0], v[1], v[2], illuminant, observer));
    case Space::Lab:
      return fromLab(HCFLabColor::labColorWithL(v[0], v[1], v[2], illuminant, observer));
    case Space::LCh:
      return fromLab(HCFLchColor::LchColorWithL(v[0], v[1], v[2], illuminant, observer).toLAB());
    case Space::Luv:
      return fromXYZ(HCFLuvColor::luvColorWithL(v[0], v[1], v[2], illuminant, observer).toXYZ());
    case Space::RGB:
      return fromRGB(rgbOf(v, 1.0));
    case Space::RGB255:
      return fromRGB(rgbOf(v, 255.0));
    case Space::Hex:
      break;
  }
  return {};
}

Fields Conversion::runD50(const HCFLabColor& lab) const {
  if (illuminant == HCFIlluminant::D50 && observer == HCFStdObserver::TwoDegree) {
    return fromLab(lab);
  }
  const HCFXYZColor d50 = lab.XYZColor();
  const XYZTriple xyz = CieStdMath::adapt(d50.X, d50.Y, d50.Z, HCFIlluminant::D50,
                                          HCFStdObserver::TwoDegree, illuminant, observer);
  return fromXYZ(HCFXYZColor::XYZColorWithX(xyz.X, xyz.Y, xyz.Z, illuminant, observer));
}

int convert(const Args& args) {
  const auto from = args.option("--from");
  const auto to = args.option("--to");
  if (!to) throw UsageError("convert needs --from SPACE and --to SPACE");
  const SpaceName& target = spaceNamed(*to);
  const Conversion conversion{from ? spaceNamed(*from).space : Space::Lab, target.space,
                              illuminantOption(args, "--illuminant"), observerOption(args)};
  Computation computation{target.columns, [conversion](std::span<const std::string> words) {
                            return conversion.run(words);
                          }};
  computation.computeSample = [conversion](const CgatsSample& sample, std::size_t) {
    return conversion.runD50(sample.lab);
  };
  if (!from) computation.wordsRefused = "convert needs --from SPACE and --to SPACE";
  if (conversion.from != Space::Lab) {
    computation.samplesRefused = "a CGATS input gives Lab: leave out --from (or give --from lab)";
  }
  computation.cgatsFields = target.cgatsFields;
  computation.cgatsKeywords = viewingKeywords(conversion.illuminant, conversion.observer);
  return runOnValues(args, computation, "convert");
}

// ---- adapt --------------------------------------------------------------------------------

int adapt(const Args& args) {
  constexpr const char* kNeeds = "adapt needs --from-illuminant NAME and --to-illuminant NAME";
  if (!args.option("--to-illuminant")) throw UsageError(kNeeds);
  const HCFIlluminant src = illuminantOption(args, "--from-illuminant");
  const HCFIlluminant dst = illuminantOption(args, "--to-illuminant");
  const HCFStdObserver obs = observerOption(args);
  const auto xyzFields = [](const HCFXYZColor& xyz) {
    return triple("X", xyz.X, "Y", xyz.Y, "Z", xyz.Z);
  };
  Computation computation{
      {"X", "Y", "Z"}, [=](std::span<const std::string> words) {
        const auto v = numbers(words, 3, "adapt");
        return xyzFields(
            HCFXYZColor::XYZColorWithX(v[0], v[1], v[2], src, obs).toXYZWithIlluminant(dst));
      }};
  computation.computeSample = [=](const CgatsSample& sample, std::size_t) {
    return xyzFields(sample.lab.XYZColor().toXYZWithIlluminant(dst));
  };
  if (!args.option("--from-illuminant")) computation.wordsRefused = kNeeds;
  if (src != HCFIlluminant::D50 || obs != HCFStdObserver::TwoDegree) {
    computation.samplesRefused =
        "a CGATS input is under D50 for the 2° observer: give no other --from-illuminant or "
        "--observer";
  }
  computation.cgatsFields = kXyzColumns;
  computation.cgatsKeywords = viewingKeywords(dst, obs);
  return runOnValues(args, computation, "adapt");
}

struct Verb {
  const char* name;
  std::vector<std::string> options;
  int (*run)(const Args&);
  std::vector<std::string> flags;
};

}  // namespace

int colorCommand(const std::vector<std::string>& words) {
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    (words.empty() ? std::cerr : std::cout) << kColorUsage;
    return words.empty() ? kExitUsage : kExitOk;
  }
  static const Verb kVerbs[] = {
      {"delta-e", {"--method", "--reference", "--standard", "--format"}, deltaE, {"--components"}},
      {"convert", {"--from", "--to", "--illuminant", "--observer", "--format"}, convert, {}},
      {"adapt", {"--from-illuminant", "--to-illuminant", "--observer", "--format"}, adapt, {}},
  };
  for (const auto& verb : kVerbs) {
    if (words[0] != verb.name) continue;
    return reported(std::string("hcf color ") + verb.name, [&] {
      std::vector<std::string> flags = verb.flags;
      flags.push_back(kJsonFlag);
      const Args args = Args::parse(after(words), verb.options, flags);
      if (args.help) return std::cout << kColorUsage, kExitOk;
      return verb.run(args);
    });
  }
  throw UsageError("unknown command '" + words[0] + "' (delta-e, convert, adapt)");
}

}  // namespace hcf_tool
