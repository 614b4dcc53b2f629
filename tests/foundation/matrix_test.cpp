#include "foundation/matrix.h"

#include "foundation/diagnostics.h"

#include "log_test_support.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace {

using testsupport::LevelGuard;

D3DMATRIX rows(std::initializer_list<float> values)
{
    D3DMATRIX m{};
    int i = 0;
    for (float v : values) {
        m.m[i / 4][i % 4] = v;
        ++i;
    }
    return m;
}

D3DMATRIX identity()
{
    return rows({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});
}

void expectMatrixEq(const D3DMATRIX& actual, const D3DMATRIX& expected)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_EQ(actual.m[r][c], expected.m[r][c]) << "row " << r << " column " << c;
}

void expectMatrixNear(const D3DMATRIX& actual, const D3DMATRIX& expected, float tolerance)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_NEAR(actual.m[r][c], expected.m[r][c], tolerance) << "row " << r << " column " << c;
}

} // namespace

TEST(MatrixLayout, FieldsAliasTheRowMajorArray)
{
    D3DMATRIX m = rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    EXPECT_EQ(m._12, 2.0f);
    EXPECT_EQ(m._21, 5.0f);
    EXPECT_EQ(m._43, 15.0f);
    EXPECT_EQ(m._44, 16.0f);
}

TEST(MatrixBuild, AffineTransposeScaleSwap)
{
    D3DMATRIX a;
    makeAffineMatrix(a, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12);
    expectMatrixEq(a, rows({1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 1}));

    D3DMATRIX t;
    matTranspose(t, a);
    expectMatrixEq(t, rows({1, 4, 7, 10, 2, 5, 8, 11, 3, 6, 9, 12, 0, 0, 0, 1}));
    matTranspose(t, t); // in place comes back
    expectMatrixEq(t, a);

    // m x diag(2, 3, 0.5, 10): column c times s[c]
    D3DMATRIX s = a;
    const float scale[4] = {2, 3, 0.5f, 10};
    matScaleColumns(s, scale);
    expectMatrixEq(s, rows({2, 6, 1.5f, 0, 8, 15, 3, 0, 14, 24, 4.5f, 0, 20, 33, 6, 10}));

    D3DMATRIX r;
    matScaleRow(r, 1, a, -2);
    expectMatrixEq(r, rows({1, 2, 3, 0, -8, -10, -12, -0.0f, 7, 8, 9, 0, 10, 11, 12, 1}));

    D3DMATRIX w;
    matSwapRows(w, a, 0, 3);
    expectMatrixEq(w, rows({10, 11, 12, 1, 4, 5, 6, 0, 7, 8, 9, 0, 1, 2, 3, 0}));
    matSwapRows(w, a, 2, 2);
    expectMatrixEq(w, a);
}

TEST(MatrixProduct, GeneralProductByHand)
{
    const D3DMATRIX a = rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    // b's rows: b0 = (2 0 0 0), b1 = (0 0 1 0), b2 = (0 3 0 0), b3 = (1 1 1 1)
    const D3DMATRIX b = rows({2, 0, 0, 0, 0, 0, 1, 0, 0, 3, 0, 0, 1, 1, 1, 1});
    // row r of a x b = a[r][0] b0 + a[r][1] b1 + a[r][2] b2 + a[r][3] b3
    // row 0: 1(2 0 0 0) + 2(0 0 1 0) + 3(0 3 0 0) + 4(1 1 1 1) = (6 13 6 4)
    // row 1: (10+8, 21+8, 6+8, 8) = (18 29 14 8)
    // row 2: (18+12, 33+12, 10+12, 12) = (30 45 22 12)
    // row 3: (26+16, 45+16, 14+16, 16) = (42 61 30 16)
    D3DMATRIX out;
    matMul(out, a, b);
    expectMatrixEq(out, rows({6, 13, 6, 4, 18, 29, 14, 8, 30, 45, 22, 12, 42, 61, 30, 16}));

    // the output may be one of the inputs
    D3DMATRIX c = a;
    matMul(c, c, b);
    expectMatrixEq(c, out);
}

