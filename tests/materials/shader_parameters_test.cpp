#include "materials/shader_parameters.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

D3DMATRIX rows(std::initializer_list<float> values)
{
    D3DMATRIX m = {};
    int i = 0;
    for (float v : values) {
        m.m[i / 4][i % 4] = v;
        ++i;
    }
    return m;
}

void expectValues(const float* actual, std::initializer_list<float> expected, const char* what)
{
    int i = 0;
    for (float e : expected) {
        EXPECT_NEAR(actual[i], e, 1e-5f) << what << "[" << i << "]";
        ++i;
    }
}

bool isIdentity(const D3DMATRIX& m)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            if (m.m[r][c] != (r == c ? 1.0f : 0.0f))
                return false;
    return true;
}

// World: uniform scale 2, a quarter turn about z (x goes to y), then
// translation (1, 2, 3). View: a quarter turn about x (y goes to z, z to -y)
// and translation (0, 0, 5). Projection: x scale 2, y scale 3, q = 2,
// near 1 (row 2 ends in 1, row 3 holds -q * near).
const D3DMATRIX kWorld = rows({0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 1, 2, 3, 1});
const D3DMATRIX kView = rows({1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0, 5, 1});
const D3DMATRIX kProjection = rows({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 2, 1, 0, 0, -2, 0});

TEST(ShaderSwitchesTest, TableOrderAndKeyPositions)
{
    ShaderSwitches s(nullptr);
    ASSERT_EQ(s.params.size(), 52u);
    EXPECT_EQ(s.totalCount(), 150);

    struct Row {
        size_t index;
        const char* name;
        i32 count;
    };
    // The entries whose position or size a wrong table would shift.
    const Row spots[] = {
        {0, "bake", 1},
        {8, "pointLightFalloffType", 8},
        {9, "spotLightFalloffType", 8},
        {16, "numTexTRNL", 1},
        {17, "numTexBUMP", 1},
        {18, "numShadows", 1},
        {19, "metaTexCOLRFullOpacity", 4},
        {25, "metaTexBUMPFullOpacity", 4},
        {26, "metaTexCOLRInvert", 4},
        {33, "metaTexCOLRBlendop", 4},
        {40, "metaTexCOLRgInput", 4},
        {46, "metaTexBUMPgInput", 4},
        {47, "sphericalEnvmapAvailable", 1},
        {50, "displacement", 1},
    };
    for (const Row& row : spots) {
        EXPECT_STREQ(s.params[row.index].name, row.name);
        EXPECT_EQ(s.params[row.index].count, row.count) << row.name;
    }
    // TRNL has its count only.
    EXPECT_EQ(s.find("metaTexTRNLInvert"), nullptr);
    EXPECT_EQ(s.find("metaTexTRNLFullOpacity"), nullptr);

    // Every named pointer is its entry's storage.
    EXPECT_EQ(s.numShadows, s.find("numShadows")->ints());
    EXPECT_EQ(s.pointLightFalloffType, s.find("pointLightFalloffType")->ints());
    EXPECT_EQ(s.metaTexBUMPgInput, s.find("metaTexBUMPgInput")->ints());

    // Offsets: 8 single switches, two falloff arrays of 8, eight texture
    // counts, then numShadows at 32; 28 arrays of 4 from 33 to 144; the four
    // last singles at 145..148.
    s.pointLightFalloffType[7] = 11;
    *s.numShadows = 7;
    s.metaTexCOLRFullOpacity[0] = 3;
    s.metaTexBUMPgInput[3] = 5;
    *s.displacement = 9;
    std::vector<i32> key;
    s.key(key);
    ASSERT_EQ(key.size(), 150u);
    EXPECT_EQ(key[15], 11);
    EXPECT_EQ(key[32], 7);
    EXPECT_EQ(key[33], 3);
    EXPECT_EQ(key[144], 5);
    EXPECT_EQ(key[148], 9);
    int nonZero = 0;
    for (i32 v : key)
        nonZero += v != 0;
    EXPECT_EQ(nonZero, 5);
}

