// Writes the fuzz targets' seed corpora (fuzz/corpus/<target>/) from the fixtures: valid
// inputs of every form, so the fuzzers start from what the kit really reads. Run by hand with
// `make fuzz-seeds` when a form changes; the corpora are kept in the repository.
#include <hcf/hcf.h>

#include <filesystem>
#include <fstream>
#include <iostream>

#include "fixtures.h"

namespace fs = std::filesystem;
namespace fx = hcf_cloud::fixtures;

namespace {

fs::path gRoot;

void write(const std::string& target, const std::string& name, const std::string& bytes) {
  const auto dir = gRoot / target;
  fs::create_directories(dir);
  std::ofstream(dir / name, std::ios::binary) << bytes;
}

std::string str(const hcf::Bytes& b) { return {b.begin(), b.end()}; }

void calibrationRecords() {
  int n = 0;
  for (const std::string model : {"1.1", "2.1", "3.0", "3.01.02"}) {
    for (const auto adjustment :
         {fx::Adjustment::None, fx::Adjustment::Table, fx::Adjustment::Network}) {
      fx::RecordOptions o;
      o.tintraModel = model;
      o.mb24 = model == "3.01.02";
      o.adjustment = adjustment;
      o.competingEntries = n % 2 == 1;
      const auto record = fx::makeRecord(o);
      write("calibration_record", "record-" + std::to_string(n++),
            str(hcf::TintraDeviceRecord::data(record)));
      // The adjustment documents it carries seed the network target.
      for (const auto& cal : record.calibrations()) {
        for (const auto& m : cal.batch().adjustment_methods()) {
          const bool table = m.adjustment_method_type() != "ANN";
          write("network_document", (table ? "table-" : "network-") + std::to_string(n),
                std::string(1, table ? '\1' : '\0') + m.adjustment_method_data());
        }
      }
    }
  }
  write("network_document", "offsets",
        std::string(1, '\0') + fx::offsetNetworkDocument({1, 2, 3}, {-1, -2, -3}));
}

void searches() {
  auto search = hcf::HCFProductSearch::productSearch();
  auto term = std::make_shared<hcf::HCFGenericColorSearchTerm>();
  term->auxLab = hcf::HCFLabColor::labColorWithL(50, 20, 10, hcf::HCFIlluminant::D50);
  search.colorTerm = term;
  search.filters = std::vector<hcf::HCFProductKV>{hcf::HCFProductKV::kvWithKey("finish", "matte")};
  search.textTerm = "blue";
  using S = hcf::HCFTintVaultSerialization;
  write("search_forms", "search", S::productSearchToDictionary(search).dump());
  write("search_forms", "server-search", S::productSearchToServerDictionary(search).dump());
  auto set = hcf::HCFProductFilterSet::filterSetWithFilters(
      {hcf::HCFProductKV::kvWithKey("finish", "matte"),
       hcf::HCFProductKV::kvWithKey("finish", "gloss"),
       hcf::HCFProductKV::kvWithKey("category", "Interior")});
  write("search_forms", "filter-set", S::filterSetToDictionary(*set).dump());
  write("search_forms", "server-filter-set", S::filterSetToServerDictionary(*set).dump());
}

void models(const fs::path& source) {
  const auto onnx = source / "tests" / "data" / "onnx";
  for (const auto& e : fs::directory_iterator(onnx)) {
    if (e.path().extension() != ".onnx") continue;
    fs::create_directories(gRoot / "onnx_model");
    fs::copy_file(e.path(), gRoot / "onnx_model" / e.path().filename(),
                  fs::copy_options::overwrite_existing);
    const auto out = fs::temp_directory_path() / "hcf-seed-model";
    fs::remove_all(out);
    if (auto compiled = hcf::ml::Model::compileModelAtURL(e.path(), out); compiled.ok()) {
      std::ifstream in(compiled.value() / "model.json", std::ios::binary);
      write("compiled_model", e.path().stem().string(),
            std::string(std::istreambuf_iterator<char>(in), {}));
    }
    fs::remove_all(out);
  }
}

void instrumentBytes() {
  write("gatt_payloads", "counts", std::string("\x22\xD0\x15\xD4\x07\x52", 6));
  write("gatt_payloads", "battery", std::string("\x00\x0A\x00\x00", 4));
  write("gatt_payloads", "serial", std::string("\x00\xC0\xFF\xEE\x40\x95", 6));
  write("gatt_payloads", "version", std::string("\x02\x0A", 2));
  write("gatt_payloads", "advertisement", std::string("\x3C\x0A\x02\x01\x00\x00", 6));
  write("gatt_payloads", "response", std::string(64, '\x5A'));
  write("gatt_payloads", "uuid", "26DB67AB-FC40-420A-B080-2CE709BFB7D0");
  write("dates", "rfc3339", "2026-12-08T17:54:08Z");
  write("dates", "rfc3339-offset", "2026-12-08T17:54:08.125+01:30");
  write("dates", "http", "Tue, 08 Dec 2026 17:54:08 GMT");
  write("login_reply", "reply",
        R"({"session_token":"t","cas_sub_id":"s","package_id":"demo-package","b2_key":"k"})");
  for (const int batch : fx::orlaBatches()) {
    write("alignment_document", "batch-" + std::to_string(batch), fx::alignmentDocument(batch));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: make_seeds SOURCE_DIR CORPUS_DIR\n";
    return 2;
  }
  gRoot = argv[2];
  calibrationRecords();
  searches();
  models(argv[1]);
  instrumentBytes();
  std::cout << "seeds written to " << gRoot << '\n';
  return 0;
}