TEST(MatrixProduct, AffineFullIgnoresColumnThreeOfTheLeft)
{
    // Column 3 of a holds junk that must be read as (0 0 0 1).
    const D3DMATRIX a = rows({1, 2, 3, 99, 4, 5, 6, 99, 7, 8, 9, 99, 10, 11, 12, 99});
    const D3DMATRIX b = rows({2, 0, 0, 0, 0, 0, 1, 0, 0, 3, 0, 0, 1, 1, 1, 1});
    // row 0: 1(2 0 0 0) + 2(0 0 1 0) + 3(0 3 0 0) = (2 9 2 0)
    // row 1: 4(..) + 5(..) + 6(..) = (8 18 5 0)
    // row 2: (14 27 8 0)
    // row 3: 10(2 0 0 0) + 11(0 0 1 0) + 12(0 3 0 0) + (1 1 1 1) = (21 37 12 1)
    D3DMATRIX out;
    matMulAffineFull(out, a, b);
    expectMatrixEq(out, rows({2, 9, 2, 0, 8, 18, 5, 0, 14, 27, 8, 0, 21, 37, 12, 1}));
}

TEST(MatrixProduct, AffineTimesAffine)
{
    // a: 90 degrees about z (x -> y) with translation (1 2 3); junk in column 3
    // b: uniform scale 2 with translation (10 20 30); junk in column 3
    D3DMATRIX a = rows({0, 1, 0, 7, -1, 0, 0, 7, 0, 0, 1, 7, 1, 2, 3, 7});
    D3DMATRIX b = rows({2, 0, 0, 5, 0, 2, 0, 5, 0, 0, 2, 5, 10, 20, 30, 5});
    // 3x3: a's rows times 2; row 3: (1 2 3) x 2 + (10 20 30) = (12 24 36)
    D3DMATRIX out;
    matMulAffine(out, a, b);
    expectMatrixEq(out, rows({0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 12, 24, 36, 1}));
}

TEST(MatrixInverse, AffineByHandAndAsProduct)
{
    // scale (2 4 0.5), translation (2 8 1): inverse scale (0.5 0.25 2),
    // translation -(2 x 0.5, 8 x 0.25, 1 x 2) = (-1 -2 -2)
    D3DMATRIX m;
    makeAffineMatrix(m, 2, 0, 0, 0, 4, 0, 0, 0, 0.5f, 2, 8, 1);
    D3DMATRIX inv;
    matInvertAffine(inv, m);
    expectMatrixEq(inv, rows({0.5f, 0, 0, 0, 0, 0.25f, 0, 0, 0, 0, 2, 0, -1, -2, -2, 1}));

    // a rotation, shear and translation: m x inverse = identity
    makeAffineMatrix(m, 0.8f, 0.6f, 0, -0.6f, 0.8f, 0.3f, 0.1f, 0, 1.5f, 4, -5, 6);
    matInvertAffine(inv, m);
    D3DMATRIX p;
    matMul(p, m, inv);
    expectMatrixNear(p, identity(), 1e-5f);
    matMul(p, inv, m);
    expectMatrixNear(p, identity(), 1e-5f);
}

