// hcf color delta-e | convert | adapt
#include <hcf/hcf.h>

#include <functional>
#include <iostream>
#include <optional>
#include <span>

#include "cli.h"
#include "commands.h"
#include "terminal_text.h"

namespace hcf_tool {

namespace {

using namespace hcf;

constexpr const char* kColorUsage =
    "usage: hcf color <command> [options] [values]\n"
    "\n"
    "commands:\n"
    "  delta-e [--method NAME] L1 a1 b1 L2 a2 b2\n"
    "      Colour difference, colour 1 as the sample (it sets the weights of CMC and CIE94).\n"
    "      NAME: de_2000 (default), de_cmc_21, de_cmc_11, de_94_gfx, de_94_textiles.\n"
    "  convert --from SPACE --to SPACE [--illuminant NAME] [--observer NAME] VALUES\n"
    "      SPACE: xyz (white Y = 100), lab, lch, luv, rgb (0-1), hex.\n"
    "      Illuminant D50 (default), D65, A, B, C, F2, F7, F11; observer 2 (default) or 10.\n"
    "  adapt --from-illuminant NAME --to-illuminant NAME [--observer NAME] X Y Z\n"
    "      Bradford chromatic adaptation of XYZ.\n"
    "\n"
    "With no values on the command line, each line of standard input is one input and each\n"
    "output line its result; a bad line prints 'error' and the run goes on (exit status 1).\n";

enum class Space { XYZ, Lab, LCh, Luv, RGB, Hex };

Space parseSpace(const std::string& name) {
  static const std::pair<const char*, Space> kSpaces[] = {{"xyz", Space::XYZ}, {"lab", Space::Lab},
                                                          {"lch", Space::LCh}, {"luv", Space::Luv},
                                                          {"rgb", Space::RGB}, {"hex", Space::Hex}};
  for (const auto& [n, s] : kSpaces) {
    if (name == n) return s;
  }
  throw UsageError("unknown colour space '" + name + "' (xyz, lab, lch, luv, rgb, hex)");
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

std::string joined(std::initializer_list<double> values) {
  std::string out;
  for (const double v : values) {
    if (!out.empty()) out += ' ';
    out += formatNumber(v);
  }
  return out;
}

HCFRGBColor parseHex(const std::string& text) {
  std::string_view t = text;
  if (!t.empty() && t[0] == '#') t.remove_prefix(1);
  if (t.size() != 6 || t.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
    throw UsageError("not a hex colour: '" + text + "' (six hexadecimal digits, '#' optional)");
  }
  const unsigned long v = std::stoul(std::string(t), nullptr, 16);
  return HCFRGBColor::rgbColorWithR(static_cast<double>((v >> 16) & 0xFF) / 255.0,
                                    static_cast<double>((v >> 8) & 0xFF) / 255.0,
                                    static_cast<double>(v & 0xFF) / 255.0, HCFRGBSpace::sRGB);
}

// Runs `compute` on the values of the command line, or on each line of standard input when
// the command line has none.
int runOnValues(const Args& args,
                const std::function<std::string(std::span<const std::string>)>& compute) {
  if (args.positional.empty()) {
    return runBatchLines([&](std::string_view line) { return compute(splitFields(line)); });
  }
  std::cout << compute(args.positional) << '\n';
  return kExitOk;
}

// ---- delta-e ------------------------------------------------------------------------------

int deltaE(const Args& args) {
  const HCFDeltaEMethod method = HTColorUtils::fromDeltaEStr(args.option("--method").value_or(""));
  const auto compute = [method](std::span<const std::string> words) {
    const auto v = numbers(words, 6, "delta-e");
    const auto sample = HCFLabColor::labColorWithL(v[0], v[1], v[2], HCFIlluminant::D50);
    const auto standard = HCFLabColor::labColorWithL(v[3], v[4], v[5], HCFIlluminant::D50);
    return formatNumber(HTColorUtils::deltaEForSample(sample, standard, method));
  };
  return runOnValues(args, compute);
}

// ---- convert ------------------------------------------------------------------------------

struct Conversion {
  Space from;
  Space to;
  HCFIlluminant illuminant;
  HCFStdObserver observer;

  std::string run(std::span<const std::string> words) const;

 private:
  std::string fromXYZ(const HCFXYZColor& xyz) const;
  std::string fromLab(const HCFLabColor& lab) const;
  std::string fromRGB(const HCFRGBColor& rgb) const;
};

std::string rgbText(const HCFRGBColor& rgb) { return joined({rgb.r, rgb.g, rgb.b}); }

std::string Conversion::fromXYZ(const HCFXYZColor& xyz) const {
  switch (to) {
    case Space::XYZ:
      return joined({xyz.X, xyz.Y, xyz.Z});
    case Space::Lab: {
      const auto lab = xyz.toLab();
      return joined({lab.L, lab.A, lab.B});
    }
    case Space::LCh: {
      const auto lch = xyz.toLCH();
      return joined({lch.L, lch.c, lch.h});
    }
    case Space::Luv: {
      const auto luv = xyz.toLUV();
      return joined({luv.L, luv.u, luv.v});
    }
    case Space::RGB:
      return rgbText(xyz.RGBColorInSpace(HCFRGBSpace::sRGB));
    case Space::Hex:
      return xyz.RGBColorInSpace(HCFRGBSpace::sRGB).hex();
  }
  return {};
}

std::string Conversion::fromLab(const HCFLabColor& lab) const {
  switch (to) {
    case Space::Lab:
      return joined({lab.L, lab.A, lab.B});
    case Space::LCh: {
      const auto lch = lab.lchColor();
      return joined({lch.L, lch.c, lch.h});
    }
    case Space::RGB:
      return rgbText(lab.rgbColor());
    case Space::Hex:
      return lab.hex();
    case Space::XYZ:
    case Space::Luv:
      return fromXYZ(lab.XYZColor());
  }
  return {};
}

std::string Conversion::fromRGB(const HCFRGBColor& rgb) const {
  if (to == Space::RGB) return rgbText(rgb);
  if (to == Space::Hex) return rgb.hex();
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

std::string Conversion::run(std::span<const std::string> words) const {
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
      return fromRGB(HCFRGBColor::rgbColorWithR(v[0], v[1], v[2], HCFRGBSpace::sRGB));
    case Space::Hex:
      break;
  }
  return {};
}

int convert(const Args& args) {
  const auto from = args.option("--from");
  const auto to = args.option("--to");
  if (!from || !to) throw UsageError("convert needs --from SPACE and --to SPACE");
  const Conversion conversion{
      parseSpace(*from), parseSpace(*to),
      HTColorUtils::fromIlluminantStr(args.option("--illuminant").value_or("")),
      HTColorUtils::fromObserverStr(args.option("--observer").value_or(""))};
  return runOnValues(args,
                     [&](std::span<const std::string> words) { return conversion.run(words); });
}

// ---- adapt --------------------------------------------------------------------------------

int adapt(const Args& args) {
  const auto fromName = args.option("--from-illuminant");
  const auto toName = args.option("--to-illuminant");
  if (!fromName || !toName) {
    throw UsageError("adapt needs --from-illuminant NAME and --to-illuminant NAME");
  }
  const HCFIlluminant src = HTColorUtils::fromIlluminantStr(*fromName);
  const HCFIlluminant dst = HTColorUtils::fromIlluminantStr(*toName);
  const HCFStdObserver obs = HTColorUtils::fromObserverStr(args.option("--observer").value_or(""));
  const auto compute = [&](std::span<const std::string> words) {
    const auto v = numbers(words, 3, "adapt");
    const auto out =
        HCFXYZColor::XYZColorWithX(v[0], v[1], v[2], src, obs).toXYZWithIlluminant(dst);
    return joined({out.X, out.Y, out.Z});
  };
  return runOnValues(args, compute);
}

}  // namespace

int colorCommand(const std::vector<std::string>& words) {
  if (words.empty() || words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
    std::cout << kColorUsage;
    return words.empty() ? kExitUsage : kExitOk;
  }
  const std::string& command = words[0];
  const std::vector<std::string> rest(words.begin() + 1, words.end());
  try {
    if (command == "delta-e") {
      const Args args = Args::parse(rest, {"--method"});
      if (args.help) return std::cout << kColorUsage, kExitOk;
      return deltaE(args);
    }
    if (command == "convert") {
      const Args args = Args::parse(rest, {"--from", "--to", "--illuminant", "--observer"});
      if (args.help) return std::cout << kColorUsage, kExitOk;
      return convert(args);
    }
    if (command == "adapt") {
      const Args args = Args::parse(rest, {"--from-illuminant", "--to-illuminant", "--observer"});
      if (args.help) return std::cout << kColorUsage, kExitOk;
      return adapt(args);
    }
  } catch (const UsageError& e) {
    std::cerr << "hcf color " << command << ": " << printable(e.what()) << '\n';
    return kExitUsage;
  }
  std::cerr << "hcf color: unknown command '" << command << "'\n" << kColorUsage;
  return kExitUsage;
}

}  // namespace hcf_tool
