#include "hcf/calibration/hcf_spectro_ann.h"

#include <unistd.h>

#include <fstream>

#include "hcf/kit/ht_utility.h"
#include "hcf/log.h"
#include "hcf/platform/zip/unzip.h"
#include "hcf/store/hcf_realm_manager.h"

HCF_NAMESPACE_BEGIN

namespace {

// A serial names a folder and a file in the data directory: a plain file name only.
bool plainFileName(const std::string& serial) {
  return !serial.empty() && serial != "." && serial != ".." &&
         serial.find_first_of("/\\") == std::string::npos && serial.find('\0') == std::string::npos;
}

}  // namespace

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
    if (!out) return std::nullopt;
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
  const auto scratch = std::filesystem::temp_directory_path() /
                       ("hcf-compile-" + std::to_string(::getpid()) + "-" + model.stem().string());
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
