#include "vantir3/numeric/nr_arrays.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace {

using namespace numeric;

TEST(NrArrays, ArraysCoverTheirRangesInOneBlock) {
    double* v = numeric::vector(-3, 5);
    int32_t* iv = ivector(1, 3);
    uint8_t* cv = cvector(0, 255);
    int32_t* lv = lvector(10, 10);
    double* dv = dvector(1, 0);  // empty range
    for (int i = -3; i <= 5; ++i) v[i] = i;
    iv[1] = iv[3] = -7;
    cv[0] = cv[255] = 200;
    lv[10] = 42;
    EXPECT_EQ(v[-3] + v[5], 2.0);
    EXPECT_EQ(iv[1] + iv[3] + cv[255] + lv[10], 228);
    free_vector(v, -3, 5);
    free_ivector(iv, 1, 3);
    free_cvector(cv, 0, 255);
    free_lvector(lv, 10, 10);
    free_dvector(dv, 1, 0);

    // Matrix rows follow each other in one block; a tensor's data is one
    // block with the last index fastest.
    double** d = dmatrix(-1, 2, 3, 5);
    int32_t** im = imatrix(0, 2, -2, 0);
    for (int i = -1; i <= 2; ++i)
        for (int j = 3; j <= 5; ++j) d[i][j] = 10 * i + j;
    for (int i = 0; i <= 2; ++i) EXPECT_EQ(&im[i][-2], &im[0][-2] + 3 * i);
    EXPECT_EQ(&d[2][5] - &d[-1][3], 11);
    EXPECT_EQ(d[1][5], 15.0);
    free_dmatrix(d, -1, 2, 3, 5);
    free_imatrix(im, 0, 2, -2, 0);
    double*** t = f3tensor(0, 2, -1, 1, 1, 4);
    for (int i = 0; i <= 2; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = 1; k <= 4; ++k) ASSERT_EQ(&t[i][j][k], &t[0][-1][1] + (i * 3 + j + 1) * 4 + k - 1);
    free_f3tensor(t, 0, 2, -1, 1, 1, 4);
    free_matrix(matrix(1, 0, 1, 4), 1, 0, 1, 4);                      // no rows
    free_f3tensor(f3tensor(1, 2, 1, 0, 1, 8), 1, 2, 1, 0, 1, 8);  // no columns

    // Submatrices and converted matrices address the original data.
    double** a = matrix(1, 4, 1, 5);
    for (int i = 1; i <= 4; ++i)
        for (int j = 1; j <= 5; ++j) a[i][j] = 10 * i + j;
    double** b = submatrix(a, 2, 3, 2, 4, 0, 0);
    EXPECT_EQ(b[0][0], 22.0);
    EXPECT_EQ(b[1][2], 34.0);
    b[1][1] = -1.0;
    EXPECT_EQ(a[3][3], -1.0);
    free_submatrix(b, 0, 1, 0, 2);
    free_matrix(a, 1, 4, 1, 5);
    double flat[6] = {0, 1, 2, 3, 4, 5};
    double** c = convert_matrix(flat, 1, 2, 0, 2);
    EXPECT_EQ(&c[1][0], &flat[0]);
    EXPECT_EQ(&c[2][2], &flat[5]);
    free_convert_matrix(c, 1, 2, 0, 2);
}

// Ranges inverted by more than one cannot be allocated: the standard error
// report, then exit code 1.
TEST(NrArraysDeathTest, NrerrorReportsAndExits) {
    double** a = matrix(1, 2, 1, 2);
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[] { nrerror("something broke"); }, "something broke"},
        {[] { numeric::vector(5, 3); }, "allocation failure in vector()"},
        {[] { ivector(5, 3); }, "allocation failure in ivector()"},
        {[] { cvector(5, 3); }, "allocation failure in cvector()"},
        {[] { lvector(5, 3); }, "allocation failure in lvector()"},
        {[] { dvector(5, 3); }, "allocation failure in dvector()"},
        {[] { matrix(3, 1, 1, 4); }, "allocation failure 1 in matrix()"},
        {[] { imatrix(1, 3, 4, 1); }, "allocation failure 2 in matrix()"},
        {[] { f3tensor(3, 1, 1, 2, 1, 2); }, "allocation failure 1 in f3tensor()"},
        {[] { f3tensor(1, 2, 3, 1, 1, 2); }, "allocation failure 2 in f3tensor()"},
        {[] { f3tensor(1, 2, 1, 2, 3, 1); }, "allocation failure 3 in f3tensor()"},
        {[a] { submatrix(a, 2, 0, 1, 2, 1, 1); }, "allocation failure in submatrix()"},
        {[a] { convert_matrix(a[1] + 1, 2, 0, 1, 2); }, "allocation failure in convert_matrix()"}};
    for (const auto& c : cases)
        EXPECT_EXIT(c.first(), testing::ExitedWithCode(1),
                    testing::Matcher<const std::string&>("Numerical Recipes run-time error...\n" +
                                                         std::string(c.second) + "\n...now exiting to system...\n"));
    free_matrix(a, 1, 2, 1, 2);
}

}  // namespace
