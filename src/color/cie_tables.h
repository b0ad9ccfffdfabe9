// The CIE spectral tables (generated at build time from data/cie): colour-matching functions of
// the 2° and 10° observers and the eight illuminants, at 10 nm (50 values) and 5 nm (99 values)
// from 340 nm.
#pragma once

#include <array>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN
namespace cie_tables {

#define HCF_CIE_TABLE_PAIR(name)                 \
  extern const std::array<double, 50> name##_10; \
  extern const std::array<double, 99> name##_5;

HCF_CIE_TABLE_PAIR(obs2_x)
HCF_CIE_TABLE_PAIR(obs2_y)
HCF_CIE_TABLE_PAIR(obs2_z)
HCF_CIE_TABLE_PAIR(obs10_x)
HCF_CIE_TABLE_PAIR(obs10_y)
HCF_CIE_TABLE_PAIR(obs10_z)
HCF_CIE_TABLE_PAIR(ill_D50)
HCF_CIE_TABLE_PAIR(ill_D65)
HCF_CIE_TABLE_PAIR(ill_A)
HCF_CIE_TABLE_PAIR(ill_B)
HCF_CIE_TABLE_PAIR(ill_C)
HCF_CIE_TABLE_PAIR(ill_F2)
HCF_CIE_TABLE_PAIR(ill_F7)
HCF_CIE_TABLE_PAIR(ill_F11)

#undef HCF_CIE_TABLE_PAIR

}  // namespace cie_tables
HCF_NAMESPACE_END
