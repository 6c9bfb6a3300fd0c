#include "vantir3/numeric/nr_arrays.h"

#include <string>

#include <gtest/gtest.h>

namespace {

using numeric::f3tensor;
using numeric::matrix;

// Exact standard-error text of nrerror(text).
testing::Matcher<const std::string&> Report(const std::string& text) {
    return testing::Matcher<const std::string&>(
        "Numerical Recipes run-time error...\n" + text + "\n...now exiting to system...\n");
}

TEST(NrArrays, VectorsCoverTheirRange) {
    double* v = numeric::vector(-3, 5);
    for (int i = -3; i <= 5; ++i) v[i] = i;
    EXPECT_EQ(&v[5] - &v[-3], 8);
    EXPECT_EQ(v[-3] + v[5], 2.0);
    numeric::free_vector(v, -3, 5);

    int32_t* iv = numeric::ivector(1, 3);
    uint8_t* cv = numeric::cvector(0, 255);
    int32_t* lv = numeric::lvector(10, 10);
    double* dv = numeric::dvector(1, 0);  // empty range
    iv[1] = iv[3] = -7;
    cv[0] = cv[255] = 200;
    lv[10] = 42;
    EXPECT_EQ(iv[1] + iv[3] + cv[255] + lv[10], 228);
    numeric::free_ivector(iv, 1, 3);
    numeric::free_cvector(cv, 0, 255);
    numeric::free_lvector(lv, 10, 10);
    numeric::free_dvector(dv, 1, 0);
}

TEST(NrArrays, MatrixRowsAreContiguous) {
    double** m = matrix(1, 1, 1, 4);
    for (int j = 1; j <= 4; ++j) m[1][j] = j;
    EXPECT_EQ(&m[1][4] - &m[1][1], 3);
    numeric::free_matrix(m, 1, 1, 1, 4);

    double** d = numeric::dmatrix(-1, 2, 3, 5);
    int32_t** im = numeric::imatrix(0, 2, -2, 0);
    for (int i = -1; i <= 2; ++i)
        for (int j = 3; j <= 5; ++j) d[i][j] = 10 * i + j;
    for (int i = 0; i <= 2; ++i) EXPECT_EQ(&im[i][-2], &im[0][-2] + 3 * i);
    EXPECT_EQ(&d[2][5] - &d[-1][3], 11);
    EXPECT_EQ(d[0][3], 3.0);
    EXPECT_EQ(d[1][5], 15.0);
    numeric::free_dmatrix(d, -1, 2, 3, 5);
    numeric::free_imatrix(im, 0, 2, -2, 0);

    double** none = matrix(1, 0, 1, 4);  // no rows
    numeric::free_matrix(none, 1, 0, 1, 4);
}

TEST(NrArrays, SubmatrixAndConvertMatrixShareData) {
    double** a = matrix(1, 4, 1, 5);
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 5; ++j) a[i][j] = 10 * i + j;
    double** b = numeric::submatrix(a, 2, 3, 2, 4, 0, 0);
    EXPECT_EQ(b[0][0], 22.0);
    EXPECT_EQ(b[1][2], 34.0);
    b[1][1] = -1.0;
    EXPECT_EQ(a[3][3], -1.0);
    numeric::free_submatrix(b, 0, 1, 0, 2);
    numeric::free_matrix(a, 1, 4, 1, 5);

    double flat[6] = {0, 1, 2, 3, 4, 5};
    double** c = numeric::convert_matrix(flat, 1, 2, 0, 2);
    EXPECT_EQ(&c[1][0], &flat[0]);
    EXPECT_EQ(&c[2][2], &flat[5]);
    EXPECT_EQ(c[2][0], 3.0);
    numeric::free_convert_matrix(c, 1, 2, 0, 2);
}

TEST(NrArrays, TensorDataIsOneBlockLastIndexFastest) {
    double*** t = f3tensor(0, 2, -1, 1, 1, 4);
    double* origin = &t[0][-1][1];
    for (int i = 0; i <= 2; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = 1; k <= 4; ++k) {
                EXPECT_EQ(&t[i][j][k], origin + ((i * 3) + (j + 1)) * 4 + (k - 1));
                t[i][j][k] = 0.0;
            }
    numeric::free_f3tensor(t, 0, 2, -1, 1, 1, 4);

    double*** empty = f3tensor(1, 2, 1, 0, 1, 8);  // no columns
    numeric::free_f3tensor(empty, 1, 2, 1, 0, 1, 8);
}

TEST(NrArraysDeathTest, NrerrorReportsAndExits) {
    EXPECT_EXIT(numeric::nrerror("something broke"), testing::ExitedWithCode(1),
                Report("something broke"));
    // Ranges inverted by more than one cannot be allocated.
    EXPECT_EXIT(numeric::vector(5, 3), testing::ExitedWithCode(1),
                Report("allocation failure in vector()"));
    EXPECT_EXIT(numeric::ivector(5, 3), testing::ExitedWithCode(1),
                Report("allocation failure in ivector()"));
    EXPECT_EXIT(numeric::cvector(5, 3), testing::ExitedWithCode(1),
                Report("allocation failure in cvector()"));
    EXPECT_EXIT(numeric::lvector(5, 3), testing::ExitedWithCode(1),
                Report("allocation failure in lvector()"));
    EXPECT_EXIT(numeric::dvector(5, 3), testing::ExitedWithCode(1),
                Report("allocation failure in dvector()"));
    EXPECT_EXIT(matrix(3, 1, 1, 4), testing::ExitedWithCode(1),
                Report("allocation failure 1 in matrix()"));
    EXPECT_EXIT(numeric::imatrix(1, 3, 4, 1), testing::ExitedWithCode(1),
                Report("allocation failure 2 in matrix()"));
    EXPECT_EXIT(f3tensor(3, 1, 1, 2, 1, 2), testing::ExitedWithCode(1),
                Report("allocation failure 1 in f3tensor()"));
    EXPECT_EXIT(f3tensor(1, 2, 3, 1, 1, 2), testing::ExitedWithCode(1),
                Report("allocation failure 2 in f3tensor()"));
    EXPECT_EXIT(f3tensor(1, 2, 1, 2, 3, 1), testing::ExitedWithCode(1),
                Report("allocation failure 3 in f3tensor()"));
    double** a = matrix(1, 2, 1, 2);
    EXPECT_EXIT(numeric::submatrix(a, 2, 0, 1, 2, 1, 1), testing::ExitedWithCode(1),
                Report("allocation failure in submatrix()"));
    EXPECT_EXIT(numeric::convert_matrix(a[1] + 1, 2, 0, 1, 2), testing::ExitedWithCode(1),
                Report("allocation failure in convert_matrix()"));
    numeric::free_matrix(a, 1, 2, 1, 2);
}

}  // namespace
