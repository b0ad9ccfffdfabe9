// Downloads the product catalogue when the cloud has a newer one, then searches it: the facets
// of the filter panel, a text search narrowed by the first facet, and the products nearest a
// colour.
//
//   catalog              the cloud of HCF_CLOUD_URL with the key of HCF_SDK_KEY
//   catalog --simulated  the reference cloud of the test kit, with a generated catalogue
//
// Written with the kit's completions, driven by a plain poll() loop on the main thread: every
// completion runs inside `pollAndRunDue`, one step starting the next.
#include <hcf/hcf.h>
#include <hcf/platform/dispatch/poll_loop.h>
#include <hcf/testing/test_kit.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

namespace {

class CatalogTour : public hcf::HCFProductDownloaderDelegate,
                    public std::enable_shared_from_this<CatalogTour> {
 public:
  bool finished() const { return finished_; }
  int status() const { return status_; }

  void start(const std::string& sdkKey) {
    hcf::HCFCentral::initWith(sdkKey, [self = shared_from_this()](auto error) {
      if (error) return self->fail("start", *error);
      self->checkDownload();
    });
  }

  // The download's progress and end, on the main queue.
  void productDownloaderDidUpdateProgress(float progress) override {
    const int percent = static_cast<int>(progress * 100);
    if (percent / 25 != lastQuarter_) {
      lastQuarter_ = percent / 25;
      std::printf("  downloaded %d %%\n", percent);
    }
  }
  void productDownloaderDidComplete() override { browse(); }
  void productDownloaderDidFailWithError(const hcf::HCFError& error) override {
    fail("download", error);
  }

 private:
  void checkDownload() {
    hcf::HCFCentral::productManager()->checkIfProductDownloadRequired(
        [self = shared_from_this()](bool required, auto error) {
          if (error)
            std::printf("The catalogue's status is unknown (%s)\n",
                        error->localizedDescription.c_str());
          if (!required) return self->browse();
          std::printf("Downloading the catalogue\n");
          hcf::HCFCentral::productManager()->downloadProductsWithDelegate(self);
        });
  }

  void browse() {
    hcf::HCFCentral::productManager()->countDownloadedProducts([](std::uint64_t count, auto) {
      std::printf("%llu products\n", static_cast<unsigned long long>(count));
    });
    hcf::HCFProductSearch::fetchProductFilters([self = shared_from_this()](auto panel, auto error) {
      if (error) return self->fail("filter panel", *error);
      const auto facets = panel->allFilters();
      std::printf("%zu facet values, for example:\n", facets.size());
      for (std::size_t i = 0; i < facets.size() && i < 3; ++i) {
        std::printf("  %s = %s\n", facets[i].keyTranslated.value_or("").c_str(),
                    facets[i].valTranslated.value_or("").c_str());
      }
      if (facets.empty())
        return self->fail("filter panel",
                          hcf::HTUtility::invalidDataError("the catalogue has no facets"));
      self->searchWithin(facets.front());
    });
  }

  void searchWithin(const hcf::HCFProductKV& facet) {
    auto search = hcf::HCFProductSearch::productSearch();
    search.filters = std::vector<hcf::HCFProductKV>{facet};
    search.limit = 3;
    search.execute([self = shared_from_this(), facet](auto results, auto error) {
      if (error) return self->fail("search by facet", *error);
      std::printf("First products with %s = %s:\n", facet.key.value_or("").c_str(),
                  facet.val.value_or("").c_str());
      for (const auto& r : results) std::printf("  %s\n", r.product.name().c_str());
      self->searchNearest();
    });
  }

  void searchNearest() {
    auto term = std::make_shared<hcf::HCFGenericColorSearchTerm>();
    term->auxLab = hcf::HCFLabColor::labColorWithL(62, 8, 24, hcf::HCFIlluminant::D50);
    auto search = hcf::HCFProductSearch::productSearch();
    search.colorTerm = term;
    search.limit = 3;
    search.execute([self = shared_from_this()](auto results, auto error) {
      if (error) return self->fail("colour search", *error);
      std::printf("Nearest to L* 62 a* 8 b* 24:\n");
      for (const auto& r : results) {
        std::printf("  %-10s %-32s dE00 %.2f\n", r.product.code().c_str(), r.product.name().c_str(),
                    static_cast<double>(r.deltaE.value_or(0)));
      }
      self->status_ = results.empty() ? 1 : 0;
      self->finished_ = true;
    });
  }

  void fail(const char* step, const hcf::HCFError& error) {
    std::fprintf(stderr, "catalog: %s: %s\n", step, error.localizedDescription.c_str());
    finished_ = true;
  }

  bool finished_ = false;
  int status_ = 1;
  int lastQuarter_ = -1;
};

}  // namespace

int main(int argc, char** argv) {
  const bool simulated = argc == 2 && std::strcmp(argv[1], "--simulated") == 0;
  if (argc > 2 || (argc == 2 && !simulated)) {
    std::fprintf(stderr, "usage: catalog [--simulated]\n");
    return 2;
  }
  std::unique_ptr<hcf::testing::TestKit> world;
  std::string sdkKey;
  if (simulated) {
    world = std::make_unique<hcf::testing::TestKit>(
        hcf::testing::TestKit::Options{.dataDirectory = {}, .catalogProducts = 300});
    hcf::HCFCentral::configure(world->configuration());
    sdkKey = world->sdkKey();
  } else {
    const char* key = std::getenv("HCF_SDK_KEY");
    if (!key || !*key) {
      std::fprintf(stderr, "set HCF_SDK_KEY (and HCF_CLOUD_URL), or use --simulated\n");
      return 2;
    }
    sdkKey = key;
  }

  auto tour = std::make_shared<CatalogTour>();
  tour->start(sdkKey);
  while (!tour->finished()) {
    // The application's own descriptors would go beside the kit's here.
    if (hcf::dispatch::pollAndRunDue() < 0 && errno != EINTR) return 1;
  }
  return tour->status();
}
