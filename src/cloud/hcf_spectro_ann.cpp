#include "hcf/cloud/hcf_spectro_ann.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
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

// A defect of a package: code 9100, saying what is wrong with which model.
HCFError packageDefect(const std::string& serial, const std::string& why) {
  return HTUtility::errWithMsg("The model package of " + serial + " cannot be used: " + why,
                               error_code::kUnsupportedOS);
}

// A package that cannot be unpacked: 9011, with the reason.
HCFError unpackFailure(const std::string& why) {
  auto error = HTUtility::alignmentFetchError();
  error.localizedFailureReason = why;
  return error;
}

Result<JsonValue> readInfo(const std::filesystem::path& folder, const std::string& serial) {
  std::ifstream in(folder / "info.json", std::ios::binary);
  if (!in) return packageDefect(serial, "it has no info.json");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto info = json_text::parseOrDiscard(text);
  if (info.is_discarded() || !info.is_object()) {
    return packageDefect(serial, "its info.json is not a JSON object");
  }
  return info;
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

// A folder of its own beside the serial's, named so that one left by a process that died can
// be told and removed ("<data>/.package-staging-<pid>-<n>-<serial>").
std::filesystem::path stagingFolder(const std::string& serial) {
  static std::atomic<unsigned> counter{0};
  return HCFRealmManager::docDirectory() / (".package-staging-" + std::to_string(::getpid()) + "-" +
                                            std::to_string(counter.fetch_add(1)) + "-" + serial);
}

// Writes the archive beside the data directory's packages and unpacks it into a new staging
// folder; the archive itself is not kept.
Result<std::filesystem::path> unpackToStaging(const Bytes& zip, const std::string& serial) {
  if (!plainFileName(serial)) return unpackFailure("the serial is not a plain file name");
  const auto staging = stagingFolder(serial);
  const auto archive =
      HCFRealmManager::docDirectory() / (serial + ".zip.partial-" + std::to_string(::getpid()));
  std::error_code ec;
  std::filesystem::remove_all(staging, ec);
  std::filesystem::create_directories(staging, ec);
  if (ec) return unpackFailure("cannot create " + staging.string() + ": " + ec.message());
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(zip.data()), static_cast<std::streamsize>(zip.size()));
    out.close();
    if (!out) {
      std::filesystem::remove(archive, ec);
      std::filesystem::remove_all(staging, ec);
      return unpackFailure("cannot write " + archive.string());
    }
  }
  auto unpacked = zip::unzipFileAtPath(archive, staging);
  std::filesystem::remove(archive, ec);
  if (!unpacked) {
    std::filesystem::remove_all(staging, ec);
    return unpackFailure(unpacked.error().localizedDescription);
  }
  return staging;
}

// Puts the staging folder in the place of the serial's folder in one step; the earlier package
// is removed whole.
std::optional<HCFError> swapIn(const std::filesystem::path& staging, const std::string& serial) {
  const auto folder = HCFRealmManager::docDirectory() / serial;
  std::error_code ec;
  if (!std::filesystem::exists(folder, ec)) {
    if (::rename(staging.c_str(), folder.c_str()) != 0) {
      return unpackFailure("cannot move the package into " + folder.string() + ": " +
                           std::strerror(errno));
    }
    return std::nullopt;
  }
  if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, folder.c_str(), RENAME_EXCHANGE) != 0) {
    return unpackFailure("cannot move the package into " + folder.string() + ": " +
                         std::strerror(errno));
  }
  std::filesystem::remove_all(staging, ec);  // now the earlier package
  if (ec) logLine("cannot remove the earlier package " + staging.string() + ": " + ec.message());
  return std::nullopt;
}

// Compiles a model into `folder`, saying why when it cannot.
Result<std::filesystem::path> compileInto(const std::filesystem::path& model,
                                          const std::filesystem::path& folder) {
  auto compiled = ml::Model::compileModelAtURL(model, folder);
  if (!compiled) {
    logLine("Failed to compile coreML model: " + compiled.error().localizedDescription);
  }
  return compiled;
}

