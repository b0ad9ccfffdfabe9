// Scans: a colorimeter's and a spectrometer's, their colours under every illuminant and
// observer, and their dictionary form.
#include <pybind11/stl.h>

#include "module.h"

namespace hcf_python {

using namespace pybind11::literals;
using hcf::HCFIlluminant;
using hcf::HCFStdObserver;

namespace {

py::list batchedLabs(const std::vector<hcf::HCFGenericBatchedLab>& labs) {
  py::list out;
  for (const auto& entry : labs) out.append(py::make_tuple(entry.batch, entry.lab));
  return out;
}

std::string scanRepr(const hcf::HCFColorScan& scan, const char* kind) {
  const auto lab = scan.lab(HCFStdObserver::TwoDegree, HCFIlluminant::D50);
  std::string text =
      std::string("hcf.") + kind + "(serial='" + scan.serial + "', model='" + scan.model + "'";
  if (lab) text += ", D50 2° " + py::repr(py::cast(*lab)).cast<std::string>();
  return text + ")";
}

}  // namespace

void bindScans(py::module_& m) {
  py::class_<hcf::HCFColorScan, std::shared_ptr<hcf::HCFColorScan>>(
      m, "Scan",
      "One measurement (hcf::HCFColorScan): a TristimScan from a colorimeter or a SpectralScan "
      "from a spectrometer.")
      .def_readonly("serial", &hcf::HCFColorScan::serial, "The instrument's serial.")
      .def_readonly("model", &hcf::HCFColorScan::model, "The instrument's model.")
      .def_readonly("over_range", &hcf::HCFColorScan::overRange,
                    "True when a count reached full scale: the colour is not reliable, measure "
                    "again (HCFColorScan::overRange).")
      .def(
          "lab",
          [](const hcf::HCFColorScan& s, HCFIlluminant illuminant, HCFStdObserver observer) {
            return s.lab(observer, illuminant);
          },
          "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree,
          "The colour under `illuminant` for `observer`; None when the scan has none "
          "(HCFColorScan::lab).")
      .def(
          "lch",
          [](const hcf::HCFColorScan& s, HCFIlluminant illuminant, HCFStdObserver observer) {
            return s.lchColor(observer, illuminant);
          },
          "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree,
          "HCFColorScan::lchColor")
      .def("rgb", &hcf::HCFColorScan::rgbColor, "sRGB (HCFColorScan::rgbColor).")
      .def_property_readonly("hex", &hcf::HCFColorScan::hex, "HCFColorScan::hex")
      .def_property_readonly(
          "batched_labs", [](const hcf::HCFColorScan& s) { return batchedLabs(s.batchedLabs); },
          "(batch, Lab) pairs as built with the scan (HCFColorScan::batchedLabs).")
      .def_property_readonly(
          "spectral_curve",
          [](const hcf::HCFColorScan& s) -> py::object {
            const auto curve = s.spectralCurve();
            if (!curve) return py::none();
            py::list out;
            for (const auto& p : *curve) out.append(py::make_tuple(p.wavelength, p.intensity));
            return out;
          },
          "(wavelength nm, reflectance) pairs of a spectral scan, else None "
          "(HCFColorScan::spectralCurve).")
      .def(
          "to_dict",
          [](const hcf::HCFColorScan& s) {
            return toPython(take(hcf::HCFTintVaultSerialization::colorScanToCheckedDictionary(s)));
          },
          "The kit's scan dictionary (HCFTintVaultSerialization::colorScanToCheckedDictionary); "
          "hcf.Error for a scan whose dictionary would not read back (a value that is not a "
          "finite number).")
      .def_static(
          "from_dict",
          [](py::handle d) {
            return takeArgument(
                hcf::HCFTintVaultSerialization::colorScanFromDictionary(fromPython(d)));
          },
          "dictionary"_a,
          "A scan from its dictionary; hcf.ArgumentError 9930 (an hcf.Error and a ValueError) "
          "naming the key that does not read "
          "(HCFTintVaultSerialization::colorScanFromDictionary).")
      .def("__repr__", [](const hcf::HCFColorScan& s) { return scanRepr(s, "Scan"); });

  py::class_<hcf::HCFTristimScan, hcf::HCFColorScan, std::shared_ptr<hcf::HCFTristimScan>>(
      m, "TristimScan", "A colorimeter's scan (hcf::HCFTristimScan).")
      .def_readonly("color_sense", &hcf::HCFTristimScan::colorSense,
                    "The red, green and blue sensor values.")
      .def_readonly("adjusted_2_degree_lab", &hcf::HCFTristimScan::adjusted2DegreeLab,
                    "D50, 2° (HCFTristimScan::adjusted2DegreeLab).")
      .def_readonly("adjusted_10_degree_lab", &hcf::HCFTristimScan::adjusted10DegreeLab,
                    "D50, 10°, when the instrument gives it (HCFTristimScan::adjusted10DegreeLab).")
      .def_readonly("batch", &hcf::HCFTristimScan::batch, "The reading's batch number.")
      .def("__repr__", [](const hcf::HCFTristimScan& s) { return scanRepr(s, "TristimScan"); });

  py::class_<hcf::HCFSpectralScan, hcf::HCFColorScan, std::shared_ptr<hcf::HCFSpectralScan>>(
      m, "SpectralScan", "A spectrometer's scan: a reflectance curve (hcf::HCFSpectralScan).")
      .def_static(
          "from_curve",
          [](std::vector<double> curve, const std::string& serial, const std::string& model,
             std::vector<double> senses) {
            for (const double v : curve) finite(v, "a reflectance of the curve");
            for (const double v : senses) finite(v, "a sensor value");
            return takeArgument(hcf::HCFSpectralScan::initWithSerial(
                serial, model, std::move(senses), std::move(curve)));
          },
          "curve"_a, py::kw_only(), "serial"_a = "", "model"_a = "",
          "senses"_a = std::vector<double>{},
          "The scan of reflectance samples from 400 nm every 10 nm "
          "(HCFSpectralScan::initWithSerial).")
      .def_readonly("curve", &hcf::HCFSpectralScan::curve, "Reflectance from 400 nm every 10 nm.")
      .def_readonly("sense_values", &hcf::HCFSpectralScan::senseValues, "The raw sensor vector.")
      .def(
          "xyz",
          [](const hcf::HCFSpectralScan& s, HCFIlluminant illuminant, HCFStdObserver observer) {
            return s.toXYZ(observer, illuminant);
          },
          "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree,
          "The curve integrated under `illuminant` (HCFSpectralScan::toXYZ).")
      .def("__repr__", [](const hcf::HCFSpectralScan& s) { return scanRepr(s, "SpectralScan"); });
}

}  // namespace hcf_python
