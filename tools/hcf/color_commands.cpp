// hcf color delta-e | convert | adapt
#include <hcf/hcf.h>

#include <functional>
#include <iostream>
#include <span>

#include "cli.h"
#include "color_options.h"
#include "commands.h"
#include "output_format.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kColorUsage =
    "usage: hcf color <command> [options] [values]\n"
    "\n"
    "commands:\n"
    "  delta-e [--method NAME] [--reference sample|standard] [--components] L1 a1 b1 L2 a2 b2\n"
    "      The colour difference of colour 1, the sample, from colour 2, the standard.\n"
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
    "per line. Numbers have the digits that read back as the same value.\n"
    "With no values on the command line, each line of standard input is one input and each\n"
    "output line its result; blank lines and lines starting with '#' are skipped. A bad line\n"
    "prints 'error' ({\"error\": ...} in json) and the run goes on (exit status 1).\n"
    "Put '--' before values that start with '-' and could be taken for options.\n";

// A computation of one result from its input words, and the names of its fields.
struct Computation {
  std::vector<std::string> columns;
  std::function<Fields(std::span<const std::string>)> compute;
};

// Runs `computation` on the values of the command line, or on each line of standard input
// when the command line has none.
int runOnValues(const Args& args, const Computation& computation) {
  const Format format = formatOf(args);
  std::string header;
  if (format == Format::Csv) header = csvRow(computation.columns);
  const auto line = [&](std::span<const std::string> words) {
    return renderFields(computation.compute(words), format);
  };
  if (args.positional.empty()) {
    return runBatchLines([&](std::string_view text) { return line(splitFields(text)); },
                         [format](const std::string& reason) { return errorLine(reason, format); },
                         header);
  }
  const std::string result = line(args.positional);
  if (!header.empty()) std::cout << header << '\n';
  std::cout << result << '\n';
  return kExitOk;
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

int deltaE(const Args& args) {
  const HCFDeltaEFormula formula =
      named(deltaEFormulaNamed(args.option("--method").value_or("de_2000")));
  const HCFDeltaEReference reference = referenceOf(args);
  const bool components = args.has("--components");
  std::vector<std::string> columns = {"delta_e"};
  if (components) columns.insert(columns.end(), {"dL", "dC", "dH"});
  return runOnValues(
      args, {columns, [=](std::span<const std::string> words) {
               const auto v = numbers(words, 6, "delta-e");
               const auto sample = HCFLabColor::labColorWithL(v[0], v[1], v[2], HCFIlluminant::D50);
               const auto standard =
                   HCFLabColor::labColorWithL(v[3], v[4], v[5], HCFIlluminant::D50);
               Fields out = {{"delta_e", formula.method
                                             ? HTColorUtils::deltaEForSample(
                                                   sample, standard, *formula.method, reference)
                                             : sample.deltaE76(standard)}};
               if (components) {
                 const LabDifference d = sample.labDifference(standard);
                 out.insert(out.end(), {{"dL", d.dL}, {"dC", d.dC}, {"dH", d.dH}});
               }
               return out;
             }});
}

// ---- convert ------------------------------------------------------------------------------

enum class Space { XYZ, Lab, LCh, Luv, RGB, RGB255, Hex };

struct SpaceName {
  const char* name;
  Space space;
  std::vector<std::string> columns;
};

const std::vector<SpaceName>& spaces() {
  static const std::vector<SpaceName> kSpaces = {
      {"xyz", Space::XYZ, {"X", "Y", "Z"}}, {"lab", Space::Lab, {"L", "a", "b"}},
      {"lch", Space::LCh, {"L", "C", "h"}}, {"luv", Space::Luv, {"L", "u", "v"}},
      {"rgb", Space::RGB, {"r", "g", "b"}}, {"rgb255", Space::RGB255, {"r", "g", "b"}},
      {"hex", Space::Hex, {"hex"}},
  };
  return kSpaces;
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

int convert(const Args& args) {
  const auto from = args.option("--from");
  const auto to = args.option("--to");
  if (!from || !to) throw UsageError("convert needs --from SPACE and --to SPACE");
  const SpaceName& target = spaceNamed(*to);
  const Conversion conversion{spaceNamed(*from).space, target.space,
                              illuminantOption(args, "--illuminant"), observerOption(args)};
  return runOnValues(args, {target.columns, [conversion](std::span<const std::string> words) {
                              return conversion.run(words);
                            }});
}

// ---- adapt --------------------------------------------------------------------------------

int adapt(const Args& args) {
  if (!args.option("--from-illuminant") || !args.option("--to-illuminant")) {
    throw UsageError("adapt needs --from-illuminant NAME and --to-illuminant NAME");
  }
  const HCFIlluminant src = illuminantOption(args, "--from-illuminant");
  const HCFIlluminant dst = illuminantOption(args, "--to-illuminant");
  const HCFStdObserver obs = observerOption(args);
  return runOnValues(
      args, {{"X", "Y", "Z"}, [=](std::span<const std::string> words) {
               const auto v = numbers(words, 3, "adapt");
               const auto out =
                   HCFXYZColor::XYZColorWithX(v[0], v[1], v[2], src, obs).toXYZWithIlluminant(dst);
               return triple("X", out.X, "Y", out.Y, "Z", out.Z);
             }});
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
      {"delta-e", {"--method", "--reference", "--format"}, deltaE, {"--components"}},
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
