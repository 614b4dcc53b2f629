// The engine's own 4x4 matrix, 3-vector and colour arithmetic, all in single
// precision. Matrices are row-major and used with row vectors (v x M), so a
// translation lies in row 3; an affine matrix has (0, 0, 0, 1) as column 3.
// Colours are r, g, b, a floats in 0..1 or a packed 0xAARRGGBB D3DCOLOR.
// Every result is built in a local first, so an output may share storage
// with an input.
#pragma once

#include <d3d9types.h>

// Rows 0-2 are (m11 m12 m13 0), (m21 m22 m23 0), (m31 m32 m33 0); row 3 is
// (m41 m42 m43 1).
void makeAffineMatrix(D3DMATRIX& out,
                      float m11, float m12, float m13,
                      float m21, float m22, float m23,
                      float m31, float m32, float m33,
                      float m41, float m42, float m43);

void matTranspose(D3DMATRIX& out, const D3DMATRIX& m);
// m = m x diag(s): column c scaled by s[c].
void matScaleColumns(D3DMATRIX& m, const float s[4]);
// out = m with the four elements of row `row` (0..3) multiplied by factor.
void matScaleRow(D3DMATRIX& out, int row, const D3DMATRIX& m, float factor);
// out = m with rows i and j (0..3) exchanged.
void matSwapRows(D3DMATRIX& out, const D3DMATRIX& m, int i, int j);

// out = a x b, the full product.
void matMul(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b);
// out = a x b with a's column 3 taken as (0, 0, 0, 1) and not read; b general.
void matMulAffineFull(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b);
// out = a x b for two affine matrices; out's column 3 is (0, 0, 0, 1).
void matMulAffine(D3DMATRIX& out, const D3DMATRIX& a, const D3DMATRIX& b);

// Inverse of an affine matrix by cofactors. A singular 3x3 part (an object
// scaled to 0 on an axis, which happens every frame while it is hidden)
// gives the identity, silently.
void matInvertAffine(D3DMATRIX& out, const D3DMATRIX& m);
// General inverse by Gauss-Jordan elimination; rows are exchanged only for
// an exact zero pivot. A singular m reports an assertion and gives the
// identity.
void matInvert(D3DMATRIX& out, const D3DMATRIX& m);

// v = v x the upper 3x3 of m.
void vecTransformNormal(D3DVECTOR& v, const D3DMATRIX& m);
// out = v x the upper 3x3 of m.
void vecTransformNormalTo(D3DVECTOR& out, const D3DVECTOR& v, const D3DMATRIX& m);
// out = the x, y, z of (v, 1) x m; no division by w.
void vecTransformCoord(D3DVECTOR& out, const D3DVECTOR& v, const D3DMATRIX& m);
// out = (v, 1) x m, all four components.
void vecTransform(float out[4], const D3DVECTOR& v, const D3DMATRIX& m);
// Scales v to unit length and returns its former length; a zero vector is
// left as it is.
float vecNormalize(D3DVECTOR& v);

// Packs r, g, b, a: 1 or more gives 255, 0 or less (and NaN) gives 0,
// anything between is rounded to the nearest step.
D3DCOLOR colorToARGB(const float color[4]);
// out = r, g, b, a of the packed colour, each byte / 255.
void argbToColor(float out[4], D3DCOLOR packed);
// As argbToColor with alpha 1.
void argbToColorOpaque(float out[4], D3DCOLOR packed);
