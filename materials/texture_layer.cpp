#include "materials/texture_layer.h"

#include "foundation/matrix.h"

#include <cmath>

namespace {

// T(-centre) x rotation: heading about y (taken negated), pitch about x,
// bank about z, written out rather than multiplied.
D3DMATRIX rotationAbout(float cx, float cy, float cz, float heading, float pitch, float bank)
{
    const float ch = (float)std::cos(-(double)heading);
    const float sh = (float)std::sin(-(double)heading);
    const float cp = (float)std::cos((double)pitch);
    const float sp = (float)std::sin((double)pitch);
    const float cb = (float)std::cos((double)bank);
    const float sb = (float)std::sin((double)bank);
    const float t9 = sh * cz - ch * cx;
    const float t7 = -(sh * cx) - ch * cz;
    const float t8 = t7 * sp - cp * cy;

    D3DMATRIX m;
    m._11 = cb * ch + sb * sp * sh;
    m._12 = sp * sh * cb - sb * ch;
    m._13 = cp * sh;
    m._14 = 0.0f;
    m._21 = cp * sb;
    m._22 = cp * cb;
    m._23 = -sp;
    m._24 = 0.0f;
    m._31 = sb * sp * ch - sh * cb;
    m._32 = sp * ch * cb + sb * sh;
    m._33 = cp * ch;
    m._34 = 0.0f;
    m._41 = t9 * cb + t8 * sb;
    m._42 = t8 * cb - t9 * sb;
    m._43 = sp * cy + t7 * cp;
    m._44 = 1.0f;
    return m;
}

} // namespace

bool TextureLayer::transformAnimated() const
{
    for (int i = 0; i < 3; ++i) {
        if (center[i].source || rotation[i].source || size[i].source)
            return true;
    }
    return false;
}

D3DMATRIX TextureLayer::rotationMatrix() const
{
    return rotationAbout(center[0].value, center[1].value, center[2].value, rotation[0].value, rotation[1].value,
                         rotation[2].value);
}

D3DMATRIX TextureLayer::getMatrix(double time)
{
    const float cx = center[0].valueAt(time);
    const float cy = center[1].valueAt(time);
    const float cz = center[2].valueAt(time);
    const float heading = rotation[0].valueAt(time);
    const float pitch = rotation[1].valueAt(time);
    const float bank = rotation[2].valueAt(time);
    D3DMATRIX m = rotationAbout(cx, cy, cz, heading, pitch, bank);
    for (int c = 0; c < 3; ++c) {
        const float scale = 1.0f / usableSize(size[c].valueAt(time));
        for (int r = 0; r < 4; ++r)
            m.m[r][c] *= scale;
        m.m[3][c] += 0.5f;
    }
    return m;
}

const D3DMATRIX& TextureLayer::cachedMatrix()
{
    if (!matrixValid) {
        if (projection == projectionCylindrical || projection == projectionSpherical)
            matrix = rotationMatrix();
        else
            matrix = getMatrix(0.0);
        matrixValid = 1;
    }
    return matrix;
}

D3DMATRIX TextureLayer::texCoordMatrix(double time)
{
    const D3DMATRIX m = getMatrix(time);
    // The columns the planar projection takes for u and v on each axis.
    int u = 0;
    int v = 1;
    if (axis == axisX) {
        u = 2;
        v = 1;
    } else if (axis == axisY) {
        u = 0;
        v = 2;
    }
    D3DMATRIX t;
    makeAffineMatrix(t,
                     m.m[0][u], m.m[0][v], 0.0f,
                     m.m[1][u], m.m[1][v], 0.0f,
                     m.m[2][u], m.m[2][v], 0.0f,
                     m.m[3][u], m.m[3][v], 0.0f);
    return t;
}
