#include "store_file.h"

#include <algorithm>
#include <fstream>
#include <vector>

#include "input_files.h"

namespace hcf_tool {

namespace {

using namespace hcf;

// The one catalogue of `dir`, which is not made when missing.
std::filesystem::path downloadedStore(const std::filesystem::path& dir) {
  std::vector<std::filesystem::path> stores;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const auto name = entry.path().filename().string();
    if (name.starts_with("halvern-products-") && name.ends_with(".realm") &&
        entry.is_regular_file(ec)) {
      stores.push_back(entry.path());
    }
  }
  if (stores.empty()) {
    throw Failure("no catalogue has been downloaded to " + dir.string() +
                  ": run hcf catalog download (or give --store FILE)");
  }
  if (stores.size() > 1) {
    std::sort(stores.begin(), stores.end());
    std::string list;
    for (const auto& s : stores) list += (list.empty() ? "" : ", ") + s.filename().string();
    throw Failure("several catalogues in " + dir.string() + " (" + list +
                  "): choose one with --store FILE");
  }
  return stores.front();
}

}  // namespace

std::filesystem::path readablePath(const std::string& file, std::unique_ptr<TempFolder>& copy,
                                   const std::string& prefix) {
  if (file != "-") return file;
  copy = std::make_unique<TempFolder>(prefix);
  const auto path = copy->path() / "standard-input";
  std::ofstream out(path, std::ios::binary);
  out << readInput("-");
  out.close();
  if (!out) throw Failure("cannot copy standard input to " + path.string());
  return path;
}

OpenedStore openStore(const Args& args) {
  std::unique_ptr<TempFolder> copy;
  std::filesystem::path path;
  if (const auto file = args.option("--store")) {
    path = readablePath(*file, copy, "hcf-store");
  } else if (const auto data = args.option("--data")) {
    path = downloadedStore(*data);
  } else {
    path = downloadedStore(HCFRealmManager::docDirectory());
  }
  auto catalog = HCFProductCatalog::open(path);
  if (!catalog) throw Failure(catalog.error().localizedDescription);
  return {std::move(copy), std::move(*catalog)};
}

}  // namespace hcf_tool