TEST(MatrixInverse, SingularAffineGivesIdentityWithoutBox)
{
    LevelGuard guard;
    diagnosticsLevel = 3;
    platform::clearRecordedMessageBoxes();
    // an object scaled to 0 on y, as a hidden node's world matrix is
    D3DMATRIX m;
    makeAffineMatrix(m, 1, 0, 0, 0, 0, 0, 0, 0, 1, 5, 6, 7);
    D3DMATRIX inv = rows({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    matInvertAffine(inv, m);
    expectMatrixEq(inv, identity());
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            EXPECT_TRUE(std::isfinite(inv.m[r][c]));
    EXPECT_TRUE(platform::recordedMessageBoxes().empty());
}

TEST(MatrixInverse, RandomWellConditionedMatrices)
{
    std::mt19937 rng(1234);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (int trial = 0; trial < 200; ++trial) {
        D3DMATRIX m;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                m.m[r][c] = dist(rng) + (r == c ? 4.0f : 0.0f); // diagonally dominant
        D3DMATRIX inv;
        matInvert(inv, m);
        D3DMATRIX p;
        matMul(p, inv, m);
        expectMatrixNear(p, identity(), 1e-5f);
        matMul(p, m, inv);
        expectMatrixNear(p, identity(), 1e-5f);
        if (HasFailure())
            break;
    }
}

TEST(MatrixInverse, ZeroPivotExchangesRows)
{
    // m[0][0] = 0 but m[1][0] = 4. By hand, M X = I with
    //   row0: 2 X1 = (1 0 0 0) -> X1 = (0.5 0 0 0)
    //   row1: 4 X0 = (0 1 0 0) -> X0 = (0 0.25 0 0)
    //   row2: X2 = (0 0 1 0)
    //   row3: X0 + 2 X1 + 3 X2 + X3 = (0 0 0 1) -> X3 = (-1 -0.25 -3 1)
    const D3DMATRIX m = rows({0, 2, 0, 0, 4, 0, 0, 0, 0, 0, 1, 0, 1, 2, 3, 1});
    D3DMATRIX inv;
    matInvert(inv, m);
    expectMatrixEq(inv, rows({0, 0.25f, 0, 0, 0.5f, 0, 0, 0, 0, 0, 1, 0, -1, -0.25f, -3, 1}));

    // a zero pivot that first appears during elimination: after row 1 -= 1 x
    // row 0, A[1][1] = 0 and row 2 is the first one below with a non-zero
    const D3DMATRIX n = rows({1, 1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 0, 0, 0, 2});
    matInvert(inv, n);
    D3DMATRIX p;
    matMul(p, n, inv);
    expectMatrixEq(p, identity());
}

TEST(MatrixInverse, SingularReportsAtLevelThreeAndGivesIdentity)
{
    LevelGuard guard;
    // column 2 entirely zero
    const D3DMATRIX zeroColumn = rows({1, 2, 0, 4, 5, 6, 0, 8, 9, 1, 0, 2, 3, 4, 0, 5});
    // row 1 = 2 x row 0: found singular at column 1 after elimination
    const D3DMATRIX dependent = rows({1, 2, 0, 0, 2, 4, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1});

    for (const D3DMATRIX& m : {zeroColumn, dependent}) {
        diagnosticsLevel = 3;
        platform::clearRecordedMessageBoxes();
        forgetFailedAssertions();
        D3DMATRIX inv = rows({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
        matInvert(inv, m);
        expectMatrixEq(inv, identity());
        const auto& boxes = platform::recordedMessageBoxes();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Assertion failed");
        // the backslash and n stay two visible characters
        EXPECT_EQ(boxes[0].text, "Singular trans mat encountered.\\n");

        diagnosticsLevel = 2;
        platform::clearRecordedMessageBoxes();
        inv = rows({9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
        matInvert(inv, m);
        expectMatrixEq(inv, identity());
        EXPECT_TRUE(platform::recordedMessageBoxes().empty());
    }
    platform::clearRecordedMessageBoxes();
}

TEST(VectorTransform, CoordNormalAndFull)
{
    D3DMATRIX translate;
    makeAffineMatrix(translate, 1, 0, 0, 0, 1, 0, 0, 0, 1, 10, 20, 30);
    D3DVECTOR out;
    vecTransformCoord(out, D3DVECTOR{1, 2, 3}, translate);
    EXPECT_EQ(out.x, 11.0f);
    EXPECT_EQ(out.y, 22.0f);
    EXPECT_EQ(out.z, 33.0f);

    // (1 2 3) x rows (1 2 3 4) (5 6 7 8) (9 10 11 12) + (13 14 15 16):
    //   x: 1 + 10 + 27 + 13 = 51, y: 2 + 12 + 30 + 14 = 58,
    //   z: 3 + 14 + 33 + 15 = 65, w: 4 + 16 + 36 + 16 = 72 (not divided)
    const D3DMATRIX g = rows({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    vecTransformCoord(out, D3DVECTOR{1, 2, 3}, g);
    EXPECT_EQ(out.x, 51.0f);
    EXPECT_EQ(out.y, 58.0f);
    EXPECT_EQ(out.z, 65.0f);
    float full[4];
    vecTransform(full, D3DVECTOR{1, 2, 3}, g);
    EXPECT_EQ(full[0], 51.0f);
    EXPECT_EQ(full[1], 58.0f);
    EXPECT_EQ(full[2], 65.0f);
    EXPECT_EQ(full[3], 72.0f);

    // normals ignore the translation row: 51 - 13, 58 - 14, 65 - 15
    vecTransformNormalTo(out, D3DVECTOR{1, 2, 3}, g);
    EXPECT_EQ(out.x, 38.0f);
    EXPECT_EQ(out.y, 44.0f);
    EXPECT_EQ(out.z, 50.0f);
    D3DVECTOR v{1, 2, 3};
    vecTransformNormal(v, g);
    EXPECT_EQ(v.x, 38.0f);
    EXPECT_EQ(v.y, 44.0f);
    EXPECT_EQ(v.z, 50.0f);
}

TEST(VectorNormalize, ReturnsFormerLength)
{
    D3DVECTOR zero{0, 0, 0};
    EXPECT_EQ(vecNormalize(zero), 0.0f);
    EXPECT_EQ(zero.x, 0.0f);
    EXPECT_EQ(zero.y, 0.0f);
    EXPECT_EQ(zero.z, 0.0f);

    D3DVECTOR v{3, 0, 4};
    EXPECT_EQ(vecNormalize(v), 5.0f);
    EXPECT_FLOAT_EQ(v.x, 0.6f);
    EXPECT_EQ(v.y, 0.0f);
    EXPECT_FLOAT_EQ(v.z, 0.8f);
}

TEST(ColorPacking, ChannelsClampRoundAndLand)
{
    // (1.0, 0.5, 0.0, 2.0): red 255, green 0.5 x 255 + 0.5 = 128, blue 0, alpha 255
    const float c1[4] = {1.0f, 0.5f, 0.0f, 2.0f};
    EXPECT_EQ(colorToARGB(c1), 0xFFFF8000u);

    // negative and NaN channels give 0
    const float c2[4] = {-0.5f, NAN, 1.0f, -INFINITY};
    EXPECT_EQ(colorToARGB(c2), 0x000000FFu);
    const float c3[4] = {INFINITY, 0, 0, 1};
    EXPECT_EQ(colorToARGB(c3), 0xFFFF0000u);

    // 0.999 x 255 + 0.5 = 255.245 -> 255; 0.001 x 255 + 0.5 = 0.755 -> 0;
    // 0.25 x 255 + 0.5 = 64.25 -> 64
    const float c4[4] = {0.999f, 0.001f, 0.25f, 0.25f};
    EXPECT_EQ(colorToARGB(c4), 0x40FF0040u);

    // blue byte only at the bottom, alpha at the top
    const float c5[4] = {0, 0, 1, 0};
    EXPECT_EQ(colorToARGB(c5), 0x000000FFu);
}

TEST(ColorPacking, Unpacking)
{
    float c[4];
    argbToColorOpaque(c, 0x00FF0000u);
    EXPECT_EQ(c[0], 1.0f);
    EXPECT_EQ(c[1], 0.0f);
    EXPECT_EQ(c[2], 0.0f);
    EXPECT_EQ(c[3], 1.0f);

    // 0x80 x 0.003921569 = 0.50196...
    argbToColor(c, 0x80112233u);
    EXPECT_FLOAT_EQ(c[0], 0x11 * 0.003921569f);
    EXPECT_FLOAT_EQ(c[1], 0x22 * 0.003921569f);
    EXPECT_FLOAT_EQ(c[2], 0x33 * 0.003921569f);
    EXPECT_FLOAT_EQ(c[3], 0x80 * 0.003921569f);

    // packing what was unpacked gives the bytes back
    for (D3DCOLOR packed : {0x00000000u, 0xFFFFFFFFu, 0x80112233u, 0x01FE7F80u}) {
        argbToColor(c, packed);
        EXPECT_EQ(colorToARGB(c), packed);
    }
}