TEST(ShaderUniformsTest, TableOrderAndFreshState)
{
    ShaderUniforms u(nullptr);
    ASSERT_EQ(u.params.size(), 40u);
    EXPECT_EQ(u.totalCount(), 817);
    EXPECT_STREQ(u.params[0].name, "matWorldViewProj");
    EXPECT_EQ(u.params[0].count, 16);
    EXPECT_STREQ(u.params[2].name, "matWorldViewNormalized");
    EXPECT_EQ(u.params[2].count, 9);
    EXPECT_STREQ(u.params[5].name, "matBone");
    EXPECT_EQ(u.params[5].count, 288);
    EXPECT_STREQ(u.params[7].name, "cylindricalScale");
    EXPECT_STREQ(u.params[21].name, "srfColor");
    EXPECT_EQ(u.params[21].count, 4);
    EXPECT_STREQ(u.params[25].name, "metaTexCOLROpacity");
    EXPECT_EQ(u.params[25].count, 12);
    EXPECT_STREQ(u.params[26].name, "metaTexLUMIOpacity");
    EXPECT_EQ(u.params[26].count, 4);
    EXPECT_STREQ(u.params[38].name, "metaTexBUMPgParam");
    EXPECT_EQ(u.params[38].count, 16);
    EXPECT_EQ(u.srfColor, u.find("srfColor")->floats());
    EXPECT_EQ(u.matBone, u.find("matBone")->floats());

    EXPECT_EQ(u.derivedValid, 0);
    EXPECT_TRUE(isIdentity(u.world));
    EXPECT_TRUE(isIdentity(u.view));
    EXPECT_TRUE(isIdentity(u.projection));
    for (const D3DMATRIX& m : u.textureMatrix)
        EXPECT_TRUE(isIdentity(m));
    for (const D3DMATRIX& m : u.boneMatrix)
        EXPECT_TRUE(isIdentity(m));
    for (const ShaderParam& p : u.params)
        for (i32 i = 0; i < p.count; ++i)
            ASSERT_EQ(p.floats()[i], 0.0f) << p.name;
}

TEST(ShaderUniformsTest, DerivedMatricesFromWorldViewProjection)
{
    ShaderUniforms u(nullptr);
    u.setWorld(kWorld);
    u.setView(kView);
    u.setProjection(kProjection);
    u.computeMatrices();
    EXPECT_EQ(u.derivedValid, 1);

    // WV rotation: world rows (0,2,0), (-2,0,0), (0,0,2) times the view's
    // rotation rows (1,0,0), (0,0,1), (0,-1,0):
    //   (0,2,0) -> 2 x (0,0,1) = (0,0,2); (-2,0,0) -> (-2,0,0);
    //   (0,0,2) -> 2 x (0,-1,0) = (0,-2,0).
    // WV translation: (1,2,3) x view rotation + (0,0,5)
    //   = (1,0,0) + 2 x (0,0,1) + 3 x (0,-1,0) + (0,0,5) = (1,-3,7).
    // matWorldView row r = column r of WV.
    expectValues(u.matWorldView, {0, -2, 0, 1, 0, 0, -2, -3, 2, 0, 0, 7}, "matWorldView");

    // WVP = WV x P: (0,0,2) -> 2 x P row 2 = (0,0,4,2); (-2,0,0) -> (-4,0,0,0);
    // (0,-2,0) -> (0,-6,0,0); (1,-3,7) -> (2,0,0,0) + (0,-9,0,0) +
    // (0,0,14,7) + P row 3 (0,0,-2,0) = (2,-9,12,7). Uploaded transposed.
    expectValues(u.matWorldViewProj, {0, -4, 0, 2, 0, 0, -6, -9, 4, 0, 0, 12, 2, 0, 0, 7}, "matWorldViewProj");

    // WV's rotation is 2R with R = (0,0,1), (-1,0,0), (0,-1,0); its inverse is
    // R^T / 2, so each signed mean is R's element: column j of R as row j.
    expectValues(u.matWorldViewNormalized, {0, -1, 0, 0, 0, -1, 1, 0, 0}, "matWorldViewNormalized");

    // matWorldWT row r = column r of world.
    expectValues(u.matWorldWT, {0, -2, 0, 1, 2, 0, 0, 2, 0, 0, 2, 3}, "matWorldWT");
}

