// The extension module `hcf._hcf`: error translation, the JSON forms and the enumerations;
// the bindings themselves live in one file per area.
#include "module.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>

namespace hcf_python {

namespace {

// As deep as the kit reads JSON from files and the network.
constexpr int kMaxJsonDepth = 512;

hcf::JsonValue fromPythonAt(py::handle object, int depth) {
  if (depth > kMaxJsonDepth) {
    throw py::value_error("the structure is nested more than 512 levels deep (or holds itself)");
  }
  if (object.is_none()) return nullptr;
  if (PyBool_Check(object.ptr())) return object.cast<bool>();
  if (PyLong_Check(object.ptr())) {
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(object.ptr(), &overflow);
    if (overflow == 0) return static_cast<std::int64_t>(v);
    if (overflow > 0) {
      const unsigned long long u = PyLong_AsUnsignedLongLong(object.ptr());
      if (!PyErr_Occurred()) return static_cast<std::uint64_t>(u);
      PyErr_Clear();
    }
    throw py::value_error("an integer of the structure is too large for JSON numbers");
  }
  if (PyFloat_Check(object.ptr())) return object.cast<double>();
  if (PyUnicode_Check(object.ptr())) return object.cast<std::string>();
  if (PyDict_Check(object.ptr())) {
    hcf::JsonValue out = hcf::JsonValue::object();
    for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(object)) {
      if (!PyUnicode_Check(key.ptr())) {
        throw py::value_error("a key of the structure is not text: " +
                              py::repr(key).cast<std::string>());
      }
      out[key.cast<std::string>()] = fromPythonAt(value, depth + 1);
    }
    return out;
  }
  if (PyList_Check(object.ptr()) || PyTuple_Check(object.ptr())) {
    hcf::JsonValue out = hcf::JsonValue::array();
    for (const auto& item : py::reinterpret_borrow<py::sequence>(object)) {
      out.push_back(fromPythonAt(item, depth + 1));
    }
    return out;
  }
  // NumPy scalars and other numbers: integers first, then anything with a float value.
  if (PyIndex_Check(object.ptr()))
    return fromPythonAt(py::reinterpret_steal<py::object>(PyNumber_Index(object.ptr())), depth);
  if (PyNumber_Check(object.ptr()))
    return py::float_(py::reinterpret_borrow<py::object>(object)).cast<double>();
  throw py::value_error("not a JSON value: " + py::repr(object).cast<std::string>());
}

// The value of a name read by the kit's name parser; its refusal (which lists the names there
// are) as ValueError.
template <typename Value>
Value named(const hcf::Result<Value>& parsed) {
  if (!parsed) throw py::value_error(parsed.error().localizedDescription);
  return *parsed;
}

// An integer argument (not a bool, which Python also counts as one), or nothing.
std::optional<long long> integerOf(py::handle src) {
  if (PyBool_Check(src.ptr()) || !PyLong_Check(src.ptr())) return std::nullopt;
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(src.ptr(), &overflow);
  if (overflow != 0) return std::numeric_limits<long long>::max();
  return v;
}

[[noreturn]] void wrongType(py::handle src, const char* what) {
  throw py::type_error(std::string(what) + ", not " +
                       py::str(py::type::handle_of(src).attr("__name__")).cast<std::string>());
}

}  // namespace

py::object toPython(const hcf::JsonValue& value) {
  switch (value.type()) {
    case hcf::JsonValue::value_t::null:
    case hcf::JsonValue::value_t::discarded:
      return py::none();
    case hcf::JsonValue::value_t::boolean:
      return py::bool_(value.get<bool>());
    case hcf::JsonValue::value_t::number_integer:
      return py::int_(value.get<std::int64_t>());
    case hcf::JsonValue::value_t::number_unsigned:
      return py::int_(value.get<std::uint64_t>());
    case hcf::JsonValue::value_t::number_float:
      return py::float_(value.get<double>());
    case hcf::JsonValue::value_t::string:
      return py::str(value.get_ref<const std::string&>());
    case hcf::JsonValue::value_t::array: {
      py::list out;
      for (const auto& item : value) out.append(toPython(item));
      return out;
    }
    case hcf::JsonValue::value_t::object: {
      py::dict out;
      for (const auto& [key, item] : value.items()) out[py::str(key)] = toPython(item);
      return out;
    }
    case hcf::JsonValue::value_t::binary:
      break;
  }
  return py::none();
}

