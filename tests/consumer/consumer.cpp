// Uses the installed kit through its umbrella header only.
#include <hcf/hcf.h>

#include <cstdio>

int main() {
  const auto white =
      hcf::HCFXYZColor::XYZColorWithX(95.047, 100.0, 108.883, hcf::HCFIlluminant::D65);
  const hcf::HCFLabColor lab = white.toLab();
  const auto red = hcf::HCFLabColor::labColorWithL(53.24, 80.09, 67.2, hcf::HCFIlluminant::D65);
  std::printf("hcf %s: D65 white -> L %.0f, hex %s, dE00 %.4f\n", hcf::version(), lab.L,
              lab.hex().c_str(), lab.deltaE00(red));
  return lab.L > 99.999 && lab.hex().size() == 6 ? 0 : 1;
}
