// Row-major matrix helpers.
#include "hcf/color/matrix_math.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <vector>

using namespace hcf;

TEST(MatrixMath, MatrixTimesVectorIsTheUsualProduct) {
  const std::array<double, 9> m = {1, 2, 3, 4, 5, 6, 7, 8, 10};
  const std::array<double, 3> v = {1, -1, 2};
  std::array<double, 3> out{};
  MatrixMath::matrixMult(m, v, 3, 3, 1, out);
  EXPECT_EQ(out, (std::array<double, 3>{5, 11, 19}));
}

TEST(MatrixMath, RectangularProductIsRowMajor) {
  const std::array<double, 6> a = {1, 2, 3, 4, 5, 6};     // 2×3
  const std::array<double, 6> b = {7, 8, 9, 10, 11, 12};  // 3×2
  std::array<double, 4> out{};
  MatrixMath::matrixMult(a, b, 2, 3, 2, out);
  EXPECT_EQ(out, (std::array<double, 4>{58, 64, 139, 154}));
}

TEST(MatrixMath, SumsAndElementwiseProducts) {
  const std::vector<double> v = {1.5, 2.5, -1};
  EXPECT_EQ(MatrixMath::sumWithVector(v, 3), 3.0);
  EXPECT_EQ(MatrixMath::sumWithVector(v, 0), 0.0);
  std::vector<double> out(3, 9);
  MatrixMath::vectorMult(v, v, out, 3);
  EXPECT_EQ(out, (std::vector<double>{2.25, 6.25, 1}));
  MatrixMath::vectorMult(v, v, out, 0);  // n = 0 touches nothing
  EXPECT_EQ(out[0], 2.25);
}

TEST(MatrixMath, TransposeOfTwoByThreeIsThreeByTwo) {
  const std::array<double, 6> m = {1, 2, 3, 4, 5, 6};
  std::array<double, 6> t{};
  MatrixMath::matrixTrans(m, 2, 3, t);
  EXPECT_EQ(t, (std::array<double, 6>{1, 4, 2, 5, 3, 6}));
}

TEST(MatrixMath, InverseOfIdentityAndOfBradford) {
  const std::array<double, 9> id = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  std::array<double, 9> inv{};
  ASSERT_TRUE(MatrixMath::matrixInv(id, 3, inv));
  EXPECT_EQ(inv, id);
  const std::array<double, 9> bradford = {0.8951, 0.2664, -0.1614, -0.7502, 1.7135,
                                          0.0367, 0.0389, -0.0685, 1.0296};
  const std::array<double, 9> stored = {0.9869929, -0.1470543, 0.1599627, 0.4323053, 0.5183603,
                                        0.0492912, -0.0085287, 0.0400428, 0.9684867};
  ASSERT_TRUE(MatrixMath::matrixInv(bradford, 3, inv));
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(inv[i], stored[i], 1e-6) << i;
}

TEST(MatrixMath, InverseOfNonSymmetricMatrixTimesMatrixIsIdentity) {
  // Non-symmetric, so a row/column mix-up would show.
  const std::array<double, 16> m = {4, 7, 2, 0.5, 3, 6, 1, -2, 2, 5, 3, 1, 0, 1, -1, 8};
  std::array<double, 16> inv{};
  ASSERT_TRUE(MatrixMath::matrixInv(m, 4, inv));
  std::array<double, 16> product{};
  MatrixMath::matrixMult(inv, m, 4, 4, 4, product);
  for (int i = 0; i < 4; ++i) {
    for (int j = 0; j < 4; ++j) EXPECT_NEAR(product[i * 4 + j], i == j ? 1 : 0, 1e-12);
  }
}

TEST(MatrixMath, SingularMatrixIsReportedAndOutputUntouched) {
  const std::array<double, 9> singular = {1, 2, 3, 2, 4, 6, 1, 1, 1};
  std::array<double, 9> out;
  out.fill(42);
  EXPECT_FALSE(MatrixMath::matrixInv(singular, 3, out));
  for (const double v : out) EXPECT_EQ(v, 42);
  const std::array<double, 4> zero{};
  std::array<double, 4> out2{};
  EXPECT_FALSE(MatrixMath::matrixInv(zero, 2, out2));
}

TEST(MatrixMath, InputIsNotChangedAndShortSpansAreRefused) {
  const std::vector<double> m = {2, 1, 1, 3};
  std::vector<double> inv(4);
  ASSERT_TRUE(MatrixMath::matrixInv(m, 2, inv));
  EXPECT_EQ(m, (std::vector<double>{2, 1, 1, 3}));
  EXPECT_THROW((void)MatrixMath::matrixInv(m, 3, inv), std::invalid_argument);
  std::vector<double> small(2);
  EXPECT_THROW(MatrixMath::matrixMult(m, m, 2, 2, 2, small), std::invalid_argument);
  EXPECT_THROW(MatrixMath::matrixTrans(m, 2, 3, inv), std::invalid_argument);
  EXPECT_THROW((void)MatrixMath::sumWithVector(m, 5), std::invalid_argument);
}

TEST(MatrixMath, SizesWhoseElementCountOverflowsAreRefused) {
  // Every product of two sizes wraps to 0, which empty spans would pass.
  constexpr std::size_t k32 = std::size_t{1} << (std::numeric_limits<std::size_t>::digits / 2);
  constexpr std::size_t k33 = 2 * k32;
  struct Row {
    std::size_t rows, inner, cols;
  };
  const Row rows[] = {{k32, k32, k32}, {k32, k33, k32}, {k33, k32, k33}};
  const std::vector<double> none;
  std::vector<double> out;
  for (const Row& r : rows) {
    EXPECT_THROW(MatrixMath::matrixMult(none, none, r.rows, r.inner, r.cols, out),
                 std::invalid_argument)
        << r.rows << " " << r.inner << " " << r.cols;
    EXPECT_THROW(MatrixMath::matrixTrans(none, r.rows, r.inner, out), std::invalid_argument);
  }
  EXPECT_THROW((void)MatrixMath::matrixInv(none, k32, out), std::invalid_argument);
}
