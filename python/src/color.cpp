// Colour values, conversions, colour differences and spectral integration.
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <tuple>

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

using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using Triple = std::array<double, 3>;

std::string shapeText(const py::array& array) {
  std::string text = "(";
  for (py::ssize_t i = 0; i < array.ndim(); ++i) {
    text += (i ? ", " : "") + std::to_string(array.shape(i));
  }
  return text + (array.ndim() == 1 ? ",)" : ")");
}

// `object` as a C-ordered array of doubles; TypeError naming `what` when it holds no numbers,
// ValueError when a value is NaN or infinite.
DoubleArray finiteArray(py::handle object, const char* what) {
  DoubleArray array = DoubleArray::ensure(object);
  if (!array) throw py::type_error(std::string(what) + " are not an array of numbers");
  const double* data = array.data();
  for (py::ssize_t i = 0; i < array.size(); ++i) {
    if (!std::isfinite(data[i])) {
      throw py::value_error(std::string(what) +
                            " hold a value that is not a finite number: " + number(data[i]));
    }
  }
  return array;
}

// `object` as an array of colours, shape (..., 3): three numbers per colour.
DoubleArray colourArray(py::handle object, const char* what) {
  DoubleArray array = finiteArray(object, what);
  if (array.ndim() == 0 || array.shape(array.ndim() - 1) != 3) {
    throw py::value_error(std::string(what) + " are an array of shape (..., 3), not " +
                          shapeText(array));
  }
  return array;
}

// A NumPy array of more than one colour, shape (n, ..., 3); a single colour's (3,) array is
// taken as the scalar calls take it.
bool isColourArray(py::handle object) {
  return isNumpyArray(object) && py::reinterpret_borrow<py::array>(object).ndim() > 1;
}

// Every colour of `values` through `convert` (three numbers to three), the same function the
// scalar conversion calls, into an array of the same shape.
template <typename Convert>
py::array_t<double> convertEach(py::handle values, const char* what, Convert convert) {
  const DoubleArray in = colourArray(values, what);
  py::array_t<double> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
  const double* from = in.data();
  double* to = out.mutable_data();
  const auto n = static_cast<std::size_t>(in.size() / 3);
  {
    py::gil_scoped_release unlocked;
    for (std::size_t i = 0; i < n; ++i) {
      const Triple converted = convert(from[3 * i], from[3 * i + 1], from[3 * i + 2]);
      std::copy(converted.begin(), converted.end(), to + 3 * i);
    }
  }
  return out;
}

// The differences of arrays of colours, pair by pair, by the scalar call's function; either
// side may be one colour, set against every colour of the other.
py::array_t<double> deltaEEach(py::handle sample, py::handle standard,
                               hcf::HCFDeltaEMethod method) {
  std::optional<DoubleArray> samples, standards;
  std::optional<hcf::HCFLabColor> oneSample, oneStandard;
  if (isColourArray(sample)) {
    samples = colourArray(sample, "the samples");
  } else {
    oneSample = labOf(sample, "the sample");
  }
  if (isColourArray(standard)) {
    standards = colourArray(standard, "the standards");
  } else {
    oneStandard = labOf(standard, "the standard");
  }
  const DoubleArray& shaped = samples ? *samples : *standards;
  if (samples && standards &&
      !std::equal(samples->shape(), samples->shape() + samples->ndim(), standards->shape(),
                  standards->shape() + standards->ndim(),
                  [](py::ssize_t x, py::ssize_t y) { return x == y; })) {
    throw py::value_error("the samples " + shapeText(*samples) + " and the standards " +
                          shapeText(*standards) +
                          " are arrays of the same shape, or one of them is a single colour");
  }
  py::array_t<double> out(
      std::vector<py::ssize_t>(shaped.shape(), shaped.shape() + shaped.ndim() - 1));
  const double* s = samples ? samples->data() : nullptr;
  const double* t = standards ? standards->data() : nullptr;
  double* to = out.mutable_data();
  const auto n = static_cast<std::size_t>(shaped.size() / 3);
  {
    py::gil_scoped_release unlocked;
    for (std::size_t i = 0; i < n; ++i) {
      const hcf::HCFLabColor x =
          s ? hcf::HCFLabColor{s[3 * i], s[3 * i + 1], s[3 * i + 2]} : *oneSample;
      const hcf::HCFLabColor y =
          t ? hcf::HCFLabColor{t[3 * i], t[3 * i + 1], t[3 * i + 2]} : *oneStandard;
      to[i] = hcf::HTColorUtils::deltaEForSample(x, y, method);
    }
  }
  return out;
}

