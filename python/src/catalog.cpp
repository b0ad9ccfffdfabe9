// The product catalogue: products, filter pairs, search results, and a products store
// searched on the calling thread.
#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cstdio>

#include "module.h"

namespace hcf_python {

using namespace pybind11::literals;
using hcf::HCFIlluminant;
using hcf::HCFStdObserver;

namespace {

std::string text(const std::optional<std::string>& s) { return s.value_or(""); }

hcf::HCFProductKV kvOf(py::handle object) {
  if (py::isinstance<hcf::HCFProductKV>(object)) return object.cast<hcf::HCFProductKV>();
  if (py::isinstance<py::tuple>(object) || py::isinstance<py::list>(object)) {
    const auto items = py::reinterpret_borrow<py::sequence>(object);
    if (items.size() == 2 && py::isinstance<py::str>(items[0]) &&
        py::isinstance<py::str>(items[1])) {
      return hcf::HCFProductKV::kvWithKey(items[0].cast<std::string>(),
                                          items[1].cast<std::string>());
    }
  }
  throw py::type_error("a filter is an hcf.Filter or a (key, value) pair of texts");
}

// The colour a search starts from: a scan (with its colours per batch), a Lab colour (seen
// under D50, where the catalogue's reference colours are), three numbers (D50 Lab) or a hex
// text "#RRGGBB".
std::shared_ptr<const hcf::HCFColorSearchTerm> termOf(py::handle color) {
  if (py::isinstance<hcf::HCFColorScan>(color)) {
    return color.cast<std::shared_ptr<hcf::HCFColorScan>>();
  }
  auto term = std::make_shared<hcf::HCFGenericColorSearchTerm>();
  if (py::isinstance<py::str>(color)) {
    const std::string hex = color.cast<std::string>();
    const auto rgb = hcf::HCFRGBColor::rgbColorWithHex(hex);
    if (!rgb) throw py::value_error("a hex colour is \"#RRGGBB\", not '" + hex + "'");
    term->auxLab = rgb->labColor(HCFIlluminant::D50);
    return term;
  }
  const hcf::HCFLabColor lab = labOf(color, "the colour of a search");
  term->auxLab = lab.toLabWithIlluminant(HCFIlluminant::D50);
  return term;
}

py::dict attributesOf(const hcf::HCFHalvernCloudProduct& p) {
  py::dict out;
  for (const auto& kv : p.attributes.value_or(std::vector<hcf::HCFProductKV>{})) {
    if (!kv.key) continue;
    const py::str key(*kv.key);
    if (!out.contains(key)) out[key] = text(kv.val);
  }
  return out;
}

void bindKV(py::module_& m) {
  py::class_<hcf::HCFProductKV>(
      m, "Filter", "A product's key/value pair with its display texts (hcf::HCFProductKV).")
      .def(py::init(&hcf::HCFProductKV::kvWithKey), "key"_a, "value"_a, "HCFProductKV::kvWithKey")
      .def_property_readonly("key", [](const hcf::HCFProductKV& kv) { return text(kv.key); })
      .def_property_readonly("value", [](const hcf::HCFProductKV& kv) { return text(kv.val); })
      .def_property_readonly("key_translated",
                             [](const hcf::HCFProductKV& kv) { return text(kv.keyTranslated); })
      .def_property_readonly("value_translated",
                             [](const hcf::HCFProductKV& kv) { return text(kv.valTranslated); })
      .def(
          "to_dict",
          [](const hcf::HCFProductKV& kv) {
            return toPython(hcf::HCFTintVaultSerialization::kvToDictionary(kv));
          },
          "HCFTintVaultSerialization::kvToDictionary")
      .def(
          "__eq__",
          [](const hcf::HCFProductKV& a, py::handle b) {
            return py::isinstance<hcf::HCFProductKV>(b) && a == b.cast<hcf::HCFProductKV>();
          },
          "Key and value equal; the translations do not count.")
      .def("__hash__",
           [](const hcf::HCFProductKV& kv) { return static_cast<py::ssize_t>(kv.hash()); })
      .def("__repr__", [](const hcf::HCFProductKV& kv) {
        return "hcf.Filter(" + py::repr(py::str(text(kv.key))).cast<std::string>() + ", " +
               py::repr(py::str(text(kv.val))).cast<std::string>() + ")";
      });
}

void bindProduct(py::module_& m) {
  using P = hcf::HCFHalvernCloudProduct;
  py::class_<P>(m, "Product", "A catalogue product (hcf::HCFHalvernCloudProduct).")
      .def_property_readonly("uuid", [](const P& p) { return text(p.uuid); })
      .def_property_readonly("code", &P::code)
      .def_property_readonly("name", &P::name)
      .def_property_readonly("vendor", &P::vendor)
      .def_property_readonly("collection", &P::collection)
      .def_property_readonly("attributes", &attributesOf,
                             "{key: value} of the product's attributes, first of each key.")
      .def_property_readonly(
          "filters",
          [](const P& p) { return p.filters.value_or(std::vector<hcf::HCFProductKV>{}); },
          "The product's filter pairs.")
      .def_property_readonly(
          "colors", &P::colors,
          "The reference colours (batch \"adjusted\") as Labs (HCFHalvernCloudProduct::colors).")
      .def_property_readonly(
          "hex",
          [](const P& p) -> std::optional<std::string> {
            const auto colors = p.colors();
            if (colors.empty()) return std::nullopt;
            return colors.front().hex();
          },
          "The first colour's hex, or None.")
      .def(
          "batched_labs",
          [](const P& p, const std::optional<std::string>& illuminant,
             const std::optional<std::string>& observer) {
            py::list out;
            for (const auto& entry : p.batchedLabsWithIllum(illuminant, observer)) {
              out.append(py::make_tuple(entry.batch, entry.lab));
            }
            return out;
          },
          "illuminant"_a = py::none(), "observer"_a = py::none(),
          "The measured colours other than the reference, as (batch, Lab) "
          "(HCFHalvernCloudProduct::batchedLabsWithIllum).")
      .def(
          "to_dict",
          [](const P& p) {
            return toPython(hcf::HCFTintVaultSerialization::productToDictionary(p));
          },
          "The kit's product dictionary (HCFTintVaultSerialization::productToDictionary).")
      .def_static(
          "from_dict",
          [](py::handle d) {
            return hcf::HCFTintVaultSerialization::productFromDictionary(fromPython(d));
          },
          "dictionary"_a, "HCFTintVaultSerialization::productFromDictionary")
      .def("__eq__",
           [](const P& a, py::handle b) {
             return py::isinstance<P>(b) && a.isEqualToProduct(b.cast<P>());
           })
      .def("__repr__",
           [](const P& p) {
             return "hcf.Product(" + py::repr(py::str(p.code())).cast<std::string>() + ", " +
                    py::repr(py::str(p.name())).cast<std::string>() + ")";
           })
      .def("__str__", &P::description);
  py::setattr(m.attr("Product"), "__hash__", py::none());

  py::class_<hcf::HCFProductSearchResult>(m, "SearchResult",
                                          "A search hit (hcf::HCFProductSearchResult).")
      .def_readonly("product", &hcf::HCFProductSearchResult::product)
      .def_property_readonly(
          "delta_e",
          [](const hcf::HCFProductSearchResult& r) -> std::optional<double> {
            if (!r.deltaE) return std::nullopt;
            return static_cast<double>(*r.deltaE);
          },
          "The colour difference (single precision, as ranked), or None for other searches.")
      .def(
          "to_dict",
          [](const hcf::HCFProductSearchResult& r) {
            return toPython(hcf::HCFTintVaultSerialization::productSearchResultToDictionary(r));
          },
          "HCFTintVaultSerialization::productSearchResultToDictionary")
      .def("__repr__", [](const hcf::HCFProductSearchResult& r) {
        return "<hcf.SearchResult " + r.description() + ">";
      });
}

}  // namespace

hcf::HCFProductSearch searchOf(const SearchArgs& a) {
  hcf::HCFProductSearch search = a.inspirations ? hcf::HCFProductSearch::inspirationsSearch()
                                                : hcf::HCFProductSearch::productSearch();
  if (!a.color.is_none()) search.colorTerm = termOf(a.color);
  search.textTerm = a.text;
  if (!a.filters.is_none()) {
    std::vector<hcf::HCFProductKV> pairs;
    for (const auto& item : py::iter(a.filters)) pairs.push_back(kvOf(item));
    search.filters = std::move(pairs);
  }
  search.colorSearchOptions = {a.method, a.illuminant, a.observer};
  search.limit = a.limit;
  search.skip = a.skip;
  if (!a.sort.is_none()) {
    std::vector<hcf::HCFProductSearchSortDescriptor> sort;
    for (const auto& item : py::iter(a.sort)) {
      if (py::isinstance<py::str>(item)) {
        sort.push_back({item.cast<std::string>(), true});
      } else {
        const auto pair = item.cast<std::pair<std::string, bool>>();
        sort.push_back({pair.first, pair.second});
      }
    }
    search.sortDescriptors = std::move(sort);
  }
  return search;
}

std::vector<hcf::HCFProductKV> kvsOf(py::handle pairs) {
  std::vector<hcf::HCFProductKV> out;
  for (const auto& item : py::iter(pairs)) out.push_back(kvOf(item));
  return out;
}

void bindCatalog(py::module_& m) {
  bindKV(m);
  bindProduct(m);
  py::class_<hcf::HCFProductCatalog> catalog(
      m, "Catalog",
      "A products store file searched on the calling thread (hcf::HCFProductCatalog): a "
      "downloaded catalogue, or one made with `hcf catalog build`.");
  catalog
      .def(py::init([](const std::filesystem::path& file) {
             return take(hcf::HCFProductCatalog::open(file));
           }),
           "store"_a,
           "Opens a products store; hcf.Error when it is not one (HCFProductCatalog::open).")
      .def_property_readonly("file", &hcf::HCFProductCatalog::file)
      .def(
          "__len__", [](const hcf::HCFProductCatalog& c) { return take(c.count()); },
          "How many products, inspirations included (HCFProductCatalog::count).")
      .def(
          "filter_values",
          [](const hcf::HCFProductCatalog& c, py::handle selected, bool inspirations) {
            const auto pairs = kvsOf(selected);
            py::gil_scoped_release unlocked;
            return take(c.filterValues(inspirations, pairs));
          },
          "selected"_a = py::tuple(), "inspirations"_a = false,
          "The filter pairs of the products that pass `selected` (any value of a key, every "
          "key); all of them when none is selected (HCFProductCatalog::filterValues).")
      .def("__repr__", [](const hcf::HCFProductCatalog& c) {
        return "hcf.Catalog(" + py::repr(py::cast(c.file())).cast<std::string>() + ")";
      });
  catalog.def(
      "search",
      [](const hcf::HCFProductCatalog& c, py::object color, std::optional<std::string> text,
         py::object filters, bool inspirations, hcf::HCFDeltaEMethod method,
         HCFIlluminant illuminant, HCFStdObserver observer, std::uint64_t limit, std::uint64_t skip,
         py::object sort) {
        const auto search =
            searchOf({std::move(color), std::move(text), std::move(filters), inspirations, method,
                      illuminant, observer, limit, skip, std::move(sort)});
        py::gil_scoped_release unlocked;
        return take(c.search(search));
      },
      HCF_PYTHON_SEARCH_ARGS,
      "Colour search when `color` is given (an hcf.Lab, (L, a, b) under D50, \"#RRGGBB\" or an "
      "hcf.Scan), else text search when `text` is, else all products; with `filters` (hcf.Filter "
      "or (key, value)), the colour difference `method` under `illuminant` and `observer`, "
      "paging, and `sort` [(key, ascending)] for text and all-products results "
      "(HCFProductCatalog::search).");
}

}  // namespace hcf_python
