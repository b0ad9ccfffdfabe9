#include "hcf/cloud/hcf_spectro_ann.h"

#include <unistd.h>

#include <atomic>
#include <fstream>
#include <mutex>

#include "../core/json_text.h"
#include "../platform/zip/unzip.h"
#include "hcf/cloud/cloud_endpoints.h"
#include "hcf/core/ht_utility.h"
#include "hcf/core/json.h"
#include "hcf/core/log.h"
#include "hcf/platform/http/session.h"
#include "hcf/store/hcf_realm_manager.h"
#include "percent_encode.h"

HCF_NAMESPACE_BEGIN

namespace {

// A serial names a folder and a file in the data directory: a plain file name only.
bool plainFileName(const std::string& serial) {
  return !serial.empty() && serial != "." && serial != ".." &&
         serial.find_first_of("/\\") == std::string::npos && serial.find('\0') == std::string::npos;
}

constexpr std::chrono::milliseconds kDownloadTimeout{20000};
constexpr const char* kFallbackModel = "vectorNormalization";

// Downloads of one process do their file work one at a time: two for the same serial would
// otherwise unpack and compile into the same folder at once.
std::mutex& packageWork() {
  static std::mutex m;
  return m;
}

std::optional<std::string> infoText(const JsonValue& info, const char* key) {
  if (!info.is_object() || !info.contains(key)) return std::nullopt;
  const auto& v = info[key];
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number()) return v.dump();
  return std::nullopt;
}

JsonValue readInfo(const std::filesystem::path& folder) {
  std::ifstream in(folder / "info.json", std::ios::binary);
  if (!in) return JsonValue::object();
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto info = json_text::parseOrDiscard(text);
  return info.is_discarded() ? JsonValue::object() : info;
}

// The model files of the chain: "ann_order" with the extension, else the older two-name list.
std::vector<std::string> chainFiles(const JsonValue& info) {
  std::vector<std::string> files;
  if (info.is_object() && info.contains("ann_order") && info["ann_order"].is_array()) {
    for (const auto& name : info["ann_order"]) {
      if (name.is_string()) files.push_back(name.get<std::string>() + ".mlmodel");
    }
  }
  if (files.empty()) {
    logLine("No ANN order list provided");
    files = {kFallbackModel, kFallbackModel};
  }
  return files;
}

// Steps after a package arrived with status 200: unpack, compile, store, load.
void installPackage(const Bytes& zip, const std::string& serial,
                    const SpectroANNCompletion& completion) {
  const std::lock_guard lock(packageWork());
  const auto folder = HCFSpectroANN::saveZipData(zip, serial);
  if (!folder) {
    logLine("Failed to create directory " + (HCFRealmManager::docDirectory() / serial).string());
    completion(std::nullopt, std::nullopt, HTUtility::alignmentFetchError());
    return;
  }
  const JsonValue info = readInfo(*folder);
  std::vector<std::filesystem::path> compiled;
  std::vector<std::string> relative;
  for (const auto& file : chainFiles(info)) {
    // A name from the package that is not a plain file name never leaves the folder.
    const auto url =
        plainFileName(file) ? HCFSpectroANN::compileAndSave(*folder / file, *folder) : std::nullopt;
    if (!url) {
      completion(std::nullopt, std::nullopt, HTUtility::unsupportedOS());
      return;
    }
    compiled.push_back(*url);
    relative.push_back(HCFSpectroANN::absoluteURL2relativeFor(*url, serial));
  }
  const auto model = infoText(info, "model");
  HCFRealmManager::storeSpectro(serial, model.value_or(""), infoText(info, "batch").value_or(""),
                                info, relative);
  std::vector<std::shared_ptr<const HCFMLModel>> models;
  for (const auto& url : compiled) {
    auto loaded = HCFMLModel::initWithContentsOfURL(url);
    if (!loaded) {
      completion(std::nullopt, std::nullopt, loaded.error());
      return;
    }
    models.push_back(*loaded);
  }
  completion(std::move(models), model, std::nullopt);
}

}  // namespace

void HCFSpectroANN::getANNs(const std::string& serial, SpectroANNCompletion completion) {
  if (!HCFRealmManager::spectroExists(serial)) {
    downloadANNs(serial, std::move(completion));
    return;
  }
  if (!HCFRealmManager::spectroNeedsUpdatedData(serial)) {
    getLocalANNs(serial, std::move(completion));
    return;
  }
  downloadANNs(serial,
               [serial, completion = std::move(completion)](auto models, auto model, auto error) {
                 if (error || !models) {
                   getLocalANNs(serial, completion);
                   return;
                 }
                 completion(std::move(models), std::move(model), std::nullopt);
               });
}