// One sample against many standards: a NumPy array of n differences for an (n, 3) array of
// standards, else a list.
py::object deltaEBatch(py::handle sample, py::handle standards, hcf::HCFDeltaEMethod method) {
  const hcf::HCFLabColor s = labOf(sample, "sample");
  const hcf::LabTriple triple{s.L, s.A, s.B};
  std::vector<double> L, a, b;
  const bool numpy = isNumpyArray(standards);
  if (numpy) {
    const DoubleArray array = finiteArray(standards, "the standards");
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

// What a colour value is, as Python compares and hashes it: its three components, and its
// illuminant and observer (the RGB space for RGB).
using ValueKey = std::tuple<double, double, double, int, int>;
ValueKey keyOf(const hcf::HCFLabColor& c) {
  return {c.L, c.A, c.B, static_cast<int>(c.illuminant), static_cast<int>(c.stdObserver)};
}
ValueKey keyOf(const hcf::HCFXYZColor& c) {
  return {c.X, c.Y, c.Z, static_cast<int>(c.illuminant), static_cast<int>(c.stdObserver)};
}
ValueKey keyOf(const hcf::HCFLuvColor& c) {
  return {c.L, c.u, c.v, static_cast<int>(c.illuminant), static_cast<int>(c.stdObserver)};
}
ValueKey keyOf(const hcf::HCFLchColor& c) {
  return {c.L, c.c, c.h, static_cast<int>(c.illuminant), static_cast<int>(c.stdObserver)};
}
ValueKey keyOf(const hcf::HCFRGBColor& c) {
  return {c.r, c.g, c.b, static_cast<int>(c.rgbSpace), 0};
}

// Colours are values: read-only, equal when their components (as numbers), illuminant and
// observer are, and hashed alike then, so that they serve as set members and dictionary keys.
template <typename Colour>
void byValue(py::class_<Colour>& cls) {
  cls.def("__eq__",
          [](const Colour& x, py::handle y) -> py::object {
            if (!py::isinstance<Colour>(y)) {
              return py::reinterpret_borrow<py::object>(Py_NotImplemented);
            }
            return py::bool_(keyOf(x) == keyOf(y.cast<const Colour&>()));
          })
      .def("__hash__", [](const Colour& c) {
        const auto [x, y, z, i, o] = keyOf(c);
        return py::hash(py::make_tuple(x, y, z, i, o));
      });
}

void bindLab(py::module_& m) {
  py::class_<hcf::HCFLabColor> lab(
      m, "Lab", "A CIELAB colour under an illuminant and observer (hcf::HCFLabColor).");
  lab.def(py::init([](double L, double a, double b, HCFIlluminant i, HCFStdObserver o) {
            return hcf::HCFLabColor::labColorWithL(finite(L, "L"), finite(a, "a"), finite(b, "b"),
                                                   i, o);
          }),
          "L"_a, "a"_a, "b"_a, py::kw_only(), "illuminant"_a = HCFIlluminant::D50,
          "observer"_a = HCFStdObserver::TwoDegree, "HCFLabColor::labColorWithL")
      .def_readonly("L", &hcf::HCFLabColor::L, "lightness L*")
      .def_readonly("a", &hcf::HCFLabColor::A, "a*")
      .def_readonly("b", &hcf::HCFLabColor::B, "b*")
      .def_readonly("illuminant", &hcf::HCFLabColor::illuminant)
      .def_readonly("observer", &hcf::HCFLabColor::stdObserver, "HCFLabColor::stdObserver")
      .def("to_illuminant", &hcf::HCFLabColor::toLabWithIlluminant, "illuminant"_a,
           "The same colour under another illuminant, Bradford-adapted "
           "(HCFLabColor::toLabWithIlluminant).")
      .def("xyz", &hcf::HCFLabColor::XYZColor, "CIE XYZ, white Y = 100 (HCFLabColor::XYZColor).")
      .def("lch", &hcf::HCFLabColor::lchColor, "LCh (HCFLabColor::lchColor).")
      .def("rgb", &hcf::HCFLabColor::rgbColor, "sRGB, clamped to 0-1 (HCFLabColor::rgbColor).")
      .def_property_readonly(
          "hex", &hcf::HCFLabColor::hex,
          "Six upper-case hexadecimal digits of the sRGB colour (HCFLabColor::hex).")
      .def(
          "delta_e",
          [](const hcf::HCFLabColor& self, py::handle other, hcf::HCFDeltaEMethod method) {
            return hcf::HTColorUtils::deltaEForSample(self, labOf(other, "the standard"), method);
          },
          "standard"_a, "method"_a = hcf::HCFDeltaEMethod::CIEDE2000,
          "The difference of this colour (the sample, which sets the weights of CMC and CIE94) "
          "from `standard` (HTColorUtils::deltaEForSample).")
      .def(
          "to_dict",
          [](const hcf::HCFLabColor& self) {
            return toPython(hcf::HCFTintVaultSerialization::labColorToDictionary(self));
          },
          "The kit's dictionary form (HCFTintVaultSerialization::labColorToDictionary).")
      .def_static(
          "from_dict",
          [](py::handle d) {
            return takeArgument(
                hcf::HCFTintVaultSerialization::labColorFromDictionary(fromPython(d)));
          },
          "dictionary"_a, "HCFTintVaultSerialization::labColorFromDictionary.")
      .def("__iter__",
           [](const hcf::HCFLabColor& c) { return py::iter(py::make_tuple(c.L, c.A, c.B)); })
      .def("__repr__", [](const hcf::HCFLabColor& c) {
        return "hcf.Lab(" + number(c.L) + ", " + number(c.A) + ", " + number(c.B) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });
  byValue(lab);
}

void bindOtherColours(py::module_& m) {
  py::class_<hcf::HCFXYZColor> xyz(
      m, "XYZ", "CIE XYZ, white Y = 100, under an illuminant and observer (hcf::HCFXYZColor).");
  byValue(xyz);
  xyz.def(py::init([](double X, double Y, double Z, HCFIlluminant i, HCFStdObserver o) {
            return hcf::HCFXYZColor::XYZColorWithX(finite(X, "X"), finite(Y, "Y"), finite(Z, "Z"),
                                                   i, o);
          }),
          "X"_a, "Y"_a, "Z"_a, py::kw_only(), "illuminant"_a = HCFIlluminant::D50,
          "observer"_a = HCFStdObserver::TwoDegree)
      .def_readonly("X", &hcf::HCFXYZColor::X)
      .def_readonly("Y", &hcf::HCFXYZColor::Y)
      .def_readonly("Z", &hcf::HCFXYZColor::Z)
      .def_readonly("illuminant", &hcf::HCFXYZColor::illuminant)
      .def_readonly("observer", &hcf::HCFXYZColor::stdObserver)
      .def("to_illuminant", &hcf::HCFXYZColor::toXYZWithIlluminant, "illuminant"_a,
           "Bradford adaptation (HCFXYZColor::toXYZWithIlluminant).")
      .def("lab", &hcf::HCFXYZColor::toLab, "HCFXYZColor::toLab")
      .def("luv", &hcf::HCFXYZColor::toLUV, "HCFXYZColor::toLUV")
      .def("lch", &hcf::HCFXYZColor::toLCH, "HCFXYZColor::toLCH")
      .def(
          "rgb",
          [](const hcf::HCFXYZColor& c) { return c.RGBColorInSpace(hcf::HCFRGBSpace::sRGB); },
          "sRGB, clamped to 0-1 (HCFXYZColor::RGBColorInSpace)")
      .def("__iter__",
           [](const hcf::HCFXYZColor& c) { return py::iter(py::make_tuple(c.X, c.Y, c.Z)); })
      .def("__repr__", [](const hcf::HCFXYZColor& c) {
        return "hcf.XYZ(" + number(c.X) + ", " + number(c.Y) + ", " + number(c.Z) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });

  py::class_<hcf::HCFLuvColor> luv(m, "Luv", "CIELUV (hcf::HCFLuvColor).");
  byValue(luv);
  luv.def(py::init([](double L, double u, double v, HCFIlluminant i, HCFStdObserver o) {
            return hcf::HCFLuvColor::luvColorWithL(finite(L, "L"), finite(u, "u"), finite(v, "v"),
                                                   i, o);
          }),
          "L"_a, "u"_a, "v"_a, py::kw_only(), "illuminant"_a = HCFIlluminant::D50,
          "observer"_a = HCFStdObserver::TwoDegree)
      .def_readonly("L", &hcf::HCFLuvColor::L)
      .def_readonly("u", &hcf::HCFLuvColor::u)
      .def_readonly("v", &hcf::HCFLuvColor::v)
      .def_readonly("illuminant", &hcf::HCFLuvColor::illuminant)
      .def_readonly("observer", &hcf::HCFLuvColor::stdObserver)
      .def("xyz", &hcf::HCFLuvColor::toXYZ, "HCFLuvColor::toXYZ")
      .def("__iter__",
           [](const hcf::HCFLuvColor& c) { return py::iter(py::make_tuple(c.L, c.u, c.v)); })
      .def("__repr__", [](const hcf::HCFLuvColor& c) {
        return "hcf.Luv(" + number(c.L) + ", " + number(c.u) + ", " + number(c.v) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });

  py::class_<hcf::HCFLchColor> lch(m, "LCh",
                                   "Lightness, chroma, hue angle in degrees (hcf::HCFLchColor).");
  byValue(lch);
  lch.def(py::init([](double L, double c, double h, HCFIlluminant i, HCFStdObserver o) {
            return hcf::HCFLchColor::LchColorWithL(finite(L, "L"), finite(c, "c"), finite(h, "h"),
                                                   i, o);
          }),
          "L"_a, "c"_a, "h"_a, py::kw_only(), "illuminant"_a = HCFIlluminant::D50,
          "observer"_a = HCFStdObserver::TwoDegree)
      .def_readonly("L", &hcf::HCFLchColor::L)
      .def_readonly("c", &hcf::HCFLchColor::c)
      .def_readonly("h", &hcf::HCFLchColor::h)
      .def_readonly("illuminant", &hcf::HCFLchColor::illuminant)
      .def_readonly("observer", &hcf::HCFLchColor::stdObserver)
      .def("lab", &hcf::HCFLchColor::toLAB, "HCFLchColor::toLAB")
      .def("__iter__",
           [](const hcf::HCFLchColor& c) { return py::iter(py::make_tuple(c.L, c.c, c.h)); })
      .def("__repr__", [](const hcf::HCFLchColor& c) {
        return "hcf.LCh(" + number(c.L) + ", " + number(c.c) + ", " + number(c.h) + ", " +
               enumNames(c.illuminant, c.stdObserver) + ")";
      });

  py::class_<hcf::HCFRGBColor> rgb(m, "RGB",
                                   "An sRGB colour, components 0 to 1 (hcf::HCFRGBColor).");
  byValue(rgb);
  rgb.def(py::init([](double r, double g, double b) {
            return hcf::HCFRGBColor::rgbColorWithR(finite(r, "r"), finite(g, "g"), finite(b, "b"),
                                                   hcf::HCFRGBSpace::sRGB);
          }),
          "r"_a, "g"_a, "b"_a, "HCFRGBColor::rgbColorWithR")
      .def_readonly("r", &hcf::HCFRGBColor::r)
      .def_readonly("g", &hcf::HCFRGBColor::g)
      .def_readonly("b", &hcf::HCFRGBColor::b)
      .def_property_readonly("hex", &hcf::HCFRGBColor::hex, "HCFRGBColor::hex")
      .def_property_readonly(
          "rgb255",
          [](const hcf::HCFRGBColor& c) { return py::make_tuple(c.r255(), c.g255(), c.b255()); },
          "The components times 255, not rounded (HCFRGBColor::r255, g255, b255).")
      .def("lab", &hcf::HCFRGBColor::labColor, "illuminant"_a = HCFIlluminant::D50,
           "CIELAB under `illuminant`, 2° observer (HCFRGBColor::labColor).")
      .def("__iter__",
           [](const hcf::HCFRGBColor& c) { return py::iter(py::make_tuple(c.r, c.g, c.b)); })
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
      std::array<double, 3> v{};
      try {
        for (std::size_t i = 0; i < 3; ++i) v[i] = items[i].cast<double>();
      } catch (const py::cast_error&) {
        throw py::type_error(std::string(what) + " is an hcf.Lab or three numbers (L, a, b)");
      }
      for (const double x : v) {
        if (!std::isfinite(x)) {
          throw py::value_error(std::string(what) +
                                " holds a number that is not finite: " + number(x));
        }
      }
      return hcf::HCFLabColor{v[0], v[1], v[2]};
    }
  }
  throw py::type_error(std::string(what) + " is an hcf.Lab or three numbers (L, a, b)");
}

