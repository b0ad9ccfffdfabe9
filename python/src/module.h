// What the parts of the Python module share: the kit's errors as Python exceptions, the JSON
// forms as Python objects, and the colour enumerations as the module's IntEnums.
#pragma once

#include <hcf/hcf.h>
#include <pybind11/pybind11.h>

#include <string>
#include <utility>

namespace hcf_python {

namespace py = pybind11;

/// A kit error on its way to Python, where it becomes `hcf.Error` (or a subclass) carrying the
/// error's domain, code and message. An error about the call's own arguments becomes
/// `hcf.ArgumentError`, which is also a ValueError.
struct KitError {
  hcf::HCFError error;
  bool argument = false;
};

/// The value of `result`, or its error raised as `hcf.Error`.
template <typename T>
T take(hcf::Result<T>&& result) {
  if (!result) throw KitError{result.error()};
  return std::move(result).value();
}

/// The value of `result`, or its error raised as `hcf.ArgumentError`: for kit calls that fail
/// only for what they were given (samples out of range, a dictionary that does not read).
template <typename T>
T takeArgument(hcf::Result<T>&& result) {
  if (!result) throw KitError{result.error(), true};
  return std::move(result).value();
}

/// `value`, or ValueError naming `what` when it is NaN or infinite.
double finite(double value, const char* what);

/// The Python form of a JSON value (dict, list, str, int, float, bool, None).
py::object toPython(const hcf::JsonValue& value);
/// The JSON value of a Python object made of those types; ValueError for anything else, and for
/// structures nested deeper than the kit reads (which includes structures that hold themselves).
hcf::JsonValue fromPython(py::handle object);

/// A Lab colour from an `hcf.Lab` or three numbers (L, a, b; D50, 2°); TypeError naming `what`
/// for anything else, ValueError for numbers that are not finite.
hcf::HCFLabColor labOf(py::handle object, const char* what);

/// What a product search takes from Python (catalogue and kit searches alike).
struct SearchArgs {
  py::object color;
  std::optional<std::string> text;
  py::object filters;
  bool inspirations = false;
  hcf::HCFDeltaEMethod method = hcf::HCFDeltaEMethod::CIEDE2000;
  hcf::HCFIlluminant illuminant = hcf::HCFIlluminant::D50;
  hcf::HCFStdObserver observer = hcf::HCFStdObserver::TwoDegree;
  std::uint64_t limit = 50;
  std::uint64_t skip = 0;
  py::object sort;
};
/// The search the arguments describe; TypeError or ValueError for arguments it cannot take.
hcf::HCFProductSearch searchOf(const SearchArgs& args);
/// Filter pairs from hcf.Filter objects or (key, value) pairs.
std::vector<hcf::HCFProductKV> kvsOf(py::handle pairs);

/// The Python signature of a search: (color=None, *, text, filters, inspirations, method,
/// illuminant, observer, limit, skip, sort).
#define HCF_PYTHON_SEARCH_ARGS                                                 \
  py::arg("color") = py::none(), py::kw_only(), py::arg("text") = py::none(),  \
  py::arg("filters") = py::none(), py::arg("inspirations") = false,            \
  py::arg("method") = hcf::HCFDeltaEMethod::CIEDE2000,                         \
  py::arg("illuminant") = hcf::HCFIlluminant::D50,                             \
  py::arg("observer") = hcf::HCFStdObserver::TwoDegree, py::arg("limit") = 50, \
  py::arg("skip") = 0, py::arg("sort") = py::none()

/// A class of the module's Python part (`hcf._types`, loaded before the extension): the
/// enumerations and the exception classes.
py::object moduleAttr(const char* name);

void bindColor(py::module_& m);
void bindScans(py::module_& m);
void bindCatalog(py::module_& m);
void bindKit(py::module_& m);

}  // namespace hcf_python

// The three colour enumerations cross as the module's IntEnums (`hcf.Illuminant`,
// `hcf.Observer`, `hcf.DeltaE`) and are read from those, from their integers, and from names
// ("D65", "10", "10°", "cmc21", ...). A value outside the enumeration is a ValueError: the kit's
// own text readers map unknown names to defaults, which in a script hides a typing slip.
namespace pybind11::detail {

hcf::HCFIlluminant illuminantFrom(handle src);
hcf::HCFStdObserver observerFrom(handle src);
hcf::HCFDeltaEMethod deltaEMethodFrom(handle src);

// One caster per enumeration: read as above, written as the IntEnum member.
#define HCF_PYTHON_ENUM_CASTER(Enum, Read, PyName)                                   \
  template <>                                                                        \
  struct type_caster<Enum> {                                                         \
    PYBIND11_TYPE_CASTER(Enum, const_name("hcf." PyName));                           \
    bool load(handle src, bool) {                                                    \
      if (!src || src.is_none()) return false;                                       \
      value = Read(src);                                                             \
      return true;                                                                   \
    }                                                                                \
    static handle cast(Enum e, return_value_policy, handle) {                        \
      return hcf_python::moduleAttr(PyName)(static_cast<std::int64_t>(e)).release(); \
    }                                                                                \
  };

HCF_PYTHON_ENUM_CASTER(hcf::HCFIlluminant, illuminantFrom, "Illuminant")
HCF_PYTHON_ENUM_CASTER(hcf::HCFStdObserver, observerFrom, "Observer")
HCF_PYTHON_ENUM_CASTER(hcf::HCFDeltaEMethod, deltaEMethodFrom, "DeltaE")
#undef HCF_PYTHON_ENUM_CASTER

}  // namespace pybind11::detail
