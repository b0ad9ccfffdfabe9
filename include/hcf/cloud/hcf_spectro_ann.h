// A spectrometer's chain of models: kept per serial, unpacked, compiled and loaded in order.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hcf/calibration/hcf_ml_model.h"
#include "hcf/core/bytes.h"
#include "hcf/core/export.h"
#include "hcf/core/hcf_error.h"

HCF_NAMESPACE_BEGIN

/// The chain in order and the instrument's model name, or an error.
using SpectroANNCompletion =
    std::function<void(std::optional<std::vector<std::shared_ptr<const HCFMLModel>>> models,
                       std::optional<std::string> model, std::optional<HCFError> error)>;

/// Model packages of the spectrometers.
class HCF_API HCFSpectroANN {
 public:
  HCFSpectroANN() = delete;

  /// The chain of `serial`, as a spectrometer needs it on connecting: the stored one when it
  /// is fresh; a download when it is due for a refresh (falling back to the stored one when the
  /// download fails, so an old package keeps working offline) or when nothing is stored.
  static void getANNs(const std::string& serial, SpectroANNCompletion completion);
  /// Downloads the package of `serial` from the model-package storage (20 s time-out, no
  /// caches) and installs it whole or not at all: it is unpacked into a staging folder, its
  /// models are compiled in "ann_order" order and loaded there, and the chain is run once on a
  /// probe input; only then does the folder take the place of the serial's folder in one
  /// rename (the earlier package and the archive are removed) and the store learn of it. On
  /// any failure the earlier package stays as it was. Errors: the transport's; 9011 for a
  /// status other than 200 or a package that cannot be unpacked (the reason in
  /// `localizedFailureReason`); 9100 for a defect of the package, saying which model and what
  /// ("The model package of <serial> cannot be used: ..."): no info.json, a model name that is
  /// not a plain file name, a model missing, one that does not compile, models that do not fit
  /// together; the load error of a compiled model. Completes on a global queue.
  static void downloadANNs(const std::string& serial, SpectroANNCompletion completion);

  /// Loads the stored compiled models of `serial` in chain order; the first that fails to load
  /// logs "Failed to build model from compiled model: ..." and completes with its error.
  /// Completes on the calling thread.
  static void getLocalANNs(const std::string& serial, SpectroANNCompletion completion);
  /// Unpacks the package into a new folder that then takes the place of "<data>/<serial>/" in
  /// one rename (the archive itself is not kept); the folder, or nothing when the serial is not
  /// a plain file name or the package cannot be written or safely unpacked.
  static std::optional<std::filesystem::path> saveZipData(const Bytes& zip,
                                                          const std::string& serial);
  /// Compiles a model file and puts the compiled folder into `folder`, replacing one of the same
  /// name; its path, or nothing (logged) when the model is refused.
  static std::optional<std::filesystem::path> compileAndSave(const std::filesystem::path& model,
                                                             const std::filesystem::path& folder);
  /// "/<serial>/<last component of url>".
  static std::string absoluteURL2relativeFor(const std::filesystem::path& url,
                                             const std::string& serial);
};

HCF_NAMESPACE_END
