// Direct3D 9 math types with their documented layouts: a row-major 4x4
// float matrix (used with row vectors, translation in row 3), a 3-float
// vector, a 4-float colour and the packed 0xAARRGGBB colour.
#pragma once

#include "platform/win32/win_types.h"

typedef DWORD D3DCOLOR;

typedef struct _D3DVECTOR {
    float x;
    float y;
    float z;
} D3DVECTOR;

typedef struct _D3DCOLORVALUE {
    float r;
    float g;
    float b;
    float a;
} D3DCOLORVALUE;

typedef struct _D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
} D3DMATRIX;

static_assert(sizeof(D3DVECTOR) == 12, "D3DVECTOR is three floats");
static_assert(sizeof(D3DCOLORVALUE) == 16, "D3DCOLORVALUE is four floats");
static_assert(sizeof(D3DMATRIX) == 64, "D3DMATRIX is sixteen floats");
static_assert(sizeof(D3DCOLOR) == 4, "D3DCOLOR is 32 bits");
