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
  /// The library's own number (a CURLcode, an SQLite result); 0 when it has none.
  std::int64_t code = 0;
  std::string name;  ///< the library's text for `code`, or a D-Bus error name

  /// True when library, code and name are all equal.
  friend bool operator==(const NativeError&, const NativeError&) = default;
};

/// An error: a domain, an integer code and one message, held in the three user-info slots
/// (description, failure reason, recovery suggestion) as the platform's error does.
struct HCF_API HCFError {
  /// `kHCFErrorDomain` for the kit's errors, `kURLErrorDomain` for transport failures.
  std::string domain;
  /// The code: one of `error_code` in the kit's domain, an HTTP status for an answer the server
  /// refused, a `http::url_error` code in the URL-loading domain.
  std::int64_t code = 0;
  /// The message, passed through the translation hook of `HTUtility`.
  std::string localizedDescription;
  /// Why it failed: the message again, or a more precise reason (an unpacking failure's detail).
  std::string localizedFailureReason;
  /// What to do about it; the message again unless the maker had more to say.
  std::string localizedRecoverySuggestion;
  /// What the library underneath reported, when the failure came from one; empty otherwise.
  std::optional<NativeError> native;

  /// True for a transport failure (the URL-loading domain).
  bool isTransportError() const { return domain == kURLErrorDomain; }
  /// "domain code: description", for logs.
  std::string description() const;

  /// True when every field, the native error included, is equal.
  friend bool operator==(const HCFError&, const HCFError&) = default;
};

HCF_NAMESPACE_END