hcf::JsonValue fromPython(py::handle object) { return fromPythonAt(object, 0); }

py::object moduleAttr(const char* name) { return py::module_::import("hcf._types").attr(name); }

double finite(double value, const char* what) {
  if (!std::isfinite(value)) {
    throw py::value_error(std::string(what) + " is not a finite number: " +
                          py::repr(py::float_(value)).cast<std::string>());
  }
  return value;
}

}  // namespace hcf_python

namespace pybind11::detail {

hcf::HCFIlluminant illuminantFrom(handle src) {
  if (PyUnicode_Check(src.ptr()))
    return hcf_python::named(hcf::illuminantNamed(src.cast<std::string>()));
  if (const auto v = hcf_python::integerOf(src)) {
    const auto illuminant = static_cast<hcf::HCFIlluminant>(*v);
    if (!hcf::isKnownIlluminant(illuminant)) {
      throw value_error("illuminant " + std::to_string(*v) + " is not one of 0 to 7");
    }
    return illuminant;
  }
  hcf_python::wrongType(src, "an illuminant is an hcf.Illuminant, its name or its number");
}

hcf::HCFStdObserver observerFrom(handle src) {
  if (PyUnicode_Check(src.ptr()))
    return hcf_python::named(hcf::observerNamed(src.cast<std::string>()));
  if (const auto v = hcf_python::integerOf(src)) {
    // The enumeration's values (0, 1) and the observers' angles (2, 10).
    if (*v == 0 || *v == 2) return hcf::HCFStdObserver::TwoDegree;
    if (*v == 1 || *v == 10) return hcf::HCFStdObserver::TenDegree;
    throw value_error("observer " + std::to_string(*v) + " is neither the 2° nor the 10° observer");
  }
  hcf_python::wrongType(src, "an observer is an hcf.Observer, \"2\" or \"10\"");
}

hcf::HCFDeltaEMethod deltaEMethodFrom(handle src) {
  using M = hcf::HCFDeltaEMethod;
  if (PyUnicode_Check(src.ptr()))
    return hcf_python::named(hcf::deltaEMethodNamed(src.cast<std::string>()));
  if (const auto v = hcf_python::integerOf(src)) {
    if (*v < 0 || *v > 4) {
      throw value_error("colour-difference method " + std::to_string(*v) + " is not one of 0 to 4");
    }
    return static_cast<M>(*v);
  }
  hcf_python::wrongType(src, "a colour-difference method is an hcf.DeltaE or its name");
}

}  // namespace pybind11::detail

PYBIND11_MODULE(_hcf, m) {
  using namespace hcf_python;
  m.doc() = "The hcf kit's colour science, catalogue, scans and instruments (C++ namespace hcf).";
  m.attr("__version__") = hcf::version();

  py::register_exception_translator([](std::exception_ptr p) {
    try {
      if (p) std::rethrow_exception(p);
    } catch (const KitError& e) {
      const auto& error = e.error;
      const py::object exception = moduleAttr("Error").attr("_from_kit")(
          error.domain, error.code, error.localizedDescription, error.localizedFailureReason,
          error.localizedRecoverySuggestion, e.argument);
      PyErr_SetObject(py::type::handle_of(exception).ptr(), exception.ptr());
    } catch (const hcf::HCFException& e) {
      // The kit's programming errors are arguments no caller may pass.
      PyErr_SetString(PyExc_ValueError, (e.name() + ": " + e.what()).c_str());
    }
  });

  bindColor(m);
  bindScans(m);
  bindCatalog(m);
  bindKit(m);
}
