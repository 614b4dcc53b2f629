// The D3DX math types the constant tables take: a matrix over D3DMATRIX
// (row-major storage, row vectors) and a 4-float vector.
#pragma once

#include "platform/d3d9/d3d9_types.h"

struct D3DXVECTOR4 {
    D3DXVECTOR4() = default;
    D3DXVECTOR4(float fx, float fy, float fz, float fw) : x(fx), y(fy), z(fz), w(fw) {}
    explicit D3DXVECTOR4(const float* f) : x(f[0]), y(f[1]), z(f[2]), w(f[3]) {}
    operator float*() { return &x; }
    operator const float*() const { return &x; }
    bool operator==(const D3DXVECTOR4& o) const { return x == o.x && y == o.y && z == o.z && w == o.w; }

    float x = 0, y = 0, z = 0, w = 0;
};

struct D3DXMATRIX : D3DMATRIX {
    D3DXMATRIX() : D3DMATRIX{} {}
    D3DXMATRIX(const D3DMATRIX& m) : D3DMATRIX(m) {}
    explicit D3DXMATRIX(const float* f)
    {
        for (int i = 0; i < 16; ++i)
            m[i / 4][i % 4] = f[i];
    }
    D3DXMATRIX(float f11, float f12, float f13, float f14, float f21, float f22, float f23, float f24, float f31,
               float f32, float f33, float f34, float f41, float f42, float f43, float f44)
    {
        const float f[16] = {f11, f12, f13, f14, f21, f22, f23, f24, f31, f32, f33, f34, f41, f42, f43, f44};
        for (int i = 0; i < 16; ++i)
            m[i / 4][i % 4] = f[i];
    }
    float& operator()(UINT row, UINT col) { return m[row][col]; }
    float operator()(UINT row, UINT col) const { return m[row][col]; }
    operator float*() { return &m[0][0]; }
    operator const float*() const { return &m[0][0]; }
};

static_assert(sizeof(D3DXMATRIX) == 64, "D3DXMATRIX is sixteen floats");
static_assert(sizeof(D3DXVECTOR4) == 16, "D3DXVECTOR4 is four floats");

typedef D3DXMATRIX* LPD3DXMATRIX;
typedef D3DXVECTOR4* LPD3DXVECTOR4;
