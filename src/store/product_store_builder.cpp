#include <condition_variable>
#include <deque>
#include <exception>
#include <istream>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "../core/json_text.h"
#include "catalog_columns.h"
#include "color_scan_store.h"
#include "hcf/color/ht_color_utils.h"
#include "hcf/core/ht_utility.h"
#include "hcf/serialization/tint_vault_serialization.h"
#include "hcf/store/hcf_product_store_builder.h"
#include "hcf/store/hcf_realm_serialization.h"
#include "product_store.h"
#include "store_layout.h"
#include "store_schema.h"

HCF_NAMESPACE_BEGIN

namespace {

// A file of garbage would otherwise list a problem per line.
constexpr std::size_t kMaxProblemsListed = 1000;
// Reading and converting lines runs on its own thread, handing records to the writer in
// batches through a short queue, so that memory stays bounded whatever the file's size.
constexpr std::size_t kBatchSize = 256;
constexpr std::size_t kBatchesQueued = 8;

using Batch = std::vector<HRLMOfflineProduct>;

// A bounded queue from the reading thread to the writing one; either side can stop it.
class BatchPipe {
 public:
  bool push(Batch batch) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || batches_.size() < kBatchesQueued; });
    if (stopped_) return false;
    batches_.push_back(std::move(batch));
    changed_.notify_all();
    return true;
  }
  // Written batches go back to the reading thread to be freed there: memory then stays in
  // that thread's allocator arena instead of travelling between arenas.
  void giveBack(Batch batch) {
    std::lock_guard lock(mutex_);
    spent_.push_back(std::move(batch));
  }
  void freeSpent() {
    std::deque<Batch> spent;
    {
      std::lock_guard lock(mutex_);
      spent.swap(spent_);
    }
  }
  std::optional<Batch> pop() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || finished_ || !batches_.empty(); });
    if (stopped_ || batches_.empty()) return std::nullopt;
    Batch b = std::move(batches_.front());
    batches_.pop_front();
    changed_.notify_all();
    return b;
  }
  void finish() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    changed_.notify_all();
  }
  void stop() {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Batch> batches_, spent_;
  bool finished_ = false, stopped_ = false;
};

void removeStoreFiles(const std::filesystem::path& file) {
  std::error_code ec;
  std::filesystem::remove(file, ec);
  for (const char* extension : {"-journal", "-wal", "-shm"}) {
    std::filesystem::path companion = file;
    companion += extension;
    std::filesystem::remove(companion, ec);
  }
}

bool blank(const std::string& line) { return line.find_first_not_of(" \t\r") == std::string::npos; }

// Why a line cannot become a product; empty when it can.
std::string problemOf(const JsonValue& json, std::unordered_map<std::string, std::size_t>& seen,
                      std::size_t line) {
  if (json.is_discarded()) return "not JSON";
  if (!json.is_object()) return "not a JSON object";
  const auto it = json.find("uuid");
  if (it == json.end() || !it->is_string() || it->get_ref<const std::string&>().empty()) {
    return "no \"uuid\" text";
  }
  const auto& uuid = it->get_ref<const std::string&>();
  const auto [at, added] = seen.try_emplace(uuid, line);
  if (!added) return "uuid " + uuid + " repeats line " + std::to_string(at->second);
  return {};
}

HRLMOfflineProduct storeRecord(const JsonValue& json) {
  return store::recordForStore(HCFTintVaultSerialization::productFromDictionary(json));
}

std::uint64_t count(sql::Database& db, const char* sql) {
  sql::Statement s(db, sql);
  return s.step() ? static_cast<std::uint64_t>(s.int64(0)) : 0;
}

HCFProductStoreSummary summaryOf(sql::Database& db) {
  HCFProductStoreSummary s;
  s.schemaVersion = db.userVersion();
  s.products = count(db, "SELECT count(*) FROM HRLMOfflineProduct");
  s.inspirations = count(db, "SELECT count(*) FROM HRLMOfflineProduct WHERE isInspiration = 1");
  s.colors = count(db, "SELECT count(*) FROM HRLMBatchedLab");
  s.spectra = count(db, "SELECT count(*) FROM HRLMSpectrum");
  s.filters = store::filtersInUse(db, std::nullopt).size();
  if (count(db, "SELECT count(*) FROM sqlite_master WHERE name = 'HCFColorEntry'") != 0) {
    s.colorGroups = count(db, "SELECT count(*) FROM HCFColorGroup");
    s.scanLayoutReady = store::colorScanReady(db);
  }
  return s;
}