// Runs the chain once on a probe input: every model takes what the one before gives, and the
// chain gives finite numbers.
std::optional<std::string> probeProblem(
    const std::vector<std::shared_ptr<const HCFMLModel>>& models,
    const std::vector<std::string>& names) {
  ml::MultiArray x = mlmultiArray(std::vector<double>(models.front()->model().inputLength(), 0.5));
  for (std::size_t i = 0; i < models.size(); ++i) {
    if (x.values.size() != models[i]->model().inputLength()) {
      return "model \"" + names[i] + "\" takes " +
             std::to_string(models[i]->model().inputLength()) + " values, the one before gives " +
             std::to_string(x.values.size());
    }
    auto out = models[i]->predictionFromDense_1_input__0(x);
    if (!out) return "model \"" + names[i] + "\" does not run: " + out.error().localizedDescription;
    x = std::move(out->output_node0__0);
    for (const double v : x.values) {
      if (!std::isfinite(v)) return "model \"" + names[i] + "\" gives values that are not finite";
    }
  }
  return std::nullopt;
}

struct Installed {
  std::vector<std::shared_ptr<const HCFMLModel>> models;
  std::optional<std::string> model;
};

// Unpacks, compiles and loads the whole chain in a staging folder and runs it once; only then
// does the package take the place of the one before, in one rename. On any failure the earlier
// package stays as it was.
Result<Installed> install(const Bytes& zip, const std::string& serial) {
  auto staging = unpackToStaging(zip, serial);
  if (!staging) {
    logLine("Failed to create directory " + (HCFRealmManager::docDirectory() / serial).string());
    logLine(staging.error().localizedFailureReason);
    return staging.error();
  }
  struct Cleanup {
    std::filesystem::path folder;
    ~Cleanup() {
      std::error_code ec;
      if (!folder.empty()) std::filesystem::remove_all(folder, ec);
    }
  } cleanup{*staging};

  auto info = readInfo(*staging, serial);
  if (!info) return info.error();
  Installed installed;
  std::vector<std::string> relative;
  std::vector<std::string> names;
  for (const auto& file : chainFiles(*info)) {
    const std::string name = std::filesystem::path(file).stem().string();
    if (!plainFileName(file)) {
      return packageDefect(serial, "the model name \"" + file + "\" is not a plain file name");
    }
    std::error_code ec;
    if (!std::filesystem::is_regular_file(*staging / file, ec)) {
      return packageDefect(serial, "the model \"" + name + "\" is not in the package");
    }
    auto compiled = compileInto(*staging / file, *staging);
    if (!compiled) {
      return packageDefect(serial, "the model \"" + name + "\" does not compile (" +
                                       compiled.error().localizedDescription + ")");
    }
    auto loaded = HCFMLModel::initWithContentsOfURL(*compiled);
    if (!loaded) return loaded.error();
    installed.models.push_back(*loaded);
    names.push_back(name);
    relative.push_back(HCFSpectroANN::absoluteURL2relativeFor(*compiled, serial));
  }
  if (const auto problem = probeProblem(installed.models, names)) {
    return packageDefect(serial, "the chain does not run: " + *problem);
  }
  if (auto error = swapIn(*staging, serial)) return *error;
  cleanup.folder.clear();
  installed.model = infoText(*info, "model");
  HCFRealmManager::storeSpectro(serial, installed.model.value_or(""),
                                infoText(*info, "batch").value_or(""), *info, relative);
  return installed;
}

// Steps after a package arrived with status 200: install, then answer.
void installPackage(const Bytes& zip, const std::string& serial,
                    const SpectroANNCompletion& completion) {
  const std::lock_guard lock(packageWork());
  auto installed = install(zip, serial);
  if (!installed) {
    completion(std::nullopt, std::nullopt, installed.error());
    return;
  }
  completion(std::move(installed->models), std::move(installed->model), std::nullopt);
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
               HTUtility::errWithMsg("No model package stored for serial " + serial,
                                     error_code::kNoModelPackage));
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
  const std::lock_guard lock(packageWork());
  auto staging = unpackToStaging(zip, serial);
  if (!staging) {
    logLine(staging.error().localizedFailureReason);
    return std::nullopt;
  }
  if (auto error = swapIn(*staging, serial)) {
    std::error_code ec;
    std::filesystem::remove_all(*staging, ec);
    logLine(error->localizedFailureReason);
    return std::nullopt;
  }
  return HCFRealmManager::docDirectory() / serial;
}

std::optional<std::filesystem::path> HCFSpectroANN::compileAndSave(
    const std::filesystem::path& model, const std::filesystem::path& folder) {
  // Compiled apart first, so that a model that does not compile leaves the folder untouched.
  static std::atomic<unsigned> counter{0};
  const auto scratch = std::filesystem::temp_directory_path() /
                       ("hcf-compile-" + std::to_string(::getpid()) + "-" +
                        std::to_string(counter.fetch_add(1)) + "-" + model.stem().string());
  auto compiled = compileInto(model, scratch);
  if (!compiled) return std::nullopt;
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
