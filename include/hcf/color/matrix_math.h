// Dense double-precision matrices and vectors stored as plain row-major arrays.
#pragma once

#include <cstddef>
#include <span>

#include "hcf/core/export.h"

HCF_NAMESPACE_BEGIN

/// Products, sums, transposition and inversion of row-major matrices. Every operation checks
/// that the spans hold the elements the sizes call for and raises `std::invalid_argument`
/// when one is too short, or when a count of elements (rows times columns) does not fit in a
/// `std::size_t`.
class HCF_API MatrixMath {
 public:
  MatrixMath() = delete;

  /// matrixProd (M×N) = left (M×P) · right (P×N), with M = leftRows, P = leftCrightR,
  /// N = rightCols. The product must not overlap either factor.
  static void matrixMult(std::span<const double> left, std::span<const double> right,
                         std::size_t leftRows, std::size_t leftCrightR, std::size_t rightCols,
                         std::span<double> matrixProd);
  /// The sum of the first n elements in index order; 0 for n = 0.
  static double sumWithVector(std::span<const double> vector, std::size_t n);
  /// result[i] = left[i] · right[i] for i below n.
  static void vectorMult(std::span<const double> left, std::span<const double> right,
                         std::span<double> result, std::size_t n);
  /// The inverse of the n×n matrix, by LU factorisation with partial pivoting (LAPACK
  /// dgetrf/dgetri). Returns false, leaving `inverse` untouched, when the matrix is singular
  /// (or too large for LAPACK's integer sizes). The input is never changed.
  [[nodiscard]] static bool matrixInv(std::span<const double> matrix, std::size_t mSize,
                                      std::span<double> inverse);
  /// The transpose (inCols rows, inRows columns) of a matrix with inRows rows and inCols
  /// columns. The output must not overlap the input.
  static void matrixTrans(std::span<const double> matrix, std::size_t inRows, std::size_t inCols,
                          std::span<double> transMatrix);
};

HCF_NAMESPACE_END