TEST(ShaderUniformsTest, NegativeScaleKeepsItsSignInTheNormalMatrix)
{
    ShaderUniforms u(nullptr);
    // diag(-1, 2, 3): its inverse is diag(-1, 1/2, 1/3); the means are
    // -sqrt(1) = -1, sqrt(2 x 1/2) = 1, sqrt(3 x 1/3) = 1.
    u.setWorld(rows({-1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1}));
    u.computeMatrices();
    expectValues(u.matWorldViewNormalized, {-1, 0, 0, 0, 1, 0, 0, 0, 1}, "matWorldViewNormalized");
}

TEST(ShaderUniformsTest, SignedSqrt)
{
    EXPECT_FLOAT_EQ(signedSqrt(4.0f, 9.0f), 6.0f);
    EXPECT_FLOAT_EQ(signedSqrt(-4.0f, -9.0f), -6.0f);
    EXPECT_FLOAT_EQ(signedSqrt(4.0f, -9.0f), 6.0f);
    EXPECT_FLOAT_EQ(signedSqrt(-2.0f, 0.0f), -0.0f);
    EXPECT_FLOAT_EQ(signedSqrt(0.0f, 5.0f), 0.0f);
}

TEST(ShaderUniformsTest, OnlyWorldViewAndProjectionMakeTheDerivedMatricesStale)
{
    ShaderUniforms u(nullptr);
    u.computeMatrices();
    ASSERT_EQ(u.derivedValid, 1);
    expectValues(u.matWorldViewProj, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}, "identity");

    // A second activation without a setter recomputes nothing, even when
    // the stored transform was changed behind the block's back.
    u.world = kWorld;
    u.computeMatrices();
    EXPECT_FLOAT_EQ(u.matWorldWT[3], 0.0f);

    u.setTextureMatrix(3, kWorld);
    EXPECT_EQ(u.derivedValid, 1);
    u.setBoneMatrix(0, kWorld);
    EXPECT_EQ(u.derivedValid, 1);

    u.setWorld(kWorld);
    EXPECT_EQ(u.derivedValid, 0);
    u.computeMatrices();
    EXPECT_FLOAT_EQ(u.matWorldWT[3], 1.0f); // translation x now present

    u.setView(kView);
    EXPECT_EQ(u.derivedValid, 0);
    u.computeMatrices();
    u.setProjection(kProjection);
    EXPECT_EQ(u.derivedValid, 0);
}

TEST(ShaderUniformsTest, TextureAndBoneMatrices)
{
    ShaderUniforms u(nullptr);
    D3DMATRIX m;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m.m[r][c] = static_cast<float>(10 * r + c + 1);

    u.setTextureMatrix(7, m);
    EXPECT_EQ(std::memcmp(&u.textureMatrix[7], &m, sizeof m), 0);
    EXPECT_TRUE(isIdentity(u.textureMatrix[6]));

    // Bone 23: the last twelve values, columns 0..2 of m as rows:
    // (m00 m10 m20 m30) = (1 11 21 31), (m01 ...) = (2 12 22 32), (3 13 23 33).
    u.setBoneMatrix(23, m);
    EXPECT_EQ(std::memcmp(&u.boneMatrix[23], &m, sizeof m), 0);
    expectValues(u.matBone + 276, {1, 11, 21, 31, 2, 12, 22, 32, 3, 13, 23, 33}, "matBone[23]");
    u.setBoneMatrix(1, m);
    expectValues(u.matBone + 12, {1, 11, 21, 31}, "matBone[1]");

    // Indices outside the arrays change nothing.
    std::vector<float> before(u.matBone, u.matBone + 288);
    u.setBoneMatrix(24, kWorld);
    u.setBoneMatrix(-1, kWorld);
    u.setTextureMatrix(8, kWorld);
    u.setTextureMatrix(-1, kWorld);
    EXPECT_EQ(std::vector<float>(u.matBone, u.matBone + 288), before);
    EXPECT_EQ(std::memcmp(&u.textureMatrix[7], &m, sizeof m), 0);
    EXPECT_TRUE(isIdentity(u.textureMatrix[0]));
}

TEST(ShaderParametersTest, ClearEmptiesTheTable)
{
    ShaderUniforms u(nullptr);
    u.clear();
    EXPECT_TRUE(u.params.empty());
    EXPECT_EQ(u.totalCount(), 0);
    EXPECT_EQ(u.find("matBone"), nullptr);
    u.clear(); // twice, then the destructor once more
}

} // namespace
