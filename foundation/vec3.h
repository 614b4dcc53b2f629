// Three-component vector arithmetic beside the matrix operations: on plain
// float[3] arrays (plane normals, particle state, shader constants) and on
// D3DVECTOR values. Outputs come first, as in matrix.h.
#pragma once

#include <d3d9types.h>

#include <cmath>

inline void vec3Set(float* out, float x, float y, float z)
{
    out[0] = x;
    out[1] = y;
    out[2] = z;
}

inline float vec3Dot(const float a[3], const float b[3]) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }

inline float vec3Length(const float v[3]) { return std::sqrt(vec3Dot(v, v)); }

inline void vec3Cross(float out[3], const float a[3], const float b[3])
{
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

// In place; a zero vector stays zero.
inline void vec3Normalize(float v[3])
{
    const float l = vec3Length(v);
    if (l > 0.0f)
        for (int i = 0; i < 3; ++i)
            v[i] /= l;
}

inline D3DVECTOR vec3Sub(const D3DVECTOR& a, const D3DVECTOR& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline D3DVECTOR vec3Add(const D3DVECTOR& a, const D3DVECTOR& b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline D3DVECTOR vec3Scale(const D3DVECTOR& a, float k) { return {a.x * k, a.y * k, a.z * k}; }
inline float vec3Dot(const D3DVECTOR& a, const D3DVECTOR& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline float vec3Length(const D3DVECTOR& a) { return std::sqrt(vec3Dot(a, a)); }

inline D3DVECTOR vec3Cross(const D3DVECTOR& a, const D3DVECTOR& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// Unit length, or unchanged when zero.
inline D3DVECTOR vec3Normalized(const D3DVECTOR& v)
{
    const float l = vec3Length(v);
    return l > 0.0f ? vec3Scale(v, 1.0f / l) : v;
}
