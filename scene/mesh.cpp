#include "scene/mesh.h"

#include <cmath>

Mesh::Mesh(Engine* engine, MeshFile* object) : EngineResource(engine), object(object) {}

void Mesh::setBoundingBox(const D3DVECTOR& min, const D3DVECTOR& max)
{
    for (int i = 0; i < 8; ++i) {
        boxCorners[i].x = (i & 4) ? max.x : min.x;
        boxCorners[i].y = (i & 2) ? max.y : min.y;
        boxCorners[i].z = (i & 1) ? max.z : min.z;
    }
    center = {min.x + (max.x - min.x) / 2, min.y + (max.y - min.y) / 2, min.z + (max.z - min.z) / 2};
    const float dx = max.x - center.x, dy = max.y - center.y, dz = max.z - center.z;
    radius = std::sqrt(dx * dx + dy * dy + dz * dz);
    bboxused = 1;
}

void Mesh::transformBoxCorners(const D3DMATRIX& m, float out[8][4]) const
{
    for (int i = 0; i < 8; ++i) {
        const D3DVECTOR& c = boxCorners[i];
        for (int k = 0; k < 4; ++k)
            out[i][k] = c.x * m.m[0][k] + c.y * m.m[1][k] + c.z * m.m[2][k] + m.m[3][k];
    }
}

float Mesh::distanceToBoundingSphere(const D3DVECTOR& p) const
{
    float dx = p.x - center.x, dy = p.y - center.y, dz = p.z - center.z;
    const float length = std::sqrt(dx * dx + dy * dy + dz * dz);
    if (length > 0.0f) {
        dx /= length;
        dy /= length;
        dz /= length;
    }
    // The nearest point of the sphere; from the centre itself that is the
    // centre (d unchanged when |d| = 0).
    const float qx = center.x + radius * dx - p.x;
    const float qy = center.y + radius * dy - p.y;
    const float qz = center.z + radius * dz - p.z;
    return std::sqrt(qx * qx + qy * qy + qz * qz);
}