void HCFSpectroANN::downloadANNs(const std::string& serial, SpectroANNCompletion completion) {
  http::Request request;
  request.url = CloudEndpoints::current().modelPackageStorage + "/irisel/model_packages/zips/ios/" +
                percentEncode(serial) + ".zip";
  request.timeout = kDownloadTimeout;
  request.headers = {{"Cache-Control", "no-cache"}, {"Pragma", "no-cache"}};
  http::Session::shared().dataTask(
      std::move(request), [serial, completion = std::move(completion)](
                              std::optional<Bytes> body, std::optional<http::Response> response,
                              std::optional<HCFError> error) {
        if (error) {
          completion(std::nullopt, std::nullopt, std::move(error));
          return;
        }
        if (!body || !response || response->statusCode != 200) {
          logLine("Failed to fetch calibration data for device: " + serial);
          completion(std::nullopt, std::nullopt, HTUtility::alignmentFetchError());
          return;
        }
        installPackage(*body, serial, completion);
      });
}

void HCFSpectroANN::getLocalANNs(const std::string& serial, SpectroANNCompletion completion) {
  const auto urls = HCFRealmManager::fetchCompiledModelUrlsForSpectro(serial);
  if (!urls) {
    completion(std::nullopt, std::nullopt,
               HTUtility::errWithMsg("No model package stored for serial " + serial, 0));
    return;
  }
  std::vector<std::shared_ptr<const HCFMLModel>> models;
  for (const auto& url : *urls) {
    auto model = HCFMLModel::initWithContentsOfURL(url);
    if (!model) {
      logLine("Failed to build model from compiled model: " + model.error().localizedDescription);
      completion(std::nullopt, std::nullopt, model.error());
      return;
    }
    models.push_back(*model);
  }
  completion(std::move(models), HCFRealmManager::spectroModelForSerial(serial), std::nullopt);
}

std::optional<std::filesystem::path> HCFSpectroANN::saveZipData(const Bytes& zip,
                                                                const std::string& serial) {
  if (!plainFileName(serial)) return std::nullopt;
  const auto documents = HCFRealmManager::docDirectory();
  const auto folder = documents / serial;
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) return std::nullopt;
  // Written atomically: to a temporary name first, then renamed over the package.
  const auto file = documents / (serial + ".zip");
  const auto partial = documents / (serial + ".zip.partial-" + std::to_string(::getpid()));
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
    out.close();
    if (!out) {
      // A full disk or a read-only folder: nothing half-written is left behind.
      std::filesystem::remove(partial, ec);
      return std::nullopt;
    }
  }
  std::filesystem::rename(partial, file, ec);
  if (ec) {
    std::filesystem::remove(partial, ec);
    return std::nullopt;
  }
  auto unpacked = zip::unzipFileAtPath(file, folder);
  if (!unpacked) {
    logLine(unpacked.error().localizedDescription);
    return std::nullopt;
  }
  return folder;
}

std::optional<std::filesystem::path> HCFSpectroANN::compileAndSave(
    const std::filesystem::path& model, const std::filesystem::path& folder) {
  static std::atomic<unsigned> counter{0};
  const auto scratch = std::filesystem::temp_directory_path() /
                       ("hcf-compile-" + std::to_string(::getpid()) + "-" +
                        std::to_string(counter.fetch_add(1)) + "-" + model.stem().string());
  auto compiled = ml::Model::compileModelAtURL(model, scratch);
  if (!compiled) {
    logLine("Failed to compile coreML model: " + compiled.error().localizedDescription);
    return std::nullopt;
  }
  const auto destination = folder / compiled->filename();
  std::error_code ec;
  std::filesystem::remove_all(destination, ec);
  if (ec) return std::nullopt;
  std::filesystem::create_directories(folder, ec);
  std::filesystem::copy(*compiled, destination, std::filesystem::copy_options::recursive, ec);
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  if (ec) return std::nullopt;
  return destination;
}

std::string HCFSpectroANN::absoluteURL2relativeFor(const std::filesystem::path& url,
                                                   const std::string& serial) {
  return "/" + serial + "/" + url.filename().string();
}

HCF_NAMESPACE_END
