// The offset-indexed arrays that the library's transforms use: vectors,
// matrices and three-dimensional tensors, and the error routine they share.
#include "vantir3/numeric/nr_arrays.h"

#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace {

using namespace numeric;

TEST(NrArrays, ArraysCoverTheirRangesInOneBlock) {
    double* v = dvector(-3, 5);
    for (int i = -3; i <= 5; ++i) v[i] = i;
    EXPECT_EQ(v[-3] + v[5], 2.0);
    free_dvector(v, -3, 5);
    free_dvector(dvector(1, 0), 1, 0);  // empty range
    // Matrix rows follow each other in one block; a tensor's data is one
    // block with the last index fastest.
    double** m = matrix(-1, 2, 3, 5);
    for (int i = -1; i <= 2; ++i)
        for (int j = 3; j <= 5; ++j) m[i][j] = 10 * i + j;
    EXPECT_EQ(&m[2][5] - &m[-1][3], 11);
    EXPECT_EQ(m[1][5], 15.0);
    free_matrix(m, -1, 2, 3, 5);
    double*** t = f3tensor(0, 2, -1, 1, 1, 4);
    for (int i = 0; i <= 2; ++i)
        for (int j = -1; j <= 1; ++j)
            for (int k = 1; k <= 4; ++k) ASSERT_EQ(&t[i][j][k], &t[0][-1][1] + (i * 3 + j + 1) * 4 + k - 1);
    free_f3tensor(t, 0, 2, -1, 1, 1, 4);
    free_matrix(matrix(1, 0, 1, 4), 1, 0, 1, 4);                  // no rows
    free_f3tensor(f3tensor(1, 2, 1, 0, 1, 8), 1, 2, 1, 0, 1, 8);  // no columns
}

// Ranges inverted by more than one cannot be allocated: the standard error
// report, then exit code 1.
TEST(NrArraysDeathTest, NrerrorReportsAndExits) {
    const std::pair<std::function<void()>, const char*> cases[] = {
        {[] { nrerror("something broke"); }, "something broke"},
        {[] { dvector(5, 3); }, "allocation failure in dvector()"},
        {[] { matrix(3, 1, 1, 4); }, "allocation failure 1 in matrix()"},
        {[] { matrix(1, 3, 4, 1); }, "allocation failure 2 in matrix()"},
        {[] { f3tensor(3, 1, 1, 2, 1, 2); }, "allocation failure 1 in f3tensor()"},
        {[] { f3tensor(1, 2, 3, 1, 1, 2); }, "allocation failure 2 in f3tensor()"},
        {[] { f3tensor(1, 2, 1, 2, 3, 1); }, "allocation failure 3 in f3tensor()"}};
    for (const auto& c : cases)
        EXPECT_EXIT(c.first(), testing::ExitedWithCode(1),
                    testing::Matcher<const std::string&>("Numerical Recipes run-time error...\n" +
                                                         std::string(c.second) + "\n...now exiting to system...\n"));
}

}  // namespace
