// Texture coordinates of polygon corners, one set per layer slot of the
// corners' surface (Surface::generateTexCoords, defined in
// texture_projection.cpp):
//
//   layer with an animated centre, rotation or size: the corner's own
//       position, key 0; the draw applies getMatrix(time) to it;
//   planar (axis X, Y, Z): q = position x cachedMatrix, (u, v) = (q.z, q.y),
//       (q.x, q.z), (q.x, q.y); key = the axis;
//   cubic: planar on the axis the face normal points along most;
//   cylindrical, spherical: angles about the axis of q = position x the
//       rotation about the centre, then the seam rule, then the wrap amounts;
//       key 0 moved by the seam rule;
//   UV: the layer's UV map of the object layer at the corner's point, with a
//       per-polygon override taking precedence (key 1, so the corner stays
//       apart from the shared vertex, key 0); no map gives 0;
//   position: all three components of position x cachedMatrix, key 0;
//   front and none: 0, key 0.
// w is 0 except for the animated and position cases. A zero texture size
// counts as 1, so no coordinate becomes infinite.
#pragma once

#include "materials/mesh_vertex.h"

// The axis a cubic projection uses for a face normal: X unless |y| or |z|
// is larger, then Y unless |z| is larger (ties go to X, then Y).
int cubicProjectionAxis(const D3DVECTOR& normal);

// Seam rule on u of texture set `set` of n corners in polygon order: each u
// more than 0.5 away from its (already corrected) predecessor moves by one
// whole turn toward it; corner 0 is compared with the last corner before
// that corner is corrected. With `seam`, a corner's key follows the turns
// (+1 when 1 was added, -1 when 1 was subtracted), so the mesh does not weld
// it with the uncorrected corners of its point.
void applyTexCoordSeam(MeshVertex* corners, int n, int set, bool seam);
