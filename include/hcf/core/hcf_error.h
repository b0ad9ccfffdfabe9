// The error value every failure of the kit is reported with.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// The domain of every error the kit makes.
inline constexpr const char* kHCFErrorDomain = "com.halverninc";
/// The domain of transport failures (no network, DNS, TLS, time-out, refused connection,
/// connection lost): the URL-loading domain, so that "no network" can be told from an
/// answer of the server.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

/// What the library underneath reported, kept for diagnosis (a CURLcode, an SQLite result, a
/// D-Bus error name).
struct NativeError {
  std::string library;  ///< "curl", "sqlite", "dbus", ...
  std::int64_t code = 0;
  std::string name;

  friend bool operator==(const NativeError&, const NativeError&) = default;
};

/// An error: a domain, an integer code and one message, held in the three user-info slots
/// (description, failure reason, recovery suggestion) as the platform's error does.
struct HCF_API HCFError {
  std::string domain;
  std::int64_t code = 0;
  std::string localizedDescription;
  std::string localizedFailureReason;
  std::string localizedRecoverySuggestion;
  std::optional<NativeError> native;

  /// True for a transport failure (the URL-loading domain).
  bool isTransportError() const { return domain == kURLErrorDomain; }
  /// "domain code: description", for logs.
  std::string description() const;

  friend bool operator==(const HCFError&, const HCFError&) = default;
};

HCF_NAMESPACE_END
