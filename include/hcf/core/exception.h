// The exception raised for programming errors (never for failures of a device, a file or the
// network: those are reported as error values).
#pragma once

#include <stdexcept>
#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// A programming error: an argument no caller may pass, or an operation that a subclass had
/// to provide. `name()` is the exception's name and `what()` its reason, as the kit documents
/// them at each operation that raises one (for example name and reason "Invalid RGB color
/// space." for an unsupported RGB space).
class HCF_API HCFException : public std::logic_error {
 public:
  /// An exception named `name` (one of the names below, or the kit's own per operation) whose
  /// `what()` is `reason`.
  HCFException(std::string name, const std::string& reason);
  /// A copy with the same name and reason.
  HCFException(const HCFException&) = default;
  /// Takes the name and reason of `other`.
  HCFException& operator=(const HCFException&) = default;
  ~HCFException() override;

  /// The exception's name.
  const std::string& name() const noexcept { return name_; }
  /// The reason text (the same as `what()`).
  std::string reason() const { return what(); }

 private:
  std::string name_;
};

/// Name of the exception raised for an illuminant or observer value outside its enumeration.
inline constexpr const char* kIllegalArgumentException = "Illegal Argument Exception";
/// Name of the exception raised for an operation no caller may use (a plain initialiser, an
/// operation a subclass had to provide).
inline constexpr const char* kInternalInconsistencyException = "NSInternalInconsistencyException";

HCF_NAMESPACE_END
