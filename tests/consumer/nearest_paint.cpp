// The nearest paints to a colour, from a products store: nearest_paint STORE L a b
#include <hcf/hcf.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: nearest_paint STORE L a b\n");
    return 2;
  }
  auto catalog = hcf::HCFProductCatalog::open(argv[1]);
  if (!catalog.ok()) {
    std::fprintf(stderr, "%s\n", catalog.error().localizedDescription.c_str());
    return 1;
  }
  auto term = std::make_shared<hcf::HCFGenericColorSearchTerm>();
  term->auxLab = hcf::HCFLabColor::labColorWithL(std::atof(argv[2]), std::atof(argv[3]),
                                                 std::atof(argv[4]), hcf::HCFIlluminant::D50);
  auto search = hcf::HCFProductSearch::productSearch();
  search.colorTerm = term;  // CIEDE2000 under D50, 2 degrees, by default
  search.limit = 5;
  const auto results = catalog->search(search);
  if (!results.ok()) {
    std::fprintf(stderr, "%s\n", results.error().localizedDescription.c_str());
    return 1;
  }
  for (const auto& r : *results) {
    std::printf("%-12s %-30s dE00 %.2f\n", r.product.code().c_str(), r.product.name().c_str(),
                static_cast<double>(*r.deltaE));
  }
  return results->empty() ? 1 : 0;
}
