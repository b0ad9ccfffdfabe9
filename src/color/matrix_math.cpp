#include "hcf/color/matrix_math.h"

#include <algorithm>
#include <climits>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

extern "C" {
// LAPACK: LU factorisation with partial pivoting, and inversion from the factors.
void dgetrf_(const int* m, const int* n, double* a, const int* lda, int* ipiv, int* info);
void dgetri_(const int* n, double* a, const int* lda, const int* ipiv, double* work,
             const int* lwork, int* info);
}

HCF_NAMESPACE_BEGIN

namespace {

void requireSize(std::span<const double> s, std::size_t needed, const char* what) {
  if (s.size() < needed) {
    throw std::invalid_argument(std::string("MatrixMath: ") + what + " holds " +
                                std::to_string(s.size()) + " values, " + std::to_string(needed) +
                                " needed");
  }
}

// rows × cols, refused where the product does not fit in a size_t (it would wrap to a small
// number that a short span passes, and the loops would run far beyond it).
std::size_t elements(std::size_t rows, std::size_t cols, const char* what) {
  if (cols != 0 && rows > std::numeric_limits<std::size_t>::max() / cols) {
    throw std::invalid_argument(std::string("MatrixMath: ") + what + " of " + std::to_string(rows) +
                                " by " + std::to_string(cols) +
                                " elements is larger than memory can address");
  }
  return rows * cols;
}

}  // namespace

void MatrixMath::matrixMult(std::span<const double> left, std::span<const double> right,
                            std::size_t leftRows, std::size_t leftCrightR, std::size_t rightCols,
                            std::span<double> matrixProd) {
  requireSize(left, elements(leftRows, leftCrightR, "left factor"), "left factor");
  requireSize(right, elements(leftCrightR, rightCols, "right factor"), "right factor");
  requireSize(matrixProd, elements(leftRows, rightCols, "product"), "product");
  for (std::size_t i = 0; i < leftRows; ++i) {
    for (std::size_t j = 0; j < rightCols; ++j) {
      double sum = 0.0;
      for (std::size_t k = 0; k < leftCrightR; ++k) {
        sum += left[i * leftCrightR + k] * right[k * rightCols + j];
      }
      matrixProd[i * rightCols + j] = sum;
    }
  }
}

double MatrixMath::sumWithVector(std::span<const double> vector, std::size_t n) {
  requireSize(vector, n, "vector");
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) sum += vector[i];
  return sum;
}

void MatrixMath::vectorMult(std::span<const double> left, std::span<const double> right,
                            std::span<double> result, std::size_t n) {
  requireSize(left, n, "left vector");
  requireSize(right, n, "right vector");
  requireSize(result, n, "result");
  for (std::size_t i = 0; i < n; ++i) result[i] = left[i] * right[i];
}

bool MatrixMath::matrixInv(std::span<const double> matrix, std::size_t mSize,
                           std::span<double> inverse) {
  const std::size_t count = elements(mSize, mSize, "matrix");
  requireSize(matrix, count, "matrix");
  requireSize(inverse, count, "inverse");
  if (mSize == 0) return true;
  if (mSize > static_cast<std::size_t>(INT_MAX)) return false;  // beyond LAPACK's sizes
  // LAPACK reads the row-major copy as column-major, i.e. it inverts the transpose; read back
  // row-major, the inverse of the transpose is the inverse of the matrix itself.
  std::vector<double> scratch(matrix.begin(), matrix.begin() + static_cast<long>(count));
  const int n = static_cast<int>(mSize);
  std::vector<int> pivots(mSize);
  int info = 0;
  dgetrf_(&n, &n, scratch.data(), &n, pivots.data(), &info);
  if (info != 0) return false;  // singular (info > 0) or an argument LAPACK refused (< 0)
  std::vector<double> work(mSize);
  dgetri_(&n, scratch.data(), &n, pivots.data(), work.data(), &n, &info);
  if (info != 0) return false;
  std::copy(scratch.begin(), scratch.end(), inverse.begin());
  return true;
}

void MatrixMath::matrixTrans(std::span<const double> matrix, std::size_t inRows, std::size_t inCols,
                             std::span<double> transMatrix) {
  const std::size_t count = elements(inRows, inCols, "matrix");
  requireSize(matrix, count, "matrix");
  requireSize(transMatrix, count, "transpose");
  for (std::size_t i = 0; i < inRows; ++i) {
    for (std::size_t j = 0; j < inCols; ++j) transMatrix[j * inRows + i] = matrix[i * inCols + j];
  }
}

HCF_NAMESPACE_END