// Opens an existing products store without writing to it.
std::unique_ptr<sql::Database> openForReading(const std::filesystem::path& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) {
    throw sql::Failure(14, "no store file at " + file.string());  // SQLITE_CANTOPEN
  }
  auto db = std::make_unique<sql::Database>(file, sql::OpenMode::ReadOnly);
  store::requireReadableProductsStore(*db, file.string());
  return db;
}

}  // namespace

HCFProductStoreBuild HCFProductStoreBuilder::build(std::istream& in,
                                                   const std::filesystem::path& storeFile) {
  HCFProductStoreBuild out;
  std::filesystem::path building = storeFile;
  building += ".building";
  removeStoreFiles(building);
  try {
    std::error_code ec;
    if (storeFile.has_parent_path())
      std::filesystem::create_directories(storeFile.parent_path(), ec);
    std::size_t bad = 0;
    {
      auto db = store::open(building, StoreKind::Products, sql::OpenMode::Bulk);
      sql::Transaction t(*db);
      store::dropSecondaryIndexes(*db);
      {
        store::ProductWriter writer(*db);
        BatchPipe pipe;
        std::exception_ptr readFailure;
        std::thread reader([&] {
          try {
            std::unordered_map<std::string, std::size_t> seen;
            std::string line;
            Batch batch;
            for (std::size_t n = 1; std::getline(in, line); ++n) {
              if (blank(line)) continue;
              const auto json = json_text::parseOrDiscard(line);
              if (auto problem = problemOf(json, seen, n); !problem.empty()) {
                if (++bad <= kMaxProblemsListed) out.problems.push_back({n, std::move(problem)});
                continue;
              }
              if (bad > 0) continue;  // a lost build only validates the rest
              batch.push_back(storeRecord(json));
              if (batch.size() == kBatchSize) {
                if (!pipe.push(std::exchange(batch, {}))) return;
                pipe.freeSpent();
              }
            }
            if (in.bad()) throw std::runtime_error("the product lines could not be read");
            if (!batch.empty()) pipe.push(std::move(batch));
          } catch (...) {
            readFailure = std::current_exception();
          }
          pipe.finish();
        });
        try {
          while (auto batch = pipe.pop()) {
            for (const auto& record : *batch) writer.write(record, false);
            pipe.giveBack(std::move(*batch));
          }
        } catch (...) {
          pipe.stop();
          reader.join();
          throw;
        }
        reader.join();
        if (readFailure) std::rethrow_exception(readFailure);
      }
      if (bad > 0) {
        out.error = HTUtility::invalidDataError(
            std::to_string(bad) + (bad == 1 ? " line is" : " lines are") +
            " not a product (first at line " + std::to_string(out.problems.front().line) + ": " +
            out.problems.front().reason + ")");
      } else {
        store::createSchema(*db);
        store::prepareColorScan(*db);  // read by earlier kits
        store::CatalogColumns::writeCache(*db);
        t.commit();
      }
    }
    if (bad > 0) {
      removeStoreFiles(building);
      return out;
    }
    std::filesystem::rename(building, storeFile);
    removeStoreFiles(std::filesystem::path(storeFile) += "-journal");
    out.summary = summaryOf(*openForReading(storeFile));
  } catch (const sql::Failure& e) {
    removeStoreFiles(building);
    out.summary.reset();
    out.error = e.error();
  } catch (const std::exception& e) {
    removeStoreFiles(building);
    out.summary.reset();
    out.error = HTUtility::storeError(e.what());
  }
  return out;
}

Result<HCFProductStoreSummary> HCFProductStoreBuilder::summarize(
    const std::filesystem::path& storeFile) {
  try {
    return summaryOf(*openForReading(storeFile));
  } catch (const sql::Failure& e) {
    return e.error();
  }
}

Result<std::vector<std::string>> HCFProductStoreBuilder::check(
    const std::filesystem::path& storeFile) {
  try {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(storeFile, ec)) {
      throw sql::Failure(14, "no store file at " + storeFile.string());  // SQLITE_CANTOPEN
    }
    sql::Database db(storeFile, sql::OpenMode::ReadOnly);
    return store::checkProductsStore(db);
  } catch (const sql::Failure& e) {
    return e.error();
  }
}

Result<std::vector<HCFProductStoreBuilder::QueryPlan>> HCFProductStoreBuilder::queryPlans(
    const std::filesystem::path& storeFile) {
  try {
    auto db = openForReading(storeFile);
    std::vector<QueryPlan> out;
    for (const auto& q : store::pinnedQueries()) out.push_back({q.name, db->queryPlan(q.sql)});
    return out;
  } catch (const sql::Failure& e) {
    return e.error();
  }
}

HCF_NAMESPACE_END
