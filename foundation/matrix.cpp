#include "foundation/matrix.h"

#include "foundation/diagnostics.h"

#include <cmath>

namespace {

void setIdentity(D3DMATRIX& out)
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            out.m[r][c] = r == c ? 1.0f : 0.0f;
}

// One channel of a packed colour. The negated test sends NaN to 0 instead of
// into an undefined float-to-integer conversion.
D3DCOLOR packChannel(float value)
{
    if (value >= 1.0f)
        return 255;
    if (!(value > 0.0f))
        return 0;
    return static_cast<D3DCOLOR>(value * 255.0f + 0.5f);
}

} // namespace

void makeAffineMatrix(D3DMATRIX& out,
                      float m11, float m12, float m13,
                      float m21, float m22, float m23,
                      float m31, float m32, float m33,
                      float m41, float m42, float m43)
{
    out.m[0][0] = m11; out.m[0][1] = m12; out.m[0][2] = m13; out.m[0][3] = 0.0f;
    out.m[1][0] = m21; out.m[1][1] = m22; out.m[1][2] = m23; out.m[1][3] = 0.0f;
    out.m[2][0] = m31; out.m[2][1] = m32; out.m[2][2] = m33; out.m[2][3] = 0.0f;
    out.m[3][0] = m41; out.m[3][1] = m42; out.m[3][2] = m43; out.m[3][3] = 1.0f;
}

void matTranspose(D3DMATRIX& out, const D3DMATRIX& m)
{
    D3DMATRIX t;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t.m[r][c] = m.m[c][r];
    out = t;
}

void matScaleColumns(D3DMATRIX& m, const float s[4])
{
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            m.m[r][c] *= s[c];
}

void matScaleRow(D3DMATRIX& out, int row, const D3DMATRIX& m, float factor)
{
    D3DMATRIX t = m;
    for (int c = 0; c < 4; ++c)
        t.m[row][c] *= factor;
    out = t;
}

void matSwapRows(D3DMATRIX& out, const D3DMATRIX& m, int i, int j)
{
    D3DMATRIX t = m;
    for (int c = 0; c < 4; ++c) {
        t.m[i][c] = m.m[j][c];
        t.m[j][c] = m.m[i][c];
    }
    out = t;
}

void matMul(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX t;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c)
            t.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] +
                        a.m[r][2] * b.m[2][c] + a.m[r][3] * b.m[3][c];
    out = t;
}

void matMulAffineFull(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX t;
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 4; ++c)
            t.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c];
    for (int c = 0; c < 4; ++c)
        t.m[3][c] = a.m[3][0] * b.m[0][c] + a.m[3][1] * b.m[1][c] + a.m[3][2] * b.m[2][c] +
                    b.m[3][c];
    out = t;
}

void matMulAffine(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b)
{
    D3DMATRIX t;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 3; ++c)
            t.m[r][c] = a.m[r][0] * b.m[0][c] + a.m[r][1] * b.m[1][c] + a.m[r][2] * b.m[2][c];
        t.m[r][3] = 0.0f;
    }
    for (int c = 0; c < 3; ++c)
        t.m[3][c] += b.m[3][c];
    t.m[3][3] = 1.0f;
    out = t;
}

void matInvertAffine(D3DMATRIX& out, const D3DMATRIX& m)
{
    const float a = m.m[0][0], b = m.m[0][1], c = m.m[0][2];
    const float d = m.m[1][0], e = m.m[1][1], f = m.m[1][2];
    const float g = m.m[2][0], h = m.m[2][1], i = m.m[2][2];

    const float c00 = e * i - f * h;
    const float c01 = f * g - d * i;
    const float c02 = d * h - e * g;
    const float det = a * c00 + b * c01 + c * c02;
    if (det == 0.0f) {
        setIdentity(out);
        return;
    }

    D3DMATRIX t;
    t.m[0][0] = c00 / det;
    t.m[0][1] = (c * h - b * i) / det;
    t.m[0][2] = (b * f - c * e) / det;
    t.m[1][0] = c01 / det;
    t.m[1][1] = (a * i - c * g) / det;
    t.m[1][2] = (c * d - a * f) / det;
    t.m[2][0] = c02 / det;
    t.m[2][1] = (b * g - a * h) / det;
    t.m[2][2] = (a * e - b * d) / det;
    for (int col = 0; col < 3; ++col)
        t.m[3][col] = -(m.m[3][0] * t.m[0][col] + m.m[3][1] * t.m[1][col] +
                        m.m[3][2] * t.m[2][col]);
    t.m[0][3] = t.m[1][3] = t.m[2][3] = 0.0f;
    t.m[3][3] = 1.0f;
    out = t;
}

