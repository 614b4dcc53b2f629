// Texture coordinates of the generated programs: camera-space generation
// (normal, position, reflection vector) into cube and 2D textures, texture
// transforms with COUNT2/COUNT3.
#include "fixed_function_reference.h"
#include "fixed_function_test_support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace fftest;
using ffref::V3;

namespace {

constexpr int kWidth = 16;
constexpr int kHeight = 8;
// A 2 x 2 texture: top-left, top-right, bottom-left, bottom-right.
const std::vector<D3DCOLOR> kQuad = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFF00};
// Cube faces +X, -X, +Y, -Y, +Z, -Z.
const D3DCOLOR kFaces[6] = {0xFFFF0000, 0xFF00FFFF, 0xFF00FF00, 0xFFFF00FF, 0xFF0000FF, 0xFFFFFF00};

FixedFunctionState textured(DWORD fvf, FixedTextureKind kind)
{
    FixedFunctionState s;
    s.layout = fixedVertexLayoutFromFVF(fvf);
    s.projection = screenOrtho(kWidth, kHeight);
    s.viewport = {0, 0, kWidth, kHeight, 0.0f, 1.0f};
    s.renderStates[D3DRS_LIGHTING] = FALSE;
    s.stageStates[0][D3DTSS_COLOROP] = D3DTOP_SELECTARG1;
    s.stageStates[0][D3DTSS_COLORARG1] = D3DTA_TEXTURE;
    s.stageStates[0][D3DTSS_ALPHAOP] = D3DTOP_SELECTARG1;
    s.stageStates[0][D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
    s.textureKind[0] = kind;
    return s;
}

TestVertex at(int x, int y, double z = 5)
{
    TestVertex v;
    v.position[0] = float(x);
    v.position[1] = float(y);
    v.position[2] = float(z);
    return v;
}

D3DCOLOR pixelColor(const Target& t, int x, int y)
{
    const Rgba p = t.pixel(x, y);
    return (DWORD(p.a) << 24) | (DWORD(p.r) << 16) | (DWORD(p.g) << 8) | DWORD(p.b);
}

// Which cube face a direction picks (the major axis).
int face(V3 d)
{
    const double ax = std::fabs(d.x), ay = std::fabs(d.y), az = std::fabs(d.z);
    if (ax >= ay && ax >= az)
        return d.x > 0 ? 0 : 1;
    if (ay >= az)
        return d.y > 0 ? 2 : 3;
    return d.z > 0 ? 4 : 5;
}

// Which quadrant of kQuad a (u, v) in 0..1 picks.
D3DCOLOR quadrant(double u, double v)
{
    return kQuad[(v >= 0.5 ? 2 : 0) + (u >= 0.5 ? 1 : 0)];
}

TEST(FixedFunctionTexCoords, Count2TransformOfATwoComponentSet)
{
    // A 2D coordinate enters the matrix as (u, v, 1, 0): the third row
    // translates it, the fourth does not.
    FixedFunctionState s = textured(D3DFVF_XYZ | D3DFVF_TEX1, FixedTextureKind::Texture2D);
    s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2;
    FF_RUN_WITH_GL([&] {
        Target target(kWidth, kHeight);
        target.clear(0);
        const GLuint tex = makeTexture2D(0, 2, 2, kQuad);
        FixedFunctionPipeline pipeline;
        struct Case {
            float m31, m32, m41, m42, m11;
            double u, v;
        } cases[] = {
            {0, 0, 0, 0, 1, 0.25, 0.25},       // identity
            {0.5f, 0, 0, 0, 1, 0.75, 0.25},    // third row moves u
            {0, 0.5f, 0, 0, 1, 0.25, 0.75},    // and v
            {0, 0, 0.5f, 0.5f, 1, 0.25, 0.25}, // fourth row has no effect
            {0, 0, 0, 0, 3, 0.75, 0.25},       // scale
        };
        int x = 0;
        for (const Case& c : cases) {
            s.texture[0] = D3DMATRIX{};
            s.texture[0]._11 = c.m11;
            s.texture[0]._22 = s.texture[0]._33 = s.texture[0]._44 = 1.0f;
            s.texture[0]._31 = c.m31;
            s.texture[0]._32 = c.m32;
            s.texture[0]._41 = c.m41;
            s.texture[0]._42 = c.m42;
            TestVertex v = at(x, 2);
            v.tex[0][0] = 0.25f;
            v.tex[0][1] = 0.25f;
            ASSERT_TRUE(target.draw(pipeline, s, {v}, GL_POINTS));
            EXPECT_EQ(pixelColor(target, x, 2), quadrant(c.u, c.v)) << "case " << x;
            ++x;
        }
        glDeleteTextures(1, &tex);
    });
}

TEST(FixedFunctionTexCoords, CameraSpaceReflectionVectorIntoACubeMap)
{
    // R = I - 2 (N.I) N: I is +z for a viewer at infinity, the direction
    // from the eye to the vertex for a local viewer; COUNT3 with a texture
    // matrix that maps x to z shows the transform applies.
    const V3 normals[] = {{0, 0, -1}, {0.8, 0, -0.6}, {-0.8, 0, -0.6}, {0, 0.8, -0.6}, {0, -0.8, -0.6},
                          {0.6, 0.35, -0.72}};
    for (int variant = 0; variant < 4; ++variant) {
        const bool local = variant & 1, rotated = variant & 2;
        FixedFunctionState s = textured(D3DFVF_XYZ | D3DFVF_NORMAL, FixedTextureKind::Cube);
        s.stageStates[0][D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR;
        s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT3;
        s.renderStates[D3DRS_NORMALIZENORMALS] = TRUE;
        s.renderStates[D3DRS_LOCALVIEWER] = local;
        D3DMATRIX rotation{}; // (x, y, z) -> (z, y, -x)
        rotation._13 = -1.0f;
        rotation._22 = 1.0f;
        rotation._31 = 1.0f;
        rotation._44 = 1.0f;
        if (rotated)
            s.texture[0] = rotation;
        SCOPED_TRACE(std::string(local ? "local" : "infinite") + (rotated ? " rotated" : ""));
        FF_RUN_WITH_GL([&] {
            Target target(kWidth, kHeight);
            target.clear(0);
            const GLuint tex = makeCubeTexture(0, kFaces);
            FixedFunctionPipeline pipeline;
            std::vector<TestVertex> v;
            for (size_t i = 0; i < std::size(normals); ++i) {
                TestVertex vertex = at(int(2 * i + 1), 3, 6);
                vertex.normal[0] = float(normals[i].x);
                vertex.normal[1] = float(normals[i].y);
                vertex.normal[2] = float(normals[i].z);
                v.push_back(vertex);
            }
            ASSERT_TRUE(target.draw(pipeline, s, v, GL_POINTS));
            for (size_t i = 0; i < std::size(normals); ++i) {
                const V3 P{double(2 * i + 1), 3, 6};
                const V3 N = ffref::normalize(normals[i]);
                const V3 I = local ? ffref::normalize(P) : V3{0, 0, 1};
                V3 R = I - N * (2 * ffref::dot(N, I));
                if (rotated)
                    R = ffref::transform(R, rotation, 1);
                EXPECT_EQ(pixelColor(target, int(2 * i + 1), 3), kFaces[face(R)]) << "normal " << i;
            }
            glDeleteTextures(1, &tex);
        });
    }
}

TEST(FixedFunctionTexCoords, CameraSpaceNormalAndPosition)
{
    FF_RUN_WITH_GL([&] {
        Target target(kWidth, kHeight);
        target.clear(0);
        const GLuint cube = makeCubeTexture(0, kFaces);
        FixedFunctionPipeline pipeline;
        // Camera-space normals into the cube map.
        FixedFunctionState s = textured(D3DFVF_XYZ | D3DFVF_NORMAL, FixedTextureKind::Cube);
        s.stageStates[0][D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACENORMAL;
        std::vector<TestVertex> v;
        const V3 normals[] = {{1, 0, 0}, {0, 0, -1}, {0, -1, 0.2}};
        for (int i = 0; i < 3; ++i) {
            TestVertex vertex = at(i, 5);
            vertex.normal[0] = float(normals[i].x);
            vertex.normal[1] = float(normals[i].y);
            vertex.normal[2] = float(normals[i].z);
            v.push_back(vertex);
        }
        ASSERT_TRUE(target.draw(pipeline, s, v, GL_POINTS));
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(pixelColor(target, i, 5), kFaces[face(normals[i])]) << "normal " << i;

        // Positions into a 2D texture: COUNT2 with a matrix that scales
        // camera x and y to 0..1 over the target.
        const GLuint quad = makeTexture2D(0, 2, 2, kQuad);
        s = textured(D3DFVF_XYZ, FixedTextureKind::Texture2D);
        s.stageStates[0][D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACEPOSITION;
        s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2;
        s.texture[0] = D3DMATRIX{};
        s.texture[0]._11 = 1.0f / kWidth;
        s.texture[0]._22 = 1.0f / kHeight;
        s.texture[0]._44 = 1.0f;
        const int points[][2] = {{2, 1}, {13, 1}, {2, 6}, {13, 6}};
        v.clear();
        for (const auto& p : points)
            v.push_back(at(p[0], p[1]));
        ASSERT_TRUE(target.draw(pipeline, s, v, GL_POINTS));
        for (const auto& p : points)
            EXPECT_EQ(pixelColor(target, p[0], p[1]), quadrant(double(p[0]) / kWidth, double(p[1]) / kHeight));
        glDeleteTextures(1, &cube);
        glDeleteTextures(1, &quad);
    });
}

TEST(FixedFunctionTexCoords, SphereMapStageFromTheReflectionVector)
{
    // The reflection stage of the engine: reflection vector, COUNT2, a
    // matrix with 0.5 scales and a (0.5, 0.5) translation in the fourth row,
    // which applies because generated coordinates have w = 1.
    FixedFunctionState s = textured(D3DFVF_XYZ | D3DFVF_NORMAL, FixedTextureKind::Texture2D);
    s.stageStates[0][D3DTSS_TEXCOORDINDEX] = D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR;
    s.stageStates[0][D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_COUNT2;
    s.renderStates[D3DRS_LOCALVIEWER] = FALSE;
    D3DMATRIX& m = s.texture[0];
    m = D3DMATRIX{};
    m._11 = 0.5f; // axis Z mapping: rows (0.5, 0, 0), (0, 0.5, 0), (0, 0, 0)
    m._22 = 0.5f;
    m._41 = 0.5f;
    m._42 = 0.5f;
    m._44 = 1.0f;
    const V3 normals[] = {{0.5, 0.3, -0.81}, {-0.5, 0.3, -0.81}, {0.5, -0.3, -0.81}, {-0.5, -0.3, -0.81}};
    FF_RUN_WITH_GL([&] {
        Target target(kWidth, kHeight);
        target.clear(0);
        const GLuint tex = makeTexture2D(0, 2, 2, kQuad);
        FixedFunctionPipeline pipeline;
        std::vector<TestVertex> v;
        for (int i = 0; i < 4; ++i) {
            TestVertex vertex = at(3 * i + 1, 6);
            vertex.normal[0] = float(normals[i].x);
            vertex.normal[1] = float(normals[i].y);
            vertex.normal[2] = float(normals[i].z);
            v.push_back(vertex);
        }
        ASSERT_TRUE(target.draw(pipeline, s, v, GL_POINTS));
        for (int i = 0; i < 4; ++i) {
            const V3 N = normals[i];
            const V3 I{0, 0, 1};
            const V3 R = I - N * (2 * ffref::dot(N, I));
            EXPECT_EQ(pixelColor(target, 3 * i + 1, 6), quadrant(0.5 * R.x + 0.5, 0.5 * R.y + 0.5)) << "normal " << i;
        }
        glDeleteTextures(1, &tex);
    });
}

} // namespace
