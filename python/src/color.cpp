// Colour values, conversions, colour differences and spectral integration.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cstdio>

#include "module.h"

namespace hcf_python {

using namespace pybind11::literals;
using hcf::HCFIlluminant;
using hcf::HCFStdObserver;

namespace {

std::string enumNames(HCFIlluminant illuminant, HCFStdObserver observer) {
  return "illuminant=" + hcf::HTColorUtils::toIlluminantStr(illuminant).value_or("?") +
         ", observer=" + hcf::HTColorUtils::toObserverStr(observer);
}

std::string number(double v) { return py::repr(py::float_(v)).cast<std::string>(); }

// True for a NumPy array, without importing NumPy when the program has not.
bool isNumpyArray(py::handle object) {
  const py::dict modules = py::module_::import("sys").attr("modules");
  if (!modules.contains("numpy")) return false;
  return py::isinstance(object, modules["numpy"].attr("ndarray"));
}

// One sample against many standards: a NumPy array of n differences for an (n, 3) array of
// standards, else a list.
py::object deltaEBatch(py::handle sample, py::handle standards, hcf::HCFDeltaEMethod method) {
  const hcf::HCFLabColor s = labOf(sample, "sample");
  const hcf::LabTriple triple{s.L, s.A, s.B};
  std::vector<double> L, a, b;
  const bool numpy = isNumpyArray(standards);
  if (numpy) {
    using Array = py::array_t<double, py::array::c_style | py::array::forcecast>;
    const Array array = Array::ensure(standards);
    if (!array) throw py::error_already_set();
    if (array.ndim() != 2 || array.shape(1) != 3) {
      throw py::value_error("the standards are an array of shape (n, 3): L, a, b per row");
    }
    const auto n = static_cast<std::size_t>(array.shape(0));
    const double* data = array.data();
    L.resize(n), a.resize(n), b.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
      L[i] = data[3 * i], a[i] = data[3 * i + 1], b[i] = data[3 * i + 2];
    }
  } else {
    for (const auto& item : py::iter(standards)) {
      const hcf::HCFLabColor standard = labOf(item, "each standard");
      L.push_back(standard.L), a.push_back(standard.A), b.push_back(standard.B);
    }
  }
  std::vector<double> out(L.size());
  {
    py::gil_scoped_release unlocked;
    hcf::CieStdMath::deltaEBatch(method, triple, hcf::LabColumns{L, a, b}, out);
  }
  if (numpy) return py::array_t<double>(static_cast<py::ssize_t>(out.size()), out.data());
  return py::cast(out);
}

void bindLab(py::module_& m) {
  py::class_<hcf::HCFLabColor>(m, "Lab",
                               "A CIELAB colour under an illuminant and observer (hcf::HCFLabColor).")
      .def(py::init([](double L, double a, double b, HCFIlluminant i, HCFStdObserver o) {
             return hcf::HCFLabColor::labColorWithL(L, a, b, i, o);
           }), "L"_a, "a"_a, "b"_a, py::kw_only(),
           "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree,
           "HCFLabColor::labColorWithL")
      .def_readwrite("L", &hcf::HCFLabColor::L, "lightness L*")
      .def_readwrite("a", &hcf::HCFLabColor::A, "a*")
      .def_readwrite("b", &hcf::HCFLabColor::B, "b*")
      .def_readwrite("illuminant", &hcf::HCFLabColor::illuminant)
      .def_readwrite("observer", &hcf::HCFLabColor::stdObserver, "HCFLabColor::stdObserver")
      .def("to_illuminant", &hcf::HCFLabColor::toLabWithIlluminant, "illuminant"_a,
           "The same colour under another illuminant, Bradford-adapted "
           "(HCFLabColor::toLabWithIlluminant).")
      .def("xyz", &hcf::HCFLabColor::XYZColor, "CIE XYZ, white Y = 100 (HCFLabColor::XYZColor).")
      .def("lch", &hcf::HCFLabColor::lchColor, "LCh (HCFLabColor::lchColor).")
      .def("rgb", &hcf::HCFLabColor::rgbColor, "sRGB, clamped to 0-1 (HCFLabColor::rgbColor).")
      .def_property_readonly("hex", &hcf::HCFLabColor::hex,
                             "Six upper-case hexadecimal digits of the sRGB colour (HCFLabColor::hex).")
      .def(
          "delta_e",
          [](const hcf::HCFLabColor& self, py::handle other, hcf::HCFDeltaEMethod method) {
            return hcf::HTColorUtils::deltaEForSample(self, labOf(other, "the standard"), method);
          },
          "standard"_a, "method"_a = hcf::HCFDeltaEMethod::CIEDE2000,
          "The difference of this colour (the sample, which sets the weights of CMC and CIE94) "
          "from `standard` (HTColorUtils::deltaEForSample).")
      .def("to_dict", [](const hcf::HCFLabColor& self) {
             return toPython(hcf::HCFTintVaultSerialization::labColorToDictionary(self));
           },
           "The kit's dictionary form (HCFTintVaultSerialization::labColorToDictionary).")
      .def_static(
          "from_dict",
          [](py::handle d) {
            return take(hcf::HCFTintVaultSerialization::labColorFromDictionary(fromPython(d)));
          },
          "dictionary"_a, "HCFTintVaultSerialization::labColorFromDictionary.")
      .def("__iter__", [](const hcf::HCFLabColor& c) { return py::iter(py::make_tuple(c.L, c.A, c.B)); })
      .def("__eq__", [](const hcf::HCFLabColor& x, py::handle y) {
             if (!py::isinstance<hcf::HCFLabColor>(y)) return false;
             return x.isEqualToLab(y.cast<hcf::HCFLabColor>());
           }, "Equal within 1e-11, same illuminant and observer (HCFLabColor::isEqualToLab).")
      .def("__repr__", [](const hcf::HCFLabColor& c) {
        return "hcf.Lab(" + number(c.L) + ", " + number(c.A) + ", " + number(c.B) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });
  py::setattr(m.attr("Lab"), "__hash__", py::none());
}

void bindOtherColours(py::module_& m) {
  py::class_<hcf::HCFXYZColor>(m, "XYZ",
                               "CIE XYZ, white Y = 100, under an illuminant and observer (hcf::HCFXYZColor).")
      .def(py::init([](double X, double Y, double Z, HCFIlluminant i, HCFStdObserver o) {
             return hcf::HCFXYZColor::XYZColorWithX(X, Y, Z, i, o);
           }), "X"_a, "Y"_a, "Z"_a, py::kw_only(),
           "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree)
      .def_readwrite("X", &hcf::HCFXYZColor::X)
      .def_readwrite("Y", &hcf::HCFXYZColor::Y)
      .def_readwrite("Z", &hcf::HCFXYZColor::Z)
      .def_readwrite("illuminant", &hcf::HCFXYZColor::illuminant)
      .def_readwrite("observer", &hcf::HCFXYZColor::stdObserver)
      .def("to_illuminant", &hcf::HCFXYZColor::toXYZWithIlluminant, "illuminant"_a,
           "Bradford adaptation (HCFXYZColor::toXYZWithIlluminant).")
      .def("lab", &hcf::HCFXYZColor::toLab, "HCFXYZColor::toLab")
      .def("luv", &hcf::HCFXYZColor::toLUV, "HCFXYZColor::toLUV")
      .def("lch", &hcf::HCFXYZColor::toLCH, "HCFXYZColor::toLCH")
      .def("rgb", [](const hcf::HCFXYZColor& c) { return c.RGBColorInSpace(hcf::HCFRGBSpace::sRGB); },
           "sRGB, clamped to 0-1 (HCFXYZColor::RGBColorInSpace)")
      .def("__iter__", [](const hcf::HCFXYZColor& c) { return py::iter(py::make_tuple(c.X, c.Y, c.Z)); })
      .def("__repr__", [](const hcf::HCFXYZColor& c) {
        return "hcf.XYZ(" + number(c.X) + ", " + number(c.Y) + ", " + number(c.Z) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });

  py::class_<hcf::HCFLuvColor>(m, "Luv", "CIELUV (hcf::HCFLuvColor).")
      .def(py::init([](double L, double u, double v, HCFIlluminant i, HCFStdObserver o) {
             return hcf::HCFLuvColor::luvColorWithL(L, u, v, i, o);
           }), "L"_a, "u"_a, "v"_a, py::kw_only(),
           "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree)
      .def_readwrite("L", &hcf::HCFLuvColor::L)
      .def_readwrite("u", &hcf::HCFLuvColor::u)
      .def_readwrite("v", &hcf::HCFLuvColor::v)
      .def_readwrite("illuminant", &hcf::HCFLuvColor::illuminant)
      .def_readwrite("observer", &hcf::HCFLuvColor::stdObserver)
      .def("xyz", &hcf::HCFLuvColor::toXYZ, "HCFLuvColor::toXYZ")
      .def("__iter__", [](const hcf::HCFLuvColor& c) { return py::iter(py::make_tuple(c.L, c.u, c.v)); })
      .def("__repr__", [](const hcf::HCFLuvColor& c) {
        return "hcf.Luv(" + number(c.L) + ", " + number(c.u) + ", " + number(c.v) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });

  py::class_<hcf::HCFLchColor>(m, "LCh", "Lightness, chroma, hue angle in degrees (hcf::HCFLchColor).")
      .def(py::init([](double L, double c, double h, HCFIlluminant i, HCFStdObserver o) {
             return hcf::HCFLchColor::LchColorWithL(L, c, h, i, o);
           }), "L"_a, "c"_a, "h"_a, py::kw_only(),
           "illuminant"_a = HCFIlluminant::D50, "observer"_a = HCFStdObserver::TwoDegree)
      .def_readwrite("L", &hcf::HCFLchColor::L)
      .def_readwrite("c", &hcf::HCFLchColor::c)
      .def_readwrite("h", &hcf::HCFLchColor::h)
      .def_readwrite("illuminant", &hcf::HCFLchColor::illuminant)
      .def_readwrite("observer", &hcf::HCFLchColor::stdObserver)
      .def("lab", &hcf::HCFLchColor::toLAB, "HCFLchColor::toLAB")
      .def("__iter__", [](const hcf::HCFLchColor& c) { return py::iter(py::make_tuple(c.L, c.c, c.h)); })
      .def("__repr__", [](const hcf::HCFLchColor& c) {
        return "hcf.LCh(" + number(c.L) + ", " + number(c.c) + ", " + number(c.h) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });

  py::class_<hcf::HCFRGBColor>(m, "RGB", "An sRGB colour, components 0 to 1 (hcf::HCFRGBColor).")
      .def(py::init([](double r, double g, double b) {
             return hcf::HCFRGBColor::rgbColorWithR(r, g, b, hcf::HCFRGBSpace::sRGB);
           }),
           "r"_a, "g"_a, "b"_a, "HCFRGBColor::rgbColorWithR")
      .def_readwrite("r", &hcf::HCFRGBColor::r)
      .def_readwrite("g", &hcf::HCFRGBColor::g)
      .def_readwrite("b", &hcf::HCFRGBColor::b)
      .def_property_readonly("hex", &hcf::HCFRGBColor::hex, "HCFRGBColor::hex")
      .def_property_readonly("rgb255", [](const hcf::HCFRGBColor& c) {
        return py::make_tuple(c.r255(), c.g255(), c.b255());
      }, "The components times 255, not rounded (HCFRGBColor::r255, g255, b255).")
      .def("lab", &hcf::HCFRGBColor::labColor, "illuminant"_a = HCFIlluminant::D50,
           "CIELAB under `illuminant`, 2° observer (HCFRGBColor::labColor).")
      .def("__iter__", [](const hcf::HCFRGBColor& c) { return py::iter(py::make_tuple(c.r, c.g, c.b)); })
      .def("__repr__", [](const hcf::HCFRGBColor& c) {
        return "hcf.RGB(" + number(c.r) + ", " + number(c.g) + ", " + number(c.b) + ")";
      });
}

}  // namespace

hcf::HCFLabColor labOf(py::handle object, const char* what) {
  if (py::isinstance<hcf::HCFLabColor>(object)) return object.cast<hcf::HCFLabColor>();
  if (py::isinstance<py::sequence>(object) && !py::isinstance<py::str>(object)) {
    const auto items = py::reinterpret_borrow<py::sequence>(object);
    if (items.size() == 3) {
      try {
        return hcf::HCFLabColor{items[0].cast<double>(), items[1].cast<double>(),
                                items[2].cast<double>()};
      } catch (const py::cast_error&) {
      }
    }
  }
  throw py::type_error(std::string(what) + " is an hcf.Lab or three numbers (L, a, b)");
}

void bindColor(py::module_& m) {
  bindLab(m);
  bindOtherColours(m);

  m.def(
      "delta_e",
      [](py::handle sample, py::handle standard, hcf::HCFDeltaEMethod method) {
        return hcf::HTColorUtils::deltaEForSample(labOf(sample, "the sample"),
                                                  labOf(standard, "the standard"), method);
      },
      "sample"_a, "standard"_a, "method"_a = hcf::HCFDeltaEMethod::CIEDE2000,
      "The colour difference of two Lab colours (hcf.Lab or (L, a, b)); the sample sets the "
      "weights of CMC and CIE94 (HTColorUtils::deltaEForSample).");
  m.def("delta_e_batch", &deltaEBatch, "sample"_a, "standards"_a,
        "method"_a = hcf::HCFDeltaEMethod::CIEDE2000,
        "One sample against many standards: a NumPy array of differences for an (n, 3) array, "
        "else a list (CieStdMath::deltaEBatch).");
  m.def(
      "white_point",
      [](HCFIlluminant illuminant, HCFStdObserver observer) {
        const auto& wp = hcf::CieStdMath::wpArrayForObserver(observer, illuminant);
        return py::make_tuple(wp[0], wp[1], wp[2]);
      },
      "illuminant"_a, "observer"_a = HCFStdObserver::TwoDegree,
      "The reference white, Y = 1 (CieStdMath::wpArrayForObserver).");
  m.def(
      "xyz_from_spectrum",
      [](const std::vector<double>& samples, unsigned start, HCFIlluminant illuminant,
         HCFStdObserver observer) {
        return take(hcf::HCFCieSpectralMath::xyzFromSpectrum(samples, start, illuminant, observer));
      },
      "reflectance"_a, "start"_a = 400, "illuminant"_a = HCFIlluminant::D50,
      "observer"_a = HCFStdObserver::TwoDegree,
      "XYZ (white Y = 100) of reflectance samples every 10 nm from `start` nm "
      "(HCFCieSpectralMath::xyzFromSpectrum).");
}

}  // namespace hcf_python
