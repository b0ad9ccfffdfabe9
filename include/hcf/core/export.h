// Symbol visibility and the versioned namespace of the kit's binary interface.
#pragma once

/// \namespace hcf
/// Every public name of the kit: colour values and maths, instruments and their connections,
/// calibration, scans, products and their searches, the stores and the cloud services.

/// \namespace hcf::v1
/// The kit's first binary interface. Inline: applications write `hcf::HCFLabColor`, and the
/// linker sees `hcf::v1::HCFLabColor`.

#if defined(HCF_STATIC)
#define HCF_API
#else
#define HCF_API __attribute__((visibility("default")))
#endif

/// Opens the kit's namespace. Every public name lives in `hcf`, inside the inline namespace
/// `v1` that guards the binary interface: an incompatible release moves to `v2`.
#define HCF_NAMESPACE_BEGIN \
  namespace hcf {           \
  inline namespace v1 {
#define HCF_NAMESPACE_END \
  }                       \
  }