void bindColor(py::module_& m) {
  bindLab(m);
  bindOtherColours(m);

  m.def(
      "delta_e",
      [](py::handle sample, py::handle standard, hcf::HCFDeltaEMethod method) -> py::object {
        if (isColourArray(sample) || isColourArray(standard)) {
          return deltaEEach(sample, standard, method);
        }
        return py::float_(hcf::HTColorUtils::deltaEForSample(
            labOf(sample, "the sample"), labOf(standard, "the standard"), method));
      },
      "sample"_a, "standard"_a, "method"_a = hcf::HCFDeltaEMethod::CIEDE2000,
      "The colour difference of two Lab colours (hcf.Lab or (L, a, b)); the sample sets the "
      "weights of CMC and CIE94 (HTColorUtils::deltaEForSample). With NumPy arrays of shape "
      "(..., 3) (D50, 2°), the differences pair by pair, shape (...): both arrays of one shape, "
      "or one of them a single colour.");
  m.def(
      "lab_to_xyz",
      [](py::handle lab, HCFIlluminant illuminant, HCFStdObserver observer) {
        return convertEach(lab, "the Lab colours", [=](double L, double a, double b) {
          const auto c = hcf::HCFLabColor::labColorWithL(L, a, b, illuminant, observer).XYZColor();
          return Triple{c.X, c.Y, c.Z};
        });
      },
      "lab"_a, py::kw_only(), "illuminant"_a = HCFIlluminant::D50,
      "observer"_a = HCFStdObserver::TwoDegree,
      "XYZ (white Y = 100) of an array of Lab colours, shape (..., 3), as Lab.xyz gives each "
      "(HCFLabColor::XYZColor).");
  m.def(
      "xyz_to_lab",
      [](py::handle xyz, HCFIlluminant illuminant, HCFStdObserver observer) {
        return convertEach(xyz, "the XYZ colours", [=](double X, double Y, double Z) {
          const auto c = hcf::HCFXYZColor::XYZColorWithX(X, Y, Z, illuminant, observer).toLab();
          return Triple{c.L, c.A, c.B};
        });
      },
      "xyz"_a, py::kw_only(), "illuminant"_a = HCFIlluminant::D50,
      "observer"_a = HCFStdObserver::TwoDegree,
      "Lab of an array of XYZ colours (white Y = 100), shape (..., 3), as XYZ.lab gives each "
      "(HCFXYZColor::toLab).");
  m.def(
      "lab_to_lch",
      [](py::handle lab) {
        return convertEach(lab, "the Lab colours", [](double L, double a, double b) {
          const auto c = hcf::HCFLabColor{L, a, b}.lchColor();
          return Triple{c.L, c.c, c.h};
        });
      },
      "lab"_a,
      "LCh (hue in degrees) of an array of Lab colours, shape (..., 3), as Lab.lch gives each "
      "(HCFLabColor::lchColor).");
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
        for (const double v : samples) finite(v, "a reflectance sample");
        return takeArgument(
            hcf::HCFCieSpectralMath::xyzFromSpectrum(samples, start, illuminant, observer));
      },
      "reflectance"_a, "start"_a = 400, "illuminant"_a = HCFIlluminant::D50,
      "observer"_a = HCFStdObserver::TwoDegree,
      "XYZ (white Y = 100) of reflectance samples every 10 nm from `start` nm "
      "(HCFCieSpectralMath::xyzFromSpectrum); hcf.ArgumentError (a ValueError) for samples "
      "past the tables' wavelengths.");
}

}  // namespace hcf_python
