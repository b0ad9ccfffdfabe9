#include "catalog_fixture.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "embedded_color_names.h"
#include "simulated_instruments.h"

namespace hcf_cloud::fixtures {

namespace {

using namespace hcf;

const char* const kCategories[] = {"Interior", "Exterior", "Trim"};
const char* const kCollections[] = {"Élan", "Heritage", "Coastal", "Nordic Café"};
const char* const kFinishes[] = {"matte", "eggshell", "satin", "gloss"};
const char* const kVendors[] = {"Acme Paints", "Hålvern", "Couleurs Réunies"};
const char* const kBases[] = {"water", "oil"};

template <std::size_t N>
const char* pick(const char* const (&values)[N], std::size_t index, std::size_t salt) {
  return values[(index * 7 + salt) % N];
}

HCFRGBColor rgbOfHex(const std::string& hex) {
  unsigned r = 0, g = 0, b = 0;
  if (std::sscanf(hex.c_str(), "#%02x%02x%02x", &r, &g, &b) != 3) {
    throw std::invalid_argument("not a colour: " + hex);
  }
  return HCFRGBColor::rgbColorWithR(r / 255.0, g / 255.0, b / 255.0, HCFRGBSpace::sRGB);
}

// A well-mixed 64-bit hash (splitmix64), so that neighbouring indexes get unrelated colours.
std::uint64_t mixed(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// A colour spread over the gamut for products beyond the list.
NamedColor syntheticColor(std::size_t index) {
  const std::uint64_t h = mixed(index);
  char hex[8];
  std::snprintf(hex, sizeof hex, "#%02x%02x%02x", static_cast<unsigned>(h & 0xff),
                static_cast<unsigned>((h >> 8) & 0xff), static_cast<unsigned>((h >> 16) & 0xff));
  return {"Colour " + std::to_string(index), hex};
}

// The product's curve as the spectral batch "s1-1" measured it.
HCFProductSpectrum spectralBatchCurve(const Reflectance& curve) {
  HCFProductSpectrum spectrum;
  spectrum.curve = std::vector<double>(curve.begin(), curve.end());
  spectrum.start = 400;
  spectrum.step = 10;
  spectrum.batch = "s1-1";
  spectrum.model = "11.0";
  return spectrum;
}

}  // namespace

namespace {

std::vector<NamedColor> namedColorsFrom(std::istream& in) {
  std::vector<NamedColor> out;
  std::string line;
  std::getline(in, line);  // header
  while (std::getline(in, line)) {
    const auto comma = line.rfind(',');
    if (comma == std::string::npos) continue;
    out.push_back({line.substr(0, comma), line.substr(comma + 1)});
  }
  return out;
}

}  // namespace

std::vector<NamedColor> namedColors(const std::filesystem::path& file) {
  std::ifstream in(file);
  if (!in) throw std::runtime_error("cannot read " + file.string());
  return namedColorsFrom(in);
}

const std::vector<NamedColor>& builtInNamedColors() {
  static const std::vector<NamedColor> colors = [] {
    std::istringstream in(kColorNamesCsv);
    return namedColorsFrom(in);
  }();
  return colors;
}

HCFHalvernCloudProduct catalogProduct(const NamedColor& color, std::size_t index) {
  HCFHalvernCloudProduct p;
  char uuid[40];
  std::snprintf(uuid, sizeof uuid, "c0fe0000-0000-4000-8000-%012zx", index);
  p.uuid = uuid;
  char code[16];
  std::snprintf(code, sizeof code, "HC-%05zu", index);
  const bool inspiration = index % 20 == 19;
  const std::string collection = pick(kCollections, index, 1);
  const std::string vendor = pick(kVendors, index, 2);
  const std::string finish = pick(kFinishes, index, 3);
  p.attributes = std::vector<HCFProductKV>{
      HCFProductKV::kvWithKey("name", color.name), HCFProductKV::kvWithKey("code", code),
      HCFProductKV::kvWithKey("vendor", vendor), HCFProductKV::kvWithKey("collection", collection)};
  std::vector<HCFProductKV> filters = {
      HCFProductKV::kvWithKey("category",
                              inspiration ? "Inspirations" : pick(kCategories, index, 0)),
      HCFProductKV::kvWithKey("collection", collection),
      HCFProductKV::kvWithKey("finish", finish),
      HCFProductKV::kvWithKey("sheen", finish),
      HCFProductKV::kvWithKey("vendor", vendor),
      HCFProductKV::kvWithKey("base", pick(kBases, index, 4)),
      HCFProductKV::kvWithKey("line", "Standard")};
  p.filters = std::move(filters);
  p.images = std::vector<HCFProductImage>{
      {"swatch", "https://images.hcf.example/swatches/" + std::string(code) + ".png"}};

  const HCFRGBColor rgb = rgbOfHex(color.hex);
  const HCFLabColor reference = rgb.labColor(HCFIlluminant::D50);
  const auto hsb = rgb.color().hsb();
  p.hue = hsb.hue * 360.0;
  p.saturation = hsb.saturation;
  p.brightness = hsb.brightness;
  p.vendorOrder = static_cast<double>(index);

  const Reflectance curve = reflectanceForLab(reference);
  std::vector<HCFProductBatchedLabColor> colors;
  const auto add = [&](const std::string& batch, const std::string& model, const HCFLabColor& lab) {
    HCFProductBatchedLabColor c;
    c.batch = batch;
    c.model = model;
    c.lab = lab;
    c.name = color.name;
    c.composition = 1;
    colors.push_back(std::move(c));
  };
  for (const auto& name : HTColorUtils::allIlluminants()) {
    const auto illuminant = HTColorUtils::fromIlluminantStr(name);
    for (const auto observer : {HCFStdObserver::TwoDegree, HCFStdObserver::TenDegree}) {
      const auto xyz = HCFCieSpectralMath::xyzFromSpectrum(curve, 400, illuminant, observer);
      add("95", "4.0", xyz->toLab());
      add("s1-1", "11.0", xyz->toLab());
    }
  }
  add("adjusted", "4.0", reference);
  p.internalColors = std::move(colors);
  p.spectra = std::vector<HCFProductSpectrum>{spectralBatchCurve(curve)};
  return p;
}

std::vector<HCFHalvernCloudProduct> catalogProducts(const std::vector<NamedColor>& colors,
                                                    std::size_t count) {
  std::vector<HCFHalvernCloudProduct> out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    out.push_back(catalogProduct(i < colors.size() ? colors[i] : syntheticColor(i), i));
  }
  return out;
}

namespace {

const char* const kNameWords[] = {
    "Misty",  "Harbour", "Velvet", "Amber",  "Quiet",  "Meadow",  "Coral",  "Slate",
    "Golden", "Fjord",   "Olive",  "Dusty",  "Rosé",   "Stone",   "Marine", "Cedar",
    "Linen",  "Sable",   "Pebble", "Frosty", "Indigo", "Saffron", "Moss",   "Clay",
    "Crème",  "Ember",   "Willow", "Azure",  "Copper", "Thistle", "Smoke",  "Lagoon"};

double rounded(double v, double unit) { return std::round(v / unit) * unit; }

HCFLabColor roundedLab(const HCFLabColor& lab) {
  return HCFLabColor::labColorWithL(rounded(lab.L, 1e-3), rounded(lab.A, 1e-3),
                                    rounded(lab.B, 1e-3), lab.illuminant, lab.stdObserver);
}

}  // namespace

HCFHalvernCloudProduct syntheticProduct(std::size_t index, std::size_t catalogSize) {
  HCFHalvernCloudProduct p;
  char text[48];
  std::snprintf(text, sizeof text, "5e7e0000-0000-4000-8000-%012zx", index);
  p.uuid = text;
  std::snprintf(text, sizeof text, "SY-%07zu", index);
  const std::string code = text;
  const std::size_t words = std::size(kNameWords);
  const std::string name = std::string(kNameWords[(index * 13 + 5) % words]) + " " +
                           kNameWords[(index / words * 7 + index) % words];
  const bool inspiration = index % 20 == 19;
  const std::string collection = pick(kCollections, index, 1);
  const std::string vendor = pick(kVendors, index, 2);
  p.attributes = std::vector<HCFProductKV>{
      HCFProductKV::kvWithKey("name", name), HCFProductKV::kvWithKey("code", code),
      HCFProductKV::kvWithKey("vendor", vendor), HCFProductKV::kvWithKey("collection", collection)};
  p.filters = std::vector<HCFProductKV>{
      HCFProductKV::kvWithKey("category",
                              inspiration ? "Inspirations" : pick(kCategories, index, 0)),
      HCFProductKV::kvWithKey("collection", collection),
      HCFProductKV::kvWithKey("finish", pick(kFinishes, index, 3)),
      HCFProductKV::kvWithKey("vendor", vendor),
      HCFProductKV::kvWithKey("base", pick(kBases, index, 4))};
  p.images = std::vector<HCFProductImage>{
      {"swatch", "https://images.hcf.example/swatches/" + code + ".png"}};

  const NamedColor color = syntheticColor(index);
  const HCFRGBColor rgb = rgbOfHex(color.hex);
  const HCFLabColor reference = roundedLab(rgb.labColor(HCFIlluminant::D50));
  const auto hsb = rgb.color().hsb();
  p.hue = rounded(hsb.hue * 360.0, 1e-3);
  p.saturation = rounded(hsb.saturation, 1e-4);
  p.brightness = rounded(hsb.brightness, 1e-4);
  // The maker's order is not the order of the file.
  p.vendorOrder = static_cast<double>((index * 7919u) % std::max<std::size_t>(catalogSize, 1));

  const auto entry = [&](const std::string& batch, const std::string& model,
                         const HCFLabColor& lab) {
    HCFProductBatchedLabColor c;
    c.batch = batch;
    c.model = model;
    c.lab = roundedLab(lab);
    c.name = name;
    c.storedHex = color.hex;
    c.composition = 1;
    return c;
  };
  Reflectance curve = reflectanceForLab(reference);
  for (double& v : curve) v = rounded(v, 1e-4);
  std::vector<HCFProductBatchedLabColor> colors;
  // A device reads a little off the reference.
  const double wobble = static_cast<double>(index % 11) * 0.05 - 0.25;
  colors.push_back(entry(
      "95", "4.0",
      HCFLabColor::labColorWithL(reference.L + wobble, reference.A - wobble, reference.B + wobble,
                                 HCFIlluminant::D50, HCFStdObserver::TwoDegree)));
  for (const auto& [illuminant, observer] :
       {std::pair{HCFIlluminant::D50, HCFStdObserver::TwoDegree},
        std::pair{HCFIlluminant::D65, HCFStdObserver::TenDegree}}) {
    const auto xyz = HCFCieSpectralMath::xyzFromSpectrum(curve, 400, illuminant, observer);
    colors.push_back(entry("s1-1", "11.0", xyz->toLab()));
  }
  colors.push_back(entry("adjusted", "4.0", reference));
  p.internalColors = std::move(colors);
  p.spectra = std::vector<HCFProductSpectrum>{spectralBatchCurve(curve)};
  return p;
}

std::uint64_t writeProductLines(std::ostream& out,
                                const std::vector<HCFHalvernCloudProduct>& products) {
  std::uint64_t bytes = 0;
  for (const auto& p : products) {
    const std::string line = HCFTintVaultSerialization::productToDictionary(p).dump();
    out << line << '\n';
    bytes += line.size() + 1;
  }
  return bytes;
}

}  // namespace hcf_cloud::fixtures
