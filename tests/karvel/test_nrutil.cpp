#include <gtest/gtest.h>

#include "nrutil.h"

TEST(Nrutil, MatrixTakesColumnsFirstAndIsZeroFilled) {
    double **m = dmatrice(3, 2);
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < 2; i++)
        for (int j = 0; j < 3; j++) EXPECT_EQ(m[i][j], 0.0);
    m[1][2] = 7.5;  // the last element
    m[0][0] = 1.0;
    EXPECT_EQ(m[1][2], 7.5);
    EXPECT_EQ(m[1][0], 0.0);
    frdmatrice(m, 2);

    unsigned char **u = ucmatrice(5, 4);
    ASSERT_NE(u, nullptr);
    for (int i = 0; i < 4; i++)
        for (int j = 0; j < 5; j++) EXPECT_EQ(u[i][j], 0);
    frucmatrice(u, 4);
}

TEST(Nrutil, RowsDoNotOverlap) {
    int **m = imatrice(7, 5);
    ASSERT_NE(m, nullptr);
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 7; j++) m[i][j] = i * 100 + j;
    for (int i = 0; i < 5; i++)
        for (int j = 0; j < 7; j++) EXPECT_EQ(m[i][j], i * 100 + j);
    frimatrice(m, 5);
}

TEST(Nrutil, LargeMatrixIsOneZeroFilledBlock) {
    // 3000 x 1000 doubles: 24 MB, with the rows one after another.
    double **m = dmatrice(3000, 1000);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m[999][2999], 0.0);
    EXPECT_EQ(m[500][0], 0.0);
    m[999][2999] = 1.0;
    EXPECT_EQ(&m[1][0] - &m[0][0], 3000);
    frdmatrice(m, 1000);
}

TEST(Nrutil, VectorsAreZeroFilled) {
    int *v = ivecteur(10);
    ASSERT_NE(v, nullptr);
    for (int k = 0; k < 10; k++) EXPECT_EQ(v[k], 0);
    frivecteur(v);
    double *d = dvecteur(4);
    ASSERT_NE(d, nullptr);
    for (int k = 0; k < 4; k++) EXPECT_EQ(d[k], 0.0);
    frdvecteur(d);
}

TEST(Nrutil, EveryTypeAllocatesAndReleases) {
    unsigned short **us = usmatrice(3, 2);
    short **s = smatrice(3, 2);
    float **f = fmatrice(3, 2);
    long double **ld = ldmatrice(3, 2);
    ASSERT_TRUE(us && s && f && ld);
    EXPECT_EQ(us[1][2], 0);
    EXPECT_EQ(s[1][2], 0);
    EXPECT_EQ(f[1][2], 0.0f);
    EXPECT_EQ(ld[1][2], 0.0L);
    frusmatrice(us, 2);
    frsmatrice(s, 2);
    frfmatrice(f, 2);
    frldmatrice(ld, 2);
    unsigned char *a = ucvecteur(3);
    unsigned short *b = usvecteur(3);
    short *c = svecteur(3);
    float *e = fvecteur(3);
    ASSERT_TRUE(a && b && c && e);
    frucvecteur(a);
    frusvecteur(b);
    frsvecteur(c);
    frfvecteur(e);
}

TEST(Nrutil, CountsOfZeroOrLessAndImpossibleSizesGiveNull) {
    EXPECT_EQ(dmatrice(0, 5), nullptr);
    EXPECT_EQ(dmatrice(5, 0), nullptr);
    EXPECT_EQ(imatrice(-1, 5), nullptr);
    EXPECT_EQ(ivecteur(0), nullptr);
    EXPECT_EQ(dvecteur(-3), nullptr);
    // 2^31-1 squared doubles can never be obtained.
    EXPECT_EQ(dmatrice(2147483647, 2147483647), nullptr);
}