void matInvert(D3DMATRIX& out, const D3DMATRIX& m)
{
    D3DMATRIX a = m;
    D3DMATRIX b;
    setIdentity(b);

    auto swapRows = [](D3DMATRIX& x, int i, int j) {
        for (int c = 0; c < 4; ++c) {
            const float s = x.m[i][c];
            x.m[i][c] = x.m[j][c];
            x.m[j][c] = s;
        }
    };
    // row r -= f x row c, in both matrices
    auto eliminate = [&](int r, int c) {
        const float f = a.m[r][c];
        for (int k = 0; k < 4; ++k) {
            a.m[r][k] -= f * a.m[c][k];
            b.m[r][k] -= f * b.m[c][k];
        }
    };

    for (int c = 0; c < 4; ++c) {
        if (a.m[c][c] == 0.0f) {
            int r = c + 1;
            while (r < 4 && a.m[r][c] == 0.0f)
                ++r;
            if (r == 4) {
                ENGINE_ASSERT_FAILED("Singular trans mat encountered.\n");
                setIdentity(out);
                return;
            }
            swapRows(a, c, r);
            swapRows(b, c, r);
        }
        if (a.m[c][c] != 1.0f) {
            const float inv = 1.0f / a.m[c][c];
            for (int k = 0; k < 4; ++k) {
                a.m[c][k] *= inv;
                b.m[c][k] *= inv;
            }
        }
        for (int r = c + 1; r < 4; ++r)
            eliminate(r, c);
    }
    for (int c = 3; c >= 0; --c)
        for (int r = 0; r < c; ++r)
            eliminate(r, c);
    out = b;
}

void vecTransformNormal(D3DVECTOR& v, const D3DMATRIX& m)
{
    vecTransformNormalTo(v, v, m);
}

void vecTransformNormalTo(D3DVECTOR& out, const D3DVECTOR& v, const D3DMATRIX& m)
{
    const float x = v.x, y = v.y, z = v.z;
    out.x = x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0];
    out.y = x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1];
    out.z = x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2];
}

void vecTransformCoord(D3DVECTOR& out, const D3DVECTOR& v, const D3DMATRIX& m)
{
    const float x = v.x, y = v.y, z = v.z;
    out.x = x * m.m[0][0] + y * m.m[1][0] + z * m.m[2][0] + m.m[3][0];
    out.y = x * m.m[0][1] + y * m.m[1][1] + z * m.m[2][1] + m.m[3][1];
    out.z = x * m.m[0][2] + y * m.m[1][2] + z * m.m[2][2] + m.m[3][2];
}

void vecTransform(float out[4], const D3DVECTOR& v, const D3DMATRIX& m)
{
    const float x = v.x, y = v.y, z = v.z;
    for (int c = 0; c < 4; ++c)
        out[c] = x * m.m[0][c] + y * m.m[1][c] + z * m.m[2][c] + m.m[3][c];
}

float vecNormalize(D3DVECTOR& v)
{
    const float length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (length != 0.0f) {
        const float inv = 1.0f / length;
        v.x *= inv;
        v.y *= inv;
        v.z *= inv;
    }
    return length;
}

D3DCOLOR colorToARGB(const float color[4])
{
    return packChannel(color[3]) << 24 | packChannel(color[0]) << 16 |
           packChannel(color[1]) << 8 | packChannel(color[2]);
}

void argbToColor(float out[4], D3DCOLOR packed)
{
    const float scale = 0.003921569f; // 1/255
    out[0] = static_cast<float>((packed >> 16) & 0xFF) * scale;
    out[1] = static_cast<float>((packed >> 8) & 0xFF) * scale;
    out[2] = static_cast<float>(packed & 0xFF) * scale;
    out[3] = static_cast<float>(packed >> 24) * scale;
}

void argbToColorOpaque(float out[4], D3DCOLOR packed)
{
    argbToColor(out, packed);
    out[3] = 1.0f;
}
